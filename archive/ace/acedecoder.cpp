#include "acedecoder.h"

#include "acehuffman.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>

namespace zelv {

namespace {

// Thrown inside the decoder; unpack() turns them into its answer.
struct Damaged {};
struct Unreadable {};
struct Refused {};

constexpr qsizetype kChunk = 1 << 20; // unpacked bytes handed on at a time

// The packed data as the archiver wrote it: little-endian 32-bit words, each read from its
// highest bit down. Past the end come zero bits, but never more than two words of them.
class BitReader {
public:
    BitReader(const AceDecoder::Source &source, std::vector<char> &buffer) : m_source(source), m_buffer(buffer)
    {
        if (m_buffer.empty())
            m_buffer.resize(1 << 16);
    }

    quint32 peek(int n)
    {
        ensure(n);
        return n == 0 ? 0 : quint32(m_bits >> (64 - n));
    }
    void skip(int n)
    {
        ensure(n);
        m_bits <<= n;
        m_count -= n;
    }
    quint32 read(int n)
    {
        const quint32 value = peek(n);
        skip(n);
        return value;
    }
    // At least 32 bits at hand, for the unchecked calls below.
    void need32()
    {
        if (m_count < 32) [[unlikely]]
            refill();
    }
    quint32 peekFast(int n) const { return quint32(m_bits >> (64 - n)); }
    void skipFast(int n)
    {
        m_bits <<= n;
        m_count -= n;
    }
    quint32 readFast(int n)
    {
        const quint32 value = n == 0 ? 0 : peekFast(n);
        skipFast(n);
        return value;
    }
    quint32 knownWidthFast(int bits)
    {
        if (bits < 2)
            return quint32(bits);
        --bits;
        return readFast(bits) + (1u << bits);
    }
    // A Golomb-Rice code: rBits low bits, then one more multiple of 2^rBits for every 1 bit.
    qint64 golombRice(int rBits, bool isSigned)
    {
        if (rBits > 24)
            throw Damaged{};
        qint64 value = rBits == 0 ? 0 : read(rBits);
        for (int ones = 0; read(1) == 1; ++ones) {
            if (ones > (1 << 16))
                throw Damaged{};
            value += qint64(1) << rBits;
        }
        if (!isSigned)
            return value;
        return (value & 1) ? -(value >> 1) - 1 : value >> 1;
    }

    // Whether the decoding took more bits than the data holds: the zero words after its end
    // are only there to look ahead.
    bool overran() const { return m_count < 32 * m_padding; }

private:
    friend class BitCursor;

    // One refill always suffices: n is at most 32 and a refill adds 32 bits.
    void ensure(int n)
    {
        if (m_count < n) [[unlikely]]
            refill();
    }
    int nextByte()
    {
        if (m_pos == m_length) {
            if (m_ended)
                return -1;
            const qsizetype got = m_source(m_buffer.data(), qsizetype(m_buffer.size()));
            if (got < 0)
                throw Unreadable{};
            m_ended = got == 0;
            m_pos = 0;
            m_length = got;
            if (m_ended)
                return -1;
        }
        return uchar(m_buffer[size_t(m_pos++)]);
    }
    void refill()
    {
        if (m_length - m_pos >= 4) [[likely]] {
            const auto *p = reinterpret_cast<const uchar *>(m_buffer.data() + m_pos);
            const quint32 word = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
            m_pos += 4;
            m_bits |= quint64(word) << (32 - m_count);
            m_count += 32;
            return;
        }
        refillSlowly();
    }
    [[gnu::noinline]] void refillSlowly()
    {
        quint32 word = 0;
        {
            int got = 0;
            for (int k = 0; k < 4; ++k) {
                const int b = nextByte();
                if (b >= 0) {
                    word |= quint32(b) << (8 * k);
                    ++got;
                }
            }
            // The archiver writes whole words: a part of one means the data was cut short.
            if (got > 0 && got < 4)
                throw Damaged{};
            if (got == 0 && ++m_padding > 2)
                throw Damaged{}; // the data ended long before the decoder was done
        }
        m_bits |= quint64(word) << (32 - m_count);
        m_count += 32;
    }

    const AceDecoder::Source &m_source;
    std::vector<char> &m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_length = 0;
    bool m_ended = false;
    int m_padding = 0;
    quint64 m_bits = 0; // the next bits from the top down
    int m_count = 0;
};

// The reader's state copied into locals for a hot loop, so that it stays in registers; put
// back (store) before anything else reads bits, taken again (load) after.
class BitCursor {
public:
    explicit BitCursor(BitReader &reader) : m_reader(reader) { load(); }
    void load()
    {
        m_bits = m_reader.m_bits;
        m_count = m_reader.m_count;
        m_at = reinterpret_cast<const uchar *>(m_reader.m_buffer.data()) + m_reader.m_pos;
        m_end = reinterpret_cast<const uchar *>(m_reader.m_buffer.data()) + m_reader.m_length;
    }
    void store()
    {
        m_reader.m_bits = m_bits;
        m_reader.m_count = m_count;
        m_reader.m_pos = m_at - reinterpret_cast<const uchar *>(m_reader.m_buffer.data());
    }
    void need32()
    {
        if (m_count >= 32) [[likely]]
            return;
        if (m_end - m_at >= 4) [[likely]] {
            const quint32 word =
                quint32(m_at[0]) | quint32(m_at[1]) << 8 | quint32(m_at[2]) << 16 | quint32(m_at[3]) << 24;
            m_at += 4;
            m_bits |= quint64(word) << (32 - m_count);
            m_count += 32;
            return;
        }
        store();
        m_reader.refillSlowly();
        load();
    }
    quint32 peekFast(int n) const { return quint32(m_bits >> (64 - n)); }
    void skipFast(int n)
    {
        m_bits <<= n;
        m_count -= n;
    }
    // The bits a table entry says its lookup takes, in its lowest six.
    void skipBy(quint32 entry)
    {
        m_bits <<= (entry & 63);
        m_count -= int(entry & 63);
    }
    quint32 knownWidthFast(int bits)
    {
        if (bits < 2)
            return quint32(bits);
        --bits;
        const quint32 value = peekFast(bits) + (1u << bits);
        skipFast(bits);
        return value;
    }

private:
    BitReader &m_reader;
    quint64 m_bits;
    int m_count;
    const uchar *m_at;
    const uchar *m_end;
};

struct Huffman {
    int maxWidth = 0;
    std::vector<quint8> widths;
    std::vector<quint16> entries; // symbol in the low nine bits, its width above
    // With pairs: a lookup's first symbol in bits 8-16; when it is a literal whose code leaves
    // room in the looked-up bits for a second literal's whole code, that one in bits 17-24 and
    // kPair set. The bits the lookup takes (both codes with kPair) are in the lowest bits, so
    // that the next lookup waits for one load and one shift; the first code's width alone in
    // bits 26-29.
    std::vector<quint32> pairs;
    static constexpr quint32 kPair = 1u << 25;
    static int symbolOf(quint32 e) { return int(e >> 8) & 0x1FF; }
    static uchar secondOf(quint32 e) { return uchar(e >> 17); }
    static int firstWidth(quint32 e) { return int(e >> 26) & 0xF; }

