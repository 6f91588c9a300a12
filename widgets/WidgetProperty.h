#pragma once
// The setter of a drawn property: a different value is stored and a repaint
// scheduled; the value the property already has changes nothing.

#include <QWidget>

template <typename T>
void ChangeProperty(QWidget& widget, T& field, const T& value, bool repaint = true)
{
    if (field == value)
        return;
    field = value;
    if (repaint)
        widget.update();
}
