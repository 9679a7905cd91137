// Unpacks the data of ACE members: stored, ACE 1.0 LZ77 and ACE 2.0 blocked packing (LZ77 with
// the delta and exe filters, and the sound and picture modes). One decoder unpacks the members
// of an archive in order: a solid archive's members go on with the dictionary of the one before.
// Damaged or hostile data ends with a fault, never with a read or write outside the decoder's own
// buffers, and a member never yields more than its declared size.
#pragma once

#include "platform/error.h"

#include <QString>

#include <functional>
#include <memory>

namespace zelv {

class AceDecoder {
public:
    // Packed bytes into buffer, at most size; 0 at the end of the member's data, -1 on an error.
    using Source = std::function<qsizetype(char *buffer, qsizetype size)>;
    // Unpacked bytes as they come; false stops the unpacking.
    using Sink = std::function<bool(const char *data, qsizetype size)>;

    static constexpr const char *kDamagedData = "damaged data";

    AceDecoder();
    ~AceDecoder();
    AceDecoder(const AceDecoder &) = delete;
    AceDecoder &operator=(const AceDecoder &) = delete;

    // Unpacks one member of method (0 stored, 1 LZ77, 2 blocked) with the header's parameters
    // (its low four bits give the dictionary size) into exactly size bytes; else what went
    // wrong: kDamagedData, "unknown packing method N", or "stopped" when the sink refused.
    // A member that continues (in a solid archive) may copy from the members before it; any
    // other may not reach before its own start.
    // (Inside, a fault unwinds the decoding loops as an exception; none leaves this call.)
    Result<void> unpack(int method, quint16 parameters, qint64 size, const Source &source, const Sink &sink,
                        bool continues = false);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace zelv
