#include "aceblockwriter.h"

#include "archive/ace/acehuffman.h"

#include <QList>

#include <vector>

namespace zelv::test {

namespace {

constexpr int kMaxCodeWidth = 11;
constexpr int kMainCodes = 284; // literals, four repeated distances, 23 distance widths, mode change
constexpr int kLengthCodes = 255;
constexpr int kModeChange = 283;

// Every symbol's code, as the first bit pattern of the reader's table that leads to it.
QList<quint32> codesOf(int maxWidth, int count, std::vector<quint8> widths)
{
    std::vector<quint16> table(size_t(1) << maxWidth, 0);
    ace::makeCodes(maxWidth, count, widths.data(), int(widths.size()), table.data());
    QList<quint32> codes(qsizetype(widths.size()), 0);
    for (qsizetype i = qsizetype(table.size()) - 1; i >= 0; --i)
        codes[table[size_t(i)]] = quint32(i) >> (maxWidth - widths[table[size_t(i)]]);
    return codes;
}

} // namespace

void AceBlockWriter::put(quint32 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        m_word |= ((value >> i) & 1u) << (31 - m_used);
        if (++m_used == 32) {
            for (int k = 0; k < 4; ++k)
                m_out.append(char(m_word >> (8 * k)));
            m_word = 0;
            m_used = 0;
        }
    }
}

void AceBlockWriter::table(int maxWidth, int numCodes, int width, QList<quint32> &codes)
{
    // The widths go as differences: 1 for the first, 0 for the rest, and width - 1 added to
    // every one that is not 0. The three width codes (0, 1, and the unused run of zeros) are
    // two bits wide.
    const int symbols = numCodes + 1;
    put(quint32(symbols - 1), 9);
    put(quint32(width - 1), 4); // added to every width
    put(2, 4);                  // widths are 0 or 1 before that; 2 is a run of zeros
    for (int i = 0; i < 3; ++i)
        put(2, 3);
    std::vector<quint8> widthWidths(16, 0);
    widthWidths[0] = widthWidths[1] = widthWidths[2] = 2;
    const QList<quint32> widthCodes = codesOf(7, 3, widthWidths);
    for (int i = 0; i < symbols; ++i)
        put(widthCodes[i == 0 ? 1 : 0], 2);
    codes = codesOf(maxWidth, symbols, std::vector<quint8>(size_t(symbols), quint8(width)));
}

void AceBlockWriter::block(const QByteArray &literals, Change after)
{
    QList<quint32> main, lengths;
    table(kMaxCodeWidth, kMainCodes, 9, main);
    table(kMaxCodeWidth, kLengthCodes, 8, lengths);
    put(quint32(literals.size() + (after.mode >= 0 ? 1 : 0)), 15);
    for (char c : literals)
        put(main[uchar(c)], 9);
    if (after.mode >= 0) {
        put(main[kModeChange], 9);
        put(quint32(after.mode), 8);
        if (after.mode == 1) {
            put(quint32(after.deltaDistance), 8);
            put(quint32(after.deltaLength), 17);
        }
    }
}

void AceBlockWriter::block(const QByteArray &literals) { block(literals, Change()); }

QByteArray AceBlockWriter::finish()
{
    if (m_used > 0)
        put(0, 32 - m_used);
    return m_out;
}

} // namespace zelv::test
