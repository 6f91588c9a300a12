#include "widgets/ColorBevel.h"

#include "widgets/WidgetProperty.h"

#include <QPainter>

TColorBevel::TColorBevel(QWidget* parent)
    : QWidget(parent)
{
    resize(sizeHint());
}

QSize TColorBevel::sizeHint() const
{
    return {30, 30};
}

void TColorBevel::SetBriteColor(TColor color)
{
    FBriteColor = color;
    update();
}

void TColorBevel::SetDarkColor(TColor color)
{
    FDarkColor = color;
    update();
}

void TColorBevel::SetStyle(TStyle style)
{
    ChangeProperty(*this, FStyle, style);
}

void TColorBevel::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;
    const bool lowered = FStyle == TStyle::bsLowered;
    const QColor top = VclColor(lowered ? FDarkColor : FBriteColor, palette());
    const QColor bottom = VclColor(lowered ? FBriteColor : FDarkColor, palette());

    // The outline is drawn as four lines around the rectangle, each stopping one
    // pixel short of its end point; in that order, so that later edges cover
    // earlier ones where a side has length 1.
    // A colour without a value (clNone) leaves its edges out.
    QPainter painter(this);
    const auto edge = [&painter](const QRect& rect, const QColor& color) {
        if (color.isValid())
            painter.fillRect(rect, color);
    };
    edge(QRect(0, 0, w - 1, 1), top);
    edge(QRect(w - 1, 0, 1, h - 1), bottom);
    edge(QRect(1, h - 1, w - 1, 1), bottom);
    edge(QRect(0, 1, 1, h - 1), top);
}
