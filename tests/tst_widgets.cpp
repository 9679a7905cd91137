#include "ui/widgets/artwork.h"
#include "ui/widgets/dragcorner.h"
#include "ui/widgets/keyedtoolbar.h"
#include "ui/widgets/logopanel.h"
#include "ui/widgets/panesplitter.h"
#include "ui/widgets/programstyle.h"
#include "ui/widgets/statuspanel.h"
#include "ui/widgets/wholeonscreen.h"

#include <QApplication>
#include <QBitmap>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QSplitterHandle>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <memory>

using namespace zelv;

namespace {

struct ToolbarEntry {
    KeyedToolbar::Style style;
    const char *key;
};

// The window's toolbar: four archive kinds, release notes, install and test, web, exit.
const ToolbarEntry kToolbar[] = {
    {KeyedToolbar::Group, "zip"},  {KeyedToolbar::Group, "rar"},   {KeyedToolbar::Group, "arj"},
    {KeyedToolbar::Group, "ace"},  {KeyedToolbar::Separator, ""},  {KeyedToolbar::Plain, "diz"},
    {KeyedToolbar::Plain, "nfo"},  {KeyedToolbar::Separator, ""},  {KeyedToolbar::Plain, "install"},
    {KeyedToolbar::Plain, "test"}, {KeyedToolbar::Separator, ""},  {KeyedToolbar::Plain, "help"},
    {KeyedToolbar::Plain, "web"},  {KeyedToolbar::Plain, "email"}, {KeyedToolbar::Separator, ""},
    {KeyedToolbar::Plain, "exit"},
};

// A shown window holding the toolbar, with room around it for the mouse to leave to.
struct ToolbarWindow {
    QWidget window;
    KeyedToolbar *toolbar = new KeyedToolbar(&window);

    ToolbarWindow()
    {
        for (const ToolbarEntry &e : kToolbar)
            toolbar->addEntry(e.style, QString::fromLatin1(e.key));
        window.resize(600, 120);
        toolbar->setGeometry(0, 0, 560, 30);
        window.show();
    }
};

bool isRed(QRgb pixel) { return qRed(pixel) > 150 && qGreen(pixel) < 100 && qBlue(pixel) < 100; }

} // namespace

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    // First, while nothing has read an image file yet.
    void toolbarOverflowReadsNoImageFile();

    void toolbarEntries();
    void toolbarIcons();
    void pictureShape_data();
    void pictureShape();
    void groupClick_data();
    void groupClick();
    void disabledButtonIsSilent();
    void setValueRaisesNoClick();
    void toolTipWaitsForTheDelay();
    void toolbarEnterAndLeave();

    void splitterClamp_data();
    void splitterClamp();
    void splitterKeepsProportionOnResize();
    void splitterTakesTwoPanes();
    void splitterDrag_data();
    void splitterDrag();

    void statusPercentClamped_data();
    void statusPercentClamped();
    void statusFlood_data();
    void statusFlood();
    void statusCaptionReadsOverAndBesideTheBar_data();
    void statusCaptionReadsOverAndBesideTheBar();
    void statusCountNeverCut_data();
    void statusCountNeverCut();
    void statusAlignment_data();
    void statusAlignment();
    void statusMousePress();

    void logoFamilyInstalled();
    void logoClick_data();
    void logoClick();

    void dragCorner();

    void fitInside_data();
    void fitInside();
};

void TestWidgets::cleanup() { QToolTip::hideText(); }

void TestWidgets::initTestCase() { QApplication::setStyle(new ProgramStyle); }

void TestWidgets::toolbarOverflowReadsNoImageFile()
{
    const auto pluginsLoaded = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
    };
    if (pluginsLoaded())
        QSKIP("an image format plugin was loaded before this test");
    KeyedToolbar bar;
    auto *overflow = bar.findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
    QVERIFY(overflow);
    // Its arrows are drawn, and something is drawn.
    QImage image = overflow->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!image.isNull());
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    QVERIFY2(drawn > 8, qPrintable(QString::number(drawn)));
    QVERIFY(!pluginsLoaded());
}

