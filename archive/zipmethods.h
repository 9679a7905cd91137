// The zip compression methods beyond stored and deflated data, each decoded as a stream: the
// packed bytes are read from the archive a piece at a time and the output handed on in pieces,
// so a member of any size costs a bounded amount of memory.
//
//   method              decoded by
//    1 Shrink           our own LZW decoder
//    6 Implode          our own decoder (Shannon-Fano codes, 4 or 8 KiB window)
//    9 Deflate64        our own inflater (64 KiB window, the longer lengths and distances)
//   12 BZip2            libarchive (libbz2)
//   14 LZMA             libarchive (liblzma)
//   20, 93 Zstandard    libzstd; 20 is the number some early writers used
//   95 XZ               libarchive (liblzma)
//   98 PPMd (var. I)    libarchive's own decoder
#pragma once

#include <QtGlobal>
#include <functional>

namespace zelv {

struct PackedMember {
    int fd = -1;        // the archive
    quint64 offset = 0; // where its packed data starts
    quint64 packed = 0; // the packed data's length
    quint64 size = 0;   // the unpacked size the directory declares
    quint32 crc = 0;    // the unpacked data's CRC-32 the directory declares
    quint16 method = 0;
    quint16 flags = 0; // general-purpose flags (LZMA's end marker, PPMd's options)
};

enum class DecodeResult {
    Done,      // the stream ended where it should
    DataError, // the packed data is damaged
    ReadError, // the archive could not be read there (cut short)
    Stopped,   // the sink asked to stop
};

// Takes each piece of output; false stops the decoding.
using DecodeSink = std::function<bool(const unsigned char *data, size_t n)>;

bool methodIsDecoded(quint16 method);
DecodeResult decodeMember(const PackedMember &member, const DecodeSink &sink);

} // namespace zelv
