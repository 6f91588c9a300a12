#pragma once
// A one-pixel rectangular outline in two colours, used as separator line and
// as highlight frame. It has no native window and leaves its inside alone.

#include "widgets/Colors.h"

#include <QWidget>

class TColorBevel : public QWidget {
    Q_OBJECT
public:
    enum class TStyle { bsLowered, bsRaised };

    explicit TColorBevel(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Both colour setters repaint even when the value is unchanged.
    TColor BriteColor() const { return FBriteColor; }
    void SetBriteColor(TColor color);
    TColor DarkColor() const { return FDarkColor; }
    void SetDarkColor(TColor color);
    // bsLowered: top and left edges dark; bsRaised: top and left edges lit.
    TStyle Style() const { return FStyle; }
    void SetStyle(TStyle style);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor FBriteColor = clWhite;
    TColor FDarkColor = clGray;
    TStyle FStyle = TStyle::bsLowered;
};
