// Reads the members of an ACE set in order, each unpacked from its parts in the volumes and
// checked against its CRC-32. A solid archive's members can only be had in order: asking for a
// later one unpacks those before it on the way.
#pragma once

#include "acedecoder.h"
#include "aceset.h"

#include <QFile>

#include <memory>

namespace zelv {

class AceReader {
public:
    explicit AceReader(const AceSet &set);

    // Unpacks member index into sink; else a message a person understands: "CRC error in
    // NAME", "Damaged data in NAME", "ACE archive is encrypted: NAME", ...
    Result<void> unpack(int index, const AceDecoder::Sink &sink);

private:
    Result<void> unpackOne(const AceMember &m, const AceDecoder::Sink &sink);

    const AceSet &m_set;
    std::unique_ptr<AceDecoder> m_decoder;
    int m_next = 0; // the member the decoder's dictionary is ready for
    QFile m_volume;
    int m_openVolume = -1;
};

} // namespace zelv
