#include "archivekind.h"

#include "platform/dospath.h"

#include <QFile>
#include <QFileInfo>

namespace zelv {

namespace {

const std::array<ArchiveKindInfo, 4> &table()
{
    static const std::array<ArchiveKindInfo, 4> kinds{{
        {ArchiveKind::Zip,
         QStringLiteral("zip"),
         QStringLiteral("Zip's"),
         QStringLiteral("*.ZIP"),
         QStringLiteral("*.zip"),
         QString(),
         QString(),
         {},
         {},
         QString()},
        {ArchiveKind::Rar,
         QStringLiteral("rar"),
         QStringLiteral("Rar's"),
         QStringLiteral("*.R??;*.0??"),
         QStringLiteral("*.rar"),
         QStringLiteral("*.R??;*.0??"),
         QStringLiteral("*.r??;*.0??"),
         {QStringLiteral("*.R??"), QStringLiteral("*.0??")},
         {QStringLiteral(".R"), QStringLiteral(".0")},
         QStringLiteral("RAR")},
        {ArchiveKind::Arj,
         QStringLiteral("arj"),
         QStringLiteral("Arj's"),
         QStringLiteral("*.A??;*.0??"),
         QStringLiteral("*.arj"),
         QStringLiteral("*.A??;*.0??"),
         QStringLiteral("*.a??;*.0??"),
         {QStringLiteral("*.A??"), QStringLiteral("*.0??")},
         {QStringLiteral(".A"), QStringLiteral(".0")},
         QStringLiteral("ARJ")},
        {ArchiveKind::Ace,
         QStringLiteral("ace"),
         QStringLiteral("Ace's"),
         QStringLiteral("*.ACE;*.C??"),
         QStringLiteral("*.ace"),
         QStringLiteral("*.C??;*.ACE"),
         QStringLiteral("*.c??;*.ACE"),
         {QStringLiteral("*.C??"), QStringLiteral("*.ACE")},
         {QStringLiteral(".A"), QStringLiteral(".C"), QStringLiteral(".0")},
         QStringLiteral("ACE")},
    }};
    return kinds;
}

// The arj main header mark 0x60 0xEA: only the first 0x60 among the first 100 bytes counts.
bool arjSignature(const QByteArray &head)
{
    const qsizetype at = head.left(100).indexOf(char(0x60));
    return at >= 0 && at + 1 < head.size() && quint8(head[at + 1]) == 0xEA;
}

} // namespace

const ArchiveKindInfo &archiveKindInfo(ArchiveKind kind) { return table()[size_t(kind)]; }

std::optional<ArchiveKind> archiveKindFromKey(QStringView key)
{
    for (const ArchiveKindInfo &info : table())
        if (info.key == key)
            return info.kind;
    return std::nullopt;
}

bool isVolumeCandidate(QStringView name, ArchiveKind kind)
{
    for (const QString &marker : archiveKindInfo(kind).candidateMarkers)
        if (name.contains(marker, Qt::CaseInsensitive))
            return true;
    return false;
}

bool isFirstVolume(QStringView name, ArchiveKind kind)
{
    const QString &ext = archiveKindInfo(kind).firstVolumeExtension;
    if (ext.isEmpty())
        return false;
    if (name.size() < 3)
        return name == ext;
    return name.right(3).toString().toUpper() == ext;
}

VolumeCheck checkVolumeSignature(const QString &hostPath, ArchiveKind kind)
{
    if (kind == ArchiveKind::Zip)
        return VolumeCheck::NotVolume;
    // Only plain files: opening a named pipe or a device could block or have effects.
    if (!QFileInfo(hostPath).isFile())
        return VolumeCheck::Unreadable;
    QFile file(hostPath); // closed when it goes out of scope, whatever the outcome
    if (!file.open(QIODevice::ReadOnly))
        return VolumeCheck::Unreadable;
    const qint64 wanted = kind == ArchiveKind::Rar ? 4 : kind == ArchiveKind::Ace ? 12 : 101;
    QByteArray head(wanted, Qt::Uninitialized);
    const qint64 got = file.read(head.data(), wanted);
    if (got < 0)
        return VolumeCheck::Unreadable;
    head.truncate(got);
    bool volume = false;
    switch (kind) {
    case ArchiveKind::Rar:
        volume = head == QByteArrayLiteral("Rar!");
        break;
    case ArchiveKind::Ace:
        volume = head.size() == 12 && head.mid(7) == QByteArrayLiteral("**ACE");
        break;
    case ArchiveKind::Arj:
        volume = arjSignature(head);
        break;
    case ArchiveKind::Zip:
        break;
    }
    return volume ? VolumeCheck::Volume : VolumeCheck::NotVolume;
}

bool hasVolumeSignature(const QString &hostPath, ArchiveKind kind)
{
    return checkVolumeSignature(hostPath, kind) == VolumeCheck::Volume;
}

QString listedFilePath(QStringView folder, QStringView name) { return dospath::join(folder, name); }

} // namespace zelv
