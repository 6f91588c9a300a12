#include "widgets/ColorBevel.h"
#include "widgets/Colors.h"
#include "widgets/FriendlyStatusBar.h"
#include "widgets/Shape.h"
#include "widgets/TechnicalLine.h"

#include <QApplication>
#include <QImage>
#include <QProgressBar>
#include <QTest>

#include <cmath>
#include <memory>

namespace {
const QColor Background(0x12, 0x34, 0x56);

// Renders the widget alone on a known background, without the window
// background, so that untouched pixels stay recognisable.
QImage Render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The same at a device pixel ratio, as on a scaled desktop.
QImage Render(QWidget& widget, qreal scale)
{
    QImage image((QSizeF(widget.size()) * scale).toSize(), QImage::Format_ARGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The device pixels painted over the background.
QRect PaintedBounds(const QImage& image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != Background)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};

// A shown top-level widget whose child has painted once and gone quiet.
struct TShownWidget {
    QWidget Window;
    void Show()
    {
        Window.resize(200, 100);
        Window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Window));
        QApplication::processEvents();
    }
};

// The main window's input and relay lines.
struct TLineLayout {
    QSize Size;
    TLMDSignPlaces Places;
    TLMDLineEndings StartSign;
    int SignSize;
    bool Arrowed;
};
const TLineLayout InputLayout{{16, 16}, TLMDSignPlaces::spEnd, TLMDLineEndings::leNothing, 10, false};
const TLineLayout RelayLayout{{17, 16}, TLMDSignPlaces::spStart, TLMDLineEndings::leClosedArrowLeft, 11, true};

void Configure(TLMDTechnicalLine& line, const TLineLayout& layout)
{
    line.resize(layout.Size);
    line.SetSignPlaces(layout.Places);
    line.SetLineStartSign(layout.StartSign);
    line.SetLineEndingsign(TLMDLineEndings::leClosedArrowRight);
    line.SetSignSize(layout.SignSize);
    line.SetFillColor(clGreen);
    line.SetArrowed(layout.Arrowed);
}
}

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void fixedColorsHaveRedInTheLowByte_data();
    void fixedColorsHaveRedInTheLowByte();
    void systemColorsFollowThePalette();
    void valuesWithoutAColorAreInvalid();

    void bevelOfHeightTwo_data();
    void bevelOfHeightTwo();
    void bevelLeavesItsInsideAlone();
    void bevelOfButtonFaceIsInvisibleOnButtonFace();
    void bevelColorsRepaintEvenWhenUnchanged();

    void arrowsPointTheirWay_data();
    void arrowsPointTheirWay();
    void fillColorRepaintsOnlyOnChange();
    void hiddenSignChangesDoNotRepaint();
    void unfilledAndOpaqueLines();
    void openArrowsStayUnfilled();
    void arrowedTurnsSignsWithTheLineType();

    void shapeRepaintsOnlyOnChange();
    void indicatorEdgesSurviveScaling_data();
    void indicatorEdgesSurviveScaling();

    void statusBarPanelsAndTexts();
    void statusBarChildrenStayOverPanels();

    void grabForReview();
};

void TestWidgets::fixedColorsHaveRedInTheLowByte_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("red") << clRed << QColor(255, 0, 0);
    QTest::newRow("lime") << clLime << QColor(0, 255, 0);
    QTest::newRow("yellow") << clYellow << QColor(255, 255, 0);
    QTest::newRow("navy") << clNavy << QColor(0, 0, 128);
    QTest::newRow("green") << clGreen << QColor(0, 128, 0);
    QTest::newRow("light orange") << clLightOrange << QColor(255, 220, 113);
}

void TestWidgets::fixedColorsHaveRedInTheLowByte()
{
    QFETCH(quint32, value);
    QFETCH(QColor, expected);
    QCOMPARE(VclColor(value), expected);
}

void TestWidgets::systemColorsFollowThePalette()
{
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Dark, QColor(4, 5, 6));
    palette.setColor(QPalette::WindowText, QColor(7, 8, 9));
    palette.setColor(QPalette::Light, QColor(10, 11, 12));
    QCOMPARE(VclColor(clBtnFace, palette), QColor(1, 2, 3));
    QCOMPARE(VclColor(clBtnShadow, palette), QColor(4, 5, 6));
    QCOMPARE(VclColor(clWindowText, palette), QColor(7, 8, 9));
    QCOMPARE(VclColor(clBtnHighlight, palette), QColor(10, 11, 12));
    QCOMPARE(VclColor(clBtnFace), QApplication::palette().color(QPalette::Button));
}

