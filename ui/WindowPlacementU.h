#pragma once
// Where the main window opens: where it was left, when that place is still on
// a screen; a position saved on a screen that has gone (a projector, a second
// monitor, a hand-edited file) would open it where nobody can reach it.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// The stored top-left corner when a window of that size there shows at least
// a grip's worth of itself on one of the screens, else the corner that centres
// it on the primary screen.
QPoint WindowPlacement(QPoint stored, QSize size, const QList<QRect>& screens, const QRect& primary);

// The same on the screens the application has now.
QPoint WindowPlacement(QPoint stored, QSize size);
