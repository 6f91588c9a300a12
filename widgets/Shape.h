#pragma once
// A filled rectangle or circle with a one-pixel outline: the window's state
// lamps. Brush and pen take the design's colour values.

#include "widgets/Colors.h"

#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT
public:
    enum class TShapeType { stRectangle, stCircle };

    explicit TShape(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Each setter repaints only when the value changes.
    TShapeType Shape() const { return FShape; }
    void SetShape(TShapeType shape);
    TColor Brush() const { return FBrush; }
    void SetBrush(TColor color);
    TColor Pen() const { return FPen; }
    void SetPen(TColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TShapeType FShape = TShapeType::stRectangle;
    TColor FBrush = clWhite;
    TColor FPen = clBlack;
};
