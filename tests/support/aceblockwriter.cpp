#include "aceblockwriter.h"

#include "bytewriting.h"

#include "archive/ace/acehuffman.h"
#include "setwriters.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <queue>

namespace zelv::test {

namespace {

constexpr int kMaxCodeWidth = 11;
constexpr int kMainSymbols = 285; // literals, four repeats, 23 distance widths, mode change, one spare
constexpr int kLengthSymbols = 256;
constexpr int kModeChange = 283;
constexpr int kSoundSymbols = 290;
constexpr int kSoundModeChange = 288;
constexpr int kSoundMaxWidth = 10;
constexpr int kWidthCodeWidth = 7;

int bitLength(qint64 v)
{
    int n = 0;
    for (; v > 0; v >>= 1)
        ++n;
    return n;
}

uchar low8(int v) { return uchar(v & 0xFF); }

} // namespace

void AceBlockWriter::put(quint32 value, int width)
{
    if (width == 0)
        return;
    if (m_capture) {
        m_capture->emplace_back(value, width);
        return;
    }
    const quint64 v = quint64(value) & ((quint64(1) << width) - 1);
    m_word |= v << (64 - m_used - width);
    m_used += width;
    while (m_used >= 32) {
        const quint32 w = quint32(m_word >> 32);
        for (int k = 0; k < 4; ++k)
            m_out.append(char(w >> (8 * k)));
        m_word <<= 32;
        m_used -= 32;
    }
}

std::vector<quint8> AceBlockWriter::widthsFor(std::vector<quint32> counts, int maxWidth)
{
    int used = int(std::count_if(counts.begin(), counts.end(), [](quint32 c) { return c > 0; }));
    for (size_t i = 0; i < counts.size() && used < 2; ++i)
        if (counts[i] == 0) {
            counts[i] = 1;
            ++used;
        }
    const size_t n = counts.size();
    for (;;) {
        // Huffman's construction; parents after the leaves.
        std::vector<int> parent(2 * n, -1);
        using Node = std::pair<quint64, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<>> heap;
        for (size_t i = 0; i < n; ++i)
            if (counts[i] > 0)
                heap.push({counts[i], int(i)});
        int next = int(n);
        while (heap.size() > 1) {
            const Node a = heap.top();
            heap.pop();
            const Node b = heap.top();
            heap.pop();
            parent[size_t(a.second)] = parent[size_t(b.second)] = next;
            heap.push({a.first + b.first, next++});
        }
        std::vector<quint8> widths(n, 0);
        bool fits = true;
        for (size_t i = 0; i < n; ++i) {
            if (counts[i] == 0)
                continue;
            int depth = 0;
            for (int p = parent[i]; p >= 0; p = parent[size_t(p)])
                ++depth;
            fits = fits && depth <= maxWidth;
            widths[i] = quint8(depth);
        }
        if (fits)
            return widths;
        for (quint32 &c : counts)
            if (c > 0)
                c = (c >> 1) | 1;
    }
}

std::vector<quint32> AceBlockWriter::codesFor(int maxWidth, std::vector<quint8> widths, int count)
{
    // The reader sorts the first count widths only, and the order its sort leaves equal
    // widths in depends on that range: the count must be the reader's.
    if (count == 0) {
        count = int(widths.size());
        while (count > 1 && widths[size_t(count) - 1] == 0)
            --count;
    }
    std::vector<quint16> order(widths.size());
    const int used = ace::codeOrder(maxWidth, count, widths.data(), int(widths.size()), order.data());
    // Every symbol's code is the first pattern of the reader's table that leads to it.
    std::vector<quint32> codes(widths.size(), 0);
    quint32 at = 0;
    for (int k = 0; k < used; ++k) {
        const int width = widths[order[size_t(k)]];
        codes[order[size_t(k)]] = at >> (maxWidth - width);
        at += 1u << (maxWidth - width);
    }
    return codes;
}

void AceBlockWriter::putTable(const std::vector<quint8> &widths)
{
    int numWidths = int(widths.size());
    while (numWidths > 1 && widths[size_t(numWidths) - 1] == 0)
        --numWidths;
    int least = 99, most = 0;
    for (int i = 0; i < numWidths; ++i)
        if (widths[size_t(i)] > 0) {
            least = std::min<int>(least, widths[size_t(i)]);
            most = std::max<int>(most, widths[size_t(i)]);
        }
    // Widths above `lower` become 1..upper-1, then differences modulo upper; runs of at
    // least four zero differences go as the symbol `upper` with their length.
    const int lower = least - 1;
    const int upper = most - lower + 1;
    std::vector<int> reduced(size_t(numWidths), 0), coded(size_t(numWidths), 0);
    for (int i = 0; i < numWidths; ++i)
        reduced[size_t(i)] = widths[size_t(i)] > 0 ? widths[size_t(i)] - lower : 0;
    for (int i = 0; i < numWidths; ++i)
        coded[size_t(i)] = i == 0 ? reduced[0] : (reduced[size_t(i)] - reduced[size_t(i) - 1] + upper) % upper;
    struct Item {
        int symbol;
        int run;
    };
    std::vector<Item> items;
    std::vector<quint32> counts(16, 0);
    for (int i = 0; i < numWidths;) {
        int run = 0;
        while (i + run < numWidths && coded[size_t(i + run)] == 0 && run < 19)
            ++run;
        if (run >= 4) {
            items.push_back({upper, run - 4});
            ++counts[size_t(upper)];
            i += run;
        } else {
            items.push_back({coded[size_t(i)], 0});
            ++counts[size_t(coded[size_t(i)])];
            ++i;
        }
    }
    counts.resize(size_t(upper) + 1);
    std::vector<quint8> widthWidths = widthsFor(counts, kWidthCodeWidth);
    widthWidths.resize(16, 0);
    put(quint32(numWidths - 1), 9);
    put(quint32(lower), 4);
    put(quint32(upper), 4);
    for (int i = 0; i <= upper; ++i)
        put(widthWidths[size_t(i)], 3);
    const std::vector<quint32> widthCodes = codesFor(kWidthCodeWidth, widthWidths, upper + 1);
    for (const Item &item : items) {
        put(widthCodes[size_t(item.symbol)], widthWidths[size_t(item.symbol)]);
        if (item.symbol == upper)
            put(quint32(item.run), 4);
    }
}

int AceBlockWriter::minLength(quint32 distance)
{
    const quint32 stored = distance - 1;
    return stored <= 255 ? 2 : stored <= 8191 ? 3 : 4;
}

void AceBlockWriter::note(quint32 stored)
{
    std::copy(m_history.begin() + 1, m_history.end(), m_history.begin());
    m_history[3] = stored;
}

AceBlockWriter::Capture::Capture(AceBlockWriter *w) : m_writer(w)
{
    // Data of another mode inside an open block: it is kept and goes out right after the
    // mode change that started it, before the block's remaining symbols.
    if (w->m_block.empty() || w->m_block.back().symbol != kModeChange || w->m_capture)
        return;
    w->m_foreign.emplace_back();
    w->m_block.back().extra = quint32(w->m_foreign.size());
    w->m_capture = &w->m_foreign.back();
    m_active = true;
}

AceBlockWriter::Capture::~Capture()
{
    if (m_active)
        m_writer->m_capture = nullptr;
}

void AceBlockWriter::literal(uchar c) { m_block.push_back({c, 0, 0, 0}); }

void AceBlockWriter::match(quint32 distance, int length)
{
    const quint32 stored = distance - 1;
    const int bits = bitLength(stored);
    const int extraWidth = bits < 2 ? 0 : bits - 1;
    m_block.push_back(
        {quint16(260 + bits), quint16(length - minLength(distance)), stored & ((1u << extraWidth) - 1), extraWidth});
    note(stored);
}

void AceBlockWriter::repeat(int which, int length)
{
    const int at = 3 - which;
    const quint32 stored = m_history[size_t(at)];
    std::copy(m_history.begin() + at + 1, m_history.end(), m_history.begin() + at);
    m_history[3] = stored;
    m_block.push_back({quint16(256 + which), quint16(length - (which > 1 ? 3 : 2)), 0, 0});
}

void AceBlockWriter::putMode(const Change &c)
{
    put(quint32(c.mode), 8);
    if (c.mode == Delta) {
        put(quint32(c.deltaDistance), 8);
        put(quint32(c.deltaLength), 17);
    } else if (c.mode == Exe) {
        put(quint32(c.exeMode), 8);
    }
}

void AceBlockWriter::enter(const Change &c)
{
    // The sound decoder starts afresh only when the kind changes.
    if (c.mode >= Sound8 && c.mode <= Sound32B && c.mode != m_kind)
        m_channels = {};
    m_kind = c.mode;
}

void AceBlockWriter::change(const Change &to, bool endsBlock)
{
    m_block.push_back({kModeChange, 0, 0, 0});
    m_pendingChanges.push_back(to);
    enter(to);
    if (endsBlock)
        endBlock();
}

void AceBlockWriter::endBlock()
{
    if (m_block.empty())
        return;
    std::vector<quint32> mainCounts(kMainSymbols, 0), lengthCounts(kLengthSymbols, 0);
    for (const Symbol &s : m_block) {
        ++mainCounts[s.symbol];
        if (s.symbol >= 256 && s.symbol < kModeChange)
            ++lengthCounts[s.length];
    }
    const std::vector<quint8> mainWidths = widthsFor(mainCounts, kMaxCodeWidth);
    const std::vector<quint8> lengthWidths = widthsFor(lengthCounts, kMaxCodeWidth);
    putTable(mainWidths);
    putTable(lengthWidths);
    const std::vector<quint32> mainCodes = codesFor(kMaxCodeWidth, mainWidths);
    const std::vector<quint32> lengthCodes = codesFor(kMaxCodeWidth, lengthWidths);
    put(quint32(m_block.size()), 15);
    int changes = 0;
    for (const Symbol &s : m_block) {
        put(mainCodes[s.symbol], mainWidths[s.symbol]);
        if (s.symbol == kModeChange) {
            putMode(m_pendingChanges[size_t(changes++)]);
            // Sound or picture data that this change started goes right after it.
            if (s.extra > 0)
                for (const auto &[value, width] : m_foreign[s.extra - 1])
                    put(value, width);
        } else if (s.symbol >= 256) {
            put(s.extra, s.extraWidth);
            put(lengthCodes[s.length], lengthWidths[s.length]);
        }
    }
    m_block.clear();
    m_pendingChanges.clear();
    m_foreign.clear();
}

void AceBlockWriter::pack(const QByteArray &data, int window, int blockSymbols, qsizetype from)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const int n = int(data.size());
    constexpr int kHashBits = 15;
    std::vector<int> head(size_t(1) << kHashBits, -1), previous(size_t(n), -1);
    const auto hashAt = [&](int i) { return ((p[i] << 10) ^ (p[i + 1] << 5) ^ p[i + 2]) & ((1 << kHashBits) - 1); };
    const auto insert = [&](int i) {
        if (i + 2 < n) {
            const int h = hashAt(i);
            previous[size_t(i)] = head[size_t(h)];
            head[size_t(h)] = i;
        }
    };
    const auto common = [&](int i, int from, int most) {
        int k = 0;
        while (k < most && i + k < n && p[from + k] == p[i + k])
            ++k;
        return k;
    };
    for (int i = 0; i < int(from); ++i)
        insert(i);
    for (int i = int(from); i < n;) {
        int bestRepeat = -1, repeatLength = 0;
        for (int which = 0; which < 4; ++which) {
            const quint32 distance = m_history[size_t(3 - which)] + 1;
            if (distance > quint32(i))
                continue;
            const int least = which > 1 ? 3 : 2;
            const int k = common(i, i - int(distance), least + 254);
            if (k >= least && k > repeatLength) {
                bestRepeat = which;
                repeatLength = k;
            }
        }
        int bestDistance = 0, matchLength = 0;
        if (i + 2 < n) {
            int chain = 0;
            for (int at = head[size_t(hashAt(i))]; at >= 0 && i - at <= window && chain < 48;
                 at = previous[size_t(at)], ++chain) {
                const quint32 distance = quint32(i - at);
                const int k = common(i, at, maxLength(distance));
                if (k >= minLength(distance) && k > matchLength) {
                    bestDistance = int(distance);
                    matchLength = k;
                }
            }
        }
        int step = 1;
        if (bestRepeat >= 0 && repeatLength + 1 >= matchLength) {
            repeat(bestRepeat, repeatLength);
            step = repeatLength;
        } else if (matchLength > 0) {
            match(quint32(bestDistance), matchLength);
            step = matchLength;
        } else {
            literal(p[i]);
        }
        for (int k = 0; k < step; ++k)
            insert(i + k);
        i += step;
        if (int(m_block.size()) >= blockSymbols)
            endBlock();
    }
}

