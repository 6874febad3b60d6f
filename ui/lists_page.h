#pragma once

#include <QWidget>

#include "ui/window_context.h"

namespace zelm {

/// The Lists page: the accept and reject lists of the mailbox selected on the Mailboxes page
/// and what happens to a rejected message.
class ListsPage : public QWidget {
    Q_OBJECT
public:
    explicit ListsPage(WindowContext& context, QWidget* parent = nullptr);

private:
    WindowContext& m_context;
};

} // namespace zelm