void TestWidgets::toolbarEntries()
{
    KeyedToolbar toolbar;
    for (int i = 0; i < int(std::size(kToolbar)); ++i)
        QCOMPARE(toolbar.addEntry(kToolbar[i].style, QString::fromLatin1(kToolbar[i].key)), i + 1);
    QCOMPARE(toolbar.count(), 16);
    QCOMPARE(toolbar.actions().size(), 16);

    for (int p = 1; p <= 16; ++p) {
        const ToolbarEntry &e = kToolbar[p - 1];
        const bool separator = e.style == KeyedToolbar::Separator;
        QCOMPARE(toolbar.isSeparator(p), separator);
        QCOMPARE(toolbar.actions().at(p - 1)->isSeparator(), separator);
        QCOMPARE(toolbar.buttonAt(p) == nullptr, separator);
        if (!separator) {
            QCOMPARE(toolbar.key(p), QString::fromLatin1(e.key));
            QCOMPARE(toolbar.positionOf(QString::fromLatin1(e.key)), p);
            QCOMPARE(toolbar.buttonAt(p)->isCheckable(), e.style == KeyedToolbar::Group);
        }
    }
    QCOMPARE(toolbar.positionOf(QStringLiteral("missing")), 0);
    QCOMPARE(toolbar.positionOf(QString()), 0); // separators have no key to be found by
    QVERIFY(toolbar.key(0).isNull());
    QVERIFY(toolbar.key(17).isNull());
    QVERIFY(!toolbar.isSeparator(17));
    QCOMPARE(toolbar.iconSize(), QSize(20, 20));
    QVERIFY(!toolbar.isMovable());
}

void TestWidgets::pictureShape_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::newRow("the About picture") << artworkIcon(QStringLiteral("about")).pixmap(360, 360).toImage();
    QImage ring(40, 30, QImage::Format_ARGB32_Premultiplied);
    ring.fill(Qt::transparent);
    {
        QPainter p(&ring);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, 6));
        p.drawEllipse(QRectF(4, 4, 30, 20));
    }
    QTest::newRow("a ring, soft at its edges") << ring;
    QImage halfway(4, 2, QImage::Format_ARGB32);
    const QRgb alphas[] = {qRgba(0, 0, 0, 1), qRgba(9, 9, 9, 128), qRgba(0, 0, 0, 0), qRgba(5, 5, 5, 255)};
    for (int x = 0; x < 4; ++x) {
        halfway.setPixel(x, 0, alphas[x]);
        halfway.setPixel(x, 1, alphas[3 - x]);
    }
    QTest::newRow("alpha at either end and between") << halfway;
    // Rows alike, a gap, the same rows again, then others: bands that may and may not be joined.
    QImage bands(9, 8, QImage::Format_ARGB32_Premultiplied);
    bands.fill(Qt::transparent);
    for (int y : {0, 1, 3, 4, 6})
        for (int x : {1, 2, 5})
            bands.setPixel(x, y, qRgba(0, 0, 0, 255));
    bands.setPixel(8, 7, qRgba(0, 0, 0, 255));
    QTest::newRow("bands with gaps") << bands;
    QImage clear(8, 8, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    QTest::newRow("nothing opaque") << clear;
    QImage solid(5, 4, QImage::Format_ARGB32_Premultiplied);
    solid.fill(qRgba(0, 0, 0, 255));
    QTest::newRow("all opaque") << solid;
}

// A window shaped like a picture keeps what Qt's own mask of that picture keeps.
void TestWidgets::pictureShape()
{
    QFETCH(QImage, picture);
    const QRegion shape = opaqueRegion(picture);
    const QRegion mask(QPixmap::fromImage(picture).mask());
    QCOMPARE(shape.isEmpty(), mask.isEmpty());
    QVERIFY((shape ^ mask).isEmpty());
}

void TestWidgets::toolbarIcons()
{
    KeyedToolbar toolbar;
    for (const ToolbarEntry &e : kToolbar)
        toolbar.addEntry(e.style, QString::fromLatin1(e.key));
    const QStringList others = {"logo", "dragcorner", "app", "drive", "folder"};
    for (const QString &name : others)
        QVERIFY2(!artworkIcon(name).pixmap(20, 20).isNull(), qPrintable(name));
    for (int p = 1; p <= toolbar.count(); ++p) {
        if (toolbar.isSeparator(p))
            continue;
        const QString path = ":/icons/" + toolbar.key(p) + "-16.argb";
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY2(!toolbar.buttonAt(p)->icon().pixmap(20, 20).isNull(), qPrintable(path));
    }
}

