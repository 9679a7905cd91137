#include "par2set.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

const QByteArray kMagic("PAR2\0PKT", 8);
const QByteArray kFileDescription("PAR 2.0\0FileDesc", 16);
const QByteArray kUnicodeName("PAR 2.0\0UniFileN", 16);
constexpr qint64 kHeaderSize = 64;       // magic, length, MD5, set id, type
constexpr qint64 kHashedFrom = 32;       // the MD5 covers the packet from the set id on
constexpr qint64 kDescriptionFixed = 56; // file id, MD5, MD5 of the first 16k, length
constexpr qint64 kUnicodeFixed = 16;     // file id
constexpr qint64 kLongestName = 4096;    // bytes; longer is no volume's name
constexpr qint64 kChunk = 1 << 20;

// Closes the descriptor on every way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Exactly size bytes at offset, or false.
bool readAt(int fd, qint64 offset, char *into, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, into, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO; // the file ended sooner than it said
        if (n <= 0)
            return false;
        into += n;
        offset += n;
        size -= n;
    }
    return true;
}

// A packet's name field as it streams past: the bytes up to the longest name kept, and
// whether anything but zeros comes after them.
class NameField {
public:
    explicit NameField(qint64 unit) : m_unit(unit) {}
    void add(const char *data, qint64 size)
    {
        const qint64 keep = std::min(size, kLongestName * m_unit + m_unit - m_kept.size());
        if (keep > 0)
            m_kept.append(data, keep);
        for (qint64 i = std::max<qint64>(keep, 0); i < size && !m_overlong; ++i)
            m_overlong = data[i] != 0;
    }
    // The name, or empty when it cannot be a file's name.
    QString name() const
    {
        if (m_overlong)
            return {};
        qsizetype end = 0;
        while (end + m_unit <= m_kept.size() && !isZero(end))
            end += m_unit;
        for (qsizetype i = end; i < m_kept.size(); ++i)
            if (m_kept[i] != 0)
                return {};
        if (end == 0 || end > kLongestName * m_unit)
            return {};
        if (m_unit == 2) {
            QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
            const QString text = utf16.decode(m_kept.left(end));
            return utf16.hasError() ? QString() : text;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(m_kept.left(end));
        return utf8.hasError() ? QString() : text;
    }

private:
    bool isZero(qsizetype at) const
    {
        for (qint64 i = 0; i < m_unit; ++i)
            if (m_kept[at + i] != 0)
                return false;
        return true;
    }
    qint64 m_unit;
    QByteArray m_kept;
    bool m_overlong = false;
};

} // namespace

Result<Par2Contents> readPar2Descriptions(const QString &hostPath,
                                          const std::function<bool(const Par2Description &)> &keepGoing)
{
    Descriptor file;
    file.fd = ::open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0)
        return Error::fromErrno(QStringLiteral("%1 cannot be read").arg(hostPath));
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return Error::fromErrno(QStringLiteral("%1 cannot be read").arg(hostPath));
    if (!S_ISREG(st.st_mode))
        return Error(QStringLiteral("%1 is not a plain file").arg(hostPath));
    const qint64 size = st.st_size;
    // Checking a packet costs its length; a file made of overlapping headers is given up on
    // before it costs more than reading the file twice.
    const qint64 budget = 2 * size + kChunk;
    qint64 hashed = 0;

    Par2Contents contents;
    const auto unreadable = [&]() { return Error::fromErrno(QStringLiteral("%1 cannot be read").arg(hostPath)); };
    QByteArray piece;
    // One packet at offset: false to stop reading.
    const auto examine = [&](qint64 offset, bool &failed) -> bool {
        if (size - offset < kHeaderSize)
            return true;
        char header[kHeaderSize];
        if (!readAt(file.fd, offset, header, kHeaderSize))
            return !(failed = true);
        const QByteArray type(header + 48, 16);
        const bool unicode = type == kUnicodeName;
        if (!unicode && type != kFileDescription)
            return true;
        const quint64 length = qFromLittleEndian<quint64>(header + 8);
        const qint64 fixed = unicode ? kUnicodeFixed : kDescriptionFixed;
        if (length < quint64(kHeaderSize + fixed) || length > quint64(size - offset))
            return true;
        if (hashed + qint64(length) > budget)
            return false;
        hashed += qint64(length);

        QCryptographicHash md5(QCryptographicHash::Md5);
        md5.addData(QByteArrayView(header + kHashedFrom, kHeaderSize - kHashedFrom));
        NameField name(unicode ? 2 : 1);
        for (qint64 at = kHeaderSize; at < qint64(length);) {
            const qint64 n = std::min<qint64>(qint64(length) - at, 64 * 1024);
            piece.resize(n);
            if (!readAt(file.fd, offset + at, piece.data(), n))
                return !(failed = true);
            md5.addData(piece);
            const qint64 body = at - kHeaderSize;
            if (body + n > fixed) {
                const qint64 skip = std::max<qint64>(fixed - body, 0);
                name.add(piece.constData() + skip, n - skip);
            }
            at += n;
        }
        if (md5.result() != QByteArray(header + 16, 16))
            return true;
        const Par2Description found{QByteArray(header + 32, 16), name.name()};
        contents.files << found;
        return !keepGoing || keepGoing(found);
    };

    QByteArray chunk;
    for (qint64 at = 0; at < size; at += kChunk) {
        // Seven bytes more than a chunk, so that a header across two chunks is seen once.
        const qint64 n = std::min<qint64>(kChunk + kMagic.size() - 1, size - at);
        chunk.resize(n);
        if (!readAt(file.fd, at, chunk.data(), n))
            return unreadable();
        for (qsizetype hit = chunk.indexOf(kMagic); hit >= 0; hit = chunk.indexOf(kMagic, hit + 1)) {
            bool failed = false;
            if (!examine(at + hit, failed))
                return failed ? Result<Par2Contents>(unreadable()) : contents;
        }
    }
    contents.whole = true;
    return contents;
}

} // namespace zelv
