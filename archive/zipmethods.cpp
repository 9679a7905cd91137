#include "zipmethods.h"

#include "libarchive.h"
#include "littleendian.h"
#include "zipcentral.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <lzma.h>
#include <memory>
#include <vector>
#include <zstd.h>

namespace zelv {

namespace {

constexpr size_t kInputPiece = 256 << 10;
constexpr size_t kOutputPiece = 1 << 20;

// ---- Deflate64: deflate with a 64 KiB window, length code 285 taking 16 extra bits from a
// base of 3, and distance codes 30 and 31.

constexpr size_t kWindow = 1 << 16;
constexpr size_t kLongestMatch = 3 + 0xffff;

constexpr std::array<quint16, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::array<quint8, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::array<quint32, 32> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                   49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                   2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<quint8, 32> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// A canonical Huffman code: how many codes of each length, and the symbols in code order.
struct Huffman {
    std::array<quint16, 16> count{};
    std::array<quint16, 320> symbol{};

    // False for a set of lengths that over-subscribes the code or leaves it incomplete beyond
    // a single code (which deflate allows for distances).
    bool build(const quint8 *lengths, int n)
    {
        count.fill(0);
        for (int s = 0; s < n; ++s)
            ++count[lengths[s]];
        if (count[0] == n)
            return true; // no codes: decoding any symbol fails
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left <<= 1;
            left -= count[len];
            if (left < 0)
                return false;
        }
        std::array<quint16, 16> offsets{};
        for (int len = 1; len < 15; ++len)
            offsets[len + 1] = quint16(offsets[len] + count[len]);
        for (int s = 0; s < n; ++s)
            if (lengths[s] != 0)
                symbol[offsets[lengths[s]]++] = quint16(s);
        return true;
    }
};

// A member's packed bytes as bits, lowest first, read from the archive a piece at a time.
// Every read of bits is a unit of work: the stop request is looked at every so many of them,
// so that input that makes no output (or costs much to decode) is stopped all the same.
class BitInput {
public:
    BitInput(const PackedMember &m, const DecodeControl &control)
        : m_member(m)
        , m_control(control)
        , m_in(std::make_unique_for_overwrite<unsigned char[]>(kInputPiece))
    {}

    // False when the member's bytes run out or cannot be read, or decoding is to stop.
    bool bits(int n, quint32 &value)
    {
        if (++m_work == kWorkPerLook) {
            m_work = 0;
            if (m_control.stopRequested && m_control.stopRequested())
                m_stopped = true;
        }
        if (m_stopped)
            return false;
        while (m_bitCount < n) {
            quint32 byte = 0;
            if (!nextByte(byte))
                return false;
            m_bitBuffer |= quint64(byte) << m_bitCount;
            m_bitCount += 8;
        }
        value = quint32(m_bitBuffer & ((quint64(1) << n) - 1));
        m_bitBuffer >>= n;
        m_bitCount -= n;
        return true;
    }

    void toByteBoundary()
    {
        m_bitBuffer >>= m_bitCount % 8;
        m_bitCount -= m_bitCount % 8;
    }

    bool readFailed() const { return m_readFailed; }
    bool stopped() const { return m_stopped; }

    // Why the bits ran out.
    DecodeResult failure() const
    {
        if (m_stopped)
            return DecodeResult::Stopped;
        return m_readFailed ? DecodeResult::ReadError : DecodeResult::DataError;
    }

private:
    static constexpr unsigned kWorkPerLook = 1 << 16;

    bool nextByte(quint32 &byte)
    {
        if (m_inPos == m_inLength) {
            const quint64 left = m_member.packed - m_consumed;
            if (left == 0)
                return false; // the stream needs more than the member holds
            m_inLength = size_t(std::min<quint64>(left, kInputPiece));
            if (!readAt(m_member.fd, m_in.get(), m_inLength, m_member.offset + m_consumed)) {
                m_readFailed = true;
                return false;
            }
            m_consumed += m_inLength;
            m_inPos = 0;
        }
        byte = m_in[m_inPos++];
        return true;
    }

    const PackedMember &m_member;
    const DecodeControl &m_control;
    std::unique_ptr<unsigned char[]> m_in;
    size_t m_inPos = 0, m_inLength = 0;
    quint64 m_consumed = 0;
    quint64 m_bitBuffer = 0;
    int m_bitCount = 0;
    unsigned m_work = 0;
    bool m_readFailed = false;
    bool m_stopped = false;
};

class Inflater64 {
public:
    Inflater64(const PackedMember &m, const DecodeSink &sink, const DecodeControl &control)
        : m_input(m, control)
        , m_sink(sink)
        , m_out(std::make_unique_for_overwrite<unsigned char[]>(kCapacity))
    {}