qint64 AceBlockWriter::sound(int kind, const QList<int> &codes, const Change &after, int blockSymbols)
{
    static constexpr int kChannels[4] = {1, 2, 3, 3};
    static constexpr int kChannelOf[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};
    const Capture capture(this);
    const int mode = kind - Sound8;
    const int models = 3 * kChannels[mode];
    std::vector<std::pair<int, int>> symbols; // model, code
    const auto flush = [&](bool withChange) {
        if (symbols.empty())
            return;
        std::vector<std::vector<quint32>> counts(size_t(models), std::vector<quint32>(kSoundSymbols, 0));
        for (const auto &[model, code] : symbols)
            ++counts[size_t(model)][size_t(code)];
        std::vector<std::vector<quint8>> widths;
        std::vector<std::vector<quint32>> codesOf;
        for (int m = 0; m < models; ++m) {
            widths.push_back(widthsFor(counts[size_t(m)], kSoundMaxWidth));
            codesOf.push_back(codesFor(kSoundMaxWidth, widths.back()));
            putTable(widths.back());
        }
        put(quint32(symbols.size()), 15);
        for (const auto &[model, code] : symbols)
            put(codesOf[size_t(model)][size_t(code)], widths[size_t(model)][size_t(code)]);
        if (withChange) {
            putMode(after);
            enter(after);
        }
        symbols.clear();
    };
    qint64 pos = 0;
    qsizetype next = 0;
    for (;; ++pos) {
        Channel &c = m_channels[size_t(kChannelOf[mode][pos % 4])];
        if (c.state != 2) {
            const int model = (c.state << 1) + (c.state == 0 ? c.adaptUse : 0) + 3 * kChannelOf[mode][pos % 4];
            if (next == codes.size()) {
                if (after.mode >= 0) {
                    symbols.emplace_back(model, kSoundModeChange);
                    flush(true);
                }
                break;
            }
            c.code = std::abs(codes[next++]) % kSoundModeChange;
            symbols.emplace_back(model, c.code);
            if (int(symbols.size()) >= blockSymbols)
                flush(false);
        }
        if (c.state == 0) {
            if (c.code >= 32) {
                c.adaptCount = (c.adaptCount * 7 >> 3) + (c.code - 32);
                c.adaptUse = c.adaptCount > 40 ? 1 : 0;
            } else {
                c.state = 2;
            }
        } else if (c.state == 1) {
            c.state = 0;
        }
        if (c.state == 2) {
            if (c.code == 0)
                c.state = 1;
            else
                --c.code;
        }
    }
    flush(false);
    return pos;
}