void TestWidgets::groupClick_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<int>("pressedAfter");
    QTest::newRow("zip to rar") << 1 << 2 << 2;
    QTest::newRow("none to ace") << 0 << 4 << 4;
    QTest::newRow("ace to zip") << 4 << 1 << 1;
    QTest::newRow("pressed one stays pressed") << 3 << 3 << 3;
    QTest::newRow("plain button leaves the group") << 2 << 9 << 2;
    // clang-format on
}

void TestWidgets::groupClick()
{
    QFETCH(int, before);
    QFETCH(int, clicked);
    QFETCH(int, pressedAfter);
    ToolbarWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    if (before)
        w.toolbar->setValue(before, 1);
    QSignalSpy spy(w.toolbar, &KeyedToolbar::buttonClicked);
    QTest::mouseClick(w.toolbar->buttonAt(clicked), Qt::LeftButton);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), clicked);
    QCOMPARE(w.toolbar->pressedGroupButton(), pressedAfter);
    for (int p = 1; p <= 4; ++p)
        QCOMPARE(w.toolbar->value(p), p == pressedAfter ? 1 : 0);
}

void TestWidgets::disabledButtonIsSilent()
{
    ToolbarWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.toolbar->setValue(1, 1);
    w.toolbar->setButtonEnabled(2, false);
    w.toolbar->setButtonEnabled(6, false);
    QVERIFY(!w.toolbar->buttonEnabled(2));
    QVERIFY(w.toolbar->buttonEnabled(3));
    QSignalSpy spy(w.toolbar, &KeyedToolbar::buttonClicked);
    QTest::mouseClick(w.toolbar->buttonAt(2), Qt::LeftButton);
    QTest::mouseClick(w.toolbar->buttonAt(6), Qt::LeftButton);
    QCOMPARE(spy.size(), 0);
    QCOMPARE(w.toolbar->pressedGroupButton(), 1);

    w.toolbar->setButtonEnabled(2, true);
    QTest::mouseClick(w.toolbar->buttonAt(2), Qt::LeftButton);
    QCOMPARE(spy.size(), 1);
}

void TestWidgets::setValueRaisesNoClick()
{
    KeyedToolbar toolbar;
    for (const ToolbarEntry &e : kToolbar)
        toolbar.addEntry(e.style, QString::fromLatin1(e.key));
    QSignalSpy spy(&toolbar, &KeyedToolbar::buttonClicked);
    QCOMPARE(toolbar.pressedGroupButton(), 0);
    toolbar.setValue(1, 1);
    toolbar.setValue(3, 1);
    QCOMPARE(toolbar.value(1), 0);
    QCOMPARE(toolbar.value(3), 1);
    QCOMPARE(toolbar.pressedGroupButton(), 3);
    toolbar.setValue(3, 0);
    QCOMPARE(toolbar.pressedGroupButton(), 0);
    toolbar.setValue(6, 1); // a plain button has no value
    QCOMPARE(toolbar.value(6), 0);
    QCOMPARE(spy.size(), 0);
}