    DecodeResult run()
    {
        bool last = false;
        while (!last) {
            quint32 header = 0;
            if (!bits(3, header))
                return failure();
            last = header & 1;
            bool ok = false;
            switch (header >> 1) {
            case 0:
                ok = stored();
                break;
            case 1:
                ok = fixed();
                break;
            case 2:
                ok = dynamic();
                break;
            default:
                return DecodeResult::DataError;
            }
            if (!ok)
                return failure();
        }
        if (!flush())
            return DecodeResult::Stopped;
        return DecodeResult::Done;
    }

private:
    // History of a full window, then room for a megabyte of output and one longest match.
    static constexpr size_t kCapacity = kWindow + kOutputPiece + kLongestMatch;

    DecodeResult failure() const { return m_stopped ? DecodeResult::Stopped : m_input.failure(); }

    bool bits(int n, quint32 &value) { return m_input.bits(n, value); }

    bool decode(const Huffman &h, int &symbol)
    {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            quint32 bit = 0;
            if (!bits(1, bit))
                return false;
            code |= int(bit);
            const int count = h.count[len];
            if (code - count < first) {
                symbol = h.symbol[index + (code - first)];
                return true;
            }
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        return false;
    }

    // Hands on what was produced since the last time, keeping a window of history.
    bool flush()
    {
        if (m_pos > m_flushed && !m_sink(m_out.get() + m_flushed, m_pos - m_flushed)) {
            m_stopped = true;
            return false;
        }
        if (m_pos > kWindow) {
            memmove(m_out.get(), m_out.get() + m_pos - kWindow, kWindow);
            m_pos = kWindow;
        }
        m_flushed = m_pos;
        return true;
    }

    bool room(size_t n) { return m_pos + n <= kCapacity || flush(); }

    bool stored()
    {
        m_input.toByteBoundary();
        quint32 length = 0, complement = 0;
        if (!bits(16, length) || !bits(16, complement) || (length ^ 0xffff) != complement)
            return false;
        for (quint32 i = 0; i < length; ++i) {
            quint32 byte = 0;
            if (!bits(8, byte) || !room(1))
                return false;
            m_out[m_pos++] = (unsigned char)(byte);
            ++m_total;
        }
        return true;
    }

    bool fixed()
    {
        static const auto codes = [] {
            std::pair<Huffman, Huffman> c;
            std::array<quint8, 288> lengths{};
            for (int s = 0; s < 288; ++s)
                lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
            c.first.build(lengths.data(), 288);
            lengths.fill(5);
            c.second.build(lengths.data(), 32);
            return c;
        }();
        return codes_(codes.first, codes.second);
    }

    bool dynamic()
    {
        quint32 nlen = 0, ndist = 0, ncode = 0;
        if (!bits(5, nlen) || !bits(5, ndist) || !bits(4, ncode))
            return false;
        nlen += 257;
        ndist += 1;
        ncode += 4;
        if (nlen > 286)
            return false;
        static constexpr std::array<quint8, 19> order = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
        std::array<quint8, 320> lengths{};
        for (quint32 i = 0; i < ncode; ++i) {
            quint32 v = 0;
            if (!bits(3, v))
                return false;
            lengths[order[i]] = quint8(v);
        }
        Huffman lencode;
        if (!lencode.build(lengths.data(), 19))
            return false;
        lengths.fill(0);
        for (quint32 index = 0; index < nlen + ndist;) {
            int symbol = 0;
            if (!decode(lencode, symbol))
                return false;
            if (symbol < 16) {
                lengths[index++] = quint8(symbol);
                continue;
            }
            quint8 value = 0;
            quint32 repeat = 0;
            if (symbol == 16) {
                if (index == 0 || !bits(2, repeat))
                    return false;
                value = lengths[index - 1];
                repeat += 3;
            } else if (symbol == 17) {
                if (!bits(3, repeat))
                    return false;
                repeat += 3;
            } else {
                if (!bits(7, repeat))
                    return false;
                repeat += 11;
            }
            if (index + repeat > nlen + ndist)
                return false;
            while (repeat--)
                lengths[index++] = value;
        }
        if (lengths[256] == 0)
            return false;
        Huffman literals, distances;
        if (!literals.build(lengths.data(), int(nlen)) || !distances.build(lengths.data() + nlen, int(ndist)))
            return false;
        return codes_(literals, distances);
    }

    bool codes_(const Huffman &literals, const Huffman &distances)
    {
        for (;;) {
            int symbol = 0;
            if (!decode(literals, symbol))
                return false;
            if (symbol < 256) {
                if (!room(1))
                    return false;
                m_out[m_pos++] = (unsigned char)(symbol);
                ++m_total;
                continue;
            }
            if (symbol == 256)
                return true;
            symbol -= 257;
            if (symbol >= 29)
                return false;
            quint32 extra = 0;
            if (!bits(kLengthExtra[size_t(symbol)], extra))
                return false;
            const size_t length = kLengthBase[size_t(symbol)] + extra;
            int d = 0;
            if (!decode(distances, d) || d >= 32)
                return false;
            if (!bits(kDistanceExtra[size_t(d)], extra))
                return false;
            const size_t distance = kDistanceBase[size_t(d)] + extra;
            if (distance > m_total || !room(length))
                return false;
            // Byte by byte: a match may overlap what it copies.
            unsigned char *out = m_out.get();
            for (size_t i = 0; i < length; ++i, ++m_pos)
                out[m_pos] = out[m_pos - distance];
            m_total += length;
        }
    }

