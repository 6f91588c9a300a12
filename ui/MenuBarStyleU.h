#pragma once
// Menu bar items that carry an image show it beside their caption; the
// toolkit's own menu bar would show the image instead of the caption.

#include <QProxyStyle>

class TMenuBarStyle : public QProxyStyle {
    Q_OBJECT
public:
    // parent frees the style; it must outlive the widgets that use it
    explicit TMenuBarStyle(QObject* parent);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget = nullptr) const override;
};
