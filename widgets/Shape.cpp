#include "widgets/Shape.h"

#include "widgets/WidgetProperty.h"

#include <QPainter>

#include <algorithm>

TShape::TShape(QWidget* parent)
    : QWidget(parent)
{
}

QSize TShape::sizeHint() const
{
    return {65, 65};
}

void TShape::SetShape(TShapeType shape) { ChangeProperty(*this, FShape, shape); }
void TShape::SetBrush(TColor color) { ChangeProperty(*this, FBrush, color); }
void TShape::SetPen(TColor color) { ChangeProperty(*this, FPen, color); }

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(VclColor(FPen, palette()), 1));
    painter.setBrush(VclColor(FBrush, palette()));
    if (FShape == TShapeType::stRectangle) {
        // the outline on the middle of the edge pixels, so that a scaled
        // desktop widens it inwards instead of cutting off its far edges
        painter.drawRect(QRectF(0.5, 0.5, width() - 1, height() - 1));
        return;
    }
    // a circle keeps to the centred square of the shorter side
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 1;
    painter.drawEllipse(QRectF((width() - 1 - side) / 2.0, (height() - 1 - side) / 2.0, side, side).translated(0.5, 0.5));
}
