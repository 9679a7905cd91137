// Code page 437 as release notes are drawn in it: the glyph of every byte, the line-end rules,
// and a view in which boxes, lines and blocks join without a gap.
#include "platform/cp437.h"
#include "support/testworld.h"
#include "ui/widgets/cp437view.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>

using namespace zelv;

class TestCp437 : public QObject {
    Q_OBJECT
private slots:
    void glyphs_data();
    void glyphs();
    void everyGlyphGoesBack();
    void lineEnds_data();
    void lineEnds();
    void viewKeepsTheText();
    void find();
    void dragSelects();
    void zoom();
    void linesAndBlocksJoin_data();
    void linesAndBlocksJoin();
    void noteViewer_data();
    void noteViewer();
};

void TestCp437::glyphs_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<QString>("glyphs"); // of first, first + 1, ...

    // Together the rows name all 256 bytes.
    // clang-format off
    QTest::newRow("0x00 blank") << 0x00 << QStringLiteral(" ");
    QTest::newRow("controls 0x01-0x1f") << 0x01 << QStringLiteral("☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼");
    QTest::newRow("ASCII 0x20-0x7e")
        << 0x20 << QStringLiteral(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~");
    QTest::newRow("house 0x7f") << 0x7f << QStringLiteral("⌂");
    QTest::newRow("letters 0x80-0x9f") << 0x80 << QStringLiteral("ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒ");
    QTest::newRow("letters, shades, lines 0xa0-0xbf") << 0xa0 << QStringLiteral("áíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐");
    QTest::newRow("lines and blocks 0xc0-0xdf") << 0xc0 << QStringLiteral("└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀");
    QTest::newRow("Greek and mathematics 0xe0-0xff") << 0xe0 << QStringLiteral("αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0");
    // clang-format on
}

void TestCp437::glyphs()
{
    QFETCH(int, first);
    QFETCH(QString, glyphs);
    QByteArray bytes;
    for (int i = 0; i < glyphs.size(); ++i) {
        bytes += char(first + i);
        QCOMPARE(QChar(cp437::glyph(uchar(first + i))), glyphs[i]);
    }
    QCOMPARE(cp437::decode(bytes), glyphs);
}

void TestCp437::everyGlyphGoesBack()
{
    QSet<char16_t> seen;
    for (int b = 1; b < 256; ++b) {
        const char16_t g = cp437::glyph(uchar(b));
        QVERIFY2(!seen.contains(g), qPrintable(QString::number(b, 16)));
        seen.insert(g);
        QCOMPARE(cp437::encode(g), std::optional<unsigned char>(uchar(b)));
    }
    QCOMPARE(cp437::encode(u'€'), std::nullopt);
}

void TestCp437::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("bare line feeds") << QByteArray("a\nb\n") << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("CRLF pairs") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("a lone carriage return is dropped") << QByteArray("a\rb") << QStringLiteral("ab");
    QTest::newRow("art across lines") << QByteArray("\xc9\xbb\n\xc8\xbc") << QStringLiteral("╔╗\r\n╚╝");
    // clang-format on
}

void TestCp437::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(cp437::decodeNotes(bytes), text);
}

void TestCp437::viewKeepsTheText()
{
    Cp437View view;
    const QString text = QStringLiteral("╔═╗\r\n║☺║\n╚═╝\r\n");
    view.setPlainText(text);
    QCOMPARE(view.toPlainText(), text);
    QCOMPARE(view.selectedText(), QString());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("╔═╗\r\n║☺║\r\n╚═╝\r\n"));
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), view.selectedText());
}

void TestCp437::find()
{
    Cp437View view;
    view.setPlainText(QStringLiteral("Greetings to\r\nthe GROUP\r\nand the group again"));
    QVERIFY(view.find(QStringLiteral("group")));
    QCOMPARE(view.selectedText(), QStringLiteral("GROUP"));
    QVERIFY(view.find(QStringLiteral("group")));
    QCOMPARE(view.selectedText(), QStringLiteral("group"));
    QVERIFY(view.find(QStringLiteral("group"))); // round to the first again
    QCOMPARE(view.selectedText(), QStringLiteral("GROUP"));
    QVERIFY(view.find(QStringLiteral("group"), true)); // backwards, round to the last
    QCOMPARE(view.selectedText(), QStringLiteral("group"));
    QVERIFY(view.find(QStringLiteral("the"), true));
    QCOMPARE(view.selectedText(), QStringLiteral("the"));
    QVERIFY(view.find(QStringLiteral("THE"), true));
    QCOMPARE(view.selectedText(), QStringLiteral("the"));
    QVERIFY(!view.find(QStringLiteral("missing")));
    QVERIFY(!view.find(QString()));
}