void TestWidgets::toolTipWaitsForTheDelay()
{
    ToolbarWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    const QString tip = QStringLiteral("Zip's");
    w.toolbar->setToolTipText(1, tip);
    QCOMPARE(w.toolbar->toolTipText(1), tip);
    auto *timer = w.toolbar->findChild<QTimer *>(QStringLiteral("toolTipTimer"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), KeyedToolbar::kToolTipDelayMs);
    QCOMPARE(KeyedToolbar::kToolTipDelayMs, 1000);
    QVERIFY(timer->isSingleShot());

    // Qt's own request for a tooltip is not answered.
    QToolButton *button = w.toolbar->buttonAt(1);
    QHelpEvent request(QEvent::ToolTip, button->rect().center(), button->mapToGlobal(button->rect().center()));
    QApplication::sendEvent(button, &request);
    QVERIFY(!QToolTip::isVisible());

    // Hovering starts the wait; when it ends the tip shows, and leaving takes it away.
    QTest::mouseMove(button);
    QVERIFY(timer->isActive());
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), tip);
    QTest::mouseMove(&w.window, QPoint(300, 100));
    QVERIFY(!timer->isActive());
    QTRY_VERIFY(!QToolTip::isVisible());

    // A press cancels a pending tip.
    QTest::mouseMove(button);
    QVERIFY(timer->isActive());
    QTest::mousePress(button, Qt::LeftButton);
    QVERIFY(!timer->isActive());
    QTest::mouseRelease(button, Qt::LeftButton);
}

void TestWidgets::toolbarEnterAndLeave()
{
    ToolbarWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QSignalSpy entered(w.toolbar, &KeyedToolbar::mouseEntered);
    QSignalSpy left(w.toolbar, &KeyedToolbar::mouseLeft);
    QTest::mouseMove(&w.window, QPoint(300, 100));
    QTest::mouseMove(w.toolbar->buttonAt(1));
    QTest::mouseMove(w.toolbar->buttonAt(2)); // moving between buttons stays inside
    QCOMPARE(entered.size(), 1);
    QCOMPARE(left.size(), 0);
    QTest::mouseMove(&w.window, QPoint(300, 100));
    QCOMPARE(left.size(), 1);
}

void TestWidgets::splitterClamp_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("held");
    QTest::newRow("below minimum") << 100 << 150;
    QTest::newRow("negative") << -5 << 150;
    QTest::newRow("minimum") << 150 << 150;
    QTest::newRow("inside") << 500 << 500;
    QTest::newRow("maximum") << 850 << 850;
    QTest::newRow("above maximum") << 900 << 850;
    QTest::newRow("whole width") << 1000 << 850;
    // clang-format on
}

void TestWidgets::splitterClamp()
{
    QFETCH(int, requested);
    QFETCH(int, held);
    PaneSplitter splitter;
    QCOMPARE(splitter.firstPaneWidth(), 375);
    splitter.addPane(new QWidget);
    splitter.addPane(new QWidget);
    splitter.resize(1000, 100);
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));
    splitter.setFirstPaneWidth(requested);
    QCOMPARE(splitter.firstPaneWidth(), held);
    QVERIFY(qAbs(splitter.sizes().at(0) - held) <= 1);
}

void TestWidgets::splitterKeepsProportionOnResize()
{
    PaneSplitter splitter;
    QCOMPARE(splitter.handleWidth(), PaneSplitter::kBarWidth);
    QVERIFY(!splitter.childrenCollapsible());
    // Set before the panes are in: it is applied once the splitter has both and a width.
    splitter.setFirstPaneWidth(375);
    splitter.addPane(new QWidget);
    splitter.addPane(new QWidget);
    splitter.resize(400, 100);
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));
    QVERIFY(qAbs(splitter.sizes().at(0) - 150) <= 1);

    for (int width : {800, 333, 1280}) {
        splitter.resize(width, 100);
        QTRY_COMPARE(splitter.width(), width);
        const QList<int> sizes = splitter.sizes();
        QVERIFY2(qAbs(sizes.at(0) * 1000 / width - 375) <= 2, qPrintable(QString::number(sizes.at(0))));
        QVERIFY(qAbs(sizes.at(0) + sizes.at(1) + PaneSplitter::kBarWidth - width) <= 1);
        QCOMPARE(splitter.firstPaneWidth(), 375);
    }
}

void TestWidgets::splitterTakesTwoPanes()
{
    PaneSplitter splitter;
    QVERIFY(splitter.addPane(new QWidget));
    QVERIFY(splitter.addPane(new QWidget));
    auto third = std::make_unique<QWidget>();
    QVERIFY(!splitter.addPane(third.get()));
    QCOMPARE(splitter.count(), 2);
    QVERIFY(!third->parent());
}

