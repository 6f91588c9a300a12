#include "ui/WindowPlacementU.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {
// enough of the window to take hold of and drag back
constexpr qint64 GripPixels = 48;

// In 64 bits: a stored corner may be anywhere an int reaches.
qint64 Overlap(qint64 start, qint64 length, qint64 screenStart, qint64 screenLength)
{
    return std::min(start + length, screenStart + screenLength) - std::max(start, screenStart);
}
}

QPoint WindowPlacement(QPoint stored, QSize size, const QList<QRect>& screens, const QRect& primary)
{
    const bool onScreen = std::any_of(screens.cbegin(), screens.cend(), [&](const QRect& screen) {
        return Overlap(stored.x(), size.width(), screen.x(), screen.width()) >= GripPixels
               && Overlap(stored.y(), size.height(), screen.y(), screen.height()) >= GripPixels;
    });
    if (onScreen)
        return stored;
    QRect centred(QPoint(), size);
    centred.moveCenter(primary.center());
    return centred.topLeft();
}

QPoint WindowPlacement(QPoint stored, QSize size)
{
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    const QScreen* primary = QGuiApplication::primaryScreen();
    return WindowPlacement(stored, size, screens, primary ? primary->availableGeometry() : QRect());
}
