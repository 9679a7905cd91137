#include "setwriters.h"

#include "bytewriting.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <bit>
#include <functional>
#include <queue>
#include <vector>
#include <zlib.h>

namespace zelv::test {

namespace {

// RAR 5's variable-length integer: seven bits a byte, low first, high bit set while more follow.
void putVint(QByteArray &b, quint64 v)
{
    do {
        put8(b, (v & 0x7f) | (v > 0x7f ? 0x80 : 0));
        v >>= 7;
    } while (v);
}
QByteArray vint(quint64 v)
{
    QByteArray b;
    putVint(b, v);
    return b;
}

quint32 crc32Of(const QByteArray &bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// Local time, two-second steps, years from 1980.
quint32 dosTime(const QDateTime &when)
{
    const QDateTime t = when.toLocalTime();
    const QDate d = t.date();
    const QTime c = t.time();
    return quint32(qMax(d.year() - 1980, 0)) << 25 | quint32(d.month()) << 21 | quint32(d.day()) << 16 |
           quint32(c.hour()) << 11 | quint32(c.minute()) << 5 | quint32(c.second() / 2);
}

constexpr quint32 kAttrDirectory = 0x10;
constexpr quint32 kAttrArchive = 0x20;
constexpr quint32 kUnixSymlinkMode = 0120777;

// A member's share of one volume.
struct Part {
    const SetMember *member;
    QByteArray name; // as stored
    QByteArray data; // the bytes in this volume
    bool before;     // continued from the previous volume
    bool after;      // continued in the next volume
};

// What a format puts around the parts: each volume's opening headers, a part's header
// (its data follows it) and each volume's closing block, whose size must not depend on more.
struct Layout {
    std::function<QByteArray(int volume)> head;
    std::function<QByteArray(const Part &)> file;
    std::function<QByteArray(int volume, bool more)> tail;
};

QByteArray storedName(const SetMember &m, char separator)
{
    if (m.raw)
        return m.name;
    QByteArray name = m.name;
    while (name.endsWith('/'))
        name.chop(1);
    return name.replace('/', separator);
}

// Lays the members out in volumes of at most volumeSize bytes (0: one volume, no limit),
// cutting a member's data where a volume fills up.
// Where a member's data must not be cut: a volume must not end after byte n (from 0) when
// first <= n <= last for one of its pairs.
using Uncuttable = QHash<const SetMember *, QList<QPair<qint64, qint64>>>;

std::optional<QList<QByteArray>> layOut(const Layout &layout, const QList<SetMember> &members, char separator,
                                        qint64 volumeSize, QString *error, const Uncuttable &uncuttable = {})
{
    QList<QByteArray> volumes;
    QByteArray current = layout.head(0);
    qint64 emptySize = current.size();
    const qint64 tailSize = layout.tail(0, false).size();
    auto close = [&](bool more) {
        current += layout.tail(int(volumes.size()), more);
        volumes.append(current);
        if (more) {
            current = layout.head(int(volumes.size()));
            emptySize = current.size();
        }
    };
    for (const SetMember &m : members) {
        const QByteArray data = m.directory ? QByteArray() : m.data;
        const QByteArray name = storedName(m, separator);
        qint64 offset = 0;
        for (;;) {
            Part part{&m, name, data.mid(offset), offset > 0, false};
            // A shorter part never has a longer header.
            qint64 room = volumeSize - current.size() - tailSize - layout.file(part).size();
            if (volumeSize == 0 || room >= part.data.size()) {
                current += layout.file(part) + part.data;
                break;
            }
            for (bool moved = true; moved && room > 0;) {
                moved = false;
                for (const auto &[first, last] : uncuttable.value(&m))
                    if (offset + room >= first && offset + room <= last) {
                        room = first - 1 - offset;
                        moved = true;
                    }
            }
            if (room > 0) {
                part.data.truncate(room);
                part.after = true;
                current += layout.file(part) + part.data;
                offset += room;
            } else if (current.size() == emptySize) {
                if (error)
                    *error = QStringLiteral("volume size %1 too small for a header of %2")
                                 .arg(volumeSize)
                                 .arg(QString::fromUtf8(name));
                return std::nullopt;
            }
            close(true);
        }
    }
    close(false);
    return volumes;
}

std::optional<QStringList> writeVolumes(const QString &folder, const QList<QByteArray> &volumes,
                                        const std::function<QString(int)> &nameOf, QString *error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot make %1").arg(folder);
        return std::nullopt;
    }
    QStringList paths;
    for (int i = 0; i < volumes.size(); ++i) {
        const QString path = QDir(folder).filePath(nameOf(i));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(volumes[i]) != volumes[i].size()) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
            return std::nullopt;
        }
        paths.append(path);
    }
    return paths;
}

