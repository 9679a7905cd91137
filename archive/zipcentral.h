// The engine's own reading of a zip archive's central directory, checked the way an archive
// made to deceive needs: one end record only, a zip64 record that agrees with it, a directory
// where they say (or, behind a stub as self-extracting archives have, shifted as a whole by the
// stub's length), each local header agreeing with its directory entry on method, encryption
// and (unless a data descriptor follows the data) CRC and sizes, and no two members
// sharing a byte. Member data is then read straight from the offsets found here. Bytes after
// the end record (padding, a trailer) are passed over, as other readers do.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <unordered_map>
#include <vector>

namespace zelv {

struct CentralEntry {
    QByteArray rawName; // the stored bytes, NULs and all
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
    quint64 localHeader = 0;
    quint64 data = 0; // where the member's data starts, after its local header
    quint16 versionMadeBy = 0;
    quint32 dosTime = 0; // DOS date in the high half, time in the low one
    quint32 externalAttributes = 0;
    // The name as text: UTF-8 when the flag says so, else the Unicode path field when its CRC
    // matches the stored bytes (as Info-ZIP writes it), else code page 437.
    QString name;
    // A folder: its name ends in a slash, or it unpacks to nothing and its attributes say so.
    bool isDirectory() const;
};

// DOS date-times, taken as local time, as seconds since the epoch. The C library looks at the
// time zone's file at every conversion; here each date is converted once, and a time of day is
// added to its midnight unless the clocks change that day. One converter serves one reading,
// so that a changed time zone counts from the next.
class DosTimes {
public:
    qint64 toUnix(quint32 dosTime);

private:
    struct Day {
        qint64 midnight = 0;
        bool even = false; // 24 hours long: no change of the clocks
    };
    std::unordered_map<quint16, Day> m_days;
};

// The directory's entries in their order, or nothing when any check fails; why then says
// which, in a few words.
std::optional<std::vector<CentralEntry>> readCentralDirectory(int fd, const char **why = nullptr);

// Reads exactly n bytes at an offset; false on an error or the end of the file.
bool readAt(int fd, void *buffer, size_t n, quint64 offset);

} // namespace zelv