void TestWidgets::valuesWithoutAColorAreInvalid()
{
    QVERIFY(!VclColor(clNone).isValid());
    QVERIFY(!VclColor(0x800000FF).isValid());
    QVERIFY(!VclColor(0x02123456).isValid());
}

void TestWidgets::bevelOfHeightTwo_data()
{
    QTest::addColumn<TColorBevel::TStyle>("style");
    QTest::addColumn<quint32>("dark");
    QTest::addColumn<quint32>("brite");
    QTest::addColumn<QColor>("topColor");
    QTest::addColumn<QColor>("bottomColor");
    QTest::newRow("equal colours") << TColorBevel::TStyle::bsLowered << clLightOrange << clLightOrange
                                   << QColor(255, 220, 113) << QColor(255, 220, 113);
    QTest::newRow("lowered") << TColorBevel::TStyle::bsLowered << clRed << clLime
                             << QColor(Qt::red) << QColor(Qt::green);
    QTest::newRow("raised") << TColorBevel::TStyle::bsRaised << clRed << clLime
                            << QColor(Qt::green) << QColor(Qt::red);
}

void TestWidgets::bevelOfHeightTwo()
{
    QFETCH(TColorBevel::TStyle, style);
    QFETCH(quint32, dark);
    QFETCH(quint32, brite);
    QFETCH(QColor, topColor);
    QFETCH(QColor, bottomColor);
    TColorBevel bevel;
    bevel.resize(257, 2);
    bevel.SetStyle(style);
    bevel.SetDarkColor(dark);
    bevel.SetBriteColor(brite);
    const QImage image = Render(bevel);
    // the top line stops before the last pixel, the bottom one before the first
    for (int x = 0; x < 256; ++x)
        QCOMPARE(image.pixelColor(x, 0), topColor);
    QCOMPARE(image.pixelColor(256, 0), bottomColor);
    QCOMPARE(image.pixelColor(0, 1), topColor);
    for (int x = 1; x < 257; ++x)
        QCOMPARE(image.pixelColor(x, 1), bottomColor);
}

void TestWidgets::bevelLeavesItsInsideAlone()
{
    TColorBevel bevel;
    QCOMPARE(bevel.size(), QSize(30, 30));
    const QImage image = Render(bevel);
    QCOMPARE(image.pixelColor(15, 15), Background);
    QCOMPARE(image.pixelColor(1, 1), Background);
    QCOMPARE(image.pixelColor(0, 15), VclColor(clGray));
    QCOMPARE(image.pixelColor(29, 15), VclColor(clWhite));
    QCOMPARE(image.pixelColor(15, 29), VclColor(clWhite));
}

void TestWidgets::bevelOfButtonFaceIsInvisibleOnButtonFace()
{
    TColorBevel bevel;
    bevel.resize(99, 27);
    bevel.SetBriteColor(clBtnFace);
    bevel.SetDarkColor(clBtnFace);
    QImage image(bevel.size(), QImage::Format_ARGB32);
    image.fill(bevel.palette().color(QPalette::Button));
    bevel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixelColor(x, y), bevel.palette().color(QPalette::Button));
}

void TestWidgets::bevelColorsRepaintEvenWhenUnchanged()
{
    TShownWidget shown;
    auto* bevel = new TColorBevel(&shown.Window);
    shown.Show();
    TPaintCounter counter(bevel);

    bevel->SetBriteColor(bevel->BriteColor());
    QTRY_COMPARE(counter.Count, 1);
    bevel->SetDarkColor(bevel->DarkColor());
    QTRY_COMPARE(counter.Count, 2);
    bevel->SetStyle(TColorBevel::TStyle::bsLowered);
    QApplication::processEvents();
    QCOMPARE(counter.Count, 2);
    bevel->SetStyle(TColorBevel::TStyle::bsRaised);
    QTRY_COMPARE(counter.Count, 3);
}

