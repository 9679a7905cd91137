// Code page 437 as release notes are drawn in it: the glyph of every byte, the line-end rules,
// and a view in which boxes, lines and blocks join without a gap.
#include "platform/cp437.h"
#include "support/testworld.h"
#include "ui/widgets/cp437view.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
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
    void selectionAndZoom();
    void linesAndBlocksJoin_data();
    void linesAndBlocksJoin();
    void noteViewer_data();
    void noteViewer();
};

void TestCp437::glyphs_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("controls 0x00-0x0f") << QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 16)
                                        << QStringLiteral(" ☺☻♥♦♣♠•◘○◙♂♀♪♫☼");
    QTest::newRow("controls 0x10-0x1f") << QByteArray("\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f")
                                        << QStringLiteral("►◄↕‼¶§▬↨↑↓→←∟↔▲▼");
    QTest::newRow("ASCII and the house") << QByteArray(" 09AZaz~\x7f") << QStringLiteral(" 09AZaz~⌂");
    QTest::newRow("letters 0x80-0x9f") << QByteArray("\x80\x81\x8e\x94\x9a\x9b\x9e\x9f")
                                       << QStringLiteral("ÇüÄöÜ¢₧ƒ");
    QTest::newRow("0xa0-0xaf") << QByteArray("\xa0\xa4\xa8\xa9\xaa\xab\xae\xaf") << QStringLiteral("áñ¿⌐¬½«»");
    QTest::newRow("shades and single lines") << QByteArray("\xb0\xb1\xb2\xb3\xb4\xbf\xc0\xc1\xc2\xc3\xc4\xc5\xd9\xda")
                                             << QStringLiteral("░▒▓│┤┐└┴┬├─┼┘┌");
    QTest::newRow("double and mixed lines") << QByteArray("\xb5\xb6\xb7\xb8\xb9\xba\xbb\xbc\xbd\xbe\xc6\xc7\xc8\xc9\xca\xcb\xcc\xcd\xce")
                                            << QStringLiteral("╡╢╖╕╣║╗╝╜╛╞╟╚╔╩╦╠═╬");
    QTest::newRow("more mixed lines") << QByteArray("\xcf\xd0\xd1\xd2\xd3\xd4\xd5\xd6\xd7\xd8")
                                      << QStringLiteral("╧╨╤╥╙╘╒╓╫╪");
    QTest::newRow("blocks") << QByteArray("\xdb\xdc\xdd\xde\xdf\xfe") << QStringLiteral("█▄▌▐▀■");
    QTest::newRow("Greek and mathematics") << QByteArray("\xe0\xe1\xe3\xe6\xea\xec\xf0\xf1\xf8\xf9\xfa\xfb\xfc\xfd\xff")
                                           << QStringLiteral("αßπµΩ∞≡±°∙·√ⁿ²\u00a0");
    // clang-format on
}

void TestCp437::glyphs()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(cp437::decode(bytes), text);
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
    const QString text = QStringLiteral("╔═╗\r\n║☺║\n╚═╝");
    view.setPlainText(text);
    QCOMPARE(view.toPlainText(), text);
    view.selectAll();
    QCOMPARE(view.selectedText(), QStringLiteral("╔═╗\r\n║☺║\r\n╚═╝"));
    view.copy();
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
    QVERIFY(!view.find(QStringLiteral("missing")));
}

void TestCp437::selectionAndZoom()
{
    Cp437View view;
    view.setPlainText(QStringLiteral("abc"));
    QCOMPARE(view.selectedText(), QString());
    const QSize normal = view.cellSize();
    view.setZoom(3);
    QVERIFY(view.cellSize().height() > normal.height());
    view.setZoom(100);
    QCOMPARE(view.zoom(), 10);
    view.setZoom(-100);
    QCOMPARE(view.zoom(), -5);
}

void TestCp437::linesAndBlocksJoin_data()
{
    QTest::addColumn<int>("zoom");
    QTest::newRow("normal") << 0;
    QTest::newRow("smaller") << -3;
    QTest::newRow("larger") << 6;
}

