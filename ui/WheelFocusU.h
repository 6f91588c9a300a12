#pragma once
// Spin boxes and lists change with the mouse wheel only once they have the
// focus: a wheel turned to scroll past them, or over a window that is not the
// active one, must not change a bus address or a setting unseen.

class QWidget;

// Takes the wheel focus from the control; the filter is owned by it.
void WheelOnlyWhenFocused(QWidget* control);
