// An ARJ volume set read from its own headers: which volumes make it (name.arj, name.a01,
// name.a02, ...), whether one is missing, and every member whole, with its size and CRC-32
// summed over the parts that span volumes. arj extracts it, with -v so that files spanning
// volumes come out whole; names are decoded as the packer's system wrote them (code page 437
// from DOS and Windows) and arj's files moved to them.
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

private:
    // Moves what arj wrote under a name's bytes to the name as decoded.
    Result<void> nameAsDecoded(const ExtractionRun &run) const;
    QList<QByteArray> m_written; // each member's name as the archive holds it
};

} // namespace zelv
