#include "ui/WheelFocusU.h"

#include <QEvent>
#include <QWidget>

namespace {
class TWheelFocusFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
            return false;
        event->ignore();
        return true;
    }
};
}

void WheelOnlyWhenFocused(QWidget* control)
{
    // a wheel turn would otherwise give the focus first and then change the value
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new TWheelFocusFilter(control));
}
