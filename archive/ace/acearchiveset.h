// An ACE archive or volume set (name.ace, name.c00, name.c01, ...) as a volume set: listed from
// its own headers and extracted by the program's own reader, every member checked against its
// CRC as it is written.
#pragma once

#include "aceset.h"
#include "archive/archiveset.h"

namespace zelv {

class AceArchiveSet : public ArchiveSet {
public:
    explicit AceArchiveSet(const QString &hostPath);

    // Encrypted members and packing methods the reader does not know, besides the usual.
    std::optional<Error> refusal(const SetMember &member) const override;
    Result<Extracted> extract(const ExtractionRun &run) const override;

private:
    AceSet m_set;
};

} // namespace zelv
