// Packed ACE 2.0 data of the "blocked" kind made of literal bytes and mode changes, for the
// modes no free tool can make. Every block carries tables in which all symbols have one width,
// their codes found as the reader finds them.
#pragma once

#include <QByteArray>

namespace zelv::test {

class AceBlockWriter {
public:
    // What follows a block: nothing, plain LZ77 again, or LZ77 behind the delta filter.
    struct Change {
        int mode = -1; // -1: none; 0: plain; 1: delta
        int deltaDistance = 0;
        int deltaLength = 0;
    };

    // One block of literal symbols, then the change if any.
    void block(const QByteArray &literals, Change after);
    void block(const QByteArray &literals);
    QByteArray finish();

private:
    void put(quint32 value, int width);
    // A table of numCodes + 1 symbols, all of the given width; the codes go into codes.
    void table(int maxWidth, int numCodes, int width, QList<quint32> &codes);

    QByteArray m_out;
    quint32 m_word = 0;
    int m_used = 0; // bits of m_word taken, from the top
};

} // namespace zelv::test