// The extension of volume i in the old scheme: .rar, then .r00 to .r99, .s00, ...
QString oldStyleExtension(int i, char first, const QString &firstExtension)
{
    if (i == 0)
        return firstExtension;
    return QStringLiteral(".%1%2").arg(QChar(first + (i - 1) / 100)).arg((i - 1) % 100, 2, 10, QChar(u'0'));
}

// RAR 4: a block whose header checksum is the low half of the CRC-32 from the type on.
QByteArray rar4Block(quint8 type, quint16 flags, const QByteArray &fields)
{
    QByteArray b;
    put8(b, type);
    put16(b, flags);
    put16(b, 7 + fields.size());
    b += fields;
    QByteArray out;
    put16(out, crc32Of(b) & 0xffff);
    return out + b;
}

Layout rar4Layout(bool multi, VolumeNaming naming)
{
    Layout l;
    l.head = [=](int volume) {
        quint16 flags = 0;
        if (multi)
            flags = 0x0001 | (naming == VolumeNaming::New ? 0x0010 : 0) | (volume == 0 ? 0x0100 : 0);
        return QByteArray("Rar!\x1a\x07\x00", 7) + rar4Block(0x73, flags, QByteArray(6, '\0'));
    };
    l.file = [](const Part &p) {
        const SetMember &m = *p.member;
        // 0x8000: the data size follows; 0xe0 in the dictionary bits marks a folder.
        // 0x04: a password, which is only marked; the data stays as it is.
        const quint16 flags =
            0x8000 | (p.before ? 0x01 : 0) | (p.after ? 0x02 : 0) | (m.directory ? 0xe0 : 0) | (m.encrypted ? 0x04 : 0);
        const bool link = m.link != SetMember::Link::None;
        QByteArray f;
        put32(f, p.data.size());
        put32(f, m.directory ? 0 : m.data.size());
        put8(f, link || m.unixMode ? 3 : 2); // Unix for a link or a mode, else Win32
        // A part that goes on holds the checksum of its own bytes, the last one the whole file's.
        put32(f, m.directory ? 0 : crc32Of(p.after ? p.data : m.data));
        put32(f, m.zeroDosTime ? 0 : dosTime(m.mtime));
        put8(f, 20);   // version needed: 2.0 reads stored members
        put8(f, 0x30); // stored
        put16(f, p.name.size());
        put32(f, link          ? kUnixSymlinkMode
                 : m.unixMode  ? 0100000 | *m.unixMode
                 : m.directory ? kAttrDirectory
                               : kAttrArchive);
        return rar4Block(0x74, flags, f + p.name);
    };
    l.tail = [=](int volume, bool more) {
        // The volume number is the one thing a multi-volume end block carries.
        QByteArray f;
        if (multi)
            put16(f, volume);
        return rar4Block(0x7b, multi ? 0x0008 | (more ? 0x0001 : 0) : 0, f);
    };
    return l;
}

// RAR 5: CRC-32 of everything after it, then the size of what follows the size.
QByteArray rar5Block(quint64 type, quint64 flags, const QByteArray &fields)
{
    const QByteArray body = vint(type) + vint(flags) + fields;
    const QByteArray sized = vint(body.size()) + body;
    QByteArray out;
    put32(out, crc32Of(sized));
    return out + sized;
}

// A packed member's unpacked size, CRC and compression information.
struct Packed {
    qint64 size;
    quint32 crc;
    quint64 compression;
};