void TestWidgets::splitterDrag_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("barX");
    QTest::addColumn<int>("held");
    QTest::newRow("middle") << 400 << 500;
    QTest::newRow("left") << 200 << 250;
    QTest::newRow("past the minimum") << 40 << 150;
    QTest::newRow("past the maximum") << 780 << 850;
    // clang-format on
}

void TestWidgets::splitterDrag()
{
    QFETCH(int, barX);
    QFETCH(int, held);
    PaneSplitter splitter;
    splitter.addPane(new QWidget);
    splitter.addPane(new QWidget);
    splitter.resize(800, 100);
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));
    QSignalSpy spy(&splitter, &PaneSplitter::panesResized);

    // Grab the bar at its left edge and let go with it at barX.
    QSplitterHandle *bar = splitter.handle(1);
    const QPoint grip(0, bar->height() / 2);
    const QPoint target(barX, grip.y());
    QMouseEvent press(QEvent::MouseButtonPress, grip, bar->mapToGlobal(grip), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    const QPoint local = bar->mapFromParent(target);
    QMouseEvent move(QEvent::MouseMove, local, splitter.mapToGlobal(target), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local, splitter.mapToGlobal(target), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(bar, &release);

    QVERIFY(qAbs(splitter.firstPaneWidth() - held) <= 1);
    const int first = splitter.sizes().at(0);
    QVERIFY2(qAbs(first - held * 800 / 1000) <= 1, qPrintable(QString::number(first)));
    QVERIFY(!spy.isEmpty());
    const QRect pane1 = spy.last().at(0).toRect();
    const QRect pane2 = spy.last().at(1).toRect();
    QCOMPARE(pane1.width(), first);
    QCOMPARE(pane2.left(), first + PaneSplitter::kBarWidth);
    QCOMPARE(pane2.right(), 799);
}

void TestWidgets::statusPercentClamped_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("held");
    QTest::newRow("inside") << 42 << 42;
    QTest::newRow("below") << -5 << 0;
    QTest::newRow("above") << 150 << 100;
    QTest::newRow("full") << 100 << 100;
    // clang-format on
}

void TestWidgets::statusPercentClamped()
{
    QFETCH(int, set);
    QFETCH(int, held);
    StatusPanel panel;
    panel.setFloodPercent(set);
    QCOMPARE(panel.floodPercent(), held);
}

void TestWidgets::statusFlood_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("leftFilled");
    QTest::addColumn<bool>("rightFilled");
    QTest::newRow("half") << 1 << 50 << true << false;
    QTest::newRow("full") << 1 << 100 << true << true;
    QTest::newRow("empty") << 1 << 0 << false << false;
    QTest::newRow("no bar") << 0 << 100 << false << false;
    // clang-format on
}

void TestWidgets::statusFlood()
{
    QFETCH(int, type);
    QFETCH(int, percent);
    QFETCH(bool, leftFilled);
    QFETCH(bool, rightFilled);
    StatusPanel panel;
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Highlight, QColor(10, 200, 30));
    panel.setPalette(palette);
    panel.resize(200, 16);
    panel.setFloodType(type);
    panel.setFloodPercent(percent);
    const QImage image = panel.grab().toImage();
    const QColor highlight = panel.palette().color(QPalette::Highlight);
    const int y = image.height() / 2;
    QCOMPARE(image.pixelColor(image.width() / 4, y) == highlight, leftFilled);
    QCOMPARE(image.pixelColor(image.width() * 3 / 4, y) == highlight, rightFilled);
}

void TestWidgets::statusCaptionReadsOverAndBesideTheBar_data()
{
    QTest::addColumn<int>("percent");
    QTest::newRow("no bar yet") << 0;
    QTest::newRow("half") << 50;
    QTest::newRow("full") << 100;
}

