// The main window as desktops show it: desktop fonts of 9 to 11 points, the
// Czech captions, a dark theme, the keyboard and the mouse wheel.

#include "MainWindowTestSupport.h"

#include "link/CommThreadU.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
const QByteArray MasterOn = "[Version]\nSetMaster=1\n";

TCanonicalFrame FirmwareReply(std::uint8_t from = 1)
{
    return BytesOf({from, 0x02, 0xFF, 0x02, 0x05, 0x00, 0x00});
}

TCanonicalFrame StatusReply(std::uint8_t flags = 0x80)
{
    return BytesOf({0x01, 0x0B, 0xB5, 0, 0, 0, 0, 0, 0, 0, 0, 0, flags, 0x0C, 0x00, 0x00});
}

const char* const StatusSymbols[] = {"Tamper", "ForcedDoor", "DoorAjar", "Input1", "Input2", "Relay1"};

// WCAG relative luminance and contrast ratio
double Luminance(const QColor& color)
{
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette DarkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2D, 0x2D, 0x2D));
    p.setColor(QPalette::WindowText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    p.setColor(QPalette::Text, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, QColor(0xE6, 0xE6, 0xE6));
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
    return p;
}

// Where a label's text is drawn (left aligned, centred vertically): the glyphs
// themselves, accents and descenders included.
QRect Ink(const QLabel& label)
{
    const QFontMetrics metrics = label.fontMetrics();
    const QRect box = label.contentsRect();
    const int baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
    QString shown = label.text();
    if (label.buddy())
        shown.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return metrics.tightBoundingRect(shown).translated(box.left(), baseline);
}

QString OwnerName(QWidget* focus)
{
    // a spin box's focus rests on its line edit
    if (focus && qobject_cast<QAbstractSpinBox*>(focus->parentWidget()))
        focus = focus->parentWidget();
    return focus ? focus->objectName() : QString();
}

void Wheel(QWidget* target, int steps)
{
    QWheelEvent event(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120 * steps),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}
}

class TestMainWindowDesktop : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void panelReadsUnderLightAndDarkThemes_data();
    void panelReadsUnderLightAndDarkThemes();
    void symbolsLookAlikeUnderAnyTheme();
    void symbolsSayWhatTheyShow_data();
    void symbolsSayWhatTheyShow();

    void returnInAddressFieldQueuesNothingMore_data();
    void returnInAddressFieldQueuesNothingMore();
    void tabFollowsTheWindowAndLabelsLeadToTheirEdits();
    void wheelChangesOnlyTheFocusedField();

    void renderings();
};

void TestMainWindowDesktop::cleanup()
{
    QApplication::setFont(QFont());
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void TestMainWindowDesktop::captionsFitTheirBoxes_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("czech");
    for (int points : {0, 9, 10, 11}) { // 0: the desktop's own font
        QTest::addRow("English %d pt", points) << points << false;
        QTest::addRow("Czech %d pt", points) << points << true;
    }
}