    BitInput m_input;
    const DecodeSink &m_sink;
    std::unique_ptr<unsigned char[]> m_out;
    size_t m_pos = 0, m_flushed = 0;
    quint64 m_total = 0;
    bool m_stopped = false;
};

// ---- Shrink (method 1): LZW of 9 to 13 bits, where the writer says when the codes grow
// (256, 1) and when the codes no other code continues are given up for reuse (256, 2). It has
// no end mark: the member's declared size ends it.

class Unshrinker {
public:
    Unshrinker(const PackedMember &m, const DecodeSink &sink, const DecodeControl &control)
        : m_input(m, control)
        , m_member(m)
        , m_sink(sink)
        , m_out(std::make_unique_for_overwrite<unsigned char[]>(kOutputPiece))
    {}

    DecodeResult run()
    {
        for (int c = 0; c < kCodes; ++c) {
            m_parent[size_t(c)] = kLiteral;
            m_suffix[size_t(c)] = quint8(c);
            m_leafAt[size_t(c)] = kNotLeaf;
            setFree(c, c > 256); // the control code is never given out
        }
        int codeSize = 9;
        int previous = -1;
        int nextFree = 257;
        while (m_total < m_member.size) {
            quint32 code = 0;
            if (!m_input.bits(codeSize, code))
                return m_input.failure();
            if (code == 256) {
                quint32 control = 0;
                if (!m_input.bits(codeSize, control))
                    return m_input.failure();
                if (control == 1 && codeSize < 13) {
                    ++codeSize;
                } else if (control == 2) {
                    partialClear();
                    nextFree = findFree(257);
                } else {
                    return DecodeResult::DataError;
                }
                continue;
            }
            if (previous < 0) {
                if (code > 255)
                    return DecodeResult::DataError;
                if (!put(quint8(code)))
                    return DecodeResult::Stopped;
                previous = int(code);
                continue;
            }
            // A code not yet defined can only be the one this very step defines.
            const bool defining = m_free[code];
            if (defining && int(code) != nextFree)
                return DecodeResult::DataError;
            if (nextFree < kCodes) {
                const int first = firstOf(defining ? previous : int(code));
                if (first < 0)
                    return DecodeResult::DataError;
                define(nextFree, previous, quint8(first));
                nextFree = findFree(nextFree + 1);
            }
            if (!writeString(int(code)))
                return m_stopped ? DecodeResult::Stopped : DecodeResult::DataError;
            previous = int(code);
        }
        if (m_length > 0 && !m_sink(m_out.get(), m_length))
            return DecodeResult::Stopped;
        return DecodeResult::Done;
    }

private:
    static constexpr int kCodes = 1 << 13;
    static constexpr quint16 kLiteral = 0xffff;
    static constexpr quint16 kNotLeaf = 0xffff;

    void setFree(int c, bool free)
    {
        m_free[size_t(c)] = free;
        const quint64 bit = quint64(1) << (c % 64);
        m_freeBits[size_t(c / 64)] = free ? m_freeBits[size_t(c / 64)] | bit : m_freeBits[size_t(c / 64)] & ~bit;
    }

    int findFree(int from) const
    {
        for (int word = from / 64; word < kCodes / 64; ++word) {
            quint64 bits = m_freeBits[size_t(word)];
            if (word == from / 64)
                bits &= ~quint64(0) << (from % 64);
            if (bits)
                return word * 64 + std::countr_zero(bits);
        }
        return kCodes;
    }

    // The codes in use that no code in use continues are the leaves, kept as a list so that a
    // partial clear costs what it frees, not the whole table: runs of clears cannot be made to
    // cost more than the codes they give back.
    void addLeaf(int c)
    {
        m_leafAt[size_t(c)] = quint16(m_leaves.size());
        m_leaves.push_back(quint16(c));
    }

    void removeLeaf(int c)
    {
        const quint16 at = m_leafAt[size_t(c)];
        if (at == kNotLeaf)
            return;
        const quint16 last = m_leaves.back();
        m_leaves[at] = last;
        m_leafAt[last] = at;
        m_leaves.pop_back();
        m_leafAt[size_t(c)] = kNotLeaf;
    }

    void define(int code, int parent, quint8 suffix)
    {
        m_parent[size_t(code)] = quint16(parent);
        m_suffix[size_t(code)] = suffix;
        setFree(code, false);
        // A code given out again may still be continued by codes of its earlier string.
        if (m_children[size_t(code)] == 0)
            addLeaf(code);
        if (parent > 256 && m_children[size_t(parent)]++ == 0)
            removeLeaf(parent);
    }

