#include "rawzip.h"

#include "bytewriting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>

#include <algorithm>
#include <vector>
#include <zlib.h>

namespace zelv::test {

namespace {

constexpr quint32 kDosTime = 0x5a2b6000; // some day in 2025

} // namespace

RawMember RawMember::stored(const QByteArray &name, const QByteArray &data)
{
    RawMember m;
    m.name = name;
    m.data = data;
    m.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    m.size = quint64(data.size());
    return m;
}

RawMember RawMember::deflated(const QByteArray &name, const QByteArray &plain)
{
    RawMember m = stored(name, plain);
    m.method = 8;
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(plain.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    m.data = out;
    return m;
}

RawMember RawMember::shrunk(const QByteArray &name, const QByteArray &plain)
{
    RawMember m = stored(name, plain);
    m.method = 1;
    QByteArray out;
    quint64 bits = 0;
    int count = 0;
    int codeSize = 9;
    const auto raw = [&](int code) {
        bits |= quint64(code) << count;
        count += codeSize;
        for (; count >= 8; count -= 8, bits >>= 8)
            out += char(bits & 0xff);
    };
    // A code wider than the code size is announced first, as PKZIP does.
    const auto put = [&](int code) {
        while (code > (1 << codeSize) - 1) {
            raw(256);
            raw(1);
            ++codeSize;
        }
        raw(code);
    };
    constexpr int kCodes = 1 << 13;
    QHash<quint32, int> table; // (prefix code << 8 | byte) to code
    std::vector<int> parent(kCodes, -1);
    std::vector<uchar> last(kCodes, 0);
    const auto nextFree = [&](int from) {
        while (from < kCodes && parent[size_t(from)] >= 0)
            ++from;
        return from;
    };
    int next = 257;
    int prefix = plain.isEmpty() ? -1 : uchar(plain[0]);
    for (qsizetype i = 1; i < plain.size(); ++i) {
        const uchar c = uchar(plain[i]);
        const quint32 key = quint32(prefix) << 8 | c;
        if (const auto it = table.constFind(key); it != table.cend()) {
            prefix = *it;
            continue;
        }
        put(prefix);
        if (next == kCodes) {
            // A full table: the codes no other code continues are given up.
            std::vector<bool> continued(kCodes, false);
            for (int code = 257; code < kCodes; ++code)
                if (parent[size_t(code)] >= 0)
                    continued[size_t(parent[size_t(code)])] = true;
            for (int code = 257; code < kCodes; ++code) {
                if (parent[size_t(code)] >= 0 && !continued[size_t(code)]) {
                    table.remove(quint32(parent[size_t(code)]) << 8 | last[size_t(code)]);
                    parent[size_t(code)] = -1;
                }
            }
            raw(256);
            raw(2);
            next = nextFree(257);
        }
        if (next < kCodes) {
            table.insert(key, next);
            parent[size_t(next)] = prefix;
            last[size_t(next)] = c;
            next = nextFree(next + 1);
        }
        prefix = c;
    }
    if (prefix >= 0)
        put(prefix);
    if (count > 0)
        out += char(bits & 0xff);
    m.data = out;
    return m;
}

namespace {

// Shannon-Fano codes as Implode assigns them: from the longest lengths up, the highest symbol
// of a length first, counting down from the top of 16 bits.
std::vector<quint32> shannonCodes(const std::vector<int> &lengths)
{
    const int n = int(lengths.size());
    std::vector<int> order;
    for (int sym = 0; sym < n; ++sym)
        order.push_back(sym);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[size_t(a)] < lengths[size_t(b)]; });
    std::vector<quint32> codes(lengths.size());
    quint32 code = 0, increment = 0;
    int last = 0;
    for (int i = n - 1; i >= 0; --i) {
        const int sym = order[size_t(i)];
        code += increment;
        if (lengths[size_t(sym)] != last) {
            last = lengths[size_t(sym)];
            increment = 1u << (16 - last);
        }
        codes[size_t(sym)] = code >> (16 - last);
    }
    return codes;
}

QByteArray storedTree(const std::vector<int> &lengths)
{
    QByteArray runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t j = i;
        while (j < lengths.size() && lengths[j] == lengths[i] && j - i < 16)
            ++j;
        runs += char((lengths[i] - 1) | int(j - i - 1) << 4);
        i = j;
    }
    return char(runs.size() - 1) + runs;
}

std::vector<int> lengthsOf(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> out;
    for (const auto &[count, length] : runs)
        out.insert(out.end(), size_t(count), length);
    return out;
}

} // namespace