// Every caption's text within its box in the window's font at least, or
// visibly cut with the whole in its tool tip; no label box over another
// control, and no caption touching the control on its right.
void TestMainWindowDesktop::captionsFitTheirBoxes()
{
    QFETCH(int, points);
    QFETCH(bool, czech);
    if (points)
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
    TProgramFolder folder(MasterOn);
    if (czech)
        QVERIFY(QFile::copy(QStringLiteral(VYX_LANGUAGE_DIR "/cs.lng"), folder.Path() + "cs.lng"));
    TMainWindow window(folder.Path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QWidget* client = Control<QWidget>(window, "ClientArea");
    const int fontPixels = window.centralWidget()->font().pixelSize();
    for (QWidget* caption : window.centralWidget()->findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(caption);
        auto* button = qobject_cast<QAbstractButton*>(caption);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (text.isEmpty() || caption->isHidden() || qobject_cast<QToolButton*>(caption))
            continue;
        const QString name = caption->objectName();
        QVERIFY2(caption->font().pixelSize() >= fontPixels, qPrintable(name));
        QVERIFY2(!text.contains(u'\u2026') || !caption->toolTip().isEmpty(), qPrintable(name));
        const QRect place = caption->geometry();
        for (QWidget* other : caption->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const QRect beside = other->geometry();
            if (other != caption && !other->isHidden() && beside.left() > place.left()
                && beside.top() < place.bottom() && beside.bottom() > place.top())
                QVERIFY2(place.right() < beside.left(), qPrintable(name + " touches " + other->objectName()));
        }
    }
    for (QLabel* label : client->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->isVisible())
            continue;
        const QByteArray what = (label->objectName() + ": " + label->text()).toUtf8();
        // tightBoundingRect rounds outwards to whole pixels: a glyph's side bearing can show as -1
        QVERIFY2(label->contentsRect().adjusted(-1, 0, 1, 0).contains(Ink(*label)), what);
        QVERIFY2(label->parentWidget()->rect().contains(label->geometry()), what);
        for (QWidget* other : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(other == label || !other->isVisible() || !other->geometry().intersects(label->geometry()),
                     what + " overlaps " + other->objectName().toUtf8());
    }
    for (QCheckBox* box : window.centralWidget()->findChildren<QCheckBox*>())
        QVERIFY2(!box->isVisible() || box->sizeHint().width() <= box->width(), box->text().toUtf8());
    for (QPushButton* button : window.centralWidget()->findChildren<QPushButton*>()) {
        const int text = button->fontMetrics().horizontalAdvance(QString(button->text()).remove('&'));
        QVERIFY2(!button->isVisible() || text + 6 <= button->width(), button->text().toUtf8());
    }
    auto* functions = Control<QComboBox>(window, "InputFunctionCB");
    for (int i = 0; i < functions->count(); ++i) {
        const int arrow = functions->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        QVERIFY2(functions->fontMetrics().horizontalAdvance(functions->itemText(i)) + arrow + 8 <= functions->width(),
                 functions->itemText(i).toUtf8());
    }
}

void TestMainWindowDesktop::panelReadsUnderLightAndDarkThemes_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

void TestMainWindowDesktop::panelReadsUnderLightAndDarkThemes()
{
    QFETCH(bool, dark);
    if (dark)
        QApplication::setPalette(DarkPalette());
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    auto* panel = Control<QWidget>(window, "Panel1");
    const QColor background = panel->palette().color(QPalette::Window);
    QCOMPARE(background, QColor(Qt::white));
    const auto checkTexts = [&](const char* state) {
        for (QLabel* label : panel->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            const double contrast = Contrast(label->palette().color(QPalette::WindowText), background);
            QVERIFY2(contrast >= 4.5,
                     qPrintable(QStringLiteral("%1 %2: %3").arg(state, label->objectName()).arg(contrast)));
        }
    };
    checkTexts("greyed");
    const QColor greyed = TextColor(window, "CardLB");
    window.CommThread().OnReply(nullptr, StatusReply());
    checkTexts("live");
    // greyed and live must look different
    QVERIFY(Contrast(greyed, TextColor(window, "CardLB")) > 2.0);
}

// Idle must look idle on the white panel: no symbol takes the theme's colours.
void TestMainWindowDesktop::symbolsLookAlikeUnderAnyTheme()
{
    const auto symbols = [](const QPalette& palette, std::uint8_t flags) {
        QApplication::setPalette(palette);
        TProgramFolder folder;
        TMainWindow window(folder.Path());
        window.CommThread().OnReply(nullptr, StatusReply(flags));
        QList<QImage> images;
        for (const char* name : StatusSymbols)
            images << Control<QWidget>(window, name)->grab().toImage();
        return images;
    };
    for (std::uint8_t flags : {0x00, 0x3F})
        QVERIFY(symbols(DarkPalette(), flags) == symbols(QApplication::style()->standardPalette(), flags));
}

void TestMainWindowDesktop::symbolsSayWhatTheyShow_data()
{
    QTest::addColumn<bool>("czech");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QStringList>("hints");
    QTest::newRow("English, no answer yet")
        << false << false
        << QStringList{"Tamper: not known while the module does not answer", "Forced door: not known while the module does not answer",
                       "Door ajar: not known while the module does not answer", "Input 1: not known while the module does not answer",
                       "Input 2: not known while the module does not answer", "Relay: not known while the module does not answer"};
    // flags 0x0D: relay, input 1 and tamper
    QTest::newRow("English, answered")
        << false << true
        << QStringList{"Tamper: active", "Forced door: idle", "Door ajar: idle", "Input 1: active", "Input 2: idle", "Relay: active"};
    QTest::newRow("Czech, answered")
        << true << true
        << QStringList{"Sabotáž: aktivní", "Vylomené dveře: klid", "Otevřené dveře: klid", "Vstup 1: aktivní", "Vstup 2: klid", "Relé: aktivní"};
}

void TestMainWindowDesktop::symbolsSayWhatTheyShow()
{
    QFETCH(bool, czech);
    QFETCH(bool, answered);
    QFETCH(QStringList, hints);
    TProgramFolder folder;
    if (czech)
        QVERIFY(QFile::copy(QStringLiteral(VYX_LANGUAGE_DIR "/cs.lng"), folder.Path() + "cs.lng"));
    TMainWindow window(folder.Path());
    if (answered)
        window.CommThread().OnReply(nullptr, StatusReply(0x0D));
    QStringList shown;
    for (const char* name : StatusSymbols)
        shown << Control<QWidget>(window, name)->toolTip();
    QCOMPARE(shown, hints);
    QVERIFY(!Control<QWidget>(window, "SpeedButton1")->toolTip().isEmpty());
}

void TestMainWindowDesktop::returnInAddressFieldQueuesNothingMore_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("address");
    QTest::newRow("16 typed") << "16" << 16;
    QTest::newRow("value unchanged") << "1" << 1;
}

