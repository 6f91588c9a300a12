#pragma once
// A status bar of fixed-width panels that also carries child widgets: a
// widget placed on it is its child, drawn over the panels and moved with it.
// It lays nothing out itself, so children stay where they were put.

#include <QList>
#include <QString>
#include <QWidget>

class TFriendlyStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit TFriendlyStatusBar(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // One panel per width, left to right; panels that remain keep their text.
    void SetPanelWidths(const QList<int>& widths);
    int PanelCount() const { return int(FPanels.size()); }
    // An index out of range reads as 0 or "" and is ignored by the setter.
    int PanelWidth(int index) const;
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    // The sunken area of a panel, in the bar's coordinates; the last panel
    // stretches to the bar's right edge.
    QRect PanelRect(int index) const;
    // The panel's text as drawn: cut with an ellipsis where it is wider than
    // the panel, so that a cut is always seen.
    QString ShownPanelText(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct TPanel {
        int Width = 0;
        QString Text;
    };
    bool IsPanel(int index) const { return index >= 0 && index < PanelCount(); }
    QRect TextRect(int index) const;

    QList<TPanel> FPanels;
};
