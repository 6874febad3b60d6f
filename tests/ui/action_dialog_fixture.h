#pragma once

#include <string>
#include <vector>

#include <QComboBox>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include "core/config_store.h"
#include "core/string_helpers.h"
#include "tests/ui/window_fixture.h"
#include "ui/filters_page.h"

namespace zelm::test {

/// The window on the mailbox "home" with the Filters page in front and its filter "f"
/// selected, for the dialogs that finish the richer actions.
class ActionDialogFixture : public WindowFixture {
protected:
    /// Creates "home" with the filter "f" (with these actions and text variable names), starts
    /// the window and selects "f" on the Filters page.
    void StartOnFilter(const std::vector<std::string>& actions = {},
                       const std::vector<std::string>& textVarNames = {}) {
        CreateMailbox(Store(), "home", {});
        CreateFilter(Store(), "home", "f");
        if (!actions.empty()) StoreFilterValue("Actions", actions);
        if (!textVarNames.empty()) StoreFilterValue("TextVarNames", textVarNames);
        Start();
        Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Filters());
        ClickRow("lstFilters", 0);
        ASSERT_EQ(Window().Filters().SelectedFilter(), "f");
    }

    /// A value of the filter "f" as stored; "<absent>" when missing.
    std::string StoredFilterValue(const char* name) {
        return ReadRegString(Store(), FilterKeyPath("home", "f"), name, "<absent>");
    }
    void StoreFilterValue(const char* name, const std::vector<std::string>& lines) {
        WriteRegString(Store(), FilterKeyPath("home", "f"), name, JoinListValue(lines));
    }
    /// Stores the SMTP sender text of "home".
    void StoreSender(const std::string& sender) {
        WriteRegString(Store(), MailboxKeyPath("home"), "SMTPFrom", sender);
    }

    /// Clicks the list's entry at row, as a person would.
    void ClickRow(const char* listName, int row) {
        auto* list = Find<QListWidget>(listName);
        ASSERT_NE(list->item(row), nullptr) << listName << " has no row " << row;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
    }
    /// Chooses the combo box's entry with that text.
    void Choose(const char* comboName, const QString& text) {
        auto* combo = Find<QComboBox>(comboName);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << comboName << " has no entry " << text.toStdString();
        combo->setCurrentIndex(index);
    }
    /// Adds an action of that kind on the Filters page.
    void AddAction(const char* kind) {
        Choose("cmbResponse", kind);
        Click("butAddActions");
    }
    /// Edits the action at row on the Filters page.
    void EditAction(int row) {
        ClickRow("lstActions", row);
        Click("butEditActions");
    }
    QStringList Entries(const char* name) {
        QStringList entries;
        if (auto* list = Window().findChild<QListWidget*>(name)) {
            for (int i = 0; i < list->count(); ++i)
                entries.append(list->item(i)->text());
        } else {
            auto* combo = Find<QComboBox>(name);
            for (int i = 0; i < combo->count(); ++i)
                entries.append(combo->itemText(i));
        }
        return entries;
    }
};

} // namespace zelm::test
