#include "widgets/TechnicalLine.h"

#include <QPainter>
#include <QPolygon>

#include <optional>

namespace {
enum class TDirection { Up, Down, Left, Right };

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

bool IsOpenArrow(TLMDLineEndings sign)
{
    return sign == TLMDLineEndings::leOpenArrowUp || sign == TLMDLineEndings::leOpenArrowDown
        || sign == TLMDLineEndings::leOpenArrowLeft || sign == TLMDLineEndings::leOpenArrowRight;
}

bool IsClosedArrow(TLMDLineEndings sign)
{
    return sign == TLMDLineEndings::leClosedArrowUp || sign == TLMDLineEndings::leClosedArrowDown
        || sign == TLMDLineEndings::leClosedArrowLeft || sign == TLMDLineEndings::leClosedArrowRight;
}

TLMDLineEndings TurnedArrow(TLMDLineEndings sign, TLMDTechnicalLineTypes type, bool atEnd)
{
    const auto direction = ArrowDirection(type, atEnd);
    if (!direction)
        return sign;
    using E = TLMDLineEndings;
    if (IsOpenArrow(sign)) {
        switch (*direction) {
        case TDirection::Up: return E::leOpenArrowUp;
        case TDirection::Down: return E::leOpenArrowDown;
        case TDirection::Left: return E::leOpenArrowLeft;
        case TDirection::Right: return E::leOpenArrowRight;
        }
    }
    if (IsClosedArrow(sign)) {
        switch (*direction) {
        case TDirection::Up: return E::leClosedArrowUp;
        case TDirection::Down: return E::leClosedArrowDown;
        case TDirection::Left: return E::leClosedArrowLeft;
        case TDirection::Right: return E::leClosedArrowRight;
        }
    }
    return sign;
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

template <typename T>
void TLMDTechnicalLine::Change(T& field, const T& value, bool repaint)
{
    if (field == value)
        return;
    field = value;
    if (repaint)
        update();
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
    Change(FLineStartSign, sign, StartSignShown());
}

void TLMDTechnicalLine::SetLineEndingsign(TLMDLineEndings sign)
{
    Change(FLineEndingsign, sign, EndSignShown());
}

void TLMDTechnicalLine::SetSignPlaces(TLMDSignPlaces places) { Change(FSignPlaces, places); }
void TLMDTechnicalLine::SetSignSize(int size) { Change(FSignSize, size); }
void TLMDTechnicalLine::SetFillColor(TColor color) { Change(FFillColor, color); }
void TLMDTechnicalLine::SetLineSettings(const TLMDLineSettings& settings) { Change(FLineSettings, settings); }
void TLMDTechnicalLine::SetShadowVisible(bool visible) { Change(FShadowVisible, visible); }
void TLMDTechnicalLine::SetShadowDepth(int depth) { Change(FShadowDepth, depth); }
void TLMDTechnicalLine::SetShadowColor(TColor color) { Change(FShadowColor, color); }
void TLMDTechnicalLine::SetArrowed(bool arrowed) { Change(FArrowed, arrowed); }
void TLMDTechnicalLine::SetTransparent(bool transparent) { Change(FTransparent, transparent); }

void TLMDTechnicalLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
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
    const int inset = FLineSettings.Width / 2 + 1;
    const int w = width() - 2 * inset;
    const int h = height() - 2 * inset;
    const int halfPen = FLineSettings.Width / 2;
    const int s = FSignSize + (FShadowVisible ? FShadowDepth : 0);
    const int y = h / 2;
    const TSignBox startBox{0, y - s / 2, s, y + s / 2};
    const TSignBox endBox{w - s, y - s / 2, w, y + s / 2};

    painter.save();
    painter.translate(inset + offset, inset + offset);
    painter.setPen(PenOf(penColor, FLineSettings));
    painter.setBrush(fill);
    switch (FSignPlaces) {
    case TLMDSignPlaces::spEnd:
        DrawHorizontalLine(painter, halfPen, w - s, y);
        PaintSign(painter, FLineEndingsign, endBox);
        break;
    case TLMDSignPlaces::spStart:
        PaintSign(painter, FLineStartSign, startBox);
        DrawHorizontalLine(painter, s, w - halfPen, y);
        break;
    case TLMDSignPlaces::spBoth:
        PaintSign(painter, FLineStartSign, startBox);
        DrawHorizontalLine(painter, s, w - s, y);
        PaintSign(painter, FLineEndingsign, endBox);
        break;
    case TLMDSignPlaces::spNoWhere:
        DrawHorizontalLine(painter, halfPen, w - halfPen, y);
        break;
    }
    painter.restore();
}

void TLMDTechnicalLine::PaintSign(QPainter& painter, TLMDLineEndings sign, const TSignBox& box)
{
    const int l = box.Left, t = box.Top, r = box.Right, b = box.Bottom;
    const int midY = t + (b - t) / 2;
    const int midX = l + (r - l) / 2;
    using E = TLMDLineEndings;
    switch (sign) {
    case E::leClosedArrowRight: painter.drawPolygon(QPolygon({{l, t}, {r, midY}, {l, b}})); break;
    case E::leClosedArrowLeft: painter.drawPolygon(QPolygon({{r, t}, {l, midY}, {r, b}})); break;
    case E::leClosedArrowUp: painter.drawPolygon(QPolygon({{l, b}, {midX, t}, {r, b}})); break;
    case E::leClosedArrowDown: painter.drawPolygon(QPolygon({{l, t}, {midX, b}, {r, t}})); break;
    case E::leOpenArrowRight: painter.drawPolyline(QPolygon({{l, t}, {r, midY}, {l, b}})); break;
    case E::leOpenArrowLeft: painter.drawPolyline(QPolygon({{r, t}, {l, midY}, {r, b}})); break;
    case E::leOpenArrowUp: painter.drawPolyline(QPolygon({{l, b}, {midX, t}, {r, b}})); break;
    case E::leOpenArrowDown: painter.drawPolyline(QPolygon({{l, t}, {midX, b}, {r, t}})); break;
    default: break;
    }
}