namespace {

// The picture model as the decoder keeps it, to know each error's code width and the bytes.
class PictureModel {
public:
    PictureModel(int width, int planes) : m_width(width), m_planes(planes)
    {
        for (int i = 0; i < 128; ++i)
            m_difWidth[size_t(i)] = bitLength(2 * i);
        for (int i = -128; i < 0; ++i)
            m_difWidth[size_t(256 + i)] = bitLength(-2 * i - 1);
        m_last.assign(size_t(width + planes), 0);
    }

    // One line: bits get the codes, line the bytes.
    void line(const std::function<void(quint32, int)> &put, const int *errors, int predictorOfPlanes,
              std::vector<int> &out)
    {
        std::vector<int> line(size_t(m_width + m_planes), 0);
        const auto at = [](const std::vector<int> &v, int i) { return i < 0 ? v.back() : v[size_t(i)]; };
        for (int plane = 0; plane < m_planes; ++plane) {
            const int model = plane == 0 ? 0 : 1;
            const int predictor = plane == 0 ? 0 : predictorOfPlanes;
            if (plane > 0)
                put(quint32(predictor), 2);
            const int previousPlane = at(m_last, plane - 1);
            m_d = m_last[size_t(plane)];
            if (predictor != 0) {
                m_a = m_b = m_c = m_x = 128;
                m_d = (m_d - (predictor == 1 ? previousPlane : previousPlane * 11 >> 4) + 128) & 0xFF;
            } else {
                m_a = m_b = m_c = m_x = 0;
            }
            for (int col = plane; col < m_width; col += m_planes) {
                m_c = m_a;
                m_a = m_d;
                m_b = m_x;
                const int above = m_last[size_t(m_planes + col)];
                const int aboveLeft = m_last[size_t(m_planes + col - 1)];
                m_d = above;
                if (predictor == 1)
                    m_d -= aboveLeft - 128;
                else if (predictor == 2)
                    m_d -= (aboveLeft * 11 >> 4) - 128;
                m_d &= 0xFF;
                const int ctx = std::abs(81 * quantize(m_d - m_a) + 9 * quantize(m_a - m_c) + quantize(m_c - m_b));
                Context &c = m_models[size_t(model)][size_t(ctx)];
                ++c.used;
                const int k = bitLength(c.average / c.used);
                const int epsilon = errors[col];
                const quint32 v = epsilon >= 0 ? quint32(2 * epsilon) : quint32(-2 * epsilon - 1);
                put(v & ((1u << k) - 1), k);
                for (quint32 q = v >> k; q > 0; --q)
                    put(1, 1);
                put(0, 1);
                const int x = low8(predict(c.predictor) + epsilon);
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
                if (c.used == 128) {
                    c.used >>= 1;
                    c.average >>= 1;
                }
                m_x = x;
                const int previous = at(line, col - 1);
                line[size_t(col)] = predictor == 0   ? x
                                    : predictor == 1 ? low8(x + previous - 128)
                                                     : low8(x + (previous * 11 >> 4) - 128);
            }
        }
        out.insert(out.end(), line.begin(), line.begin() + m_width);
        m_last = line;
    }

private:
    struct Context {
        int used = 0;
        int predictor = 0;
        qint64 average = 4;
        std::array<int, 4> errors{};
    };
    static int quantize(int i)
    {
        const int sign = i < 0 ? -1 : 1;
        const int a = std::abs(i);
        return sign * (a == 0 ? 0 : a < 3 ? 1 : a < 7 ? 2 : a < 21 ? 3 : 4);
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

    int m_width;
    int m_planes;
    std::array<int, 256> m_difWidth{};
    std::array<std::array<Context, 365>, 2> m_models{};
    std::vector<int> m_last;
    int m_a = 0, m_b = 0, m_c = 0, m_d = 0, m_x = 0;
};

} // namespace

QByteArray AceBlockWriter::picture(int width, int planes, const QList<int> &errors, const QList<int> &predictors,
                                   const Change &after)
{
    const Capture capture(this);
    const auto golomb = [this](quint32 v, int k) {
        put(v & ((1u << k) - 1), k);
        for (quint32 q = v >> k; q > 0; --q)
            put(1, 1);
        put(0, 1);
    };
    golomb(quint32(width), 12);
    golomb(quint32(planes), 2);
    PictureModel model(width, planes);
    std::vector<int> out;
    const auto putBits = [this](quint32 v, int w) { put(v, w); };
    for (qsizetype line = 0; (line + 1) * width <= errors.size(); ++line) {
        put(1, 1);
        const int predictor = predictors.isEmpty() ? 0 : predictors[line % predictors.size()] % 3;
        model.line(putBits, errors.constData() + line * width, predictor, out);
    }
    if (after.mode >= 0) {
        put(0, 1);
        putMode(after);
        enter(after);
    }
    QByteArray bytes(qsizetype(out.size()), Qt::Uninitialized);
    for (size_t i = 0; i < out.size(); ++i)
        bytes[qsizetype(i)] = char(out[i]);
    return bytes;
}

void AceBlockWriter::block(const QByteArray &literals, Change after)
{
    for (char c : literals)
        literal(uchar(c));
    if (after.mode >= 0)
        change(after);
    else
        endBlock();
}

void AceBlockWriter::block(const QByteArray &literals) { block(literals, Change()); }

QByteArray AceBlockWriter::finish()
{
    endBlock();
    if (m_used % 32 != 0)
        put(0, 32 - m_used % 32);
    return m_out;
}

QByteArray AceBlockWriter::exeEncode(QByteArray data, int exeMode, qint64 position)
{
    auto *p = reinterpret_cast<uchar *>(data.data());
    for (qsizetype i = 0; i + 4 < data.size();) {
        const quint32 at = quint32(position + i);
        if (p[i] == 0xE8 && exeMode != 0) {
            const quint32 relative =
                quint32(p[i + 1]) | quint32(p[i + 2]) << 8 | quint32(p[i + 3]) << 16 | quint32(p[i + 4]) << 24;
            const quint32 target = relative + at;
            for (int k = 0; k < 4; ++k)
                p[i + 1 + k] = uchar(target >> (8 * k));
            i += 5;
        } else if (p[i] == 0xE8 || p[i] == 0xE9) {
            const quint16 target = quint16((p[i + 1] | p[i + 2] << 8) + at);
            p[i + 1] = uchar(target);
            p[i + 2] = uchar(target >> 8);
            i += 3;
        } else {
            ++i;
        }
    }
    return data;
}

QByteArray AceBlockWriter::deltaEncode(const QByteArray &data, int distance, uchar &last)
{
    // Plane after plane (every distance-th byte), then each byte as its difference.
    const qsizetype planeSize = data.size() / distance;
    QByteArray out;
    for (int plane = 0; plane < distance; ++plane)
        for (qsizetype pos = 0; pos < planeSize; ++pos)
            out.append(data[pos * distance + plane]);
    for (char &c : out) {
        const uchar b = uchar(c);
        c = char(uchar(b - last));
        last = b;
    }
    return out;
}

AceArchiveMember packedMember(const QByteArray &name, const QByteArray &data, int method, const QByteArray &before)
{
    AceArchiveMember m;
    m.name = name;
    m.data = data;
    m.method = method;
    if (method > 0) {
        AceBlockWriter w(method == 1);
        w.pack(before + data, 1 << 20, 32767, before.size());
        m.packed = w.finish();
    }
    return m;
}

std::optional<QStringList> writeAceArchive(const QString &folder, const QString &baseName,
                                           const QList<AceArchiveMember> &members, bool solid, qint64 volumeSize)
{
    const bool multi = volumeSize > 0;
    const auto block = [](const QByteArray &body) {
        QByteArray out;
        put16(out, aceCrc32(body) & 0xFFFF);
        put16(out, quint32(body.size()));
        return out + body;
    };
    const auto mainHeader = [&](int volume) {
        QByteArray b;
        put8(b, 0);
        put16(b, (multi ? 0x0800 : 0) | 0x0100 | (solid ? 0x8000 : 0));
        b += "**ACE**";
        put8(b, 20);
        put8(b, 20);
        put8(b, 2); // Win32
        put8(b, quint32(volume));
        put32(b, 0x58692A8A);
        b += QByteArray(8, '\0');
        put8(b, 0);
        return block(b);
    };
    const auto fileHeader = [&](const AceArchiveMember &m, int index, qint64 partSize, bool before, bool after) {
        QByteArray b;
        put8(b, 1);
        put16(b, 0x0001 | (before ? 0x1000 : 0) | (after ? 0x2000 : 0) | (solid && index > 0 ? 0x8000 : 0));
        put32(b, quint32(partSize));
        put32(b, quint32(m.directory ? 0 : m.size.value_or(m.data.size())));
        put32(b, 0x58692A8A);
        put32(b, m.directory ? 0x10 : 0x20);
        put32(b, m.directory ? 0 : m.crc ? ~*m.crc : aceCrc32(m.data));
        put8(b, quint32(m.directory ? 0 : m.method));
        put8(b, m.method == 0 ? 0 : 2);       // quality: store or normal
        put16(b, m.method == 0 ? 0 : 0x000C); // a dictionary of 4 MB
        put16(b, 0);
        put16(b, quint32(m.name.size()));
        return block(b + m.name + QByteArray(4, '\0'));
    };
    QList<QByteArray> volumes;
    QByteArray current = mainHeader(0);
    for (int i = 0; i < members.size(); ++i) {
        const AceArchiveMember &m = members[i];
        const QByteArray data = m.directory ? QByteArray() : m.method == 0 ? m.data : m.packed;
        qint64 offset = 0;
        for (;;) {
            const qint64 rest = data.size() - offset;
            const qint64 headerSize = fileHeader(m, i, rest, offset > 0, false).size();
            const qint64 room = volumeSize - current.size() - headerSize;
            if (!multi || room >= rest) {
                current += fileHeader(m, i, rest, offset > 0, false) + data.mid(offset);
                break;
            }
            if (room > 0) {
                current += fileHeader(m, i, room, offset > 0, true) + data.mid(offset, room);
                offset += room;
            } else if (current.size() == mainHeader(0).size()) {
                return std::nullopt;
            }
            volumes.append(current);
            current = mainHeader(int(volumes.size()));
        }
    }
    volumes.append(current);
    if (!QDir().mkpath(folder))
        return std::nullopt;
    QStringList paths;
    for (int i = 0; i < volumes.size(); ++i) {
        const QString extension =
            i == 0 ? QStringLiteral(".ace") : QStringLiteral(".c%1").arg(i - 1, 2, 10, QChar(u'0'));
        const QString path = QDir(folder).filePath(baseName + extension);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(volumes[i]) != volumes[i].size())
            return std::nullopt;
        paths.append(path);
    }
    return paths;
}

} // namespace zelv::test

namespace zelv::test {

QString sharedFolder()
{
    const QString given = qEnvironmentVariable("ZELV_SHARED_DIR");
    return QDir(given.isEmpty() ? QStringLiteral(ZELV_SOURCE_DIR "/../shared") : given).absolutePath();
}

} // namespace zelv::test