RawMember RawMember::imploded(const QByteArray &name, const QByteArray &plain, bool literalTree, bool bigWindow)
{
    RawMember m = stored(name, plain);
    m.method = 6;
    m.flags = quint16((bigWindow ? 2 : 0) | (literalTree ? 4 : 0));
    // Complete codes of uneven lengths, so that the order of assignment matters.
    const std::vector<int> literalLengths = lengthsOf({{32, 8}, {96, 7}, {128, 10}});
    const std::vector<int> lengthLengths = lengthsOf({{16, 5}, {32, 7}, {16, 6}});
    const std::vector<int> distanceLengths = lengthsOf({{64, 6}});
    const auto literalCodes = shannonCodes(literalLengths);
    const auto lengthCodes = shannonCodes(lengthLengths);
    const auto distanceCodes = shannonCodes(distanceLengths);
    QByteArray out = (literalTree ? storedTree(literalLengths) : QByteArray()) + storedTree(lengthLengths) +
                     storedTree(distanceLengths);
    quint64 bits = 0;
    int count = 0;
    const auto raw = [&](quint32 value, int n) { // lowest bit first
        bits |= quint64(value) << count;
        count += n;
        for (; count >= 8; count -= 8, bits >>= 8)
            out += char(bits & 0xff);
    };
    const auto code = [&](quint32 value, int n) { // highest bit first
        for (int b = n - 1; b >= 0; --b)
            raw((value >> b) & 1, 1);
    };
    const int lowBits = bigWindow ? 7 : 6;
    const qsizetype window = qsizetype(64) << lowBits;
    const int shortest = literalTree ? 3 : 2;
    const int longest = shortest + 63 + 255;
    QHash<QByteArray, qsizetype> seen; // the last place of each three bytes
    for (qsizetype i = 0; i < plain.size();) {
        int best = 0;
        qsizetype from = -1;
        if (i + 3 <= plain.size()) {
            const auto it = seen.constFind(plain.mid(i, 3));
            if (it != seen.cend() && i - *it <= window) {
                from = *it;
                while (i + best < plain.size() && best < longest && plain[from + best] == plain[i + best])
                    ++best;
            }
        }
        const int step = best >= shortest ? best : 1;
        if (best >= shortest) {
            raw(0, 1);
            const quint32 distance = quint32(i - from - 1);
            raw(distance & ((1u << lowBits) - 1), lowBits);
            const quint32 upper = distance >> lowBits;
            code(distanceCodes[upper], distanceLengths[upper]);
            const int length = best - shortest;
            const int symbol = std::min(length, 63);
            code(lengthCodes[size_t(symbol)], lengthLengths[size_t(symbol)]);
            if (symbol == 63)
                raw(quint32(length - 63), 8);
        } else {
            raw(1, 1);
            const uchar byte = uchar(plain[i]);
            if (literalTree)
                code(literalCodes[byte], literalLengths[byte]);
            else
                raw(byte, 8);
        }
        for (int k = 0; k < step; ++k)
            if (i + k + 3 <= plain.size())
                seen.insert(plain.mid(i + k, 3), i + k);
        i += step;
    }
    if (count > 0)
        out += char(bits & 0xff);
    m.data = out;
    return m;
}

QByteArray localHeader(const RawMember &m, quint64 compressedSize)
{
    QByteArray b;
    put32(b, 0x04034b50);
    put16(b, 20);
    put16(b, m.flags);
    put16(b, m.method);
    put32(b, kDosTime);
    put32(b, m.crc);
    put32(b, compressedSize);
    put32(b, m.size);
    put16(b, quint64(m.name.size()));
    put16(b, 0);
    return b + m.name;
}

QByteArray centralHeader(const RawMember &m, quint64 compressedSize, quint64 localOffset)
{
    QByteArray b;
    put32(b, 0x02014b50);
    put16(b, m.versionMadeBy);
    put16(b, m.centralVersionNeeded);
    put16(b, m.flags);
    put16(b, m.method);
    put32(b, m.centralDosTime);
    put32(b, m.crc);
    put32(b, compressedSize);
    put32(b, m.size);
    put16(b, quint64(m.name.size()));
    put16(b, quint64(m.centralExtra.size()));
    put16(b, 0); // comment
    put16(b, 0); // disk
    put16(b, 0); // internal attributes
    put32(b, m.externalAttributes);
    put32(b, localOffset);
    return b + m.name + m.centralExtra;
}

