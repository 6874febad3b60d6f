#pragma once

#include <QWidget>

namespace zelm {

/// The About page: the program's name, version and what it does.
class AboutPage : public QWidget {
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent = nullptr);
};

} // namespace zelm
