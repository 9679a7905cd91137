// A RAR volume set found from any one of its volumes: old names (name.rar, name.r00, name.r01,
// ..., name.s00) or new ones (name.part1.rar, name.part01.rar, ...), RAR 1.5 to 4 and RAR 5.
// Each volume's own blocks say whether another volume follows, so a set that lacks its last
// volume is told as surely as one that lacks a middle one. RAR 5 members are listed from their
// own headers, older ones by lsar, with their sizes, CRCs, dates, modes and, for RAR 5, the
// dictionary each needs. A set of stored members, and any RAR 5 set, is read in this process through
// libarchive, every volume handed to it in order; packed RAR 1.5 to 4, and whatever libarchive
// cannot read, is extracted by unar. Where unar gives up on a packed set for another reason than
// damage it found, a cancellation or a full disk, libarchive reads the set over again; where
// libarchive finds packed RAR 5 data damaged, unar reads it again before the damage is told.
#pragma once

#include "archive/archiveset.h"

#include <QSet>

#include <memory>

namespace zelv {

class LinkFolder;

class RarArchiveSet : public ArchiveSet {
public:
    explicit RarArchiveSet(const QString &hostPath);
    ~RarArchiveSet() override;

    Result<void> readMembers() override;
    // A RAR 5 dictionary over what a tool may be given.
    std::optional<Error> setRefusal() const override;
    Result<Extracted> extract(const ExtractionRun &run) const override;

    // Extracts through libarchive in this process whatever the set holds; nothing when
    // libarchive cannot read it (for a caller to try unar).
    std::optional<Result<Extracted>> extractInProcess(const ExtractionRun &run) const;
    Result<Extracted> extractWithUnar(const ExtractionRun &run) const;

private:
    struct UnarOutcome {
        Result<Extracted> result;
        // unar failed on no damage it found: another reader may try (no links made yet).
        bool readAgain = false;
    };
    UnarOutcome runUnar(const ExtractionRun &run) const;
    // Whether unar's failure was the disk filling up.
    bool outOfSpace(const ExtractionRun &run, const QByteArray &toolOutput) const;
    // Lists the set through firstVolume; how many volumes lsar followed.
    Result<int> list(const QString &firstVolume);
    // Lists a RAR 5 set from its own headers.
    Result<void> listRar5();
    // A stored member's bytes as text, read from its pieces; empty when they do not check out.
    QString storedText(const SetMember &m) const;
    // The name of the file a copy is made from.
    QString copySource(int copy) const;
    // The largest window a member's packed data needs.
    quint64 largestDictionary() const;
    // Symbolic links, once every file is in place, and the copies not yet made.
    enum class Copies { Made, FromFilesInPlace };
    Result<void> makeLinks(const ExtractionRun &run, Copies copies) const;
    // unar writes a '/' inside a name made on DOS or Windows as '_': such files go to the places
    // the listing gives them.
    Result<void> placeWindowsNames(const ExtractionRun &run) const;
    bool m_storedOnly = true; // no member is packed
    bool m_rar5 = false;      // the RAR 5 format
    QSet<int> m_windowsNamed; // members made on DOS, OS/2 or Windows whose names hold '/'

    QString m_toolFirstVolume; // the first volume as the tool is handed it
    std::unique_ptr<LinkFolder> m_links;
};

} // namespace zelv
