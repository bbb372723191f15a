#include "FocusedWheel.h"

#include <QEvent>
#include <QWidget>

namespace quillmere {
namespace {

class WheelFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
            event->ignore(); // on to the parent
            return true;
        }
        return false;
    }
};

} // namespace

void takeWheelOnlyWhenFocused(QWidget* control) {
    // Not Qt::WheelFocus: the wheel itself must not hand out the focus.
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new WheelFilter(control));
}

} // namespace quillmere
