// Zip archives made by the tests themselves with libzip, and helpers that damage them on
// purpose: flip or overwrite bytes, cut the file, patch a member's header fields.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace zelv::test {

struct ZipEntry {
    enum class Method { Store, Deflate, Bzip2 };
    enum class Encryption { None, Aes256, TraditionalPkware };
    enum class NameBytes {
        Utf8, // libzip sets the UTF-8 flag when the name is not plain ASCII
        Raw,  // stored as given, without the UTF-8 flag (code page 437 for readers)
    };

    QByteArray name;
    QByteArray data;
    Method method = Method::Deflate;
    std::optional<QDateTime> mtime; // stored as DOS time, two-second steps
    bool directory = false;         // a folder entry; data is ignored
    NameBytes nameBytes = NameBytes::Utf8;
    Encryption encryption = Encryption::None;
    QByteArray password;

    static ZipEntry file(const QByteArray &name, const QByteArray &data, Method method = Method::Deflate)
    {
        ZipEntry e;
        e.name = name;
        e.data = data;
        e.method = method;
        return e;
    }
    static ZipEntry folder(const QByteArray &name)
    {
        ZipEntry e;
        e.name = name;
        e.directory = true;
        return e;
    }
};

// Writes a new archive at path (replacing any file there, making its folders). False, with a
// message, on failure.
bool writeZip(const QString &path, const QList<ZipEntry> &entries, QString *error = nullptr);

// An archive of one member of size zero bytes, deflated at level 1 and generated while it is
// written, so sizes past 4 GiB (zip64) cost little disk.
bool writeZipOfZeros(const QString &path, const QByteArray &name, quint64 size, QString *error = nullptr);

// Bytes that do not compress: a reproducible pseudo-random sequence.
QByteArray noiseBytes(qsizetype size, quint32 seed = 1);
// Text that compresses with real Huffman codes (neither stored blocks nor one long run).
QByteArray textBytes(qsizetype size);

// Where a member lives in an archive (plain zip, no zip64).
struct MemberLayout {
    qint64 localHeader = -1;   // offset of the local header
    qint64 centralHeader = -1; // offset of its central directory entry
    qint64 data = -1;          // offset of its (compressed) data
    qint64 compressedSize = 0;
    quint16 flags = 0; // general purpose flags of its directory entry
};
struct ArchiveLayout {
    qint64 endOfCentralDirectory = -1; // offset of the end record's signature
    qint64 centralDirectory = -1;
    QList<QPair<QByteArray, MemberLayout>> members; // raw names, archive order
    std::optional<MemberLayout> member(const QByteArray &rawName) const;
};
std::optional<ArchiveLayout> readLayout(const QString &path);

QByteArray readBytes(const QString &path);
bool patchBytes(const QString &path, qint64 offset, const QByteArray &bytes);
bool flipByte(const QString &path, qint64 offset);
bool cutFile(const QString &path, qint64 size);

// The method field of a member in both its local header and its directory entry.
bool setMemberMethod(const QString &path, const QByteArray &rawName, quint16 method);
// Renames a member in both headers; the new name must have the same length in bytes.
bool renameMember(const QString &path, const QByteArray &rawName, const QByteArray &newRawName);

} // namespace zelv::test