    static constexpr int kBad = 0x1FF;

    int read(BitReader &bits) const
    {
        const quint16 e = entries[bits.peek(maxWidth)];
        if ((e & 0x1FF) == kBad)
            throw Damaged{};
        bits.skip(e >> 9);
        return e & 0x1FF;
    }

    // A run of n entries, n a power of two: most runs of a table are one or two entries long,
    // too short for std::fill to pay off; longer ones go in 64-bit words.
    template <typename T>
    static T *fillRun(T *at, size_t n, T value)
    {
        static_assert(sizeof(T) == 2 || sizeof(T) == 4);
        if (n <= 2) {
            at[0] = value;
            at[n - 1] = value;
            return at + n;
        }
        const quint64 word = sizeof(T) == 2 ? quint64(value) * 0x0001000100010001u : quint64(value) * 0x100000001u;
        for (size_t i = 0; i < n * sizeof(T); i += 8)
            std::memcpy(reinterpret_cast<char *>(at) + i, &word, 8);
        return at + n;
    }

    // Every maxWidth-bit pattern's entry, from the widths of the n symbols of which the first
    // count are sorted. A pattern that no code starts reads as kBad, which every reader refuses.
    static void fill(int maxWidth, int count, quint8 *widths, int n, quint16 *entries)
    {
        std::array<quint16, 512> order;
        const int used = ace::codeOrder(maxWidth, count, widths, n, order.data());
        if (used < 0)
            throw Damaged{};
        quint16 *at = entries;
        for (int k = 0; k < used; ++k) {
            const int symbol = order[size_t(k)];
            const int width = widths[symbol];
            at = fillRun(at, size_t(1) << (maxWidth - width), quint16(symbol | width << 9));
        }
        std::fill(at, entries + (size_t(1) << maxWidth), quint16(kBad));
    }

    // A table as stored: the widths of the width codes, then the widths themselves, run-length
    // and difference coded.
    void readFrom(BitReader &bits, int maxWidthOfCodes, int numCodes)
    {
        constexpr int kWidthCodeWidth = 7;
        maxWidth = maxWidthOfCodes;
        widths.assign(size_t(numCodes) + 1, 0);
        const int numWidths = int(bits.read(9)) + 1;
        if (numWidths > numCodes + 1)
            throw Damaged{}; // more widths than the table has symbols
        const int lower = int(bits.read(4));
        const int upper = int(bits.read(4));
        std::array<quint8, 16> widthWidths{};
        for (int i = 0; i <= upper; ++i)
            widthWidths[size_t(i)] = quint8(bits.read(3));
        std::array<quint16, 1 << kWidthCodeWidth> widthCodes;
        fill(kWidthCodeWidth, upper + 1, widthWidths.data(), int(widthWidths.size()), widthCodes.data());
        for (int at = 0; at < numWidths;) {
            const quint16 e = widthCodes[bits.peek(kWidthCodeWidth)];
            const int code = e & 0x1FF;
            if (code > upper)
                throw Damaged{}; // a pattern that no width code starts
            bits.skip(e >> 9);
            if (code < upper) {
                widths[size_t(at++)] = quint8(code);
            } else {
                for (int run = int(bits.read(4)) + 4; run > 0 && at < numWidths; --run)
                    widths[size_t(at++)] = 0;
            }
        }
        // Each width is stored as its difference to the one before, modulo upper; the sum of
        // two below upper is less than twice upper. The last one in a local, not reloaded.
        int last = 0;
        for (int i = 0; i < numWidths; ++i) {
            int w = widths[size_t(i)];
            if (i > 0 && upper > 0) {
                w += last;
                if (w >= upper)
                    w -= upper;
            }
            last = w;
            widths[size_t(i)] = quint8(w > 0 ? w + lower : 0);
        }
        entries.resize(size_t(1) << maxWidth);
        fill(maxWidth, numWidths, widths.data(), int(widths.size()), entries.data());
    }

    void makePairs()
    {
        const size_t n = entries.size();
        pairs.resize(n);
        // No second literal fits after a code longer than this.
        int shortest = maxWidth + 1;
        for (int symbol = 0; symbol < 256 && symbol < int(widths.size()); ++symbol)
            if (widths[size_t(symbol)] > 0)
                shortest = std::min<int>(shortest, widths[size_t(symbol)]);
        const int longestFirst = maxWidth - shortest;
        // A code of width w takes a run of 2^(maxWidth - w) patterns that starts at a multiple
        // of that: the bits after it, in the k-th pattern of the run, are k followed by w zeros.
        for (size_t i = 0; i < n;) {
            const quint32 first = entries[i] & 0x1FF;
            const int w1 = entries[i] >> 9;
            const quint32 single = quint32(w1) | first << 8 | quint32(w1) << 26;
            if (w1 == 0) { // the patterns no code starts, all at the end
                std::fill(pairs.begin() + qsizetype(i), pairs.end(), single);
                break;
            }
            const size_t span = size_t(1) << (maxWidth - w1);
            if (first < 256 && w1 <= longestFirst) {
                for (size_t k = 0; k < span; ++k) {
                    const quint16 next = entries[k << w1];
                    const int w2 = next >> 9;
                    pairs[i + k] =
                        (next & 0x1FF) < 256 && w1 + w2 <= maxWidth
                            ? quint32(w1 + w2) | first << 8 | quint32(next & 0xFF) << 17 | kPair | quint32(w1) << 26
                            : single;
                }
            } else {
                fillRun(pairs.data() + i, span, single);
            }
            i += span;
        }
    }