Layout rar5Layout(bool multi, bool solid, const QHash<const SetMember *, Packed> &packed)
{
    Layout l;
    l.head = [=](int volume) {
        QByteArray f = vint((multi ? 0x0001 | (volume > 0 ? 0x0002 : 0) : 0) | (solid ? 0x0004 : 0));
        if (volume > 0)
            putVint(f, volume);
        return QByteArray("Rar!\x1a\x07\x01\x00", 8) + rar5Block(1, 0, f);
    };
    l.file = [packed](const Part &p) {
        const SetMember &m = *p.member;
        const auto isPacked = packed.constFind(&m);
        // A link keeps its target in a redirection record (type 5) of the extra area.
        QByteArray extra;
        if (m.link != SetMember::Link::None) {
            const int kind = m.link == SetMember::Link::Symbolic ? 1 : m.link == SetMember::Link::HardLink ? 4 : 5;
            // A link marked as a folder is one to a folder, as Windows makes them.
            const QByteArray record =
                vint(5) + vint(kind) + vint(m.directory ? 1 : 0) + vint(m.target.size()) + m.target;
            extra = vint(record.size()) + record;
        }
        // A folder too has a data area, of no bytes, as rar writes it.
        const bool data = !(m.directory && m.bareFolder);
        const quint64 headerFlags =
            (extra.isEmpty() ? 0 : 0x0001) | (data ? 0x0002 : 0) | (p.before ? 0x0008 : 0) | (p.after ? 0x0010 : 0);
        QByteArray f;
        if (!extra.isEmpty())
            putVint(f, extra.size());
        if (data)
            putVint(f, p.data.size());
        putVint(f, (m.directory ? 0x0001 : 0x0004) | 0x0002); // folder or checksum; Unix time
        putVint(f, m.directory ? 0 : isPacked != packed.cend() ? isPacked->size : m.data.size());
        putVint(f, m.link == SetMember::Link::Symbolic ? kUnixSymlinkMode
                   : m.unixMode                        ? 0100000 | *m.unixMode
                   : m.directory                       ? kAttrDirectory
                                                       : kAttrArchive);
        put32(f, quint64(qMax<qint64>(m.mtime.toSecsSinceEpoch(), 0)));
        if (!m.directory)
            put32(f, p.after || isPacked == packed.cend() ? crc32Of(p.after ? p.data : m.data) : isPacked->crc);
        putVint(f, isPacked != packed.cend() ? isPacked->compression : 0);     // 0: stored
        putVint(f, m.link == SetMember::Link::Symbolic || m.unixMode ? 1 : 0); // Unix for a link or a mode
        putVint(f, p.name.size());
        return rar5Block(2, headerFlags, f + p.name + extra);
    };
    l.tail = [](int, bool more) { return rar5Block(5, 0, vint(more ? 0x0001 : 0)); };
    return l;
}

QByteArray aceBlock(const QByteArray &body)
{
    QByteArray out;
    put16(out, aceCrc32(body) & 0xffff);
    put16(out, body.size());
    return out + body;
}

Layout aceLayout(bool multi, int versionNeeded)
{
    Layout l;
    l.head = [=](int volume) {
        QByteArray b;
        put8(b, 0);
        put16(b, (multi ? 0x0800 : 0) | (versionNeeded >= 20 ? 0x0100 : 0));
        b += "**ACE**";
        put8(b, versionNeeded);
        put8(b, versionNeeded); // made by
        put8(b, 2);             // Win32
        put8(b, volume);
        put32(b, dosTime(SetMember().mtime));
        b += QByteArray(8, '\0');
        put8(b, 0); // no advert text, but its size byte is always read
        return aceBlock(b);
    };
    l.file = [](const Part &p) {
        const SetMember &m = *p.member;
        QByteArray b;
        put8(b, 1);
        // 1: a data size follows; 0x4000: a password, only marked.
        put16(b, 0x0001 | (p.before ? 0x1000 : 0) | (p.after ? 0x2000 : 0) | (p.member->encrypted ? 0x4000 : 0));
        put32(b, p.data.size());
        put32(b, m.directory ? 0 : m.data.size());
        put32(b, dosTime(m.mtime));
        put32(b, m.directory ? kAttrDirectory : kAttrArchive);
        put32(b, m.directory ? 0 : aceCrc32(m.data));
        put8(b, 0);  // stored
        put8(b, 0);  // quality: store
        put16(b, 0); // no dictionary
        put16(b, 0);
        put16(b, p.name.size());
        // Four reserved bytes after the name: unace counts them into the smallest file header.
        return aceBlock(b + p.name + QByteArray(4, '\0'));
    };
    l.tail = [](int, bool) { return QByteArray(); }; // ACE has no end block
    return l;
}

