#include "ui/run_desktop.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <QStringList>

#include "core/program_info.h"
#include "ui/desktop_app.h"
#include "ui/dialogs.h"
#include "ui/frm_main.h"

namespace zelm {
namespace {

// While the Qt application is being made, Qt's own messages are held back: without a display
// Qt ends the process with a plugin message that tells a user nothing, so that case gets a
// message of ours instead.
bool g_holdingMessages = false;
bool g_secondCopy = false;
QStringList g_heldMessages;
QtMessageHandler g_previousHandler = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (!g_holdingMessages) {
        g_previousHandler(type, context, message);
        return;
    }
    if (type == QtFatalMsg) {
        // A second copy has said why it ends already; it needs no display for that.
        if (g_secondCopy) std::_Exit(1);
        std::cerr << ProgramName
                  << ": no display was found (DISPLAY or WAYLAND_DISPLAY is not set, or the "
                     "display cannot be reached); '"
                  << ProgramName << " session' runs without one\n"
                  << std::flush;
        std::_Exit(1);
    }
    g_heldMessages.append(qFormatLogMessage(type, context, message));
}

/// The program file's full path, "" when it cannot be read.
std::string ProgramPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) return {};
    path.resize(static_cast<std::size_t>(length));
    return path;
}

} // namespace

int RunDesktop(int& argc, char** argv, const std::string& programDir, bool alreadyRunning) {
    if (alreadyRunning) std::cerr << AlreadyRunningText() << '\n' << std::flush;
    g_secondCopy = alreadyRunning;
    g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
    g_holdingMessages = true;
    QApplication app(argc, argv);
    g_holdingMessages = false;
    for (const QString& held : g_heldMessages)
        std::cerr << held.toStdString() << '\n';
    g_heldMessages.clear();

    if (alreadyRunning) {
        // The program has no title of its own yet: the box says who it is by the file name.
        QtDialogs dialogs(ProgramName);
        dialogs.ShowMessage(QString::fromStdString(AlreadyRunningText()));
        return 1;
    }

    QApplication::setApplicationName(ProgramName);
    QGuiApplication::setDesktopFileName(ProgramName);
    // Hiding the window in the tray is not the end of the program; Exit is.
    QApplication::setQuitOnLastWindowClosed(false);
    QtDialogs dialogs(ApplicationTitle);
    const std::string programPath = ProgramPath();
    try {
        DesktopApp desktop(
            programDir, dialogs, programPath,
            QFileInfo(QString::fromStdString(programPath)).absolutePath().toStdString());
        dialogs.SetParent(&desktop.Window());
        QObject::connect(&desktop.Window(), &TfrmMain::quitRequested, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        desktop.Window().ShowAtStart();
        return QApplication::exec();
    } catch (const std::exception& error) {
        std::cerr << ProgramName << ": " << error.what() << '\n';
        return 1;
    }
}

} // namespace zelm