// A caption in the bar's text colour (white) is drawn so only over the bar; beside it, in the
// panel's own text colour: never white on light grey.
void TestWidgets::statusCaptionReadsOverAndBesideTheBar()
{
    QFETCH(int, percent);
    StatusPanel panel;
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    panel.setPalette(palette);
    panel.resize(300, 20);
    panel.setFloodType(1);
    panel.setFloodPercent(percent);
    panel.setForeColor(Qt::white);
    panel.setFont3D(0); // no engraved light copy, which is meant to be light
    panel.setCaption(QString(40, u'W'));
    const QImage image = panel.grab().toImage();
    const QRect inner = panel.contentsRect();
    const int barEnd = inner.left() + inner.width() * percent / 100;
    int whiteBeside = 0, darkBeside = 0;
    for (int y = inner.top() + 1; y < inner.bottom(); ++y)
        for (int x = barEnd + 2; x < panel.contentsRect().right() - 1; ++x) {
            const QColor c = image.pixelColor(x, y);
            whiteBeside += c.lightness() > 240;
            darkBeside += c.lightness() < 60;
        }
    QCOMPARE(whiteBeside, 0);
    QCOMPARE(darkBeside > 0, percent < 100);
}

void TestWidgets::statusCountNeverCut_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("count"); // what is never cut; empty when the caption has none
    QTest::newRow("count")               << " file0225.zip    226 of 5000"          << "    226 of 5000";
    QTest::newRow("one space")           << "a long archive name.zip 1 of 2"        << " 1 of 2";
    QTest::newRow("other digits")        << QStringLiteral("a long archive name.zip \u0661\u0662 of \u0663") << "";
    QTest::newRow("no space before")     << "a long archive name.zip12 of 5000"     << "";
    QTest::newRow("two spaces after of") << "a long archive name.zip 12 of  5000"   << "";
    QTest::newRow("nothing after of")    << "a long archive name.zip 12 of "        << "";
    QTest::newRow("a space at the end")  << "a long archive name.zip 12 of 5000 "   << "";
    QTest::newRow("only a count")        << "12 of 5000"                            << "";
    QTest::newRow("a path")              << "c:\\games\\a long folder name\\deeper still" << "";
    // clang-format on
}

void TestWidgets::statusCountNeverCut()
{
    QFETCH(QString, caption);
    QFETCH(QString, count);
    const QFontMetrics metrics(QApplication::font());
    const int width = metrics.horizontalAdvance(caption) * 2 / 3;
    const QString shown = elidedCaption(metrics, caption, width);
    QVERIFY(metrics.horizontalAdvance(shown) <= width);
    if (count.isEmpty()) {
        // Without a count, cut in the middle as any caption.
        QCOMPARE(shown, metrics.elidedText(caption, Qt::ElideMiddle, width));
    } else {
        QVERIFY2(shown.endsWith(count) && shown.contains(QChar(0x2026)), qPrintable(shown));
    }
    // One that fits is left whole.
    QCOMPARE(elidedCaption(metrics, caption, 10000), caption);
}

void TestWidgets::statusAlignment_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("column"); // 0 left, 1 centre, 2 right third
    QTest::addColumn<int>("row"); // 0 top, 1 middle, 2 bottom third
    QTest::newRow("0 left top") << 0 << 0 << 0;
    QTest::newRow("1 left middle") << 1 << 0 << 1;
    QTest::newRow("2 left bottom") << 2 << 0 << 2;
    QTest::newRow("3 right top") << 3 << 2 << 0;
    QTest::newRow("4 right middle") << 4 << 2 << 1;
    QTest::newRow("5 right bottom") << 5 << 2 << 2;
    QTest::newRow("6 centre top") << 6 << 1 << 0;
    QTest::newRow("7 centre middle") << 7 << 1 << 1;
    QTest::newRow("8 centre bottom") << 8 << 1 << 2;
    // clang-format on
}

void TestWidgets::statusAlignment()
{
    QFETCH(int, code);
    QFETCH(int, column);
    QFETCH(int, row);
    StatusPanel panel;
    panel.setMinimumHeight(0);
    panel.setMaximumHeight(QWIDGETSIZE_MAX);
    panel.resize(300, 90);
    panel.setForeColor(Qt::red);
    panel.setCaption(QStringLiteral("MM"));
    panel.setAlignmentCode(code);
    QCOMPARE(panel.alignmentCode(), code);
    const QImage image = panel.grab().toImage();

    // Where the caption's pixels lie, by their centre.
    qint64 sumX = 0, sumY = 0, n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isRed(image.pixel(x, y))) {
                sumX += x;
                sumY += y;
                ++n;
            }
        }
    }
    QVERIFY(n > 0);
    QCOMPARE(int(sumX / n) * 3 / image.width(), column);
    QCOMPARE(int(sumY / n) * 3 / image.height(), row);
}

