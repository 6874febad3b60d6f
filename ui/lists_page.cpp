#include "ui/lists_page.h"

#include <QVBoxLayout>

namespace zelm {

ListsPage::ListsPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName("tabLists");
    new QVBoxLayout(this);
}

} // namespace zelm