QByteArray endRecord(quint64 count, quint64 directorySize, quint64 directoryOffset, quint16 commentLength)
{
    QByteArray b;
    put32(b, 0x06054b50);
    put16(b, 0);
    put16(b, 0);
    put16(b, count);
    put16(b, count);
    put32(b, directorySize);
    put32(b, directoryOffset);
    put16(b, commentLength);
    return b;
}

QByteArray zip64EndRecord(quint64 count, quint64 directorySize, quint64 directoryOffset)
{
    QByteArray b;
    put32(b, 0x06064b50);
    put64(b, 44);
    put16(b, 45);
    put16(b, 45);
    put32(b, 0);
    put32(b, 0);
    put64(b, count);
    put64(b, count);
    put64(b, directorySize);
    put64(b, directoryOffset);
    return b;
}

QByteArray zip64Locator(quint64 zip64EndOffset)
{
    QByteArray b;
    put32(b, 0x07064b50);
    put32(b, 0);
    put64(b, zip64EndOffset);
    put32(b, 1);
    return b;
}

qint64 RawZip::addMember(const RawMember &m)
{
    const qint64 at = append(localHeader(m, quint64(m.data.size())) + m.data);
    m_added.append({m, at});
    return at;
}

qint64 RawZip::append(const QByteArray &bytes)
{
    const qint64 at = m_bytes.size();
    m_bytes += bytes;
    return at;
}

void RawZip::addEntry(const RawMember &m, quint64 compressedSize, quint64 localOffset)
{
    m_directory += centralHeader(m, compressedSize, localOffset);
    ++m_entries;
}

void RawZip::addEntriesForMembers()
{
    for (const Added &a : m_added)
        addEntry(a.member, quint64(a.member.data.size()), quint64(a.offset));
}

QByteArray RawZip::finish(const QByteArray &comment)
{
    const qint64 at = append(m_directory);
    append(endRecord(m_entries, quint64(m_directory.size()), quint64(at), quint16(comment.size())));
    append(comment);
    return m_bytes;
}

QByteArray crcForgery(const QByteArray &data, quint32 target)
{
    const z_crc_t *table = get_crc_table();
    // Backwards from the target: which table entry each of the four steps must use. The top
    // bytes of the table's entries are all different, so each step has exactly one.
    quint32 c = target ^ 0xffffffffu;
    int index[4] = {};
    for (int step = 3; step >= 0; --step) {
        for (int k = 0; k < 256; ++k) {
            if ((quint32(table[k]) >> 24) == (c >> 24)) {
                index[step] = k;
                c = (c ^ quint32(table[k])) << 8;
                break;
            }
        }
    }
    // Forwards from the data's state: the bytes that select those entries.
    quint32 s = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()))) ^ 0xffffffffu;
    QByteArray out;
    for (int step = 0; step < 4; ++step) {
        out.append(char((s ^ quint32(index[step])) & 0xff));
        s = quint32(table[index[step]]) ^ (s >> 8);
    }
    return out;
}

QByteArray overlappingBomb(int members, qsizetype kernelSize)
{
    const RawMember kernel = RawMember::deflated(QByteArray(), QByteArray(kernelSize, '\0'));
    // From the last member back: each one's content is the next one's local header followed
    // by the next one's content.
    QList<RawMember> m(members);
    QList<QByteArray> headers(members);
    QByteArray content(kernelSize, '\0');
    quint64 compressed = quint64(kernel.data.size());
    for (int i = members - 1; i >= 0; --i) {
        if (i < members - 1) {
            content = headers[i + 1] + content;
            compressed += 5 + quint64(headers[i + 1].size());
        }
        m[i] = RawMember::stored(QByteArray("bomb") + QByteArray::number(i).rightJustified(3, '0') + ".bin", content);
        m[i].method = 8;
        headers[i] = localHeader(m[i], compressed);
        m[i].data.clear();
        m[i].data.resize(qsizetype(compressed)); // only its length counts for the entry
    }
    RawZip zip;
    for (int i = 0; i < members; ++i) {
        const qint64 at = zip.append(headers[i]);
        zip.addEntry(m[i], quint64(m[i].data.size()), quint64(at));
        if (i < members - 1) {
            // A stored block that is not the last: it quotes the next local header.
            QByteArray quote(1, '\0');
            const quint16 length = quint16(headers[i + 1].size());
            quote.append(char(length & 0xff)).append(char(length >> 8));
            quote.append(char(~length & 0xff)).append(char((~length >> 8) & 0xff));
            zip.append(quote);
        }
    }
    zip.append(kernel.data);
    return zip.finish();
}

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace zelv::test
