#pragma once

#include <QMainWindow>

namespace zelm {

/// The main window. For now it shows only the program's caption; its pages come later.
class TfrmMain : public QMainWindow {
public:
    /// Creates the window with the program's caption.
    explicit TfrmMain(QWidget* parent = nullptr);
};

} // namespace zelm
