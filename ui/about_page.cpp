#include "ui/about_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "core/program_info.h"

namespace zelm {

AboutPage::AboutPage(QWidget* parent) : QWidget(parent) {
    setObjectName("tabAbout");
    auto* version =
        new QLabel(QString("%1 version %2").arg(ApplicationTitle, ProgramVersion), this);
    version->setObjectName("lblVersion");
    QFont large = version->font();
    large.setPointSizeF(large.pointSizeF() * 1.5);
    large.setBold(true);
    version->setFont(large);
    auto* about = new QLabel(
        tr("A POP3 mail processor for one user. Zelm visits every enabled mailbox, looks at "
           "each message it has not seen before, screens it against the mailbox's accept and "
           "reject lists and runs the mailbox's filters: delete, forward, run a program, save "
           "data, send a templated message, extract text. Undeliverable mail waits in an "
           "outbox and is retried at later sessions; everything is logged."),
        this);
    about->setObjectName("lblAbout");
    about->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(version);
    layout->addWidget(about);
    layout->addStretch();
}

} // namespace zelm
