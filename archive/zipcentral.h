// The engine's own reading of a zip archive's central directory, checked the way an archive
// made to deceive needs: one end record only, a zip64 record that agrees with it, a directory
// exactly where they say, each local header agreeing with its directory entry, and no two
// members sharing a byte. Member data is then read straight from the offsets found here.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>
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
};

// The directory's entries in their order, or nothing when any check fails; why then says
// which, in a few words.
std::optional<std::vector<CentralEntry>> readCentralDirectory(int fd, const char **why = nullptr);

// Reads exactly n bytes at an offset; false on an error or the end of the file.
bool readAt(int fd, void *buffer, size_t n, quint64 offset);

} // namespace zelv