    // Every code that no other code continues becomes free again; its string stays readable
    // until the code is given out anew, as the writer's last code may be among them. Codes
    // that become leaves by this clear wait for the next one.
    void partialClear()
    {
        std::vector<quint16> freed;
        freed.swap(m_leaves);
        for (const quint16 c : freed) {
            m_leafAt[c] = kNotLeaf;
            setFree(c, true);
        }
        for (const quint16 c : freed) {
            const quint16 parent = m_parent[c];
            if (parent > 256 && parent != kLiteral && --m_children[parent] == 0 && !m_free[parent])
                addLeaf(parent);
        }
    }

    // The first byte of a code's string; -1 for a broken chain.
    int firstOf(int code) const
    {
        for (int steps = 0; steps < kCodes; ++steps) {
            const quint16 parent = m_parent[size_t(code)];
            if (parent == kLiteral)
                return m_suffix[size_t(code)];
            code = parent;
        }
        return -1;
    }

    bool writeString(int code)
    {
        size_t depth = 0;
        for (;;) {
            if (depth == m_stack.size())
                return false; // a chain that loops
            const quint16 parent = m_parent[size_t(code)];
            m_stack[depth++] = m_suffix[size_t(code)];
            if (parent == kLiteral)
                break;
            code = parent;
        }
        while (depth > 0)
            if (!put(m_stack[--depth]))
                return false;
        return true;
    }

    bool put(quint8 byte)
    {
        if (m_total == m_member.size)
            return false; // more than the declared size
        m_out[m_length++] = byte;
        ++m_total;
        if (m_length == kOutputPiece) {
            if (!m_sink(m_out.get(), m_length)) {
                m_stopped = true;
                return false;
            }
            m_length = 0;
        }
        return true;
    }

    BitInput m_input;
    const PackedMember &m_member;
    const DecodeSink &m_sink;
    std::array<quint16, kCodes> m_parent{};
    std::array<quint8, kCodes> m_suffix{};
    std::array<quint8, kCodes> m_stack{};
    std::array<bool, kCodes> m_free{};
    std::array<quint64, kCodes / 64> m_freeBits{};
    std::array<quint16, kCodes> m_children{};
    std::array<quint16, kCodes> m_leafAt{};
    std::vector<quint16> m_leaves;
    std::unique_ptr<unsigned char[]> m_out;
    size_t m_length = 0;
    quint64 m_total = 0;
    bool m_stopped = false;
};

// ---- Implode (method 6): LZ77 over a 4 or 8 KiB window whose literals, lengths and distances
// are Shannon-Fano codes, the code lengths stored at the start. A distance reaching before
// the start of the output reads zeros, as PKZIP wrote and read it.

class ShannonFano {
public:
    // Reads a stored tree of n symbols: a count of bytes, each a run of equal code lengths.
    bool read(BitInput &in, int n)
    {
        quint32 bytes = 0;
        if (!in.bits(8, bytes))
            return false;
        std::vector<quint8> lengths;
        lengths.reserve(size_t(n));
        for (quint32 i = 0; i <= bytes; ++i) {
            quint32 run = 0;
            if (!in.bits(8, run))
                return false;
            for (quint32 k = 0; k <= run >> 4; ++k)
                lengths.push_back(quint8((run & 0x0f) + 1));
        }
        if (lengths.size() != size_t(n))
            return false;
        // Codes go out from the longest lengths up, the highest symbol of a length first.
        std::vector<int> order(static_cast<size_t>(n));
        for (int sym = 0; sym < n; ++sym)
            order[size_t(sym)] = sym;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return lengths[size_t(a)] < lengths[size_t(b)]; });
        quint32 code = 0, increment = 0;
        int last = 0;
        for (int i = n - 1; i >= 0; --i) {
            const int sym = order[size_t(i)];
            const int length = lengths[size_t(sym)];
            code += increment;
            if (length != last) {
                last = length;
                increment = 1u << (16 - length);
            }
            if (code > 0xffff)
                return false; // more codes than the lengths leave room for
            const quint32 value = code >> (16 - length);
            if (m_symbols[size_t(length)].empty())
                m_first[size_t(length)] = value;
            m_symbols[size_t(length)].push_back(quint16(sym));
        }
        return true;
    }

    // The first bit read is a code's highest.
    bool decode(BitInput &in, int &symbol) const
    {
        quint32 code = 0;
        for (size_t length = 1; length <= 16; ++length) {
            quint32 bit = 0;
            if (!in.bits(1, bit))
                return false;
            code = code << 1 | bit;
            const std::vector<quint16> &symbols = m_symbols[length];
            if (!symbols.empty() && code >= m_first[length] && code - m_first[length] < symbols.size()) {
                symbol = symbols[code - m_first[length]];
                return true;
            }
        }
        return false;
    }

private:
    std::array<quint32, 17> m_first{};
    std::array<std::vector<quint16>, 17> m_symbols;
};

class Exploder {
public:
    Exploder(const PackedMember &m, const DecodeSink &sink, const DecodeControl &control)
        : m_input(m, control)
        , m_member(m)
        , m_sink(sink)
        , m_out(std::make_unique_for_overwrite<unsigned char[]>(kCapacity))
    {}