void TestWidgets::statusMousePress()
{
    StatusPanel panel;
    panel.resize(100, 16);
    QSignalSpy spy(&panel, &StatusPanel::mousePressed);
    QTest::mousePress(&panel, Qt::RightButton, {}, QPoint(10, 8));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    QCOMPARE(spy.at(0).at(1).toPoint(), panel.mapToGlobal(QPoint(10, 8)));
}

void TestWidgets::logoFamilyInstalled()
{
    LogoPanel panel(QStringLiteral("Vosk"));
    QCOMPARE(panel.caption(), QStringLiteral("Vosk"));
    QVERIFY2(QFontDatabase::families().contains(panel.fontFamily()), qPrintable(panel.fontFamily()));
    QCOMPARE(panel.fontFamily(), LogoPanel::chooseDecorativeFamily());

    // The caption fits its room at the size chosen.
    const auto labels = panel.findChildren<QLabel *>();
    const auto caption =
        std::find_if(labels.begin(), labels.end(), [](QLabel *l) { return l->text() == QLatin1String("Vosk"); });
    QVERIFY(caption != labels.end());
    const QFontMetrics metrics((*caption)->font());
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("Vosk")) <= 37);
    QVERIFY(metrics.height() <= 21);
}

void TestWidgets::logoClick_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("clicked");
    QTest::newRow("left inside") << Qt::LeftButton << true << true;
    QTest::newRow("right inside") << Qt::RightButton << true << false;
    QTest::newRow("left let go outside") << Qt::LeftButton << false << false;
    // clang-format on
}

void TestWidgets::logoClick()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, inside);
    QFETCH(bool, clicked);
    LogoPanel panel(QStringLiteral("Vosk"));
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QSignalSpy spy(&panel, &LogoPanel::clicked);
    const QPoint at = inside ? panel.rect().center() : QPoint(-10, -10);
    QMouseEvent release(QEvent::MouseButtonRelease, at, panel.mapToGlobal(at), button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &release);
    QCOMPARE(spy.size(), clicked ? 1 : 0);
}

void TestWidgets::dragCorner()
{
    QWidget window;
    auto *corner = new DragCorner(&window);
    QCOMPARE(corner->toolTip(), QStringLiteral(" Drag corner "));
    QCOMPARE(corner->size(), QSize(30, 23));
    QVERIFY(qobject_cast<QSizeGrip *>(corner));

    // It shows the picture, not the style's grip.
    QImage expected(corner->size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(corner->palette().color(QPalette::Window));
    QPainter painter(&expected);
    painter.drawPixmap(corner->rect(), artworkIcon(QStringLiteral("dragcorner")).pixmap(corner->size()));
    painter.end();
    QCOMPARE(corner->grab().toImage().convertToFormat(expected.format()), expected);
}

void TestWidgets::fitInside_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QRect>("room");
    QTest::addColumn<QRect>("fitted");
    const QRect screen(0, 0, 1280, 1000);
    QTest::newRow("inside stays") << QRect(100, 100, 300, 200) << screen << QRect(100, 100, 300, 200);
    QTest::newRow("past the bottom") << QRect(170, 375, 950, 675) << screen << QRect(170, 325, 950, 675);
    QTest::newRow("past the top left") << QRect(-20, -10, 300, 200) << screen << QRect(0, 0, 300, 200);
    QTest::newRow("past the right of a room beside a panel")
        << QRect(1100, 100, 300, 200) << QRect(64, 0, 1216, 1000) << QRect(980, 100, 300, 200);
    QTest::newRow("larger than the room") << QRect(10, 10, 1400, 1100) << screen << screen;
}

// A window is moved only as far as the screen needs, and made smaller only where it is larger.
void TestWidgets::fitInside()
{
    QFETCH(QRect, frame);
    QFETCH(QRect, room);
    QFETCH(QRect, fitted);
    QCOMPARE(zelv::fitInside(frame, room), fitted);
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