    int widthOf(int symbol) const { return widths[size_t(symbol)]; }
};

enum ModeKind : int {
    Lz77Plain = 0,
    Lz77Delta = 1,
    Lz77Exe = 2,
    Sound8 = 3,
    Sound16 = 4,
    Sound32A = 5,
    Sound32B = 6,
    PictureMode = 7
};

struct Mode {
    int kind = Lz77Plain;
    int deltaDistance = 0;
    int deltaLength = 0;
    int exeMode = 0;

    static Mode readFrom(BitReader &bits)
    {
        Mode m;
        m.kind = int(bits.read(8));
        if (m.kind == Lz77Delta) {
            m.deltaDistance = int(bits.read(8));
            m.deltaLength = int(bits.read(17));
        } else if (m.kind == Lz77Exe) {
            m.exeMode = int(bits.read(8));
        }
        return m;
    }
};

// LZ77 over a dictionary of 4 MB that every mode's output goes into.
class Lz77 {
public:
    Lz77() : m_window(kWindow + kSlack, 0) {}

    // A new member: its symbols and distances start afresh. The dictionary stays for a member
    // that goes on from the one before (solid); otherwise no match may reach before it.
    void restart(bool continues)
    {
        if (!continues) {
            m_matches.origin = m_pos;
            m_matches.full = false;
        }
        m_blockLeft = 0;
        m_matches.history.fill(0);
        m_leftover.clear();
    }

    void append(const uchar *data, size_t n)
    {
        if (n >= kWindow)
            m_matches.full = true;
        m_pos += quint32(n);
        if (n > kWindow) { // only the last window's worth stays
            data += n - kWindow;
            n = kWindow;
        }
        const quint32 start = (m_pos - quint32(n)) & kMask;
        const size_t first = std::min<size_t>(n, kWindow - start);
        std::memcpy(m_window.data() + start, data, first);
        std::memcpy(m_window.data(), data + first, n - first);
    }

    // Unpacks until want bytes are there (or a mode change is met) and appends them to out.
    // A copy running past want is kept for the next call, unless want ends the member or a
    // delta stretch (hardEnd): the archiver never copies across those, so that is damage. The
    // archiver reads a whole block of symbols at once, so that the bits of another mode start
    // after the block: so does this.
    std::optional<Mode> read(BitReader &bits, qint64 want, std::vector<uchar> &out, bool hardEnd)
    {
        return read(
            bits, want, [&out](const uchar *p, size_t n) { out.insert(out.end(), p, p + n); }, hardEnd);
    }

    // The same, handing the bytes on as they lie in the dictionary.
    std::optional<Mode> read(BitReader &bits, qint64 want, const std::function<void(const uchar *, size_t)> &take,
                             bool hardEnd)
    {
        qint64 have = 0;
        if (!m_leftover.empty()) {
            append(m_leftover.data(), m_leftover.size());
            have += qint64(m_leftover.size());
            m_leftover.clear();
        }
        std::optional<Mode> mode;
        // Locals for what the loop touches on every symbol, as in unpackWhole.
        uchar *const w = m_window.data();
        BitCursor c(bits);
        quint32 pos = m_pos;
        int blockLeft = m_blockLeft;
        const quint32 *pairs = m_main.pairs.data();
        const quint16 *lengths = m_lengths.entries.data();
        Matches matches = m_matches;
        while (have < want) {
            if (blockLeft == 0) {
                startBlock(bits, c, blockLeft, pairs, lengths);
                continue;
            }
            c.need32();
            const quint32 e = pairs[c.peekFast(kMaxCodeWidth)];
            const int symbol = Huffman::symbolOf(e);
            if (symbol < 256) {
                const int n = putLiterals(c, e, w, pos, blockLeft >= 2 && have + 2 <= want);
                have += n;
                blockLeft -= n;
                continue;
            }
            if (symbol > kTypeCode)
                throw Damaged{};
            c.skipFast(Huffman::firstWidth(e));
            --blockLeft;
            if (symbol == kTypeCode) {
                c.store();
                mode = Mode::readFrom(bits);
                c.load();
                break;
            }
            const quint32 end = copyMatchAt(readMatch(c, symbol, lengths), pos, matches);
            have += qint64(end - pos);
            pos = end;
        }
        c.store();
        m_pos = pos;
        m_matches = matches;
        m_blockLeft = blockLeft;
        // A mode change right after the bytes asked for is taken now, as the block it ends
        // is done with.
        if (!mode && have == want)
            mode = modeAfter(bits);
        if (have > want) {
            if (hardEnd)
                throw Damaged{};
            const quint32 extra = quint32(have - want);
            m_leftover.resize(extra);
            copyOut(m_pos - extra, extra, m_leftover.data());
            m_pos -= extra;
            have = want;
        }
        const quint32 start = (m_pos - quint32(have)) & kMask;
        const size_t first = std::min<size_t>(size_t(have), kWindow - start);
        take(m_window.data() + start, first);
        if (size_t(have) > first)
            take(m_window.data(), size_t(have) - first);
        return mode;
    }

    // A mode change that comes next, even at the start of the next block; for a stretch of
    // fixed length (delta) that is over while more of the member follows, since only the next
    // symbol says whether the mode goes on.
    std::optional<Mode> modeNext(BitReader &bits)
    {
        if (!m_leftover.empty())
            return std::nullopt;
        if (m_blockLeft == 0) {
            readTables(bits);
            m_blockLeft = int(bits.read(15));
        }
        return modeAfter(bits);
    }

    // The next symbol if it is a mode change, within the current block.
    std::optional<Mode> modeAfter(BitReader &bits)
    {
        if (m_blockLeft == 0)
            return std::nullopt;
        bits.need32();
        const int symbol = Huffman::symbolOf(m_main.pairs[bits.peekFast(kMaxCodeWidth)]);
        if (symbol != kTypeCode)
            return std::nullopt; // an unused pattern is refused when it is read
        bits.skipFast(m_main.widthOf(symbol));
        --m_blockLeft;
        return Mode::readFrom(bits);
    }