// The change handler resets "fw:" as it queues its requests: a firmware value
// that stays on show proves that nothing was queued again.
void TestMainWindowDesktop::returnInAddressFieldQueuesNothingMore()
{
    QFETCH(QString, typed);
    QFETCH(int, address);
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    auto* field = Control<QSpinBox>(window, "SetAddressSE");
    auto* firmware = Control<QLabel>(window, "Label1");
    const QString known = QStringLiteral("fw: 2.5");

    window.CommThread().OnReply(nullptr, FirmwareReply());
    field->selectAll();
    QTest::keyClicks(field, typed);
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(int(window.CommThread().HWAddress), address);
    QCOMPARE(firmware->text() == known, address == 1);

    window.CommThread().OnReply(nullptr, FirmwareReply(std::uint8_t(address)));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter);
    QCOMPARE(firmware->text(), known);
}

void TestMainWindowDesktop::tabFollowsTheWindowAndLabelsLeadToTheirEdits()
{
    TProgramFolder folder(MasterOn);
    QFile language(folder.Path() + "en.lng");
    QVERIFY(language.open(QIODevice::WriteOnly));
    language.write("[MainWindow]\nGeneralProperties-DoorAjarDelay=Door &ajar delay:\n"
                   "MasterReader-AppID=Serial &no.:\n");
    language.close();
    TMainWindow window(folder.Path());
    Control<QCheckBox>(window, "MasterReaderCB")->setChecked(true);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // the buttons of the address row and the lightning wait for the link,
    // the certificate for a serial number read from the module
    const QStringList expected{"SetAddressSE", "StrikeTimeSE", "BeepCB", "DoorAjarSE", "TamperSignalSE",
                               "ForcedDoorSignalSE", "DoorAjarSignalSE", "InputFunctionCB", "MasterReaderCB",
                               "AddCardED", "SetAddCardBtn", "DelCardED", "SetDelCardBtn", "AppIDED",
                               "SetAddressSE"};
    Control<QSpinBox>(window, "SetAddressSE")->setFocus();
    QStringList visited{OwnerName(QApplication::focusWidget())};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << OwnerName(QApplication::focusWidget());
    }
    QCOMPARE(visited, expected);

    QCOMPARE(Control<QLabel>(window, "ForcedDoorDelayLB")->text(), QStringLiteral("Door &ajar delay:"));
    QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
    QCOMPARE(OwnerName(QApplication::focusWidget()), QStringLiteral("DoorAjarSE"));
    QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
    QCOMPARE(OwnerName(QApplication::focusWidget()), QStringLiteral("AppIDED"));
}

void TestMainWindowDesktop::wheelChangesOnlyTheFocusedField()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* address = Control<QSpinBox>(window, "SetAddressSE");
    auto* functions = Control<QComboBox>(window, "InputFunctionCB");
    Control<QSpinBox>(window, "StrikeTimeSE")->setFocus();

    window.CommThread().OnReply(nullptr, FirmwareReply());
    Wheel(address, 1);
    Wheel(address->findChild<QLineEdit*>(), 1);
    Wheel(functions, -1);
    QCOMPARE(address->value(), 1);
    QCOMPARE(functions->currentIndex(), 0);
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: 2.5"));

    address->setFocus();
    Wheel(address, 1);
    QCOMPARE(address->value(), 2);
    // applied once the wheel rests
    QTRY_COMPARE(int(window.CommThread().HWAddress), 2);
}

void TestMainWindowDesktop::renderings()
{
    {
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 11));
        TProgramFolder folder(MasterOn);
        QVERIFY(QFile::copy(QStringLiteral(VYX_LANGUAGE_DIR "/cs.lng"), folder.Path() + "cs.lng"));
        TMainWindow window(folder.Path());
        Control<QCheckBox>(window, "MasterReaderCB")->setChecked(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        SaveRendering(window, "mainwindow-czech-11pt");
    }
    QApplication::setFont(QFont());
    QApplication::setPalette(DarkPalette());
    TProgramFolder folder(MasterOn);
    TMainWindow window(folder.Path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SaveRendering(window, "mainwindow-dark-greyed");
    window.CommThread().OnReply(nullptr, StatusReply());
    SaveRendering(window, "mainwindow-dark-live");
}

QTEST_MAIN(TestMainWindowDesktop)
#include "test_mainwindow_desktop.moc"
