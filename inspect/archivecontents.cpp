#include "archivecontents.h"

#include "archive/archiveset.h"
#include "archive/zipcentral.h"
#include "platform/dospath.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace zelv {

namespace {

// A member's name as the program shows paths, '\' between its parts whatever the archive keeps.
QString shownName(const QString &stored) { return QString(stored).replace(u'/', u'\\'); }

QString zipMethodName(quint16 method)
{
    switch (method) {
    case 0:
        return QStringLiteral("Stored");
    case 1:
        return QStringLiteral("Shrunk");
    case 6:
        return QStringLiteral("Imploded");
    case 8:
        return QStringLiteral("Deflated");
    case 9:
        return QStringLiteral("Deflate64");
    case 12:
        return QStringLiteral("BZip2");
    case 14:
        return QStringLiteral("LZMA");
    case 20:
    case 93:
        return QStringLiteral("Zstandard");
    case 95:
        return QStringLiteral("XZ");
    case 98:
        return QStringLiteral("PPMd");
    case 99:
        return QStringLiteral("AES encrypted");
    default:
        return QStringLiteral("Method %1").arg(method);
    }
}

bool addZip(ArchiveContents &contents, const QString &dosPath, const QString &hostPath)
{
    const int fd = open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const char *why = nullptr;
    const auto entries = fd >= 0 ? readCentralDirectory(fd, &why) : std::nullopt;
    if (fd >= 0)
        close(fd);
    if (!entries) {
        contents.problems << QStringLiteral("%1 cannot be read as a zip archive%2")
                                 .arg(dosPath, why ? QStringLiteral(": ") + QString::fromLatin1(why) : QString());
        return false;
    }
    DosTimes times;
    for (const CentralEntry &e : *entries) {
        ContentsEntry row;
        row.archive = dospath::nameOf(dosPath);
        row.name = shownName(e.name);
        row.folder = e.isDirectory();
        row.size = qint64(e.size);
        row.packed = qint64(e.compressedSize);
        row.time = QDateTime::fromSecsSinceEpoch(times.toUnix(e.dosTime));
        row.method = (e.flags & 1) && e.method != 99 ? zipMethodName(e.method) + QStringLiteral(", encrypted")
                                                     : zipMethodName(e.method);
        contents.entries << row;
    }
    return true;
}

void addSet(ArchiveContents &contents, ArchiveKind kind, const QString &dosPath, const QString &hostPath)
{
    const auto set = openArchiveSet(kind, hostPath);
    if (!set)
        return;
    const auto name = [&set](int volume) { return QFileInfo(set->volumes().value(volume)).fileName(); };
    if (!set->missingVolume().isEmpty()) {
        contents.problems << QStringLiteral("Missing volume %1").arg(QFileInfo(set->missingVolume()).fileName());
        return;
    }
    if (set->damage()) {
        contents.problems << set->damage()->text();
        return;
    }
    if (const auto listed = set->readMembers(); !listed) {
        contents.problems << listed.error().text();
        return;
    }
    contents.title = dospath::join(dospath::folderOf(dosPath), name(0));
    for (const SetMember &m : set->members()) {
        ContentsEntry row;
        row.archive = name(0);
        row.name = shownName(m.name);
        row.folder = m.directory;
        row.size = m.size;
        row.time = m.modified;
        bool stored = !m.parts.isEmpty();
        QStringList volumes;
        for (const MemberPart &part : m.parts) {
            row.packed += part.size;
            stored = stored && part.stored;
            if (!volumes.contains(name(part.volume)))
                volumes << name(part.volume);
        }
        row.method = m.symlink || m.link || !m.copyOf.isEmpty() ? QStringLiteral("Link")
                     : m.directory                              ? QString()
                     : stored                                   ? QStringLiteral("Stored")
                                                                : QStringLiteral("Packed");
        if (m.encrypted)
            row.method += QStringLiteral(", encrypted");
        row.volumes = volumes.join(QStringLiteral(", "));
        contents.entries << row;
    }
}

} // namespace

ArchiveContents ReadArchiveContents(CommandContext &c)
{
    WindowSurface &w = c.window;
    ArchiveContents contents;
    const QString folder = w.listPath();
    const QStringList selected = w.selectedNames();
    const ArchiveKind kind = w.pressedKind().value_or(ArchiveKind::Zip);
    QStringList shown;
    for (const QString &name : selected) {
        const QString dos = dospath::join(folder, name);
        const auto host = c.files.hostPath(dos);
        if (!host || !c.files.isFile(dos)) {
            contents.problems << QStringLiteral("%1 cannot be opened").arg(dos);
            continue;
        }
        if (kind == ArchiveKind::Zip) {
            if (addZip(contents, dos, *host))
                shown << name;
        } else {
            // A set is one whole, whichever of its volumes is selected.
            addSet(contents, kind, dos, *host);
            break;
        }
    }
    if (kind == ArchiveKind::Zip && !shown.isEmpty())
        contents.title = dospath::join(folder, shown.join(QStringLiteral(", ")));
    for (const ContentsEntry &e : std::as_const(contents.entries)) {
        if (e.folder)
            continue;
        ++contents.files;
        contents.size += e.size;
        contents.packed += e.packed;
    }
    contents.tempDrive = c.state.TempDrive;
    if (!c.state.TempDrive.isEmpty())
        contents.freeRoom = c.disks.freeBytes(c.state.TempDrive.front());
    return contents;
}

void ShowArchiveContents(CommandContext &c)
{
    if (c.window.selectedNames().isEmpty()) {
        c.dialogs.showError(QStringLiteral("Select the archives, or a volume of the set, to see what they hold"));
        return;
    }
    c.window.showContents(ReadArchiveContents(c));
}

} // namespace zelv
