#include "ui/field_exit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QObject>
#include <QWidget>

namespace zelm {
namespace {

class FieldExitFilter : public QObject {
public:
    FieldExitFilter(QWidget* field, std::function<void()> handler)
        : QObject(field), m_handler(std::move(handler)) {
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_handler();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_handler;
};

} // namespace

void OnFieldExit(QWidget* field, std::function<void()> handler) {
    new FieldExitFilter(field, std::move(handler));
}

} // namespace zelm