    DecodeResult run()
    {
        const bool literalTree = m_member.flags & 4;
        const int lowBits = (m_member.flags & 2) ? 7 : 6;
        const quint32 shortest = literalTree ? 3 : 2;
        ShannonFano literals, lengths, distances;
        if ((literalTree && !literals.read(m_input, 256)) || !lengths.read(m_input, 64) || !distances.read(m_input, 64))
            return failure();
        while (m_total < m_member.size) {
            quint32 isLiteral = 0;
            if (!m_input.bits(1, isLiteral))
                return failure();
            if (isLiteral) {
                int symbol = 0;
                quint32 byte = 0;
                if (literalTree ? !literals.decode(m_input, symbol) : !m_input.bits(8, byte))
                    return failure();
                if (!put(literalTree ? quint8(symbol) : quint8(byte)))
                    return DecodeResult::Stopped;
                continue;
            }
            quint32 low = 0, extra = 0;
            int upper = 0, length = 0;
            if (!m_input.bits(lowBits, low) || !distances.decode(m_input, upper) || !lengths.decode(m_input, length))
                return failure();
            if (length == 63 && !m_input.bits(8, extra))
                return failure();
            const quint64 distance = (quint64(upper) << lowBits | low) + 1;
            // The last match may reach past the declared size: only the size is written.
            for (quint32 n = quint32(length) + extra + shortest; n > 0 && m_total < m_member.size; --n) {
                const quint8 byte = distance > m_total ? 0 : m_out[m_pos - distance];
                if (!put(byte))
                    return DecodeResult::Stopped;
            }
        }
        if (m_pos > m_flushed && !m_sink(m_out.get() + m_flushed, m_pos - m_flushed))
            return DecodeResult::Stopped;
        return DecodeResult::Done;
    }

private:
    static constexpr size_t kHistory = 8 << 10;
    static constexpr size_t kCapacity = kHistory + kOutputPiece;

    DecodeResult failure() const { return m_input.failure(); }

    bool put(quint8 byte)
    {
        if (m_pos == kCapacity) {
            if (!m_sink(m_out.get() + m_flushed, m_pos - m_flushed))
                return false;
            memmove(m_out.get(), m_out.get() + m_pos - kHistory, kHistory);
            m_pos = m_flushed = kHistory;
        }
        m_out[m_pos++] = byte;
        ++m_total;
        return true;
    }

    BitInput m_input;
    const PackedMember &m_member;
    const DecodeSink &m_sink;
    std::unique_ptr<unsigned char[]> m_out;
    size_t m_pos = 0, m_flushed = 0;
    quint64 m_total = 0;
};

// ---- The methods libarchive decodes. It is handed a local header of our own making that
// describes the member with the directory's values, followed by the member's packed bytes as
// they stand in the archive: so it reads exactly the bytes the engine's checks covered, and a
// streamed member's missing local sizes do not matter.

