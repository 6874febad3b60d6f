#include "ui/run_desktop.h"

#include <QApplication>

#include "ui/frm_main.h"

namespace zelm {

int RunDesktop(int& argc, char** argv, const std::string& /*programDir*/) {
    QApplication app(argc, argv);
    TfrmMain window;
    window.show();
    return QApplication::exec();
}

} // namespace zelm
