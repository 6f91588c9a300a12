#include "widgets/FriendlyStatusBar.h"

#include <QPainter>

#include <algorithm>

namespace {
constexpr int BarHeight = 19;
constexpr int PanelTop = 2;
constexpr int PanelGap = 2;
constexpr int TextIndent = 2;
}

TFriendlyStatusBar::TFriendlyStatusBar(QWidget* parent)
    : QWidget(parent)
{
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    resize(sizeHint());
}

QSize TFriendlyStatusBar::sizeHint() const
{
    int width = 0;
    for (const TPanel& panel : FPanels)
        width += panel.Width;
    return {width, BarHeight};
}

void TFriendlyStatusBar::SetPanelWidths(const QList<int>& widths)
{
    FPanels.resize(widths.size());
    for (qsizetype i = 0; i < widths.size(); ++i)
        FPanels[i].Width = std::max(0, widths[i]);
    updateGeometry();
    update();
}

int TFriendlyStatusBar::PanelWidth(int index) const
{
    return IsPanel(index) ? FPanels[index].Width : 0;
}

QString TFriendlyStatusBar::PanelText(int index) const
{
    return IsPanel(index) ? FPanels[index].Text : QString();
}

void TFriendlyStatusBar::SetPanelText(int index, const QString& text)
{
    if (!IsPanel(index) || FPanels[index].Text == text)
        return;
    FPanels[index].Text = text;
    update(PanelRect(index));
}

QRect TFriendlyStatusBar::PanelRect(int index) const
{
    if (!IsPanel(index))
        return {};
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += FPanels[i].Width;
    // as in the platform's status bar, the last panel reaches the right edge
    const int width = index == PanelCount() - 1 ? std::max(FPanels[index].Width, this->width() - left)
                                                : FPanels[index].Width;
    // panels after the first give their first pixels to the gap before them
    const int gap = index > 0 ? std::min(PanelGap, width) : 0;
    return QRect(left + gap, PanelTop, width - gap, height() - PanelTop);
}

QRect TFriendlyStatusBar::TextRect(int index) const
{
    return PanelRect(index).adjusted(1 + TextIndent, 1, -1, -1);
}

QString TFriendlyStatusBar::ShownPanelText(int index) const
{
    if (!IsPanel(index))
        return {};
    return fontMetrics().elidedText(FPanels[index].Text, Qt::ElideRight, std::max(0, TextRect(index).width()));
}

void TFriendlyStatusBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor shade = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    painter.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect r = PanelRect(i);
        if (r.width() <= 0 || r.height() <= 0)
            continue;
        painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), shade);
        painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), shade);
        painter.fillRect(QRect(r.left() + 1, r.bottom(), r.width() - 1, 1), light);
        painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 1), light);
        painter.drawText(TextRect(i), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownPanelText(i));
    }
}
