#include "widgets/TechnicalLine.h"

#include "widgets/WidgetProperty.h"

#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <array>
#include <optional>

namespace {
enum class TDirection { Up, Down, Left, Right };

// The arrow signs: row 0 open, row 1 closed; columns in the order of TDirection.
using E = TLMDLineEndings;
constexpr std::array<std::array<TLMDLineEndings, 4>, 2> ArrowSigns = {{
    {E::leOpenArrowUp, E::leOpenArrowDown, E::leOpenArrowLeft, E::leOpenArrowRight},
    {E::leClosedArrowUp, E::leClosedArrowDown, E::leClosedArrowLeft, E::leClosedArrowRight},
}};

struct TArrow {
    bool Closed;
    TDirection Direction;
};

std::optional<TArrow> ArrowOf(TLMDLineEndings sign)
{
    for (std::size_t kind = 0; kind < ArrowSigns.size(); ++kind) {
        const auto& signs = ArrowSigns[kind];
        if (const auto it = std::ranges::find(signs, sign); it != signs.end())
            return TArrow{kind == 1, TDirection(it - signs.begin())};
    }
    return std::nullopt;
}

// The direction an arrow at one end of a straight line points to; the other
// line types are not drawn and leave their signs as they are.
std::optional<TDirection> ArrowDirection(TLMDTechnicalLineTypes type, bool atEnd)
{
    switch (type) {
    case TLMDTechnicalLineTypes::lsStraightLeftToRight:
        return atEnd ? TDirection::Right : TDirection::Left;
    case TLMDTechnicalLineTypes::lsStraightTopToBottom:
        return atEnd ? TDirection::Down : TDirection::Up;
    default:
        return std::nullopt;
    }
}

TLMDLineEndings TurnedArrow(TLMDLineEndings sign, TLMDTechnicalLineTypes type, bool atEnd)
{
    const auto arrow = ArrowOf(sign);
    const auto direction = ArrowDirection(type, atEnd);
    if (!arrow || !direction)
        return sign;
    return ArrowSigns[arrow->Closed ? 1 : 0][std::size_t(*direction)];
}

// An arrow is a triangle in the sign's square, its tip in the middle of the
// side it points to; an open arrow leaves out the side opposite the tip.
void PaintSign(QPainter& painter, TLMDLineEndings sign, const QRect& box)
{
    const auto arrow = ArrowOf(sign);
    if (!arrow)
        return;
    const int l = box.left(), t = box.top(), r = box.right(), b = box.bottom();
    const int midX = l + (r - l) / 2;
    const int midY = t + (b - t) / 2;
    QPolygon triangle;
    switch (arrow->Direction) {
    case TDirection::Right: triangle = {{l, t}, {r, midY}, {l, b}}; break;
    case TDirection::Left: triangle = {{r, t}, {l, midY}, {r, b}}; break;
    case TDirection::Up: triangle = {{l, b}, {midX, t}, {r, b}}; break;
    case TDirection::Down: triangle = {{l, t}, {midX, b}, {r, t}}; break;
    }
    if (arrow->Closed)
        painter.drawPolygon(triangle);
    else
        painter.drawPolyline(triangle);
}

// Lines stop one pixel before their end point, so that a sign drawn next to
// the line starts on a clean edge.
void DrawHorizontalLine(QPainter& painter, int x1, int x2, int y)
{
    if (x2 > x1)
        painter.drawLine(x1, y, x2 - 1, y);
}

QPen PenOf(const QColor& color, const TLMDLineSettings& settings)
{
    if (!color.isValid() || settings.Style == Qt::NoPen)
        return Qt::NoPen;
    return QPen(color, settings.Width, settings.Style);
}
}

TLMDTechnicalLine::TLMDTechnicalLine(QWidget* parent)
    : QWidget(parent)
{
    resize(sizeHint());
}

QSize TLMDTechnicalLine::sizeHint() const
{
    return {130, 45};
}

bool TLMDTechnicalLine::StartSignShown() const
{
    return FSignPlaces == TLMDSignPlaces::spStart || FSignPlaces == TLMDSignPlaces::spBoth;
}

bool TLMDTechnicalLine::EndSignShown() const
{
    return FSignPlaces == TLMDSignPlaces::spEnd || FSignPlaces == TLMDSignPlaces::spBoth;
}

