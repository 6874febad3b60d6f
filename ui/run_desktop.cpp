#include "ui/run_desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <QSocketNotifier>
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
                  << ProgramName << " session' runs without one\n";
        // With a display named but not reached, what Qt met on the way tells the user why.
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0'))
            for (const QString& held : g_heldMessages)
                std::cerr << held.toStdString() << '\n';
        std::cerr << std::flush;
        std::_Exit(1);
    }
    g_heldMessages.append(qFormatLogMessage(type, context, message));
}

// SIGTERM and SIGINT (a logout, kill, Ctrl+C in a terminal) end the program the way Exit does,
// so a running session still ends cleanly and the window position is stored. The handler can
// only write a byte into a pipe; the event loop reads it.
int g_stopPipeWrite = -1;

extern "C" void OnStopSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipeWrite, &byte, 1);
    errno = savedErrno;
}

/// Turns SIGTERM and SIGINT into calls of onStop on the event loop while it lives.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> onStop) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        m_read = fds[0];
        g_stopPipeWrite = fds[1];
        m_notifier = std::make_unique<QSocketNotifier>(m_read, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                         [this, onStop = std::move(onStop)] {
                             char buffer[16];
                             while (::read(m_read, buffer, sizeof buffer) > 0) {
                             }
                             onStop();
                         });
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        ::sigaction(SIGINT, &action, &m_oldInt);
    }
    ~StopSignals() {
        if (m_read < 0) return;
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        m_notifier.reset();
        ::close(m_read);
        ::close(g_stopPipeWrite);
        g_stopPipeWrite = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    int m_read = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldTerm {};
    struct sigaction m_oldInt {};
};

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
    TfrmMain* window = nullptr;
    // Watching before the window exists: a signal before start-up ends must not kill it.
    const StopSignals stopSignals([&window] {
        if (window != nullptr) window->butExitClick();
    });
    try {
        DesktopApp desktop(
            programDir, dialogs, programPath,
            QFileInfo(QString::fromStdString(programPath)).absolutePath().toStdString());
        window = &desktop.Window();
        dialogs.SetParent(window);
        QObject::connect(&desktop.Window(), &TfrmMain::quitRequested, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        desktop.Window().ShowAtStart();
        const int status = QApplication::exec();
        window = nullptr;
        return status;
    } catch (const std::exception& error) {
        std::cerr << ProgramName << ": " << error.what() << '\n';
        return 1;
    }
}

} // namespace zelm
