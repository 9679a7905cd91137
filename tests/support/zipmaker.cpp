#include "zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <zip.h>

namespace zelv::test {

namespace {

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

QString libzipMessage(zip_t *za) { return QString::fromLocal8Bit(zip_error_strerror(zip_get_error(za))); }

zip_t *createArchive(const QString &path, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    int code = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        setError(error,
                 QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(zip_error_strerror(&e))));
        zip_error_fini(&e);
    }
    return za;
}

bool closeArchive(zip_t *za, QString *error)
{
    if (zip_close(za) == 0)
        return true;
    setError(error, QStringLiteral("cannot write archive: %1").arg(libzipMessage(za)));
    zip_discard(za);
    return false;
}

bool addEntry(zip_t *za, const ZipEntry &e, QString *error)
{
    const zip_flags_t nameFlags = e.nameBytes == ZipEntry::NameBytes::Utf8 ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_RAW;
    zip_int64_t index = -1;
    if (e.directory) {
        index = zip_dir_add(za, e.name.constData(), nameFlags);
    } else {
        // The entry list outlives zip_close, so the bytes need no copy.
        zip_source_t *source = zip_source_buffer(za, e.data.constData(), zip_uint64_t(e.data.size()), 0);
        if (!source) {
            setError(error, libzipMessage(za));
            return false;
        }
        index = zip_file_add(za, e.name.constData(), source, nameFlags);
        if (index < 0)
            zip_source_free(source);
    }
    if (index < 0) {
        setError(error,
                 QStringLiteral("cannot add %1: %2").arg(QString::fromLatin1(e.name.toHex()), libzipMessage(za)));
        return false;
    }
    const auto idx = zip_uint64_t(index);
    const zip_int32_t method = e.method == ZipEntry::Method::Store   ? ZIP_CM_STORE
                               : e.method == ZipEntry::Method::Bzip2 ? ZIP_CM_BZIP2
                                                                     : ZIP_CM_DEFLATE;
    if (!e.directory && zip_set_file_compression(za, idx, method, 0) != 0) {
        setError(error, libzipMessage(za));
        return false;
    }
    if (e.mtime && zip_file_set_mtime(za, idx, time_t(e.mtime->toSecsSinceEpoch()), 0) != 0) {
        setError(error, libzipMessage(za));
        return false;
    }
    if (e.encryption != ZipEntry::Encryption::None) {
        const zip_uint16_t method = e.encryption == ZipEntry::Encryption::Aes256 ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
        if (zip_file_set_encryption(za, idx, method, e.password.constData()) != 0) {
            setError(error, QStringLiteral("encryption: %1").arg(libzipMessage(za)));
            return false;
        }
    }
    return true;
}

struct Zeros {
    quint64 size = 0;
    quint64 position = 0;
    zip_error_t error;
};

zip_int64_t zerosCallback(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *z = static_cast<Zeros *>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        z->position = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t n = std::min<zip_uint64_t>(length, z->size - z->position);
        memset(data, 0, n);
        z->position += n;
        return zip_int64_t(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &z->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = z->size;
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&z->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&z->error);
        delete z;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&z->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

quint16 u16(const QByteArray &b, qint64 at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }

quint32 u32(const QByteArray &b, qint64 at) { return quint32(u16(b, at)) | quint32(u16(b, at + 2)) << 16; }

QByteArray le16(quint16 v)
{
    const char bytes[2] = {char(v & 0xff), char(v >> 8)};
    return QByteArray(bytes, 2);
}

} // namespace

bool writeZip(const QString &path, const QList<ZipEntry> &entries, QString *error)
{
    zip_t *za = createArchive(path, error);
    if (!za)
        return false;
    for (const ZipEntry &e : entries) {
        if (!addEntry(za, e, error)) {
            zip_discard(za);
            return false;
        }
    }
    if (entries.isEmpty()) {
        // libzip writes nothing for an archive without members; the end record alone is a
        // valid empty archive.
        zip_discard(za);
        QFile f(path);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            setError(error, f.errorString());
            return false;
        }
        f.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
        return true;
    }
    return closeArchive(za, error);
}

