// The zip compression methods beyond stored and deflated data, each decoded as a stream: the
// packed bytes are read from the archive a piece at a time and the output handed on in pieces,
// so a member of any size costs a bounded amount of memory.
//
//   method              decoded by
//    1 Shrink           our own LZW decoder
//    6 Implode          our own decoder (Shannon-Fano codes, 4 or 8 KiB window)
//    9 Deflate64        our own inflater (64 KiB window, the longer lengths and distances)
//   12 BZip2            libarchive (libbz2)
//   14 LZMA             liblzma
//   20, 93 Zstandard    libzstd; 20 is the number some early writers used
//   95 XZ               liblzma
//   98 PPMd (var. I)    libarchive's own decoder
//
// A decoder's memory is known from the member's first bytes before it starts (the dictionary,
// window or model its header asks for) and held to the caller's limit; every decoder looks at
// the stop request as it works, however little output the input makes.
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
    Done,          // the stream ended where it should
    DataError,     // the packed data is damaged
    ReadError,     // the archive could not be read there (cut short)
    Stopped,       // the sink or the stop request asked to stop
    TooMuchMemory, // the member asks for more memory than the limit; nothing was decoded
};

struct DecodeControl {
    // Looked at every few milliseconds of work; true stops the decoding.
    std::function<bool()> stopRequested;
    quint64 memoryLimit = 0;
    // With TooMuchMemory: what the member's header asks for.
    quint64 memoryNeeded = 0;
};

// Takes each piece of output; false stops the decoding.
using DecodeSink = std::function<bool(const unsigned char *data, size_t n)>;

bool methodIsDecoded(quint16 method);
// The memory the member's decoder will take, as its first bytes declare it (0 for the methods
// whose decoders take a small fixed amount, and where the bytes cannot be read: decoding then
// finds the damage).
quint64 declaredMemory(const PackedMember &member);
DecodeResult decodeMember(const PackedMember &member, const DecodeSink &sink, DecodeControl &control);

} // namespace zelv