    // ACE 1.0 data, which has no mode changes, straight into take: symbols are read as they
    // are used, which gives the same bits since nothing else reads between them.
    void unpackWhole(BitReader &bits, qint64 size, const std::function<void(const uchar *, size_t)> &take)
    {
        qint64 have = 0;
        quint32 handed = m_pos;
        int blockLeft = 0;
        const auto handOn = [&] {
            const quint32 n = m_pos - handed;
            const quint32 start = handed & kMask;
            const quint32 first = std::min(n, kWindow - start);
            take(m_window.data() + start, first);
            if (n > first)
                take(m_window.data(), n - first);
            handed = m_pos;
        };
        // Locals for what the loop touches on every symbol: the bytes it writes could alias
        // members as far as the compiler knows.
        uchar *const w = m_window.data();
        BitCursor c(bits);
        quint32 pos = m_pos;
        const quint32 *pairs = m_main.pairs.data();
        const quint16 *lengths = m_lengths.entries.data();
        Matches matches = m_matches;
        while (have < size) {
            if (blockLeft == 0) {
                startBlock(bits, c, blockLeft, pairs, lengths);
                continue;
            }
            // Far from the member's end and the next hand-on, symbols go without those checks:
            // no symbol makes more than 258 bytes.
            const qint64 room = std::min<qint64>(size - have, qint64(kChunk) - qint64(pos - handed));
            if (room > 300 && blockLeft >= 4) {
                const quint32 start = pos;
                const quint32 stop = pos + quint32(room - 300);
                int left = blockLeft;
                // One literal or two, without a branch: a second byte written for one literal
                // is overwritten by the next.
                const auto putLiterals = [&](quint32 e) {
                    c.skipBy(e);
                    w[pos & kMask] = uchar(Huffman::symbolOf(e));
                    w[(pos + 1) & kMask] = Huffman::secondOf(e);
                    const int n = 1 + int(e >> 25 & 1);
                    pos += quint32(n);
                    left -= n;
                };
                // Up to two lookups of literals and a match a round: four symbols at most.
                while (left >= 4 && qint32(stop - pos) > 0) {
                    c.need32();
                    quint32 e = pairs[c.peekFast(kMaxCodeWidth)];
                    if (Huffman::symbolOf(e) < 256) {
                        putLiterals(e);
                        // Another lookup on the same bits: literals take at most 11 of the 32.
                        e = pairs[c.peekFast(kMaxCodeWidth)];
                        if (Huffman::symbolOf(e) < 256) {
                            putLiterals(e);
                            continue;
                        }
                        c.need32(); // the bits looked up stay where they are
                    }
                    const int symbol = Huffman::symbolOf(e);
                    c.skipBy(e);
                    if (symbol >= kTypeCode)
                        throw Damaged{};
                    --left;
                    pos = copyMatchAt(readMatch(c, symbol, lengths), pos, matches);
                }
                blockLeft = left;
                have += qint64(pos - start);
                continue;
            }
            c.need32();
            const quint32 e = pairs[c.peekFast(kMaxCodeWidth)];
            const int symbol = Huffman::symbolOf(e);
            if (symbol < 256) {
                const int n = putLiterals(c, e, w, pos, blockLeft >= 2 && have + 2 <= size);
                have += n;
                blockLeft -= n;
            } else {
                if (symbol >= kTypeCode) // no mode changes in ACE 1.0, and no unused patterns
                    throw Damaged{};
                c.skipFast(Huffman::firstWidth(e));
                --blockLeft;
                const quint32 end = copyMatchAt(readMatch(c, symbol, lengths), pos, matches);
                have += qint64(end - pos);
                pos = end;
                if (have > size) // the copy ran past the member's end
                    throw Damaged{};
            }
            if (pos - handed >= quint32(kChunk)) [[unlikely]] {
                m_pos = pos;
                handOn();
            }
        }
        m_pos = pos;
        m_matches = matches;
        c.store();
        handOn();
    }

private:
    // Twice the largest distance, so that a copy may write a few bytes past its end, in words:
    // no distance reaches them before they are written again. A copy that would run past the
    // buffer's end goes byte by byte.
    static constexpr quint32 kWindow = 1u << 23;
    static constexpr quint32 kMask = kWindow - 1;
    static constexpr quint32 kMaxDistance = 1u << 22;
    static constexpr quint32 kSlack = 16;
    static constexpr int kMaxCodeWidth = 11;
    static constexpr int kMaxDistanceBits = 22;
    static constexpr int kTypeCode = 260 + kMaxDistanceBits + 1;
    static constexpr int kMainCodes = 260 + kMaxDistanceBits + 2;
    static constexpr int kLengthCodes = 255;

    struct Symbol {
        quint16 symbol;
        quint16 length;
        quint32 distance;
    };

    // What a copy needs besides the dictionary. The loops that copy keep it in a local: the
    // bytes they write could alias members as far as the compiler knows.
    struct Matches {
        std::array<quint32, 4> history{}; // the last distances, the latest last
        quint32 origin = 0;               // where the dictionary's first member started
        bool full = false;                // a whole window since then
    };

    // Copies a match from the dictionary at pos; where it ends. (pos and matches are the
    // caller's locals, which stay in registers.)
    [[gnu::always_inline]] quint32 copyMatchAt(const Symbol &s, quint32 pos, Matches &matches)
    {
        auto &history = matches.history;
        int length = s.length;
        quint32 distance;
        if (s.symbol > 259) {
            distance = s.distance;
            std::copy(history.begin() + 1, history.end(), history.begin());
            history[3] = distance;
            length += distance <= 255 ? 2 : distance <= 8191 ? 3 : 4;
        } else {
            const int offset = s.symbol & 0xFF;
            const int at = 3 - offset;
            distance = history[size_t(at)];
            std::copy(history.begin() + at + 1, history.end(), history.begin() + at);
            history[3] = distance;
            length += offset > 1 ? 3 : 2;
        }
        ++distance;
        if (distance >= kMaxDistance)
            throw Damaged{};
        if (!matches.full) { // nothing before the first member of the dictionary
            const quint32 filled = pos - matches.origin;
            if (filled >= kWindow)
                matches.full = true;
            else if (distance > filled)
                throw Damaged{};
        }
        const quint32 from = (pos - distance) & kMask;
        const quint32 to = pos & kMask;
        uchar *w = m_window.data();
        if (from + quint32(length) <= kWindow && to + quint32(length) <= kWindow) [[likely]] {
            // Eight bytes at a time, which may write up to seven past the copy (into bytes no
            // distance reaches yet, or the slack): each word reads only bytes already there
            // when the distance is at least eight. Shorter distances repeat bytes one by one.
            if (distance >= 8) {
                for (int i = 0; i < length; i += 8) {
                    quint64 word;
                    std::memcpy(&word, w + from + quint32(i), 8);
                    std::memcpy(w + to + quint32(i), &word, 8);
                }
            } else if (distance == 1) {
                std::memset(w + to, w[from], size_t(length));
            } else {
                for (int i = 0; i < length; ++i)
                    w[to + quint32(i)] = w[from + quint32(i)];
            }
        } else {
            for (int i = 0; i < length; ++i)
                w[(to + quint32(i)) & kMask] = w[(from + quint32(i)) & kMask];
        }
        return pos + quint32(length);
    }

