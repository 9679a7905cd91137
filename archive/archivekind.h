// The four archive kinds the program works on, one at a time, with their listing filters,
// labels, volume naming and the byte signatures that tell a volume of a kind.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace zelv {

// In the order of the toolbar's kind buttons.
enum class ArchiveKind { Zip, Rar, Arj, Ace };

inline constexpr std::array<ArchiveKind, 4> kAllArchiveKinds{ArchiveKind::Zip, ArchiveKind::Rar, ArchiveKind::Arj,
                                                             ArchiveKind::Ace};

struct ArchiveKindInfo {
    ArchiveKind kind;
    QString key;                  // toolbar key: "zip", "rar", "arj", "ace"
    QString tooltip;              // "Zip's", ...
    QString listingFilter;        // set by the kind's button
    QString label;                // shown in the kind panel
    QString filterBeforeSelect;   // set by the installation before it selects a set
    QString filterAfterSelect;    // set by the installation after it has selected a set
    QStringList presencePatterns; // files in a folder that tell a set of the kind may be there
    QStringList candidateMarkers; // a name holding one of these may be a volume
    QString firstVolumeExtension; // the last three letters of a first volume, upper case
};

const ArchiveKindInfo &archiveKindInfo(ArchiveKind kind);
std::optional<ArchiveKind> archiveKindFromKey(QStringView key);

// True when the name holds one of the kind's candidate markers. Letter case is ignored, as the
// listing filters ignore it: a continuation volume listed as x.r00 is a candidate like X.R00.
bool isVolumeCandidate(QStringView name, ArchiveKind kind);

// True when the last three characters of the name, in upper case, are the kind's first-volume
// extension ("ABC.RAR", "abc.rar" and "Abc.Rar" for rar; not "abc.r00").
bool isFirstVolume(QStringView name, ArchiveKind kind);

// What the first bytes of a file say about it as a volume of a kind. A short file is not a
// volume; a file that cannot be opened or read (a folder, a pipe, a locked file) is unreadable.
// The zip kind has no signature here: its files are never volumes.
enum class VolumeCheck { Volume, NotVolume, Unreadable };
VolumeCheck checkVolumeSignature(const QString &hostPath, ArchiveKind kind);

// True when the file at hostPath starts with the kind's signature.
bool hasVolumeSignature(const QString &hostPath, ArchiveKind kind);

// The full path of a file listed in a folder: the folder, a backslash unless the folder already
// ends with one, and the name: "C:\" and "x.rar" give "C:\x.rar".
QString listedFilePath(QStringView folder, QStringView name);

} // namespace zelv
