#include "ui/frm_main.h"

#include <QString>

#include "core/program_info.h"

namespace zelm {

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromStdString(ProgramCaption()));
}

} // namespace zelm