    // One literal, or two where both codes fit the bits looked up and there is room for two
    // (in the block and in the bytes asked for); how many.
    [[gnu::always_inline]] static int putLiterals(BitCursor &c, quint32 e, uchar *w, quint32 &pos, bool roomForTwo)
    {
        if ((e & Huffman::kPair) && roomForTwo) {
            c.skipBy(e);
            w[pos++ & kMask] = uchar(Huffman::symbolOf(e));
            w[pos++ & kMask] = Huffman::secondOf(e);
            return 2;
        }
        c.skipFast(Huffman::firstWidth(e));
        w[pos++ & kMask] = uchar(Huffman::symbolOf(e));
        return 1;
    }

    // A match whose main symbol was read: its distance bits and its length code.
    [[gnu::always_inline]] static Symbol readMatch(BitCursor &c, int symbol, const quint16 *lengths)
    {
        Symbol s;
        s.symbol = quint16(symbol);
        s.distance = symbol > 259 ? c.knownWidthFast(symbol - 260) : 0;
        c.need32();
        s.length = quint16(readLength(c, lengths));
        return s;
    }

    // A match's length code from the lengths table's entries, without a check for bits:
    // need32() comes first.
    static int readLength(BitCursor &c, const quint16 *lengths)
    {
        const quint16 e = lengths[c.peekFast(kMaxCodeWidth)];
        if ((e & 0x1FF) == Huffman::kBad)
            throw Damaged{};
        c.skipFast(e >> 9);
        return e & 0x1FF;
    }

    void copyOut(quint32 from, quint32 n, uchar *to) const
    {
        const quint32 start = from & kMask;
        const quint32 first = std::min(n, kWindow - start);
        std::memcpy(to, m_window.data() + start, first);
        std::memcpy(to + first, m_window.data(), n - first);
    }

    // A new block for a hot loop: its tables and its number of symbols, and the loop's locals
    // for them taken again.
    void startBlock(BitReader &bits, BitCursor &c, int &blockLeft, const quint32 *&pairs, const quint16 *&lengths)
    {
        c.store();
        readTables(bits);
        blockLeft = int(bits.read(15));
        c.load();
        pairs = m_main.pairs.data();
        lengths = m_lengths.entries.data();
    }

    void readTables(BitReader &bits)
    {
        m_main.readFrom(bits, kMaxCodeWidth, kMainCodes);
        m_main.makePairs();
        m_lengths.readFrom(bits, kMaxCodeWidth, kLengthCodes);
    }

    std::vector<uchar> m_window;
    quint32 m_pos = 0; // where the next byte goes, counting on past the window's size
    Matches m_matches;
    Huffman m_main;
    Huffman m_lengths;
    // Symbols of the current block not yet read. A mode change to sound or picture cuts a
    // block: their data follows the change, and the block goes on when LZ77 comes back.
    int m_blockLeft = 0;
    std::vector<uchar> m_leftover;
};

uchar low8(int v) { return uchar(v & 0xFF); }

int bitLength(qint64 v)
{
    int n = 0;
    for (; v > 0; v >>= 1)
        ++n;
    return n;
}

// ACE 2.0 sound: up to three channels, each with its own predictor and adaptive models.
class Sound {
public:
    Sound()
    {
        m_quantizer[0] = 0;
        for (int i = 1; i <= 128; ++i)
            m_quantizer[size_t(256 - i)] = m_quantizer[size_t(i)] = bitLength(i);
    }

    void restart(int kind)
    {
        for (Channel &c : m_channels)
            c = Channel{};
        m_mode = kind - Sound8;
        m_tables.assign(size_t(kChannelCount[m_mode]) * 3, Huffman{});
        m_blockLeft = 0;
    }

    // Up to want bytes (a multiple of four) into out; a mode change ends it early.
    std::optional<Mode> read(BitReader &bits, qint64 want, std::vector<uchar> &out)
    {
        for (qint64 i = 0; i < (want & ~qint64(3)); ++i) {
            const int index = kChannelOf[m_mode][i % 4];
            Channel &c = m_channels[size_t(index)];
            const auto value = next(bits, c, index);
            if (value.mode)
                return value.mode;
            const uchar sample = low8(value.delta + predict(c));
            out.push_back(sample);
            adjust(c, sample);
        }
        return std::nullopt;
    }

private:
    static constexpr int kRunCodes = 32;
    static constexpr int kTypeCode = 256 + kRunCodes;
    static constexpr int kCodes = 256 + kRunCodes + 1;
    static constexpr int kMaxCodeWidth = 10;
    static constexpr int kChannelCount[4] = {1, 2, 3, 3};
    static constexpr int kChannelOf[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};

    struct Channel {
        std::array<int, 2> predDifCount{};
        std::array<int, 2> lastPredDifCount{};
        std::array<int, 4> difCount{};
        std::array<int, 4> coefficient{};
        std::array<int, 9> dif{};
        int byteCount = 0;
        int lastByte = 0;
        int lastDelta = 0;
        int adaptCount = 0;
        int adaptUse = 0;
        int state = 0;
        int code = 0;
    };

    struct Value {
        int delta = 0;
        std::optional<Mode> mode;
    };

    int symbol(BitReader &bits, int model)
    {
        if (model < 0 || model >= int(m_tables.size()))
            throw Damaged{};
        if (m_blockLeft == 0) {
            for (Huffman &h : m_tables)
                h.readFrom(bits, kMaxCodeWidth, kCodes);
            m_blockLeft = int(bits.read(15));
        }
        --m_blockLeft;
        return m_tables[size_t(model)].read(bits);
    }

