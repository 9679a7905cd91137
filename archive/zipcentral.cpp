#include "zipcentral.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

quint16 le16(const unsigned char *p) { return quint16(p[0] | p[1] << 8); }
quint32 le32(const unsigned char *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
quint64 le64(const unsigned char *p) { return quint64(le32(p)) | quint64(le32(p + 4)) << 32; }

constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kLocalSignature = 0x04034b50;

} // namespace

bool readAt(int fd, void *buffer, size_t n, quint64 offset)
{
    auto *p = static_cast<unsigned char *>(buffer);
    while (n > 0) {
        const ssize_t r = pread(fd, p, n, off_t(offset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
        offset += quint64(r);
    }
    return true;
}

std::optional<std::vector<quint64>> localHeaderOffsets(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < 22)
        return std::nullopt;
    const quint64 size = quint64(st.st_size);
    // The end record sits in the last 22 bytes plus a comment of at most 65535.
    const size_t tail = size_t(std::min<quint64>(size, 22 + 65535));
    std::vector<unsigned char> t(tail);
    if (!readAt(fd, t.data(), tail, size - tail))
        return std::nullopt;
    size_t e = tail - 22 + 1;
    bool found = false;
    while (e-- > 0) {
        if (le32(&t[e]) == kEndSignature) {
            found = true;
            break;
        }
    }
    if (!found)
        return std::nullopt;
    quint64 count = le16(&t[e + 10]);
    quint64 cdSize = le32(&t[e + 12]);
    quint64 cdOffset = le32(&t[e + 16]);
    if ((count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) && e >= 20 &&
        le32(&t[e - 20]) == kZip64LocatorSignature) {
        unsigned char z[56];
        if (!readAt(fd, z, sizeof z, le64(&t[e - 20 + 8])) || le32(z) != kZip64EndSignature)
            return std::nullopt;
        count = le64(z + 32);
        cdSize = le64(z + 40);
        cdOffset = le64(z + 48);
    }
    if (cdOffset > size || cdSize > size - cdOffset || count > cdSize / 46 + 1)
        return std::nullopt;
    std::vector<unsigned char> cd(static_cast<size_t>(cdSize));
    if (!readAt(fd, cd.data(), cd.size(), cdOffset))
        return std::nullopt;

    std::vector<quint64> offsets;
    offsets.reserve(size_t(count));
    size_t at = 0;
    while (at + 46 <= cd.size() && le32(&cd[at]) == kCentralSignature) {
        const unsigned char *h = &cd[at];
        const size_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
        if (at + 46 + nameLength + extraLength + commentLength > cd.size())
            return std::nullopt;
        quint64 offset = le32(h + 42);
        if (offset == 0xFFFFFFFF) {
            // The zip64 extra field holds, in order, only the values marked as too large.
            const unsigned char *x = h + 46 + nameLength;
            const unsigned char *end = x + extraLength;
            bool resolved = false;
            while (x + 4 <= end) {
                const quint16 id = le16(x), length = le16(x + 2);
                if (id == 1) {
                    const unsigned char *field = x + 4;
                    if (le32(h + 24) == 0xFFFFFFFF)
                        field += 8;
                    if (le32(h + 20) == 0xFFFFFFFF)
                        field += 8;
                    if (field + 8 <= std::min(x + 4 + length, end)) {
                        offset = le64(field);
                        resolved = true;
                    }
                    break;
                }
                x += 4 + length;
            }
            if (!resolved)
                return std::nullopt;
        }
        offsets.push_back(offset);
        at += 46 + nameLength + extraLength + commentLength;
    }
    if (offsets.size() != count)
        return std::nullopt;
    return offsets;
}

std::optional<quint64> memberDataOffset(int fd, quint64 localHeader, quint64 compressedSize, quint64 fileSize)
{
    unsigned char h[30];
    if (!readAt(fd, h, sizeof h, localHeader) || le32(h) != kLocalSignature)
        return std::nullopt;
    const quint64 data = localHeader + 30 + le16(h + 26) + le16(h + 28);
    if (data > fileSize || compressedSize > fileSize - data)
        return std::nullopt;
    return data;
}

} // namespace zelv