bool writeZipOfZeros(const QString &path, const QByteArray &name, quint64 size, QString *error)
{
    zip_t *za = createArchive(path, error);
    if (!za)
        return false;
    auto *zeros = new Zeros;
    zeros->size = size;
    zip_error_init(&zeros->error);
    zip_source_t *source = zip_source_function(za, zerosCallback, zeros);
    if (!source) {
        zip_error_fini(&zeros->error);
        delete zeros;
        setError(error, libzipMessage(za));
        zip_discard(za);
        return false;
    }
    const zip_int64_t index = zip_file_add(za, name.constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        setError(error, libzipMessage(za));
        zip_discard(za);
        return false;
    }
    if (zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_DEFLATE, 1) != 0) {
        setError(error, libzipMessage(za));
        zip_discard(za);
        return false;
    }
    return closeArchive(za, error);
}

QByteArray noiseBytes(qsizetype size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = seed ? seed : 1;
    for (qsizetype i = 0; i < size; ++i) {
        // xorshift32: cheap and never compresses.
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 24);
    }
    return out;
}

QByteArray textBytes(qsizetype size)
{
    static const char *const words[] = {"archive", "member", "folder", "install", "setup", "read", "me", "disk"};
    QByteArray out;
    out.reserve(size + 64);
    quint32 x = 7;
    for (int line = 0; out.size() < size; ++line) {
        out += QByteArray::number(line);
        for (int w = 0; w < 6; ++w) {
            x = x * 1103515245u + 12345u;
            out += ' ';
            out += words[(x >> 16) % 8];
        }
        out += '\n';
    }
    out.truncate(size);
    return out;
}

std::optional<MemberLayout> ArchiveLayout::member(const QByteArray &rawName) const
{
    for (const auto &m : members)
        if (m.first == rawName)
            return m.second;
    return std::nullopt;
}

std::optional<ArchiveLayout> readLayout(const QString &path)
{
    const QByteArray b = readBytes(path);
    ArchiveLayout layout;
    for (qint64 at = b.size() - 22; at >= 0 && at >= b.size() - 22 - 0xffff; --at) {
        if (u32(b, at) == 0x06054b50) {
            layout.endOfCentralDirectory = at;
            break;
        }
    }
    if (layout.endOfCentralDirectory < 0)
        return std::nullopt;
    const qint64 end = layout.endOfCentralDirectory;
    const int count = u16(b, end + 10);
    layout.centralDirectory = u32(b, end + 16);
    qint64 at = layout.centralDirectory;
    for (int i = 0; i < count; ++i) {
        if (at + 46 > b.size() || u32(b, at) != 0x02014b50)
            return std::nullopt;
        MemberLayout m;
        m.centralHeader = at;
        m.flags = u16(b, at + 8);
        m.compressedSize = u32(b, at + 20);
        const int nameLength = u16(b, at + 28);
        const int extraLength = u16(b, at + 30);
        const int commentLength = u16(b, at + 32);
        m.localHeader = u32(b, at + 42);
        const QByteArray name = b.mid(at + 46, nameLength);
        if (m.localHeader + 30 > b.size() || u32(b, m.localHeader) != 0x04034b50)
            return std::nullopt;
        m.data = m.localHeader + 30 + u16(b, m.localHeader + 26) + u16(b, m.localHeader + 28);
        layout.members.append({name, m});
        at += 46 + nameLength + extraLength + commentLength;
    }
    return layout;
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool patchBytes(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && offset + bytes.size() <= f.size() && f.seek(offset) &&
           f.write(bytes) == bytes.size();
}

bool flipByte(const QString &path, qint64 offset)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || offset >= f.size() || !f.seek(offset))
        return false;
    char c = 0;
    if (!f.getChar(&c) || !f.seek(offset))
        return false;
    return f.putChar(char(~c));
}

bool cutFile(const QString &path, qint64 size) { return QFile::resize(path, size); }

bool setMemberMethod(const QString &path, const QByteArray &rawName, quint16 method)
{
    const auto layout = readLayout(path);
    const auto m = layout ? layout->member(rawName) : std::nullopt;
    return m && patchBytes(path, m->localHeader + 8, le16(method)) &&
           patchBytes(path, m->centralHeader + 10, le16(method));
}

bool renameMember(const QString &path, const QByteArray &rawName, const QByteArray &newRawName)
{
    if (rawName.size() != newRawName.size())
        return false;
    const auto layout = readLayout(path);
    const auto m = layout ? layout->member(rawName) : std::nullopt;
    return m && patchBytes(path, m->localHeader + 30, newRawName) &&
           patchBytes(path, m->centralHeader + 46, newRawName);
}

} // namespace zelv::test
