// An ARJ volume set read from its own headers: which volumes make it (name.arj, name.a01,
// name.a02, ...), whether one is missing, and every member whole, with its size and CRC-32
// summed over the parts that span volumes. arj extracts it, with -v so that files spanning
// volumes come out whole.
#pragma once

#include "archive/archiveset.h"

namespace zelv {

class ArjArchiveSet : public ArchiveSet {
public:
    explicit ArjArchiveSet(const QString &hostPath);

    // Names arj never finishes, besides the usual.
    std::optional<Error> refusal(const SetMember &member) const override;
    // The install runs the helper once for each volume: the first run extracts the whole set.
    bool alreadyIn(const QString &destination, const QString &givenVolume) const override;
    Result<Extracted> extract(const ExtractionRun &run) const override;
};

} // namespace zelv