void TLMDTechnicalLine::SetLineType(TLMDTechnicalLineTypes type)
{
    if (type == FLineType)
        return;
    FLineType = type;
    if (FArrowed) {
        FLineStartSign = TurnedArrow(FLineStartSign, type, false);
        FLineEndingsign = TurnedArrow(FLineEndingsign, type, true);
    }
    update();
}

void TLMDTechnicalLine::SetLineStartSign(TLMDLineEndings sign)
{
    ChangeProperty(*this, FLineStartSign, sign, StartSignShown());
}

void TLMDTechnicalLine::SetLineEndingsign(TLMDLineEndings sign)
{
    ChangeProperty(*this, FLineEndingsign, sign, EndSignShown());
}

void TLMDTechnicalLine::SetSignPlaces(TLMDSignPlaces places) { ChangeProperty(*this, FSignPlaces, places); }
void TLMDTechnicalLine::SetSignSize(int size) { ChangeProperty(*this, FSignSize, size); }
void TLMDTechnicalLine::SetFillColor(TColor color) { ChangeProperty(*this, FFillColor, color); }
void TLMDTechnicalLine::SetLineSettings(const TLMDLineSettings& settings)
{
    ChangeProperty(*this, FLineSettings, settings);
}
void TLMDTechnicalLine::SetShadowVisible(bool visible) { ChangeProperty(*this, FShadowVisible, visible); }
void TLMDTechnicalLine::SetShadowDepth(int depth) { ChangeProperty(*this, FShadowDepth, depth); }
void TLMDTechnicalLine::SetShadowColor(TColor color) { ChangeProperty(*this, FShadowColor, color); }
void TLMDTechnicalLine::SetArrowed(bool arrowed) { ChangeProperty(*this, FArrowed, arrowed); }
void TLMDTechnicalLine::SetTransparent(bool transparent) { ChangeProperty(*this, FTransparent, transparent); }

void TLMDTechnicalLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!painter.deviceTransform().isScaling()) {
        Paint(painter);
        return;
    }
    // On a scaled desktop the line is drawn at its design pixels and enlarged
    // pixel for pixel: drawn at the scale, the pointed ends of its signs would
    // lose edge rows and columns.
    QImage design(size(), QImage::Format_ARGB32_Premultiplied);
    design.fill(Qt::transparent);
    QPainter designPainter(&design);
    Paint(designPainter);
    designPainter.end();
    painter.drawImage(rect(), design);
}

void TLMDTechnicalLine::Paint(QPainter& painter)
{
    if (!FTransparent)
        painter.fillRect(rect(), palette().color(backgroundRole()));
    if (FLineType != TLMDTechnicalLineTypes::lsStraightLeftToRight)
        return;

    if (FShadowVisible) {
        const QColor shadow = VclColor(FShadowColor, palette());
        const bool filled = FFillColor != clNone && shadow.isValid();
        PaintStraightLeftToRight(painter, shadow, filled ? QBrush(shadow) : QBrush(), FShadowDepth);
    }
    const QColor fill = VclColor(FFillColor, palette());
    PaintStraightLeftToRight(painter, VclColor(FLineSettings.Color, palette()),
                             fill.isValid() ? QBrush(fill) : QBrush(), 0);
}

void TLMDTechnicalLine::PaintStraightLeftToRight(QPainter& painter, const QColor& penColor,
                                                 const QBrush& fill, int offset)
{
    // measured inside the rectangle shrunk by half the pen and a pixel
    const int halfPen = FLineSettings.Width / 2;
    const int inset = halfPen + 1;
    const int w = width() - 2 * inset;
    const int h = height() - 2 * inset;
    const int s = FSignSize + (FShadowVisible ? FShadowDepth : 0);
    const int y = h / 2;
    const bool start = StartSignShown();
    const bool end = EndSignShown();

    painter.save();
    painter.translate(inset + offset, inset + offset);
    painter.setPen(PenOf(penColor, FLineSettings));
    painter.setBrush(fill);
    if (start)
        PaintSign(painter, FLineStartSign, QRect(QPoint(0, y - s / 2), QPoint(s, y + s / 2)));
    DrawHorizontalLine(painter, start ? s : halfPen, end ? w - s : w - halfPen, y);
    if (end)
        PaintSign(painter, FLineEndingsign, QRect(QPoint(w - s, y - s / 2), QPoint(w, y + s / 2)));
    painter.restore();
}
