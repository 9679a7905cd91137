// A RAR volume set found from any one of its volumes: old names (name.rar, name.r00, name.r01,
// ..., name.s00) or new ones (name.part1.rar, name.part01.rar, ...), RAR 1.5 to 4 and RAR 5.
// Each volume's own blocks say whether another volume follows, so a set that lacks its last
// volume is told as surely as one that lacks a middle one. lsar lists the members with their
// sizes and CRCs; unar extracts them.
#pragma once

#include "archive/archiveset.h"

#include <memory>

class QTemporaryDir;

namespace zelv {

class RarArchiveSet : public ArchiveSet {
public:
    explicit RarArchiveSet(const QString &hostPath);
    ~RarArchiveSet() override;

    Result<void> readMembers() override;
    Result<Extracted> extract(const ExtractionRun &run) const override;

private:
    // Lists the set through firstVolume; how many volumes lsar followed.
    Result<int> list(const QString &firstVolume);

    QString m_toolFirstVolume; // the first volume as the tool is handed it
    std::unique_ptr<QTemporaryDir> m_links;
};

} // namespace zelv
