// What a decoder or an archiver tool may take, known before it starts. An archive whose headers
// ask for more is refused with a sentence that says how much it needs, before anything is
// decoded; the numbers follow what real archives use.
#pragma once

#include <QString>
#include <QtGlobal>

namespace zelv::budget {

// A dictionary, window or model decoded inside the program (zip members): zstd's own ceiling
// for a frame's window, twice the largest that xz -9 and 7-Zip's top level write (64 MiB).
inline constexpr quint64 kInProcessWindow = quint64(128) << 20;
// What the zip engine's decoders hold at once, its workers together, so that the program with
// its windows stays under 256 MB.
inline constexpr quint64 kInProcessTotal = quint64(160) << 20;
// A RAR dictionary, decoded in a helper by libarchive or unar: RAR 5 writes up to 1 GB.
inline constexpr quint64 kToolDictionary = quint64(1) << 30;
// The address space any tool a helper runs may take besides a dictionary it is given: the
// ceiling on a tool's own faults.
inline constexpr quint64 kToolAddressSpace = quint64(1) << 30;

// "6 GB", "128 MB", "64 KB": the largest unit that gives at least 1, rounded up.
QString memoryText(quint64 bytes);

// "prog.rar needs 6 GB of memory to extract (its dictionary); this program allows 1 GB"
QString memoryRefusal(const QString &archiveName, quint64 needed, const QString &what, quint64 allowed);

} // namespace zelv::budget
