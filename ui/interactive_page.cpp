#include "ui/interactive_page.h"

#include <QVBoxLayout>

namespace zelm {

InteractivePage::InteractivePage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName("tabInteractive");
    new QVBoxLayout(this);
}

// TODO: the browser's pane, buttons and header timer come with the browser itself; until then
// the engine has nothing here to show.
void InteractivePage::ShowBrowserText(const std::string&) {}
void InteractivePage::SetBrowserConnected(bool) {}
void InteractivePage::SetBrowserHeaderTimer(bool) {}
void InteractivePage::SetBrowserButton(BrowserButton, bool) {}

} // namespace zelm