// RAR 5 packing. Bits go most significant first; a block opens byte-aligned with its flags, a
// checksum byte and its size, then the tables and the symbols.
class BitWriter {
public:
    void put(quint32 value, int count)
    {
        if (count == 0)
            return;
        m_acc = (m_acc << count) | (value & ((quint64(1) << count) - 1));
        m_pending += count;
        m_total += count;
        while (m_pending >= 8) {
            m_pending -= 8;
            m_out.append(char(m_acc >> m_pending));
        }
    }
    qint64 bits() const { return m_total; }
    QByteArray bytes()
    {
        QByteArray out = m_out;
        if (m_pending)
            out.append(char(m_acc << (8 - m_pending)));
        return out;
    }

private:
    QByteArray m_out;
    quint64 m_acc = 0;
    int m_pending = 0;
    qint64 m_total = 0;
};

constexpr int kMainSymbols = 306; // 256 literals, a filter, four kinds of repeat, 44 lengths
constexpr int kDistanceSymbols = 64;
constexpr int kAlignSymbols = 16;
constexpr int kRepeatLengthSymbols = 44;
constexpr int kTableEntries = kMainSymbols + kDistanceSymbols + kAlignSymbols + kRepeatLengthSymbols;
constexpr int kLongestLength = 4097; // the longest a length slot says
constexpr int kLongestCode = 15;

// Huffman code lengths from the frequencies, none longer than limit: the frequencies are
// halved until the tree is shallow enough. A lone symbol gets a partner, so every code is whole.
std::vector<quint8> codeLengths(std::vector<quint64> freq, int limit)
{
    std::vector<quint8> lengths(freq.size(), 0);
    std::vector<int> used;
    for (int i = 0; i < int(freq.size()); ++i)
        if (freq[i])
            used.push_back(i);
    if (used.empty())
        return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        lengths[used[0] == 0 ? 1 : 0] = 1;
        return lengths;
    }
    for (;;) {
        using Node = std::pair<quint64, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
        std::vector<int> parent(used.size(), -1);
        for (int k = 0; k < int(used.size()); ++k)
            queue.push({freq[used[k]], k});
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            const int joined = int(parent.size());
            parent.push_back(-1);
            parent[a.second] = joined;
            parent[b.second] = joined;
            queue.push({a.first + b.first, joined});
        }
        int deepest = 0;
        for (int k = 0; k < int(used.size()); ++k) {
            int depth = 0;
            for (int n = k; parent[n] >= 0; n = parent[n])
                ++depth;
            lengths[used[k]] = quint8(depth);
            deepest = std::max(deepest, depth);
        }
        if (deepest <= limit)
            return lengths;
        for (const int s : used)
            freq[s] = (freq[s] + 1) / 2;
    }
}

// Canonical codes: shorter first, then by symbol, as the decoders build them.
std::vector<quint32> canonicalCodes(const std::vector<quint8> &lengths)
{
    int count[16] = {};
    for (const quint8 l : lengths)
        if (l)
            ++count[l];
    quint32 next[16] = {};
    quint32 code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + quint32(count[bits - 1])) << 1;
        next[bits] = code;
    }
    std::vector<quint32> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    return codes;
}

struct Token {
    quint32 length; // 0: a literal
    quint32 value;  // the literal, or the distance
};

// A length's or distance's slot, with the low bits that follow it.
struct Slot {
    int slot;
    int extraBits;
    quint32 extra;
};
Slot lengthSlot(quint32 length)
{
    const quint32 v = length - 2;
    if (v < 8)
        return {int(v), 0, 0};
    const int high = 31 - __builtin_clz(v);
    const int bits = high - 2;
    return {4 * (bits + 1) + int((v >> bits) & 3), bits, v & ((1u << bits) - 1)};
}
Slot distanceSlot(quint32 distance)
{
    const quint32 v = distance - 1;
    if (v < 4)
        return {int(v), 0, 0};
    const int high = 31 - __builtin_clz(v);
    const int bits = high - 1;
    return {2 * high + int((v >> bits) & 1), bits, v & ((1u << bits) - 1)};
}
// Far matches are told one or more shorter than they are.
int lengthBonus(quint32 distance) { return (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000); }