void TestWidgets::arrowsPointTheirWay_data()
{
    QTest::addColumn<bool>("relay");
    QTest::addColumn<QPoint>("inside");
    QTest::addColumn<QPoint>("nearBase");
    QTest::addColumn<QPoint>("nearTip");
    // input: corners (5,3), (15,8), (5,13); relay: (12,3), (1,8), (12,13)
    QTest::newRow("input points right") << false << QPoint(8, 8) << QPoint(6, 5) << QPoint(13, 5);
    QTest::newRow("relay points left") << true << QPoint(8, 8) << QPoint(11, 5) << QPoint(3, 5);
}

void TestWidgets::arrowsPointTheirWay()
{
    QFETCH(bool, relay);
    QFETCH(QPoint, inside);
    QFETCH(QPoint, nearBase);
    QFETCH(QPoint, nearTip);
    TLMDTechnicalLine line;
    Configure(line, relay ? RelayLayout : InputLayout);
    const QImage image = Render(line);
    const QColor green = VclColor(clGreen);
    QCOMPARE(image.pixelColor(inside), green);
    QCOMPARE(image.pixelColor(nearBase), green);
    QCOMPARE(image.pixelColor(nearTip), Background);
    // the short line leads into the base of the arrow at mid height
    const int lineX = relay ? 14 : 2;
    QCOMPARE(image.pixelColor(lineX, 8), QColor(Qt::black));
    QCOMPARE(image.pixelColor(lineX, 7), Background);
}

void TestWidgets::fillColorRepaintsOnlyOnChange()
{
    TShownWidget shown;
    auto* line = new TLMDTechnicalLine(&shown.Window);
    Configure(*line, InputLayout);
    shown.Show();
    TPaintCounter counter(line);

    line->SetFillColor(clGreen);
    QApplication::processEvents();
    QCOMPARE(counter.Count, 0);

    line->SetFillColor(clRed);
    QTRY_COMPARE(counter.Count, 1);
    QCOMPARE(line->FillColor(), clRed);
    QCOMPARE(Render(*line).pixelColor(8, 8), QColor(Qt::red));
}

void TestWidgets::hiddenSignChangesDoNotRepaint()
{
    TShownWidget shown;
    auto* line = new TLMDTechnicalLine(&shown.Window);
    shown.Show();
    TPaintCounter counter(line);

    line->SetLineStartSign(TLMDLineEndings::leClosedArrowLeft);
    QApplication::processEvents();
    QCOMPARE(counter.Count, 0);
    QCOMPARE(line->LineStartSign(), TLMDLineEndings::leClosedArrowLeft);

    line->SetSignPlaces(TLMDSignPlaces::spStart);
    QTRY_COMPARE(counter.Count, 1);
    line->SetLineEndingsign(TLMDLineEndings::leOpenArrowRight);
    QApplication::processEvents();
    QCOMPARE(counter.Count, 1);
    line->SetLineStartSign(TLMDLineEndings::leClosedArrowRight);
    QTRY_COMPARE(counter.Count, 2);
}

void TestWidgets::unfilledAndOpaqueLines()
{
    TLMDTechnicalLine line;
    Configure(line, InputLayout);
    line.SetFillColor(clNone);
    QImage image = Render(line);
    QCOMPARE(image.pixelColor(8, 8), Background);
    QCOMPARE(image.pixelColor(5, 8), QColor(Qt::black));
    QCOMPARE(image.pixelColor(0, 0), Background);

    QPalette palette = line.palette();
    palette.setColor(line.backgroundRole(), QColor(200, 100, 50));
    line.setPalette(palette);
    line.SetTransparent(false);
    image = Render(line);
    QCOMPARE(image.pixelColor(0, 0), QColor(200, 100, 50));
    QCOMPARE(image.pixelColor(8, 8), QColor(200, 100, 50));
}

void TestWidgets::openArrowsStayUnfilled()
{
    TLMDTechnicalLine line;
    Configure(line, InputLayout);
    line.SetLineEndingsign(TLMDLineEndings::leOpenArrowRight);
    const QImage image = Render(line);
    // the two sides meet at the tip; the base, opposite it, is left open
    QCOMPARE(image.pixelColor(15, 8), QColor(Qt::black));
    QCOMPARE(image.pixelColor(5, 8), Background);
    QCOMPARE(image.pixelColor(8, 8), Background);
}

