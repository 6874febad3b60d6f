#pragma once

#include <exception>
#include <optional>

#include <QString>
#include <QUrl>

class QWidget;

namespace zelm {

/// The modal dialogs and desktop services the window uses, behind one seam so tests answer
/// them from a script instead of waiting for a person.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    /// A one-line input box with caption, prompt and initial text; nullopt when cancelled.
    virtual std::optional<QString> AskLine(const QString& caption, const QString& prompt,
                                           const QString& text) = 0;
    /// A message box with an OK button; returns once it is closed.
    virtual void ShowMessage(const QString& text) = 0;
    /// A file-open dialog starting in folder; "" when cancelled.
    virtual QString ChooseFileToOpen(const QString& caption, const QString& folder,
                                     const QString& filter) = 0;
    /// A file-save dialog starting at path; "" when cancelled.
    virtual QString ChooseFileToSave(const QString& caption, const QString& path,
                                     const QString& filter) = 0;
    /// Opens a page in the desktop's browser.
    virtual void OpenInBrowser(const QUrl& url) = 0;
};

/// The dialogs as Qt shows them, in front of parent.
class QtDialogs : public Dialogs {
public:
    /// caption heads every message box; the parent may be set later, once the main window
    /// exists.
    explicit QtDialogs(QString caption, QWidget* parent = nullptr)
        : m_caption(std::move(caption)), m_parent(parent) {}
    /// Dialogs are shown in front of parent from now on.
    void SetParent(QWidget* parent) { m_parent = parent; }

    std::optional<QString> AskLine(const QString& caption, const QString& prompt,
                                   const QString& text) override;
    void ShowMessage(const QString& text) override;
    QString ChooseFileToOpen(const QString& caption, const QString& folder,
                             const QString& filter) override;
    QString ChooseFileToSave(const QString& caption, const QString& path,
                             const QString& filter) override;
    void OpenInBrowser(const QUrl& url) override;

private:
    QString m_caption;
    QWidget* m_parent;
};

} // namespace zelm

namespace zelm {

/// Runs an editor's handler; a store or file error it raises is shown in a message box, as
/// every editor shows them, instead of leaving through Qt's event loop.
template <typename Handler>
void ShowingErrors(Dialogs& dialogs, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs.ShowMessage(QString::fromStdString(error.what()));
    }
}

} // namespace zelm