// The 430 code lengths, run-length coded with the 20 symbols of the bit-length table.
void writeTables(BitWriter &out, const std::vector<quint8> &lengths)
{
    struct Step {
        int symbol;
        int extraBits;
        quint32 extra;
    };
    std::vector<Step> steps;
    for (int i = 0; i < int(lengths.size());) {
        int run = 1;
        while (i + run < int(lengths.size()) && lengths[i + run] == lengths[i])
            ++run;
        i += run;
        if (lengths[i - run] != 0) {
            steps.push_back({lengths[i - run], 0, 0});
            --run;
        }
        const bool zeros = lengths[i - 1] == 0;
        while (run >= 3) {
            const int take = std::min(run, 138);
            if (take >= 11)
                steps.push_back({zeros ? 19 : 17, 7, quint32(take - 11)});
            else
                steps.push_back({zeros ? 18 : 16, 3, quint32(take - 3)});
            run -= take;
        }
        for (; run > 0; --run)
            steps.push_back({lengths[i - 1], 0, 0});
    }
    std::vector<quint64> freq(20, 0);
    for (const Step &s : steps)
        ++freq[s.symbol];
    const std::vector<quint8> bitLengths = codeLengths(freq, kLongestCode);
    for (const quint8 l : bitLengths) {
        out.put(l, 4);
        if (l == 15)
            out.put(0, 4); // 15 opens a run of zeros; a run of none is 15 itself
    }
    const std::vector<quint32> codes = canonicalCodes(bitLengths);
    for (const Step &s : steps) {
        out.put(codes[s.symbol], bitLengths[s.symbol]);
        out.put(s.extra, s.extraBits);
    }
}

// One block of tokens with tables of its own.
QByteArray packBlock(const std::vector<Token> &tokens, bool last)
{
    std::vector<quint64> main(kMainSymbols, 0), distances(kDistanceSymbols, 0), align(kAlignSymbols, 0);
    for (const Token &t : tokens) {
        if (t.length == 0) {
            ++main[t.value];
            continue;
        }
        ++main[262 + lengthSlot(t.length - lengthBonus(t.value)).slot];
        const Slot d = distanceSlot(t.value);
        ++distances[d.slot];
        if (d.extraBits >= 4)
            ++align[d.extra & 15];
    }
    auto mainLengths = codeLengths(main, kLongestCode);
    // unar looks up to ten bits ahead, no further than the longest code, before it takes a
    // symbol, and fails where those bits lie past the end of the data: the data ends with a
    // literal whose code is one of the longest.
    if (last && !tokens.empty() && tokens.back().length == 0) {
        const auto longest = std::max_element(mainLengths.begin(), mainLengths.end());
        std::swap(mainLengths[tokens.back().value], *longest);
    }
    const auto distanceLengths = codeLengths(distances, kLongestCode);
    const auto alignLengths = codeLengths(align, kLongestCode);
    std::vector<quint8> all = mainLengths;
    all.insert(all.end(), distanceLengths.begin(), distanceLengths.end());
    all.insert(all.end(), alignLengths.begin(), alignLengths.end());
    all.resize(kTableEntries, 0); // no repeated distances, so no lengths for them
    BitWriter out;
    writeTables(out, all);
    const auto mainCodes = canonicalCodes(mainLengths);
    const auto distanceCodes = canonicalCodes(distanceLengths);
    const auto alignCodes = canonicalCodes(alignLengths);
    for (const Token &t : tokens) {
        if (t.length == 0) {
            out.put(mainCodes[t.value], mainLengths[t.value]);
            continue;
        }
        const Slot l = lengthSlot(t.length - lengthBonus(t.value));
        out.put(mainCodes[262 + l.slot], mainLengths[262 + l.slot]);
        out.put(l.extra, l.extraBits);
        const Slot d = distanceSlot(t.value);
        out.put(distanceCodes[d.slot], distanceLengths[d.slot]);
        if (d.extraBits >= 4) {
            out.put(d.extra >> 4, d.extraBits - 4);
            out.put(alignCodes[d.extra & 15], alignLengths[d.extra & 15]);
        } else {
            out.put(d.extra, d.extraBits);
        }
    }
    const QByteArray body = out.bytes();
    const quint32 size = quint32(body.size());
    const int sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
    const int lastBits = int(out.bits() % 8 == 0 ? 8 : out.bits() % 8);
    const quint8 flags = quint8(0x80 | (last ? 0x40 : 0) | ((sizeBytes - 1) << 3) | (lastBits - 1));
    QByteArray head;
    put8(head, flags);
    put8(head, 0x5a ^ flags ^ (size & 0xff) ^ ((size >> 8) & 0xff) ^ ((size >> 16) & 0xff));
    for (int i = 0; i < sizeBytes; ++i)
        put8(head, size >> (8 * i));
    return head + body;
}

} // namespace