void TestWidgets::arrowedTurnsSignsWithTheLineType()
{
    TLMDTechnicalLine plain;
    plain.SetLineType(TLMDTechnicalLineTypes::lsStraightTopToBottom);
    QCOMPARE(plain.LineEndingsign(), TLMDLineEndings::leClosedArrowRight);

    TLMDTechnicalLine arrowed;
    arrowed.SetArrowed(true);
    arrowed.SetLineStartSign(TLMDLineEndings::leOpenArrowRight);
    arrowed.SetLineType(TLMDTechnicalLineTypes::lsStraightTopToBottom);
    QCOMPARE(arrowed.LineEndingsign(), TLMDLineEndings::leClosedArrowDown);
    QCOMPARE(arrowed.LineStartSign(), TLMDLineEndings::leOpenArrowUp);
    arrowed.SetLineType(TLMDTechnicalLineTypes::lsStraightLeftToRight);
    QCOMPARE(arrowed.LineEndingsign(), TLMDLineEndings::leClosedArrowRight);
    QCOMPARE(arrowed.LineStartSign(), TLMDLineEndings::leOpenArrowLeft);
}

void TestWidgets::shapeRepaintsOnlyOnChange()
{
    TShownWidget shown;
    auto* shape = new TShape(&shown.Window);
    shape->resize(9, 9);
    shown.Show();
    TPaintCounter counter(shape);

    shape->SetShape(shape->Shape());
    shape->SetBrush(shape->Brush());
    shape->SetPen(shape->Pen());
    QApplication::processEvents();
    QCOMPARE(counter.Count, 0);

    shape->SetShape(TShape::TShapeType::stCircle);
    QTRY_COMPARE(counter.Count, 1);
    shape->SetBrush(clLime);
    QTRY_COMPARE(counter.Count, 2);
    const QImage image = Render(*shape);
    QCOMPARE(image.pixelColor(4, 4), QColor(Qt::green));
    QCOMPARE(image.pixelColor(0, 0), Background);
}

void TestWidgets::statusBarPanelsAndTexts()
{
    TFriendlyStatusBar bar;
    bar.resize(272, 19);
    bar.SetPanelWidths({16, 75, 100});
    QCOMPARE(bar.PanelCount(), 3);
    QCOMPARE(bar.PanelRect(0), QRect(0, 2, 16, 17));
    QCOMPARE(bar.PanelRect(1), QRect(18, 2, 73, 17));
    QCOMPARE(bar.PanelRect(2), QRect(93, 2, 179, 17));
    QCOMPARE(bar.PanelWidth(2), 100);

    const QRect textArea = bar.PanelRect(2).adjusted(2, 2, -2, -2);
    const auto darkPixels = [&bar, &textArea] {
        const QImage image = bar.grab().toImage();
        int count = 0;
        for (int y = textArea.top(); y <= textArea.bottom(); ++y)
            for (int x = textArea.left(); x <= textArea.right(); ++x)
                count += image.pixelColor(x, y).lightness() < 100;
        return count;
    };
    QCOMPARE(darkPixels(), 0);
    bar.SetPanelText(2, "Connected.");
    QCOMPARE(bar.PanelText(2), QString("Connected."));
    QVERIFY(darkPixels() > 10);

    bar.SetPanelText(3, "nowhere");
    bar.SetPanelText(-1, "nowhere");
    QCOMPARE(bar.PanelText(3), QString());
    bar.SetPanelWidths({16, 75});
    QCOMPARE(bar.PanelText(1), QString());
    QCOMPARE(bar.PanelCount(), 2);
}

void TestWidgets::statusBarChildrenStayOverPanels()
{
    TFriendlyStatusBar bar;
    bar.resize(272, 19);
    bar.SetPanelWidths({16, 75, 100});
    auto* child = new QWidget(&bar);
    child->setGeometry(18, 2, 73, 17);
    child->setAutoFillBackground(true);
    QPalette palette = child->palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    child->setPalette(palette);
    bar.SetPanelText(1, "hidden under the child");

    const QImage image = bar.grab().toImage();
    for (const QPoint p : {QPoint(18, 2), QPoint(50, 10), QPoint(90, 18)})
        QCOMPARE(image.pixelColor(p), QColor(10, 200, 30));
    QVERIFY(image.pixelColor(93, 2) != QColor(10, 200, 30));
}