void put16(QByteArray &b, quint64 v) { b.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); }
void put32(QByteArray &b, quint64 v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
void put64(QByteArray &b, quint64 v)
{
    put32(b, v & 0xffffffff);
    put32(b, v >> 32);
}

QByteArray headerFor(const PackedMember &m)
{
    // Only the flags that tell how the data is packed (LZMA's end marker, PPMd's options).
    const quint16 flags = m.flags & 0x0006;
    const bool wide = m.size >= 0xffffffff || m.packed >= 0xffffffff;
    QByteArray h;
    put32(h, 0x04034b50);
    put16(h, 63);
    put16(h, flags);
    put16(h, m.method);
    put32(h, 0);
    put32(h, m.crc);
    put32(h, wide ? 0xffffffff : m.packed);
    put32(h, wide ? 0xffffffff : m.size);
    put16(h, 1);
    put16(h, wide ? 20 : 0);
    h.append('m');
    if (wide) {
        put16(h, 1);
        put16(h, 16);
        put64(h, m.size);
        put64(h, m.packed);
    }
    return h;
}

// The first bytes of a member's packed data, read once: the memory its decoder will take is
// judged by them, and the decoder is handed these very bytes, not a second reading.
constexpr size_t kPrefix = 32;

QByteArray packedPrefix(const PackedMember &m)
{
    QByteArray prefix(qsizetype(std::min<quint64>(kPrefix, m.packed)), Qt::Uninitialized);
    if (!readAt(m.fd, prefix.data(), size_t(prefix.size()), m.offset))
        return {};
    return prefix;
}

struct Feed {
    const PackedMember *member = nullptr;
    const DecodeControl *control = nullptr;
    QByteArray header;        // ours, then the member's first bytes as already read
    quint64 prefixLength = 0; // of those first bytes
    quint64 position = 0;     // in the header, then in the packed data after the prefix
    std::unique_ptr<unsigned char[]> buffer = std::make_unique_for_overwrite<unsigned char[]>(kInputPiece);
    bool readFailed = false;
    bool stopped = false;
};

bool stopRequested(const DecodeControl &control) { return control.stopRequested && control.stopRequested(); }

la_ssize_t feedRead(struct archive *a, void *data, const void **block)
{
    Feed &f = *static_cast<Feed *>(data);
    if (stopRequested(*f.control)) {
        f.stopped = true;
        libArchive()->set_error(a, ECANCELED, "stopped");
        return -1;
    }
    const quint64 headerSize = quint64(f.header.size());
    if (f.position < headerSize) {
        *block = f.header.constData() + f.position;
        const quint64 n = headerSize - f.position;
        f.position = headerSize;
        return la_ssize_t(n);
    }
    const quint64 done = f.position - headerSize + f.prefixLength;
    const size_t n = size_t(std::min<quint64>(kInputPiece, f.member->packed - done));
    if (n == 0)
        return 0;
    if (!readAt(f.member->fd, f.buffer.get(), n, f.member->offset + done)) {
        f.readFailed = true;
        libArchive()->set_error(a, EIO, "cannot read the archive");
        return -1;
    }
    f.position += n;
    *block = f.buffer.get();
    return la_ssize_t(n);
}

struct ArchiveFree {
    void operator()(struct archive *a) const { libArchive()->read_free(a); }
};

// PPMd's model takes the megabytes its first two bytes name (1 to 256).
quint64 ppmdMemory(const QByteArray &prefix)
{
    if (prefix.size() < 2)
        return 0;
    const unsigned v = unsigned(quint8(prefix[0])) | unsigned(quint8(prefix[1])) << 8;
    return quint64(((v >> 4) & 0xff) + 1) << 20;
}

DecodeResult decodeByLibarchive(const PackedMember &m, const DecodeSink &sink, DecodeControl &control)
{
    // The engine asks only once methodIsDecoded() has found the library there.
    const LibArchive *opened = libArchive();
    if (!opened)
        return DecodeResult::DataError;
    const LibArchive &la = *opened;
    Feed feed;
    feed.member = &m;
    feed.control = &control;
    const QByteArray prefix = packedPrefix(m);
    if (prefix.size() < qsizetype(std::min<quint64>(kPrefix, m.packed)))
        return DecodeResult::ReadError;
    if (m.method == 98 && ppmdMemory(prefix) > control.memoryLimit) {
        control.memoryNeeded = ppmdMemory(prefix);
        return DecodeResult::TooMuchMemory;
    }
    feed.header = headerFor(m) + prefix;
    feed.prefixLength = quint64(prefix.size());
    std::unique_ptr<struct archive, ArchiveFree> a(la.read_new());
    const auto failed = [&feed] {
        if (feed.stopped)
            return DecodeResult::Stopped;
        return feed.readFailed ? DecodeResult::ReadError : DecodeResult::DataError;
    };
    // The engine checks the CRC itself, over every byte; libarchive's own check would hold
    // back the last piece and blur a CRC error into a data error.
    if (!a || la.read_support_format_zip_streamable(a.get()) != ARCHIVE_OK ||
        la.read_set_format_option(a.get(), "zip", "ignorecrc32", "1") != ARCHIVE_OK ||
        la.read_open(a.get(), &feed, nullptr, feedRead, nullptr) != ARCHIVE_OK)
        return failed();
    struct archive_entry *entry = nullptr;
    const int header = la.read_next_header(a.get(), &entry);
    if (header != ARCHIVE_OK && header != ARCHIVE_WARN)
        return failed();
    // Small pieces: PPMd makes a few megabytes a second, and the stop request is looked at
    // between pieces.
    constexpr size_t kPiece = 64 << 10;
    const auto out = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
    for (;;) {
        if (stopRequested(control))
            return DecodeResult::Stopped;
        const la_ssize_t n = la.read_data(a.get(), out.get(), kPiece);
        if (n == 0)
            return DecodeResult::Done;
        if (n < 0)
            return failed();
        if (!sink(out.get(), size_t(n)))
            return DecodeResult::Stopped;
    }
}

// ---- LZMA (14) and XZ (95), through liblzma with the memory limit set in the decoder.
//
// A zip's LZMA data starts with a version (2 bytes), the length of the properties (2 bytes,
// always 5) and the properties: lc/lp/pb in one byte, then the dictionary's size. The size the
// directory declares ends the stream; an end marker after it is allowed, whether or not the
// flags announce it.

struct LzmaEnd {
    void operator()(lzma_stream *s) const
    {
        lzma_end(s);
        delete s;
    }
};
using LzmaStream = std::unique_ptr<lzma_stream, LzmaEnd>;

LzmaStream newLzmaStream() { return LzmaStream(new lzma_stream(LZMA_STREAM_INIT)); }

constexpr size_t kLzmaHeader = 9;

// The memory the raw LZMA decoder of these properties takes; 0 when they are not valid.
quint64 lzmaMemory(const QByteArray &prefix, lzma_options_lzma *options = nullptr)
{
    if (prefix.size() < qsizetype(kLzmaHeader) || prefix[2] != 5 || prefix[3] != 0)
        return 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t *>(prefix.constData()) + 4, 5) !=
        LZMA_OK)
        return 0;
    const quint64 memory = lzma_raw_decoder_memusage(filters);
    if (options)
        *options = *static_cast<lzma_options_lzma *>(filters[0].options);
    free(filters[0].options);
    return memory == UINT64_MAX ? 0 : memory;
}