    Value next(BitReader &bits, Channel &c, int index)
    {
        if (c.state != 2) {
            const int model = (c.state << 1) + (c.state == 0 ? c.adaptUse : 0) + 3 * index;
            c.code = symbol(bits, model);
            if (c.code == kTypeCode)
                return {0, Mode::readFrom(bits)};
        }
        int value = 0;
        if (c.state == 0) {
            if (c.code >= kRunCodes) {
                value = c.code - kRunCodes;
                c.adaptCount = (c.adaptCount * 7 >> 3) + value;
                c.adaptUse = c.adaptCount > 40 ? 1 : 0;
            } else {
                c.state = 2;
            }
        } else if (c.state == 1) {
            value = c.code;
            c.state = 0;
        }
        if (c.state == 2) {
            if (c.code == 0)
                c.state = 1;
            else
                --c.code;
            value = 0;
        }
        return {(value & 1) ? 255 - (value >> 1) : value >> 1, std::nullopt};
    }

    static int predicted(const Channel &c)
    {
        return low8((8 * c.lastByte + c.coefficient[0] * c.difCount[0] + c.coefficient[1] * c.difCount[1] +
                     c.coefficient[2] * c.difCount[2] + c.coefficient[3] * c.difCount[3]) >>
                    3);
    }

    static int predict(const Channel &c) { return c.predDifCount[0] > c.predDifCount[1] ? c.lastByte : predicted(c); }

    void adjust(Channel &c, int sample)
    {
        ++c.byteCount;
        // Differences of 8-bit samples are signed bytes: a step across 0 and 255 is a small one.
        const int predDif = int(qint8(predicted(c) - sample)) * 8;
        for (int k = 0; k < 4; ++k) {
            c.dif[size_t(2 * k)] += std::abs(predDif - c.difCount[size_t(k)]);
            c.dif[size_t(2 * k + 1)] += std::abs(predDif + c.difCount[size_t(k)]);
        }
        c.dif[8] += std::abs(predDif);
        c.predDifCount[0] += m_quantizer[low8(predDif >> 3)];
        c.predDifCount[1] += m_quantizer[low8(c.lastByte - sample)];
        c.lastDelta = int(qint8(sample - c.lastByte));
        c.lastByte = sample;
        if ((c.byteCount & 0x1F) == 0) {
            int least = 0xFFFF;
            int leastAt = 8;
            for (int i = 8; i >= 0; --i) {
                if (c.dif[size_t(i)] <= least) {
                    least = c.dif[size_t(i)];
                    leastAt = i;
                }
                c.dif[size_t(i)] = 0;
            }
            if (leastAt != 8) {
                int &coefficient = c.coefficient[size_t(leastAt >> 1)];
                if ((leastAt & 1) == 0) {
                    if (coefficient >= -16)
                        --coefficient;
                } else if (coefficient <= 16) {
                    ++coefficient;
                }
            }
            if ((c.byteCount & 0xFF) == 0)
                for (int i = 0; i < 2; ++i) {
                    c.predDifCount[size_t(i)] -= c.lastPredDifCount[size_t(i)];
                    c.lastPredDifCount[size_t(i)] = c.predDifCount[size_t(i)];
                }
        }
        c.difCount[3] = c.difCount[2];
        c.difCount[2] = c.difCount[1];
        c.difCount[1] = c.lastDelta - c.difCount[0];
        c.difCount[0] = c.lastDelta;
    }

    std::array<int, 256> m_quantizer{};
    std::array<Channel, 3> m_channels{};
    std::vector<Huffman> m_tables;
    int m_mode = 0;
    int m_blockLeft = 0;
};

// ACE 2.0 pictures: lines of interleaved planes, each pixel predicted from its neighbours
// with a context that learns which predictor does best.
class Picture {
public:
    Picture()
    {
        for (int i = 0; i < 128; ++i)
            m_difWidth[size_t(i)] = bitLength(2 * i);
        for (int i = -128; i < 0; ++i)
            m_difWidth[size_t(256 + i)] = bitLength(-2 * i - 1);
        for (int i = -255; i < 256; ++i) {
            const int q = i <= -kS3   ? -4
                          : i <= -kS2 ? -3
                          : i <= -kS1 ? -2
                          : i <= -1   ? -1
                          : i == 0    ? 0
                          : i < kS1   ? 1
                          : i < kS2   ? 2
                          : i < kS3   ? 3
                                      : 4;
            m_quantizer[size_t(255 + i)] = q;
            m_quantizer9[size_t(255 + i)] = 9 * q;
            m_quantizer81[size_t(255 + i)] = 81 * q;
        }
    }

    void restart(BitReader &bits)
    {
        const qint64 width = bits.golombRice(12, false);
        const qint64 planes = bits.golombRice(2, false);
        if (width < 1 || width > kMaxWidth || planes < 1 || planes > width)
            throw Damaged{};
        m_width = int(width);
        m_planes = int(planes);
        m_last.assign(size_t(m_width + m_planes), 0);
        m_leftover.clear();
        for (auto &model : m_models)
            model.fill(Context{});
        m_a = m_b = m_c = m_d = m_x = 0;
    }

    std::optional<Mode> read(BitReader &bits, qint64 want, std::vector<uchar> &out)
    {
        qint64 have = qint64(m_leftover.size());
        out.insert(out.end(), m_leftover.begin(), m_leftover.end());
        m_leftover.clear();
        while (have < want) {
            if (bits.read(1) == 0)
                return Mode::readFrom(bits);
            line(bits);
            const qint64 n = std::min<qint64>(want - have, m_width);
            out.insert(out.end(), m_line.begin(), m_line.begin() + n);
            m_leftover.assign(m_line.begin() + n, m_line.begin() + m_width);
            have += n;
        }
        return std::nullopt;
    }

private:
    static constexpr int kContexts = 365;
    static constexpr int kN0 = 128;
    static constexpr int kS1 = 3;
    static constexpr int kS2 = 7;
    static constexpr int kS3 = 21;
    static constexpr qint64 kMaxWidth = 1 << 20;

    struct Context {
        int used = 0;
        int predictor = 0;
        qint64 average = 4;
        std::array<int, 4> errors{};
    };

    void setPixels(int predictor, int value, int previous)
    {
        m_d = value;
        if (predictor == 1 || predictor == 2) {
            m_a = m_b = m_c = m_x = 128;
            m_d = (m_d - (predictor == 1 ? previous : previous * 11 >> 4) + 128) & 0xFF;
        } else {
            m_a = m_b = m_c = m_x = 0;
        }
    }

