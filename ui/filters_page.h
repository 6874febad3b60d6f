#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "ui/window_context.h"

namespace zelm {

/// The Filters page: the filters of the mailbox selected on the Mailboxes page, their rules and
/// actions, and the header field names rules can test.
class FiltersPage : public QWidget {
    Q_OBJECT
public:
    explicit FiltersPage(WindowContext& context, QWidget* parent = nullptr);

    /// The header field names rules can test, as the page holds them (ascending).
    std::vector<std::string> HeaderFieldNames() const;
    /// Replaces the header field names (start-up, from the stored `HeaderFields`).
    void ReplaceHeaderFields(const std::vector<std::string>& names);

private:
    WindowContext& m_context;
    std::vector<std::string> m_headerFields;
};

} // namespace zelm