// The memory the first block of an XZ stream asks for; 0 when its headers cannot be read.
quint64 xzMemory(const PackedMember &m, const QByteArray &prefix)
{
    lzma_stream_flags flags{};
    if (prefix.size() < qsizetype(LZMA_STREAM_HEADER_SIZE) ||
        lzma_stream_header_decode(&flags, reinterpret_cast<const uint8_t *>(prefix.constData())) != LZMA_OK ||
        m.packed < LZMA_STREAM_HEADER_SIZE + 1)
        return 0;
    uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
    if (!readAt(m.fd, header, 1, m.offset + LZMA_STREAM_HEADER_SIZE) || header[0] == 0)
        return 0; // no block: the index follows at once
    const quint32 size = lzma_block_header_size_decode(header[0]);
    if (m.packed < LZMA_STREAM_HEADER_SIZE + size || !readAt(m.fd, header, size, m.offset + LZMA_STREAM_HEADER_SIZE))
        return 0;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block{};
    block.version = 1;
    block.header_size = size;
    block.check = flags.check;
    block.filters = filters;
    if (lzma_block_header_decode(&block, nullptr, header) != LZMA_OK)
        return 0;
    const quint64 memory = lzma_raw_decoder_memusage(filters);
    lzma_filters_free(filters, nullptr);
    return memory == UINT64_MAX ? 0 : memory;
}

DecodeResult decodeLzma(const PackedMember &m, const DecodeSink &sink, DecodeControl &control)
{
    const QByteArray prefix = packedPrefix(m);
    if (prefix.size() < qsizetype(std::min<quint64>(kPrefix, m.packed)))
        return DecodeResult::ReadError;
    LzmaStream stream = newLzmaStream();
    quint64 start = 0; // where the compressed stream starts in the packed data
    if (m.method == 14) {
        lzma_options_lzma options{};
        const quint64 memory = lzmaMemory(prefix, &options);
        if (memory == 0)
            return DecodeResult::DataError;
        if (memory > control.memoryLimit) {
            control.memoryNeeded = memory;
            return DecodeResult::TooMuchMemory;
        }
        options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzma_set_ext_size(options, m.size);
        const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_raw_decoder(stream.get(), filters) != LZMA_OK)
            return DecodeResult::DataError;
        start = kLzmaHeader;
    } else {
        const quint64 memory = xzMemory(m, prefix);
        if (memory > control.memoryLimit) {
            control.memoryNeeded = memory;
            return DecodeResult::TooMuchMemory;
        }
        // A later block that asks for more is held to the limit all the same.
        if (lzma_stream_decoder(stream.get(), control.memoryLimit, LZMA_CONCATENATED) != LZMA_OK)
            return DecodeResult::DataError;
    }
    const auto in = std::make_unique_for_overwrite<unsigned char[]>(kInputPiece);
    const auto out = std::make_unique_for_overwrite<unsigned char[]>(kOutputPiece);
    quint64 done = start;
    for (;;) {
        if (stopRequested(control))
            return DecodeResult::Stopped;
        lzma_action action = LZMA_RUN;
        if (stream->avail_in == 0) {
            const size_t n = size_t(std::min<quint64>(kInputPiece, m.packed - std::min(done, m.packed)));
            if (n > 0 && !readAt(m.fd, in.get(), n, m.offset + done))
                return DecodeResult::ReadError;
            done += n;
            stream->next_in = in.get();
            stream->avail_in = n;
            if (n == 0)
                action = LZMA_FINISH;
        }
        stream->next_out = out.get();
        stream->avail_out = kOutputPiece;
        const lzma_ret r = lzma_code(stream.get(), action);
        const size_t got = kOutputPiece - stream->avail_out;
        if (got > 0 && !sink(out.get(), got))
            return DecodeResult::Stopped;
        if (r == LZMA_STREAM_END)
            return DecodeResult::Done;
        if (r == LZMA_MEMLIMIT_ERROR) {
            control.memoryNeeded = lzma_memusage(stream.get());
            return DecodeResult::TooMuchMemory;
        }
        if (r != LZMA_OK || (action == LZMA_FINISH && got == 0))
            return DecodeResult::DataError;
    }
}

// ---- Zstandard, through libzstd's streaming decoder (libarchive's zip reader here knows no
// Zstandard), its window held to the memory limit.

struct DStreamFree {
    void operator()(ZSTD_DStream *d) const { ZSTD_freeDStream(d); }
};