    int predict(int predictor) const
    {
        switch (predictor) {
        case 0:
            return m_a;
        case 1:
            return m_b;
        case 2:
            return (m_a + m_b) >> 1;
        default:
            return low8(m_a + m_b - m_c);
        }
    }

    int context(int predictor, int value, int previous)
    {
        m_d = value;
        if (predictor == 1)
            m_d -= previous - 128;
        else if (predictor == 2)
            m_d -= (previous * 11 >> 4) - 128;
        m_d &= 0xFF;
        return std::abs(m_quantizer81[size_t(255 + m_d - m_a)] + m_quantizer9[size_t(255 + m_a - m_c)] +
                        m_quantizer[size_t(255 + m_c - m_b)]);
    }

    int pixel(BitReader &bits, Context &c)
    {
        ++c.used;
        const qint64 epsilon = bits.golombRice(bitLength(c.average / c.used), true);
        const int x = low8(int(predict(c.predictor) + epsilon));
        int best = 0;
        for (int i = 0; i < 4; ++i) {
            c.errors[size_t(i)] += m_difWidth[low8(x - predict(i))];
            if (i == 0 || c.errors[size_t(i)] < c.errors[size_t(best)])
                best = i;
        }
        if (std::any_of(c.errors.begin(), c.errors.end(), [](int e) { return e & 0x80; }))
            for (int &e : c.errors)
                e >>= 1;
        c.predictor = best;
        c.average += std::abs(epsilon);
        if (c.used == kN0) {
            c.used >>= 1;
            c.average >>= 1;
        }
        return x;
    }

    void line(BitReader &bits)
    {
        m_line.assign(size_t(m_width + m_planes), 0);
        const auto at = [](const std::vector<int> &v, int i) { return i < 0 ? v.back() : v[size_t(i)]; };
        for (int plane = 0; plane < m_planes; ++plane) {
            const int model = plane == 0 ? 0 : 1;
            const int predictor = plane == 0 ? 0 : int(bits.read(2));
            if (predictor == 3)
                throw Damaged{};
            setPixels(predictor, m_last[size_t(plane)], at(m_last, plane - 1));
            for (int col = plane; col < m_width; col += m_planes) {
                m_c = m_a;
                m_a = m_d;
                m_b = m_x;
                const int ctx = context(predictor, m_last[size_t(m_planes + col)], m_last[size_t(m_planes + col - 1)]);
                m_x = pixel(bits, m_models[size_t(model)][size_t(ctx)]);
                const int previous = at(m_line, col - 1);
                m_line[size_t(col)] = predictor == 0   ? m_x
                                      : predictor == 1 ? low8(m_x + previous - 128)
                                                       : low8(m_x + (previous * 11 >> 4) - 128);
            }
        }
        m_last = m_line;
    }

    std::array<int, 256> m_difWidth{};
    std::array<int, 511> m_quantizer{};
    std::array<int, 511> m_quantizer9{};
    std::array<int, 511> m_quantizer81{};
    std::array<std::array<Context, kContexts>, 2> m_models{};
    std::vector<int> m_last;
    std::vector<int> m_line;
    std::vector<uchar> m_leftover;
    int m_width = 0;
    int m_planes = 0;
    int m_a = 0, m_b = 0, m_c = 0, m_d = 0, m_x = 0;
};

} // namespace

struct AceDecoder::State {
    std::vector<char> input;
    Lz77 lz;
    Sound sound;
    Picture picture;
};

AceDecoder::AceDecoder() : d(std::make_unique<State>()) {}

AceDecoder::~AceDecoder() = default;

namespace {

// Hands unpacked bytes on, never more than the member's size.
class Output {
public:
    Output(qint64 size, const AceDecoder::Sink &sink) : m_size(size), m_sink(sink) {}
    qint64 produced() const { return m_produced; }
    qint64 left() const { return m_size - m_produced; }
    void give(const uchar *data, size_t n)
    {
        if (qint64(n) > left())
            throw Damaged{};
        if (n > 0 && !m_sink(reinterpret_cast<const char *>(data), qsizetype(n)))
            throw Refused{};
        m_produced += qint64(n);
    }
    void give(const std::vector<uchar> &v) { give(v.data(), v.size()); }

private:
    qint64 m_size;
    qint64 m_produced = 0;
    const AceDecoder::Sink &m_sink;
};

// Undoes the exe filter over one stretch of LZ77 output that arrives in pieces: relative CALL
// and JMP targets were made absolute before packing. Bytes are handed on as soon as nothing
// after them can change them.
class ExeFilter {
public:
    ExeFilter(int mode, Output &out) : m_mode(mode), m_out(out) {}

    qint64 held() const { return qint64(m_bytes.size()); }

    void take(std::vector<uchar> &bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        bytes.clear();
        for (;;) {
            // Straight to the next CALL or JMP opcode.
            const uchar *p = m_bytes.data();
            const size_t end = m_bytes.size() < 4 ? 0 : m_bytes.size() - 4;
            size_t at = m_scan; // a local, which the loop keeps in a register
            while (at < end && (p[at] & 0xFE) != 0xE8)
                ++at;
            m_scan = at;
            if (at >= end)
                break;
            patchAt();
        }
        flush(m_scan);
    }

    // The stretch is over: up to four bytes from a CALL or JMP that the next stretch may still
    // complete are kept back, unless the member ends here.
    std::vector<uchar> finish(bool memberEnds)
    {
        std::vector<uchar> kept;
        if (!memberEnds && m_scan < m_bytes.size()) {
            for (size_t j = m_scan + 1; j < m_bytes.size(); ++j)
                if (m_bytes[j] == 0xE8 || m_bytes[j] == 0xE9) {
                    kept.assign(m_bytes.begin() + qsizetype(j), m_bytes.end());
                    m_bytes.resize(j);
                    break;
                }
        }
        flush(m_bytes.size());
        return kept;
    }

private:
    void patchAt()
    {
        const uchar op = m_bytes[m_scan];
        const qint64 position = m_out.produced() + qint64(m_scan);
        uchar *p = m_bytes.data() + m_scan + 1;
        if (op == 0xE8 && m_mode != 0) {
            const quint32 target = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
            const quint32 relative = target - quint32(position);
            for (int k = 0; k < 4; ++k)
                p[k] = uchar(relative >> (8 * k));
            m_scan += 5;
        } else if (op == 0xE8 || op == 0xE9) {
            const quint16 relative = quint16((p[0] | p[1] << 8) - position);
            p[0] = uchar(relative);
            p[1] = uchar(relative >> 8);
            m_scan += 3;
        } else {
            ++m_scan;
        }
    }

