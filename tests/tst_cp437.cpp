// Code page 437 as release notes are drawn in it: the glyph of every byte, the line-end rules,
// and a view in which boxes, lines and blocks join without a gap.
#include "platform/cp437.h"
#include "ui/widgets/cp437view.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
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

QTEST_MAIN(TestCp437)
#include "tst_cp437.moc"
