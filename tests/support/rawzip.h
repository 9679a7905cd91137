// Zip archives laid out byte by byte, for the archives no writer makes on purpose: headers
// that lie, members whose data overlap, a second directory, a zip64 locator pointing
// elsewhere. Plain little-endian records; nothing is checked.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace zelv::test {

// One member as the records describe it. data is stored as given: its compressed bytes.
struct RawMember {
    QByteArray name;
    QByteArray data;
    quint16 method = 0; // 0 stored, 8 deflated
    quint32 crc = 0;    // of the uncompressed bytes
    quint64 size = 0;   // uncompressed
    quint16 flags = 0;
    // Directory entry fields beyond the ones the local header shares.
    quint16 versionMadeBy = 20;
    quint16 centralVersionNeeded = 20;
    quint32 centralDosTime = 0x5a2b6000; // some day in 2025, as the local header has it
    quint32 externalAttributes = 0;
    QByteArray centralExtra;

    // A stored member whose record fields match data.
    static RawMember stored(const QByteArray &name, const QByteArray &data);
    // A deflated member (zlib's raw deflate at level 9).
    static RawMember deflated(const QByteArray &name, const QByteArray &plain);
    // A shrunk member (method 1, PKZIP 1's LZW): codes grow from 9 to 13 bits, announced as
    // the method wants, and a full table is partly cleared as PKZIP clears it.
    static RawMember shrunk(const QByteArray &name, const QByteArray &plain);
    // An imploded member (method 6, PKZIP 1's LZ77 with Shannon-Fano codes), with or without a
    // tree for the literals, over an 8 or a 4 KiB window; the trees are fixed, uneven ones.
    static RawMember imploded(const QByteArray &name, const QByteArray &plain, bool literalTree, bool bigWindow);
};

QByteArray localHeader(const RawMember &m, quint64 compressedSize);
QByteArray centralHeader(const RawMember &m, quint64 compressedSize, quint64 localOffset);
QByteArray endRecord(quint64 count, quint64 directorySize, quint64 directoryOffset, quint16 commentLength);
QByteArray zip64EndRecord(quint64 count, quint64 directorySize, quint64 directoryOffset);
QByteArray zip64Locator(quint64 zip64EndOffset);

// An archive built up in order: members, then their directory, then the end record.
class RawZip {
public:
    // Appends the member's local header and data; returns the local header's offset.
    qint64 addMember(const RawMember &m);
    // Appends bytes as they are; returns their offset.
    qint64 append(const QByteArray &bytes);
    // A directory entry, kept until finish().
    void addEntry(const RawMember &m, quint64 compressedSize, quint64 localOffset);
    // Every member added with addMember gets its entry.
    void addEntriesForMembers();
    // Appends the directory and the end record (its comment after it); returns the archive.
    QByteArray finish(const QByteArray &comment = QByteArray());

    qint64 size() const { return m_bytes.size(); }
    // The bytes so far, without a directory or end record.
    const QByteArray &bytes() const { return m_bytes; }

private:
    struct Added {
        RawMember member;
        qint64 offset;
    };
    QByteArray m_bytes;
    QByteArray m_directory;
    quint64 m_entries = 0;
    QList<Added> m_added;
};

bool writeFileBytes(const QString &path, const QByteArray &bytes);

// Four bytes that, appended to data, give the whole the CRC-32 target: how a forger makes
// other content pass a check.
QByteArray crcForgery(const QByteArray &data, quint32 target);

// A member list whose members all share one deflate stream: each member's data quotes the
// next members' local headers in stored blocks and ends in one kernel that inflates to
// kernelSize zeros. Every member is valid on its own; together they overlap.
QByteArray overlappingBomb(int members, qsizetype kernelSize);

} // namespace zelv::test
