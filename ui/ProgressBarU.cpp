#include "ui/ProgressBarU.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

void TProgressBar::paintEvent(QPaintEvent* event)
{
    if (maximum() > minimum()) {
        QProgressBar::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.minimum = 0;
    option.maximum = 1;
    option.progress = 0;
    painter.drawControl(QStyle::CE_ProgressBar, option);
}
