#pragma once
// The status bar's progress bar. A maximum of 0 means "no transfer" here, so
// it is drawn as an empty bar, not as the toolkit's busy indicator.

#include <QProgressBar>

class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent* event) override;
};
