#include "ui/tray_icon.h"

#include <QAction>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace zelm {
namespace {

/// An icon drawn from one of the program's SVG images at the sizes trays and title bars ask.
QIcon SvgIcon(const QString& resource) {
    QSvgRenderer renderer(resource);
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

constexpr int kAnimationMs = 100;

} // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), m_timerAction(nullptr) {
    m_images.push_back(ProgramIcon());
    for (int frame = 1; frame <= 4; ++frame)
        m_images.push_back(SvgIcon(QString(":/icons/tray%1.svg").arg(frame)));

    QAction* help = m_menu.addAction(tr("Help"), this, &TrayIcon::helpRequested);
    help->setObjectName("mnuHelp");
    m_menu.addSeparator();
    QAction* restore = m_menu.addAction(tr("Restore"), this, &TrayIcon::restoreRequested);
    restore->setObjectName("mnuRestore");
    m_timerAction = m_menu.addAction(tr("Timer ON"), this, &TrayIcon::timerClicked);
    m_timerAction->setObjectName("mnuTimerON");
    m_timerAction->setCheckable(true);
    m_menu.addSeparator();
    QAction* exit = m_menu.addAction(tr("Exit"), this, &TrayIcon::exitRequested);
    exit->setObjectName("mnuExit");

    m_icon.setToolTip("Zelm");
    m_icon.setContextMenu(&m_menu);
    m_icon.setIcon(m_images[0]);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](auto reason) {
        // Some trays deliver only single clicks; either brings the window back.
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            emit restoreRequested();
    });

    m_animation.setInterval(kAnimationMs);
    connect(&m_animation, &QTimer::timeout, this, [this] {
        ShowImage(m_shown + 1 < static_cast<int>(m_images.size()) ? m_shown + 1 : 1);
    });
}

bool TrayIcon::Available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::Show() {
    if (Available()) m_icon.show();
}

void TrayIcon::SetTimerChecked(bool on) {
    m_timerAction->setChecked(on);
}

void TrayIcon::SetAnimation(bool running) {
    if (running) {
        ShowImage(1);
        m_animation.start();
    } else {
        m_animation.stop();
        ShowImage(0);
    }
}

void TrayIcon::ShowImage(int index) {
    m_shown = index;
    m_icon.setIcon(m_images[static_cast<std::size_t>(index)]);
}

QIcon TrayIcon::ProgramIcon() {
    return SvgIcon(":/icons/zelm.svg");
}

} // namespace zelm
