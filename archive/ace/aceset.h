// An ACE archive or volume set (name.ace, then name.c00, name.c01, ...) read from its own
// headers: the main header with its "**ACE**" signature, every header checked against its
// CRC-16, and each member whole with the parts of its data in each volume. Nothing here
// decompresses; this is the listing that extraction is checked against.
#pragma once

#include "platform/error.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace zelv {

enum class AceMethod : quint8 { Stored = 0, Lz77 = 1, Blocked = 2 };

// A piece of a member's packed data in one volume.
struct AcePart {
    int volume = 0;    // index into AceSet::volumes
    qint64 offset = 0; // where the piece starts in that volume
    qint64 size = 0;
};

struct AceMember {
    QByteArray storedName; // as the archive has it: DOS code page, '\' between parts
    QString name;          // for people and for the file system, '\' kept
    qint64 size = 0;       // unpacked
    qint64 packedSize = 0; // over all its parts
    quint32 crc = 0;       // CRC-32 of the unpacked data, as zip and zlib reckon it
    quint32 attributes = 0;
    quint32 dosTime = 0;
    quint8 method = 0; // an AceMethod, or a number this reader does not know
    quint8 quality = 0;
    quint16 parameters = 0; // dictionary size and the like
    bool directory = false;
    bool encrypted = false;
    bool solid = false; // goes on with the dictionary of the member before it
    QList<AcePart> parts;
};

struct AceSet {
    QStringList volumes; // host paths, first volume first
    int versionNeeded = 0;
    int versionMadeBy = 0;
    bool multiVolume = false;
    bool solid = false;
    QList<AceMember> members;
    QString missingVolume;       // host path of the first volume that is not there
    std::optional<Error> damage; // a damaged or foreign file, in a few words
};

// The set that the file at hostPath belongs to, whichever of its volumes that is. An archive
// behind a self-extracting stub is found by its signature in the first 512 KB.
AceSet readAceSet(const QString &hostPath);

// The CRC-32 the archive keeps: the usual one without its final inversion.
quint32 aceCrc32(const char *data, qsizetype size, quint32 running = 0xFFFFFFFFu);

} // namespace zelv