// The window's bytes before the data (solid), and the matcher's hash chains over it all.
struct Rar5Packer::State {
    RarPacking packing;
    QByteArray history;
    QList<QPair<qint64, qint64>> blockHeads; // of the data last packed
};

Rar5Packer::Rar5Packer(const RarPacking &packing) : m_state(std::make_unique<State>()) { m_state->packing = packing; }

Rar5Packer::~Rar5Packer() = default;

QList<QPair<qint64, qint64>> Rar5Packer::blockHeads() const { return m_state->blockHeads; }

QByteArray Rar5Packer::pack(const QByteArray &data)
{
    const qint64 window = qint64(0x20000) << m_state->packing.dictionaryShift;
    const QByteArray buffer = m_state->history + data;
    const auto *b = reinterpret_cast<const uchar *>(buffer.constData());
    const int end = int(buffer.size());
    const int start = int(m_state->history.size());
    const int maxDistance = int(std::min<qint64>(window - 1, 0x7fffffff));
    // Hash chains over four bytes; a greedy matcher with a bounded walk that stops at a match
    // long enough.
    // Tables as large as the data asks, up to 4 Mi heads and a window of chain links.
    constexpr int kWalk = 32;
    constexpr int kLongEnough = 1024;
    const int hashBits = std::clamp(int(std::bit_width(quint32(end))), 10, 22);
    const int chainSize = int(std::clamp<qint64>(end, 1, std::min<qint64>(window, qint64(1) << 24)));
    std::vector<int> head(size_t(1) << hashBits, -1);
    std::vector<int> prev(size_t(chainSize), -1);
    const auto hashAt = [b, hashBits](int p) {
        return (quint32(b[p]) << 24 | quint32(b[p + 1]) << 16 | quint32(b[p + 2]) << 8 | b[p + 3]) * 2654435761u >>
               (32 - hashBits);
    };
    const auto insert = [&](int p) {
        if (p + 4 > end)
            return;
        const quint32 h = hashAt(p);
        prev[size_t(p % chainSize)] = head[h];
        head[h] = p;
    };
    for (int p = std::max(0, start - maxDistance); p < start; ++p)
        insert(p);

    QByteArray out;
    m_state->blockHeads.clear();
    std::vector<Token> tokens;
    int blockStart = start;
    for (int pos = start; pos < end;) {
        int bestLength = 0, bestDistance = 0;
        // The last byte is always a literal (see packBlock), so no match takes it.
        if (pos + 5 <= end) {
            const int longest = std::min(kLongestLength, end - pos - 1);
            int candidate = head[hashAt(pos)];
            for (int walk = 0;
                 candidate >= 0 && walk < kWalk && pos - candidate <= maxDistance && pos - candidate <= chainSize;
                 ++walk) {
                if (b[candidate + bestLength] == b[pos + bestLength] || bestLength == 0) {
                    int n = 0;
                    while (n < longest && b[candidate + n] == b[pos + n])
                        ++n;
                    if (n > bestLength && n - lengthBonus(quint32(pos - candidate)) >= 2) {
                        bestLength = n;
                        bestDistance = pos - candidate;
                        if (n == longest || n >= kLongEnough)
                            break;
                    }
                }
                const int next = prev[size_t(candidate % chainSize)];
                if (next >= candidate)
                    break;
                candidate = next;
            }
        }
        if (bestLength >= 3) {
            tokens.push_back({quint32(bestLength), quint32(bestDistance)});
            for (int i = 0; i < bestLength; ++i)
                insert(pos + i);
            pos += bestLength;
        } else {
            tokens.push_back({0, b[pos]});
            insert(pos);
            ++pos;
        }
        // libarchive reads a block's size from one or two bytes: blocks stay under 64 KiB.
        if (pos - blockStart >= std::min(m_state->packing.blockInput, 1 << 15) || pos == end) {
            const QByteArray block = packBlock(tokens, pos == end);
            m_state->blockHeads.append({out.size(), 2 + (uchar(block[0]) >> 3 & 3) + 1});
            out += block;
            tokens.clear();
            blockStart = pos;
        }
    }
    if (m_state->packing.solid)
        m_state->history = buffer.right(std::min<qint64>(window, buffer.size()));
    return out;
}