void TestCp437::dragSelects()
{
    Cp437View view;
    view.setPlainText(QStringLiteral("abcd\r\nefgh\r\nijkl"));
    view.resize(view.sizeForCells(10, 5));
    const QSize cell = view.cellSize();
    QWidget *area = view.viewport();
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(cell.width() + 1, cell.height() / 2));
    QTest::mouseMove(area, QPoint(3 * cell.width() + 1, cell.height() + cell.height() / 2));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(3 * cell.width() + 1, cell.height() + cell.height() / 2));
    QCOMPARE(view.selectedText(), QStringLiteral("bcd\r\nefg"));
}

void TestCp437::zoom()
{
    Cp437View view;
    view.setPlainText(QStringLiteral("abc"));
    const QSize normal = view.cellSize();
    view.setZoom(3);
    QVERIFY(view.cellSize().height() > normal.height());
    QVERIFY(view.cellSize().width() > normal.width());
    view.setZoom(100);
    QCOMPARE(view.zoom(), 10);
    view.setZoom(-100);
    QCOMPARE(view.zoom(), -5);
    QVERIFY(view.cellSize().height() < normal.height());
    view.setZoom(0);
    QCOMPARE(view.cellSize(), normal);
}

void TestCp437::linesAndBlocksJoin_data()
{
    QTest::addColumn<int>("zoom");
    QTest::newRow("smallest") << -5;
    QTest::newRow("normal") << 0;
    QTest::newRow("larger") << 3;
    QTest::newRow("largest") << 10;
}

void TestCp437::linesAndBlocksJoin()
{
    QFETCH(int, zoom);

    // Light, double and heavy boxes, a block column, a single line through a double one and a
    // double line through a single one.
    Cp437View view;
    view.setZoom(zoom);
    view.setPlainText(QStringLiteral("┌─┐╔═╗┏━┓█ │\r\n"
                                     "│ │║ ║┃ ┃█ ╪ ─╫─\r\n"
                                     "└─┘╚═╝┗━┛█ │"));
    const int w = view.cellSize().width(), h = view.cellSize().height();
    view.resize(view.sizeForCells(18, 4));
    const QImage image = view.viewport()->grab().toImage();
    QVERIFY(image.width() >= 17 * w && image.height() >= 3 * h);
    const QColor ink = view.palette().color(QPalette::Text);
    const auto inked = [&](int x, int y) { return image.pixelColor(x, y) == ink; };
    const auto centreX = [&](int column) { return column * w + w / 2; };
    const auto centreY = [&](int line) { return line * h + h / 2; };
    // The first pixel of a run that is not drawn, or -1 when the run is whole.
    const auto downGap = [&](int x, int fromY, int toY) {
        for (int y = fromY; y <= toY; ++y)
            if (!inked(x, y))
                return y;
        return -1;
    };
    const auto acrossGap = [&](int y, int fromX, int toX) {
        for (int x = fromX; x <= toX; ++x)
            if (!inked(x, y))
                return x;
        return -1;
    };

    // Each side of the light and the heavy box, from one corner's centre to the other's.
    for (int left : {0, 6}) {
        const int right = left + 2;
        QCOMPARE(downGap(centreX(left), centreY(0), centreY(2)), -1);
        QCOMPARE(downGap(centreX(right), centreY(0), centreY(2)), -1);
        QCOMPARE(acrossGap(centreY(0), centreX(left), centreX(right)), -1);
        QCOMPARE(acrossGap(centreY(2), centreX(left), centreX(right)), -1);
    }

    // The double box: both rails of each side, found across the middle of "║" and "═", run on
    // without a gap at least from one inner corner to the other.
    QList<int> columns, rows;
    for (int x = 3 * w; x < 4 * w; ++x)
        if (inked(x, centreY(1)) && !inked(x - 1, centreY(1)))
            columns << x;
    for (int y = 1; y < h; ++y)
        if (inked(centreX(4), y) && !inked(centreX(4), y - 1))
            rows << y;
    QCOMPARE(columns.size(), 2);
    QCOMPARE(rows.size(), 2);
    for (int x : columns) {
        QCOMPARE(downGap(x, rows[1], rows[0] + 2 * h), -1);
        QCOMPARE(downGap(x + 2 * w, rows[1], rows[0] + 2 * h), -1);
    }
    for (int y : rows) {
        QCOMPARE(acrossGap(y, columns[1], columns[0] + 2 * w), -1);
        QCOMPARE(acrossGap(y + 2 * h, columns[1], columns[0] + 2 * w), -1);
    }

    // The single line runs through "╪" and the double line's crossing "╫" leaves no gap.
    QCOMPARE(downGap(centreX(11), centreY(0), centreY(2)), -1);
    QCOMPARE(acrossGap(centreY(1), centreX(13), centreX(15)), -1);

    // The block column is solid, cell edges included.
    for (int x = 9 * w; x < 10 * w; ++x)
        QCOMPARE(downGap(x, 0, 3 * h - 1), -1);
}

