#pragma once
// A line with a sign at one or both ends; the main window shows an input's
// or the relay's state by the fill colour of the sign. Of the line types only
// the straight left-to-right line is drawn, and of the signs the open and
// closed arrows; the other kinds are accepted and draw nothing.

#include "widgets/Colors.h"

#include <QWidget>

enum class TLMDTechnicalLineTypes {
    lsStraightLeftToRight, lsStraightTopToBottom, lsTopLeftToBottomRight, lsBottomLeftToTopRight,
    lsTopLeftEdge, lsBottomLeftEdge, lsTopRightEdge, lsBottomRightEdge,
    lsTopLeftCurve, lsBottomLeftCurve, lsTopRightCurve, lsBottomRightCurve
};

enum class TLMDLineEndings {
    leNothing, leOpenArrowUp, leOpenArrowDown, leOpenArrowRight, leOpenArrowLeft,
    leClosedArrowUp, leClosedArrowDown, leClosedArrowLeft, leClosedArrowRight,
    leDiamond, leCircle, leRectangle, leRoundRect, leParallelogramm, leComb,
    leHalfCircleLeft, leHalfCircleRight, leHalfCircleUp, leHalfCircleDown
};

enum class TLMDSignPlaces { spEnd, spStart, spBoth, spNoWhere };

// The pen of the line and of the sign outlines.
struct TLMDLineSettings {
    TColor Color = clBlack;
    int Width = 1;
    Qt::PenStyle Style = Qt::SolidLine;
    bool operator==(const TLMDLineSettings&) const = default;
};

class TLMDTechnicalLine : public QWidget {
    Q_OBJECT
public:
    explicit TLMDTechnicalLine(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Every setter stores a different value and schedules a repaint; the value
    // it already has changes nothing. A sign that is not shown (by SignPlaces)
    // is stored without a repaint.
    TLMDTechnicalLineTypes LineType() const { return FLineType; }
    // With Arrowed set, arrow signs turn to follow the new direction.
    void SetLineType(TLMDTechnicalLineTypes type);
    TLMDLineEndings LineStartSign() const { return FLineStartSign; }
    void SetLineStartSign(TLMDLineEndings sign);
    TLMDLineEndings LineEndingsign() const { return FLineEndingsign; }
    void SetLineEndingsign(TLMDLineEndings sign);
    TLMDSignPlaces SignPlaces() const { return FSignPlaces; }
    void SetSignPlaces(TLMDSignPlaces places);
    // Side of the square a sign is drawn in, in pixels.
    int SignSize() const { return FSignSize; }
    void SetSignSize(int size);
    // Fill of closed signs; clNone leaves them unfilled.
    TColor FillColor() const { return FFillColor; }
    void SetFillColor(TColor color);
    TLMDLineSettings LineSettings() const { return FLineSettings; }
    void SetLineSettings(const TLMDLineSettings& settings);
    bool ShadowVisible() const { return FShadowVisible; }
    void SetShadowVisible(bool visible);
    int ShadowDepth() const { return FShadowDepth; }
    void SetShadowDepth(int depth);
    TColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColor color);
    bool Arrowed() const { return FArrowed; }
    void SetArrowed(bool arrowed);
    // false: the background is filled with the widget's own colour.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool transparent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool StartSignShown() const;
    bool EndSignShown() const;
    void Paint(QPainter& painter);
    void PaintStraightLeftToRight(QPainter& painter, const QColor& penColor, const QBrush& fill, int offset);

    TLMDTechnicalLineTypes FLineType = TLMDTechnicalLineTypes::lsStraightLeftToRight;
    TLMDLineEndings FLineStartSign = TLMDLineEndings::leNothing;
    TLMDLineEndings FLineEndingsign = TLMDLineEndings::leClosedArrowRight;
    TLMDSignPlaces FSignPlaces = TLMDSignPlaces::spEnd;
    int FSignSize = 40;
    TColor FFillColor = clNone;
    TLMDLineSettings FLineSettings;
    bool FShadowVisible = false;
    int FShadowDepth = 6;
    TColor FShadowColor = clBtnShadow;
    bool FArrowed = false;
    bool FTransparent = true;
};