quint32 aceCrc32(const QByteArray &bytes) { return ~crc32Of(bytes); }

QByteArray patternBytes(int size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char(seed + i * 7 + i / 251);
    return out;
}

std::optional<QStringList> writeRarSet(const QString &folder, const QString &baseName, RarFormat format,
                                       VolumeNaming naming, const QList<SetMember> &members, qint64 volumeSize,
                                       QString *error, int partDigits, const RarPacking &packing)
{
    const bool multi = volumeSize > 0;
    const bool rar4 = format == RarFormat::Rar4;
    // RAR 4 keeps a link's target as its data; RAR 5 in the header, with no data. A packed
    // member's data is its packed bytes.
    QList<SetMember> stored = members;
    QHash<const SetMember *, Packed> packed;
    Uncuttable uncuttable;
    Rar5Packer packer(packing);
    bool earlierPacked = false;
    for (SetMember &m : stored) {
        if (m.link != SetMember::Link::None)
            m.data = rar4 ? m.target : QByteArray();
        else if (!rar4 && m.method > 0 && !m.directory) {
            const quint64 compression = quint64(packing.algorithmVersion) | quint64(std::min(m.method, 5)) << 7 |
                                        quint64(packing.dictionaryShift) << 10 |
                                        quint64(packing.dictionaryFraction) << 15 |
                                        (packing.solid && earlierPacked ? 0x40 : 0);
            packed.insert(&m, Packed{m.data.size(), crc32Of(m.data), compression});
            m.data = packer.pack(m.data);
            // libarchive goes on into the next volume within a block only, and only once it
            // has the block's head and a byte after it: no volume ends at a block's end nor
            // within its head.
            QList<QPair<qint64, qint64>> cuts;
            for (const auto &[start, length] : packer.blockHeads())
                cuts.append({start, start + length});
            uncuttable.insert(&m, cuts);
            earlierPacked = true;
        }
    }
    const Layout layout = rar4 ? rar4Layout(multi, naming) : rar5Layout(multi, packing.solid, packed);
    const auto volumes = layOut(layout, stored, rar4 ? '\\' : '/', volumeSize, error, uncuttable);
    if (!volumes)
        return std::nullopt;
    return writeVolumes(
        folder, *volumes,
        [&](int i) {
            if (!multi || naming == VolumeNaming::Old)
                return baseName + oldStyleExtension(i, 'r', QStringLiteral(".rar"));
            return QStringLiteral("%1.part%2.rar").arg(baseName).arg(i + 1, partDigits, 10, QChar(u'0'));
        },
        error);
}

std::optional<QStringList> writeAceSet(const QString &folder, const QString &baseName, const QList<SetMember> &members,
                                       qint64 volumeSize, int versionNeeded, QString *error)
{
    const auto volumes = layOut(aceLayout(volumeSize > 0, versionNeeded), members, '\\', volumeSize, error);
    if (!volumes)
        return std::nullopt;
    return writeVolumes(
        folder, *volumes, [&](int i) { return baseName + oldStyleExtension(i, 'c', QStringLiteral(".ace")); }, error);
}

} // namespace zelv::test