// The window the first frame's header asks for; 0 when it is not a frame's header.
quint64 zstandardMemory(const QByteArray &prefix)
{
    const auto *p = reinterpret_cast<const unsigned char *>(prefix.constData());
    const size_t n = size_t(prefix.size());
    if (n < 6 || le32(p) != 0xfd2fb528)
        return 0;
    const unsigned descriptor = p[4];
    if (!(descriptor & 0x20)) { // a window descriptor: an exponent and eighths of it
        const unsigned w = p[5];
        const quint64 base = quint64(1) << (10 + (w >> 3));
        return base + base / 8 * (w & 7);
    }
    // A single segment: the window is the frame's content, its size after the dictionary's id.
    static constexpr size_t kIdLength[4] = {0, 1, 2, 4};
    static constexpr size_t kSizeLength[4] = {1, 2, 4, 8};
    const size_t at = 5 + kIdLength[descriptor & 3];
    const size_t length = kSizeLength[descriptor >> 6];
    if (n < at + length)
        return 0;
    quint64 size = 0;
    for (size_t i = length; i > 0; --i)
        size = size << 8 | p[at + i - 1];
    return length == 2 ? size + 256 : size;
}

DecodeResult decodeZstandard(const PackedMember &m, const DecodeSink &sink, DecodeControl &control)
{
    const QByteArray prefix = packedPrefix(m);
    if (prefix.size() < qsizetype(std::min<quint64>(kPrefix, m.packed)))
        return DecodeResult::ReadError;
    if (const quint64 window = zstandardMemory(prefix); window > control.memoryLimit) {
        control.memoryNeeded = window;
        return DecodeResult::TooMuchMemory;
    }
    std::unique_ptr<ZSTD_DStream, DStreamFree> stream(ZSTD_createDStream());
    if (!stream || ZSTD_isError(ZSTD_initDStream(stream.get())) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(stream.get(), ZSTD_d_windowLogMax,
                                            std::bit_width(std::max<quint64>(control.memoryLimit, 1 << 10)) - 1)))
        return DecodeResult::DataError;
    const auto in = std::make_unique_for_overwrite<unsigned char[]>(kInputPiece);
    const auto out = std::make_unique_for_overwrite<unsigned char[]>(kOutputPiece);
    size_t pending = 1; // nonzero until a frame has ended
    bool outputFull = false;
    const auto step = [&](ZSTD_inBuffer &input) {
        if (stopRequested(control))
            return DecodeResult::Stopped;
        ZSTD_outBuffer output{out.get(), kOutputPiece, 0};
        pending = ZSTD_decompressStream(stream.get(), &output, &input);
        if (ZSTD_isError(pending))
            return DecodeResult::DataError;
        outputFull = output.pos == output.size;
        if (output.pos > 0 && !sink(out.get(), output.pos))
            return DecodeResult::Stopped;
        return DecodeResult::Done;
    };
    for (quint64 done = 0; done < m.packed;) {
        const size_t n = size_t(std::min<quint64>(kInputPiece, m.packed - done));
        if (!readAt(m.fd, in.get(), n, m.offset + done))
            return DecodeResult::ReadError;
        done += n;
        ZSTD_inBuffer input{in.get(), n, 0};
        while (input.pos < input.size)
            if (const DecodeResult r = step(input); r != DecodeResult::Done)
                return r;
    }
    // Output the last input left behind a full buffer; a frame that ended exactly as the
    // buffer filled has nothing left, and the next call would only ask for a new frame.
    while (outputFull && pending != 0) {
        ZSTD_inBuffer none{nullptr, 0, 0};
        if (const DecodeResult r = step(none); r != DecodeResult::Done)
            return r;
    }
    return pending == 0 ? DecodeResult::Done : DecodeResult::DataError;
}

} // namespace

bool methodIsDecoded(quint16 method)
{
    switch (method) {
    case 1:
    case 6:
    case 9:
    case 14:
    case 20:
    case 93:
    case 95:
        return true;
    case 12: // BZip2
    case 98: // PPMd
        return libArchive() != nullptr;
    default:
        return false;
    }
}

quint64 declaredMemory(const PackedMember &member)
{
    switch (member.method) {
    case 14:
        return lzmaMemory(packedPrefix(member));
    case 20:
    case 93:
        return zstandardMemory(packedPrefix(member));
    case 95:
        return xzMemory(member, packedPrefix(member));
    case 98:
        return ppmdMemory(packedPrefix(member));
    default:
        return 0;
    }
}

DecodeResult decodeMember(const PackedMember &member, const DecodeSink &sink, DecodeControl &control)
{
    switch (member.method) {
    case 1:
        return Unshrinker(member, sink, control).run();
    case 6:
        return Exploder(member, sink, control).run();
    case 9:
        return Inflater64(member, sink, control).run();
    case 14:
    case 95:
        return decodeLzma(member, sink, control);
    case 20:
    case 93:
        return decodeZstandard(member, sink, control);
    default:
        return decodeByLibarchive(member, sink, control);
    }
}

} // namespace zelv
