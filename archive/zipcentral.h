// The engine's own look at a zip archive's central directory: where each member's local header
// starts, so that member data can be read straight from the file. The archive has been checked
// by libzip before; this only finds offsets, and answers nothing when anything looks off.
#pragma once

#include <QtGlobal>
#include <optional>
#include <vector>

namespace zelv {

// Local header offsets in central directory order (libzip's member indexes), zip64 included.
std::optional<std::vector<quint64>> localHeaderOffsets(int fd);

// Where a member's data starts, after its local header, or nothing when the header there is
// not a local header or the data would run past the end of the file.
std::optional<quint64> memberDataOffset(int fd, quint64 localHeader, quint64 compressedSize, quint64 fileSize);

// Reads exactly n bytes at an offset; false on an error or the end of the file.
bool readAt(int fd, void *buffer, size_t n, quint64 offset);

} // namespace zelv