void TestWidgets::grabForReview()
{
    QWidget panel;
    panel.resize(272, 60);
    panel.setAutoFillBackground(true);
    QPalette white = panel.palette();
    white.setColor(QPalette::Window, Qt::white);
    panel.setPalette(white);
    auto* input = new TLMDTechnicalLine(&panel);
    Configure(*input, InputLayout);
    input->move(140, 4);
    auto* relay = new TLMDTechnicalLine(&panel);
    Configure(*relay, RelayLayout);
    relay->SetFillColor(clRed);
    relay->move(180, 4);
    auto* separator = new TColorBevel(&panel);
    separator->setGeometry(8, 24, 257, 2);
    separator->SetBriteColor(clLightOrange);
    separator->SetDarkColor(clLightOrange);
    auto* frame = new TColorBevel(&panel);
    frame->setGeometry(8, 30, 40, 10);
    frame->SetDarkColor(clRed);
    auto* bar = new TFriendlyStatusBar(&panel);
    bar->setGeometry(0, 41, 272, 19);
    bar->SetPanelWidths({16, 75, 100});
    bar->SetPanelText(2, "Data transfer OK.");
    auto* progress = new QProgressBar(bar);
    progress->setGeometry(18, 2, 73, 17);
    progress->setValue(60);
    progress->setTextVisible(false);

    const QString folder = QCoreApplication::applicationDirPath();
    const QImage image = panel.grab().toImage();
    QVERIFY(image.scaled(image.size() * 4).save(folder + "/widgets_review.png"));
    const QImage lines = image.copy(136, 0, 64, 24);
    QVERIFY(lines.scaled(lines.size() * 16).save(folder + "/widgets_review_lines.png"));
}

void TestWidgets::indicatorEdgesSurviveScaling_data()
{
    QTest::addColumn<QString>("indicator");
    QTest::addColumn<qreal>("scale");
    for (const char* indicator : {"tamper circle", "door rectangle", "input arrow", "relay arrow"})
        for (qreal scale : {1.0, 1.25, 1.5, 2.0})
            QTest::addRow("%s at %g", indicator, scale) << QString::fromLatin1(indicator) << scale;
}

// Every edge row and column that an indicator paints at its design size is
// painted, whole, at any scale: the outline ends where the scaled one would.
void TestWidgets::indicatorEdgesSurviveScaling()
{
    QFETCH(QString, indicator);
    QFETCH(qreal, scale);
    std::unique_ptr<QWidget> widget;
    if (indicator.endsWith("arrow")) {
        auto line = std::make_unique<TLMDTechnicalLine>();
        Configure(*line, indicator.startsWith("input") ? InputLayout : RelayLayout);
        widget = std::move(line);
    } else {
        auto shape = std::make_unique<TShape>();
        const bool circle = indicator.endsWith("circle");
        shape->resize(circle ? QSize(15, 15) : QSize(11, 15));
        shape->SetShape(circle ? TShape::TShapeType::stCircle : TShape::TShapeType::stRectangle);
        shape->SetBrush(clYellow);
        shape->SetPen(clBlack);
        widget = std::move(shape);
    }
    const QRect design = PaintedBounds(Render(*widget, 1.0));
    const QRect scaled = PaintedBounds(Render(*widget, scale));
    // the device pixels whose centres lie in the design pixel: all of them
    // painted at the edges, and at most one more around
    const auto first = [&](int pixel) { return int(std::floor(pixel * scale - 0.5)) + 1; };
    const auto last = [&](int pixel) { return int(std::floor((pixel + 1) * scale - 0.5)); };
    const QRect expected(QPoint(first(design.left()), first(design.top())),
                         QPoint(last(design.right()), last(design.bottom())));
    QVERIFY2(scaled.contains(expected) && expected.adjusted(-1, -1, 1, 1).contains(scaled),
             qPrintable(QStringLiteral("painted %1,%2 to %3,%4; the design's edges scale to %5,%6 to %7,%8")
                            .arg(scaled.left()).arg(scaled.top()).arg(scaled.right()).arg(scaled.bottom())
                            .arg(expected.left()).arg(expected.top()).arg(expected.right()).arg(expected.bottom())));
}

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