    void flush(size_t n)
    {
        m_out.give(m_bytes.data(), n);
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + qsizetype(n));
        m_scan -= std::min(m_scan, n);
    }

    int m_mode;
    Output &m_out;
    std::vector<uchar> m_bytes;
    size_t m_scan = 0;
};

void unpackStored(Lz77 &lz, const AceDecoder::Source &source, Output &out)
{
    std::vector<uchar> buffer(static_cast<size_t>(kChunk));
    while (out.left() > 0) {
        const qsizetype got = source(reinterpret_cast<char *>(buffer.data()), qsizetype(std::min(out.left(), kChunk)));
        if (got < 0)
            throw Unreadable{};
        if (got == 0)
            throw Damaged{};
        lz.append(buffer.data(), size_t(got));
        out.give(buffer.data(), size_t(got));
    }
}

void unpackLz77(Lz77 &lz, BitReader &bits, Output &out, bool continues)
{
    lz.restart(continues);
    lz.unpackWhole(bits, out.left(), [&out](const uchar *p, size_t n) { out.give(p, n); });
}

struct Engines {
    Lz77 &lz;
    Sound &sound;
    Picture &picture;
};

void unpackBlocked(const Engines &s, BitReader &bits, Output &out, bool continues)
{
    s.lz.restart(continues);
    std::vector<uchar> chunk;
    std::vector<uchar> exeKept;
    std::vector<uchar> delta;
    uchar lastDelta = 0;
    Mode mode;
    std::optional<Mode> next;
    while (out.left() > 0) {
        if (next) {
            if (next->kind != mode.kind) {
                if (next->kind >= Sound8 && next->kind <= Sound32B)
                    s.sound.restart(next->kind);
                else if (next->kind == PictureMode)
                    s.picture.restart(bits);
            }
            mode = *next;
            next.reset();
        }
        chunk.clear();
        switch (mode.kind) {
        case Lz77Delta: {
            if (mode.deltaDistance == 0 || mode.deltaLength < mode.deltaDistance)
                throw Damaged{};
            delta.clear();
            while (qint64(delta.size()) < mode.deltaLength)
                if (auto m = s.lz.read(bits, mode.deltaLength - qint64(delta.size()), delta, true))
                    next = m;
            if (!next && out.left() > mode.deltaLength)
                next = s.lz.modeNext(bits);
            for (uchar &b : delta)
                lastDelta = b = uchar(b + lastDelta);
            // The bytes were stored plane after plane; they go out interleaved again.
            const int planeSize = mode.deltaLength / mode.deltaDistance;
            for (int pos = 0; pos < planeSize; ++pos)
                for (int plane = 0; plane < mode.deltaLength; plane += planeSize) {
                    if (plane + pos >= mode.deltaLength)
                        throw Damaged{};
                    chunk.push_back(delta[size_t(plane + pos)]);
                }
            out.give(chunk);
            break;
        }
        case Lz77Plain:
        case Lz77Exe: {
            // One stretch of LZ77 output, until a mode change or the member's end; the bytes an
            // exe stretch kept back come first.
            std::optional<ExeFilter> exe;
            if (mode.kind == Lz77Exe)
                exe.emplace(mode.exeMode, out);
            chunk.swap(exeKept);
            exeKept.clear();
            if (!exe) {
                out.give(chunk);
                chunk.clear();
            }
            const auto give = [&out](const uchar *p, size_t n) { out.give(p, n); };
            for (;;) {
                const qint64 held = qint64(chunk.size()) + (exe ? exe->held() : 0);
                const qint64 want = std::min(out.left() - held, kChunk);
                if (want > 0) {
                    const bool end = want == out.left() - held;
                    // Plain LZ77 output goes out straight from the dictionary.
                    next = exe ? s.lz.read(bits, want, chunk, end) : s.lz.read(bits, want, give, end);
                }
                if (exe) {
                    exe->take(chunk);
                } else {
                    out.give(chunk);
                    chunk.clear();
                }
                if (next || want <= 0)
                    break;
            }
            // Kept bytes only go on into another LZ77 stretch; before any other mode, or at the
            // member's end, they go out as they are.
            if (exe)
                exeKept = exe->finish(out.left() == exe->held() ||
                                      !(next && (next->kind == Lz77Plain || next->kind == Lz77Exe)));
            break;
        }
        case Sound8:
        case Sound16:
        case Sound32A:
        case Sound32B:
        case PictureMode: {
            const qint64 want = std::min(out.left(), kChunk);
            next = mode.kind == PictureMode ? s.picture.read(bits, want, chunk) : s.sound.read(bits, want, chunk);
            if (chunk.empty() && !next)
                throw Damaged{}; // no progress: the size does not fit the mode
            s.lz.append(chunk.data(), chunk.size());
            out.give(chunk);
            break;
        }
        default:
            throw Damaged{};
        }
    }
}

} // namespace

Result<void> AceDecoder::unpack(int method, quint16 parameters, qint64 size, const Source &source, const Sink &sink,
                                bool continues)
{
    Q_UNUSED(parameters) // the dictionary is always the largest, 4 MB
    if (method > 2)
        return Error(QStringLiteral("unknown packing method %1").arg(method));
    Output out(size, sink);
    try {
        if (method == 0) {
            unpackStored(d->lz, source, out);
        } else {
            BitReader bits(source, d->input);
            if (method == 1)
                unpackLz77(d->lz, bits, out, continues);
            else
                unpackBlocked({d->lz, d->sound, d->picture}, bits, out, continues);
            if (bits.overran())
                throw Damaged{}; // the member's bytes needed bits past its data
        }
    } catch (const Damaged &) {
        return Error(QString::fromLatin1(kDamagedData));
    } catch (const Unreadable &) {
        return Error(QStringLiteral("cannot read the archive"));
    } catch (const Refused &) {
        return Error(QStringLiteral("stopped"));
    }
    return {};
}

} // namespace zelv