void TestCp437::linesAndBlocksJoin()
{
    QFETCH(int, zoom);

    Cp437View view;
    view.setZoom(zoom);
    view.setPlainText(QStringLiteral("┌─┐╔═╗█\r\n│ │║ ║█\r\n│ │║ ║█\r\n└─┘╚═╝█"));
    const QSize cell = view.cellSize();
    view.resize(view.sizeForCells(10, 6));
    const QImage image = view.viewport()->grab().toImage();
    const QColor ink = view.palette().color(QPalette::Text);
    const auto inked = [&](int x, int y) { return image.pixelColor(x, y) == ink; };

    // Down the middle of the single vertical line, from the top corner's centre to the bottom
    // one's: every pixel drawn, across the cells' borders.
    const int singleX = cell.width() / 2;
    for (int y = cell.height() / 2 + 1; y < 3 * cell.height() + cell.height() / 2; ++y)
        QVERIFY2(inked(singleX, y) || inked(singleX - 1, y) || inked(singleX + 1, y), qPrintable(QString::number(y)));
    // Along the top line, from the left corner's centre to the right one's.
    const int lineY = cell.height() / 2;
    for (int x = cell.width() / 2 + 1; x < 2 * cell.width() + cell.width() / 2; ++x)
        QVERIFY2(inked(x, lineY) || inked(x, lineY - 1) || inked(x, lineY + 1), qPrintable(QString::number(x)));
    // Both rails of the double vertical line run without a gap.
    const int doubleCentre = 3 * cell.width() + cell.width() / 2;
    for (int y = cell.height(); y < 3 * cell.height(); ++y) {
        bool left = false, right = false;
        for (int x = 3 * cell.width(); x < doubleCentre; ++x)
            left = left || inked(x, y);
        for (int x = doubleCentre + 1; x < 4 * cell.width(); ++x)
            right = right || inked(x, y);
        QVERIFY2(left && right, qPrintable(QString::number(y)));
    }
    // The block column is solid from the first line to the last.
    const int blockX = 6 * cell.width() + cell.width() / 2;
    for (int y = 0; y < 4 * cell.height(); ++y)
        QVERIFY2(inked(blockX, y), qPrintable(QString::number(y)));
}

void TestCp437::noteViewer_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("exitCode");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("release note in code page 437")
        << "group.nfo" << QByteArray("\x01\xdb\xc9\r\nx\ny") << QStringLiteral("☺█╔\r\nx\r\ny") << 0;
    QTest::newRow("UTF-8 text") << "readme.txt" << QByteArray("caf\xc3\xa9\n\xe2\x82\xac") << QStringLiteral("café\r\n€") << 0;
    QTest::newRow("not UTF-8: code page 437") << "readme.txt" << QByteArray("\xb0\xb1\xb2") << QStringLiteral("░▒▓") << 0;
    QTest::newRow("a description is always code page 437")
        << "file_id.diz" << QByteArray("\xc3\xa9") << QStringLiteral("├⌐") << 0;
    QTest::newRow("missing file") << "" << QByteArray() << QString() << 1;
    // clang-format on
}

void TestCp437::noteViewer()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    const QString file = dir.path() + u'/' + (name.isEmpty() ? QStringLiteral("missing.nfo") : name);
    if (!name.isEmpty()) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const QString report = dir.path() + QStringLiteral("/report.txt");
    QProcess viewer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ZELV_NOTEPAD_REPORT"), report);
    env.insert(QStringLiteral("ZELV_NOTEPAD_QUIT"), QStringLiteral("1"));
    viewer.setProcessEnvironment(env);
    viewer.start(test::TestWorld::builtProgramFolder() + QStringLiteral("/notepad.exe"), {file});
    QVERIFY(viewer.waitForFinished(30000));
    QCOMPARE(viewer.exitCode(), exitCode);
    QFile out(report);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(out.readAll());
    if (exitCode == 0) {
        QCOMPARE(text, name + u'\n' + shown);
    } else {
        QVERIFY2(text.startsWith(QStringLiteral("missing.nfo\nCannot read ")), qPrintable(text));
    }
}

QTEST_MAIN(TestCp437)
#include "tst_cp437.moc"