void TestCp437::noteViewer_data()
{
    QTest::addColumn<QString>("file");     // on drive c:, or nothing for a missing one
    QTest::addColumn<QString>("argument"); // the program's argument; "%1" is the file's host path
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("exitCode");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("release note in code page 437")
        << "group.nfo" << "%1" << QByteArray("\x01\xdb\xc9\r\nx\ny\rz") << QStringLiteral("☺█╔\r\nx\r\nyz") << 0;
    QTest::newRow("by its DOS path") << "Notes/GROUP.NFO" << "C:\\notes\\group.nfo" << QByteArray("\xb0\n") << QStringLiteral("░\r\n") << 0;
    QTest::newRow("UTF-8 text") << "readme.txt" << "%1" << QByteArray("caf\xc3\xa9\r\n\xe2\x82\xac\n") << QStringLiteral("café\r\n€\r\n") << 0;
    QTest::newRow("not UTF-8: code page 437") << "readme.txt" << "%1" << QByteArray("\xb0\xb1\xb2") << QStringLiteral("░▒▓") << 0;
    QTest::newRow("a description is always code page 437")
        << "file_id.diz" << "%1" << QByteArray("\xc3\xa9") << QStringLiteral("├⌐") << 0;
    QTest::newRow("missing file") << "" << "%1" << QByteArray() << QString() << 1;
    QTest::newRow("missing drive") << "" << "q:\\missing.nfo" << QByteArray() << QString() << 1;
    // clang-format on
}

void TestCp437::noteViewer()
{
    QFETCH(QString, file);
    QFETCH(QString, argument);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(int, exitCode);

    test::TestWorld world;
    QVERIFY(world.isValid());
    const QString program = world.installHelper(QStringLiteral("notepad.exe"));
    QVERIFY(!program.isEmpty());
    const QString host = world.onDrive(u'c', file.isEmpty() ? QStringLiteral("missing.nfo") : file);
    if (!file.isEmpty())
        world.writeFile(host, bytes);
    const QString report = world.root() + QStringLiteral("/report.txt");

    QProcess viewer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ZELV_NOTEPAD_REPORT"), report);
    env.insert(QStringLiteral("ZELV_NOTEPAD_QUIT"), QStringLiteral("1"));
    viewer.setProcessEnvironment(env);
    viewer.start(program, {QString(argument).replace(QStringLiteral("%1"), host)});
    QVERIFY(viewer.waitForFinished(30000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), exitCode);
    QFile out(report);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(out.readAll());
    if (exitCode == 0) {
        QCOMPARE(text, QFileInfo(host).fileName() + u'\n' + shown);
    } else {
        QVERIFY2(text.startsWith(QStringLiteral("missing.nfo\nCannot read ")), qPrintable(text));
        QVERIFY2(text.count(u'\n') == 1, qPrintable(text)); // the title, then one line
    }
}

QTEST_MAIN(TestCp437)
#include "tst_cp437.moc"
