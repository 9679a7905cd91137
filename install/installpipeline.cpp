#include "installpipeline.h"

#include "archive/archiveset.h"
#include "archive/zipcentral.h"
#include "core/helpercommands.h"
#include "inspect/releasenotes.h"
#include "installdirs.h"
#include "platform/dospath.h"
#include "setinstall.h"
#include "volumesetselection.h"
#include "zipextraction.h"

#include <QFile>

#include <fcntl.h>
#include <limits>
#include <tuple>
#include <unistd.h>

namespace zelv {

namespace {

// The kinds of set looked for inside the zip contents, in order; the kind's own patterns say how
// it is found and shown.
struct InnerKind {
    ArchiveKind kind;
    bool treeOnInner; // the tree moves to the second directory (else to the first)
};

const InnerKind kInnerKinds[] = {{ArchiveKind::Rar, true}, {ArchiveKind::Arj, false}, {ArchiveKind::Ace, false}};

enum class InnerResult { NoSet, Extracted, Failed };

// The result of an install in the folder panel.
void tellInPanel(WindowSurface &w, const QString &caption)
{
    w.setFolderPanelLook(FolderPanelLook::Idle);
    w.setFolderPanelCaption(caption);
}

// What a failed inner extraction is told as: a volume the disks did not bring is named as the
// disks held it, else the archiver's own failure.
void reportInnerFailure(CommandContext &c, ArchiveKind kind, const QString &installDir, const QString &firstVolume,
                        const ExecResult &result)
{
    const auto host = c.files.hostPath(dospath::join(installDir, firstVolume));
    const auto set = host ? openArchiveSet(kind, *host) : nullptr;
    if (!set || set->missingVolume().isEmpty()) {
        reportCommandFailure(c.dialogs, result);
        return;
    }
    const QString missing = set->missingVolume().mid(set->missingVolume().lastIndexOf(u'/') + 1);
    const int disks = c.state.NameCount;
    c.dialogs.showError(
        QStringLiteral("Volume %1 is missing from the %2 zip %3 selected")
            .arg(missing, QString::number(disks), disks == 1 ? QStringLiteral("disk") : QStringLiteral("disks")));
}

// Extracts the first kind of set found among the files of installDir into innerInstallDir.
InnerResult ExtractInnerSet(CommandContext &c, const QString &installDir, const QString &innerInstallDir)
{
    WindowSurface &w = c.window;
    for (const InnerKind &k : kInnerKinds) {
        const ArchiveKindInfo &info = archiveKindInfo(k.kind);
        const QStringList &entries = info.presencePatterns;
        const bool present = std::any_of(entries.begin(), entries.end(), [&](const QString &pattern) {
            return !c.files.listMatching(dospath::join(installDir, pattern), hostfs::EntryKind::Files).isEmpty();
        });
        if (!present)
            continue;
        w.setListPattern(info.filterBeforeSelect);
        w.setKindPanel(KindPanelAlignment::Centred, w.kindPanelCaption());
        w.pressOnly(k.kind);
        const VolumeSet set = selectVolumeSet(c, k.kind);
        if (!set.found())
            continue;
        if (const Result<void> made = c.files.makeDirectory(innerInstallDir); !made) {
            tellInPanel(w, QStringLiteral("Install failed"));
            c.dialogs.showError(made.error().reworded(QStringLiteral("%1 could not be created").arg(innerInstallDir)));
            return InnerResult::Failed;
        }
        w.setKindPanel(KindPanelAlignment::Centred, info.label);
        w.setListPattern(info.filterAfterSelect);
        w.setTreePath(k.treeOnInner ? innerInstallDir : installDir);
        if (k.kind != ArchiveKind::Rar) {
            w.setBusyCursor(true);
            w.processEvents();
        }
        // Not "Installed to:" before the set is there.
        tellInPanel(w, QStringLiteral("Installing to: ") + innerInstallDir);

        // An ARJ set runs once per volume; RAR and ACE sets once from their first volume.
        QStringList commands;
        if (k.kind == ArchiveKind::Arj) {
            for (const QString &volume : set.volumes)
                commands << helpercommands::innerArjExtract(installDir, volume, innerInstallDir).commandLine;
        } else if (k.kind == ArchiveKind::Rar) {
            commands << helpercommands::innerRarExtract(installDir, set.volumes.first(), innerInstallDir).commandLine;
        } else {
            commands << helpercommands::innerAceExtract(installDir, set.volumes.first(), innerInstallDir).commandLine;
        }
        w.minimizeWindow();
        bool ok = true;
        for (const QString &command : commands) {
            const ExecResult result = c.runner.ExecCmd(command);
            if (!result.succeeded()) {
                w.processEvents();
                w.restoreWindow();
                tellInPanel(w, QStringLiteral("Install failed"));
                reportInnerFailure(c, k.kind, installDir, set.volumes.first(), result);
                ok = false;
                break;
            }
        }
        w.processEvents();
        w.restoreWindow();
        w.repaintWindow();
        return ok ? InnerResult::Extracted : InnerResult::Failed;
    }
    return InnerResult::NoSet;
}

// The bytes a zip archive's files unpack to, as its directory declares them; nothing when
// the directory cannot be read.
std::optional<qint64> declaredUnpackedSize(const CommandContext &c, const QString &dosPath)
{
    const auto host = c.files.hostPath(dosPath);
    const int fd = host ? open(QFile::encodeName(*host).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (fd < 0)
        return std::nullopt;
    const auto entries = readCentralDirectory(fd);
    close(fd);
    if (!entries)
        return std::nullopt;
    // A directory may declare sizes that no disk holds: the sum stops at the largest count.
    constexpr quint64 most = quint64(std::numeric_limits<qint64>::max());
    quint64 total = 0;
    for (const CentralEntry &e : *entries)
        if (!e.isDirectory())
            total = std::min(most, total + std::min(most, e.size));
    return qint64(total);
}

// What the selected archives unpack to, as their directories declare it: a small archive may
// unpack to far more than its length. One whose directory cannot be read counts by its length
// (its extraction then says what is wrong), and a length that cannot be read adds nothing.
qint64 selectedArchivesSize(const CommandContext &c, const QString &sourceFolder)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    qint64 total = 0;
    for (int i = 1; i <= c.state.NameCount; ++i) {
        const QString archive = dospath::join(sourceFolder, c.state.NameList.value(i));
        const qint64 size = declaredUnpackedSize(c, archive).value_or(c.files.fileSize(archive).valueOr(0));
        total = size > most - total ? most : total + size;
    }
    return total;
}

void removeNfoCopies(CommandContext &c)
{
    for (const QString &name :
         c.files.listMatching(dospath::join(c.programFolder, u"*.nfo"), hostfs::EntryKind::Files)) {
        if (!c.files.removeWritable(dospath::join(c.programFolder, name)))
            return;
    }
}

// Offers to start setup.exe when folder holds one; false when it holds none. After a volume
// set was extracted the view first moves to that folder.
bool OfferSetup(CommandContext &c, const QString &folder, bool showFolder)
{
    WindowSurface &w = c.window;
    if (c.files.listMatching(dospath::join(folder, u"setup.exe"), hostfs::EntryKind::Files).isEmpty())
        return false;
    if (showFolder) {
        w.setTreePath(folder);
        w.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.*"));
        w.setListPath(folder);
        w.setListPattern(QStringLiteral("*.*"));
    }
    w.setFolderPanelLook(FolderPanelLook::Idle);
    w.setFolderPanelCaption(QStringLiteral("Found ") + folder + QStringLiteral("\\Setup.exe"));
    const MessageAnswer answer = c.dialogs.ask({QStringLiteral("Found setup"), QStringLiteral("   Run Setup.exe?   "),
                                                MessageIcon::Question, MessageButtons::YesNo, false});
    if (answer != MessageAnswer::Yes)
        return true;
    const ExecResult result = start(c.runner, helpercommands::runSetup(folder));
    if (!result.started)
        reportCommandFailure(c.dialogs, result);
    return true;
}

// The end of the zip path: back to the source folder (or, with none, where the tree is), the
// zip kind and pattern, the commands that need a selection disabled, the .nfo copies in the
// program folder removed, nothing selected.
void FinishInstall(CommandContext &c, const std::optional<QString> &sourceFolder)
{
    WindowSurface &w = c.window;
    w.setFolderPanelPercent(0);
    if (sourceFolder) {
        if (!c.files.exists(*sourceFolder) || !w.setTreePath(*sourceFolder))
            w.setTreePath(QStringLiteral("c:\\"));
    }
    w.setListPath(w.treePath());
    w.setBusyCursor(false);
    w.viewer().close();
    w.pressOnly(ArchiveKind::Zip);
    w.setCommandsEnabled({FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false, Doors::Toolbar);
    w.setListPattern(QStringLiteral("*.zip"));
    w.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    w.setCommandsEnabled(
        {FileCommand::Diz, FileCommand::Test, FileCommand::Nfo, FileCommand::Install, FileCommand::Delete}, false,
        Doors::Menu);
    removeNfoCopies(c);
    deselectAll(w);
}

} // namespace

void InstallFiles(CommandContext &c)
{
    WindowSurface &w = c.window;
    ProgramState &s = c.state;
    const auto kind = w.pressedKind();
    // Nothing selected is nothing to install: said, and the window otherwise left as it is.
    if (kind == ArchiveKind::Zip && w.selectedNames().isEmpty()) {
        w.setFolderPanelCaption(QStringLiteral(" No archive selected"));
        return;
    }
    w.setCommandsEnabled({FileCommand::Install, FileCommand::Diz}, false);
    w.setFolderPanelLook(FolderPanelLook::Progress);
    if (kind == ArchiveKind::Rar || kind == ArchiveKind::Ace) {
        InstallVolumeSet(c, *kind);
        return;
    }
    if (kind == ArchiveKind::Arj) {
        c.dialogs.showError(QStringLiteral("Zelvant32 doesn't install directly from Arj's at this time"));
        FinishInstall(c, std::nullopt);
        return;
    }

    ShowArchiveDiz(c);
    w.setBusyCursor(true);
    ZipStage stage{installSourceFolder(w.treePath()), QString()};
    int counter = 1;
    const auto installDir = AllocateInstallDir(c.files, s.TempDrive, counter);
    const auto free = c.disks.freeBytes(s.TempDrive.front());
    if (!installDir || !free || selectedArchivesSize(c, stage.sourceFolder) > *free) {
        c.dialogs.showError(QStringLiteral("Not enough free space on %1 drive to install").arg(s.TempDrive));
        FinishInstall(c, stage.sourceFolder);
        return;
    }
    stage.installDir = *installDir;

    if (const StageOutcome zipped = ExtractZipArchives(c, stage); zipped != StageOutcome::GoOn) {
        // Cancelled or failed, what the disks before gave stays; only a directory left empty goes.
        std::ignore = c.files.removeEmptyDirectory(stage.installDir);
        FinishInstall(c, stage.sourceFolder);
        tellInPanel(w, zipped == StageOutcome::Cancelled ? QStringLiteral("Install cancelled")
                                                         : QStringLiteral("Install failed"));
        return;
    }
    w.setFolderPanelPercent(0);
    w.repaintFolderPanel();
    w.setFolderPanelLook(FolderPanelLook::Idle);
    w.setFolderPanelCaption(QStringLiteral("To: ") + stage.installDir);
    w.setKindPanel(KindPanelAlignment::Left, QString());
    w.setListPath(stage.installDir);
    w.setTreePath(w.listPath());

    const QString innerInstallDir = AllocateInstallDir(c.files, s.TempDrive, counter).valueOr(stage.installDir);
    w.processEvents();
    w.setFolderPanelPercent(0);
    w.setBusyCursor(true);

    const InnerResult inner = ExtractInnerSet(c, stage.installDir, innerInstallDir);
    QString outcome; // what the panel says at the end, when no setup question said it
    if (inner == InnerResult::Extracted) {
        CopyDescriptionFiles(c, innerInstallDir);
        w.repaintWindow();
        for (ArchiveKind k : {ArchiveKind::Rar, ArchiveKind::Arj, ArchiveKind::Ace})
            w.setKindPressed(k, false);
        w.setFolderPanelPercent(0);
        if (c.files.exists(stage.installDir)) {
            const ExecResult removed = start(c.runner, helpercommands::removeInstallDir(stage.installDir));
            if (!removed.succeeded())
                reportCommandFailure(c.dialogs, removed);
        }
        s.LastInstallDir = innerInstallDir;
        if (!OfferSetup(c, innerInstallDir, true))
            outcome = QStringLiteral("Installed to: ") + innerInstallDir;
    } else if (inner == InnerResult::NoSet) {
        s.LastInstallDir = stage.installDir;
        if (!OfferSetup(c, stage.installDir, false))
            outcome = c.files.exists(stage.installDir) ? QStringLiteral("Installed to: ") + stage.installDir
                                                       : QStringLiteral("Nothing was installed");
    } else {
        std::ignore = c.files.removeEmptyDirectory(innerInstallDir);
        outcome = QStringLiteral("Install failed");
    }
    // After a failed extraction the first directory stays, and no setup is offered from an
    // incomplete directory. The way back to the source folder shows that folder in the panel;
    // the outcome is said after it.
    FinishInstall(c, stage.sourceFolder);
    if (!outcome.isEmpty())
        tellInPanel(w, outcome);
}

} // namespace zelv

namespace zelv {

void InstallDroppedFiles(CommandContext &c, const QStringList &dosPaths)
{
    WindowSurface &w = c.window;
    if (dosPaths.isEmpty())
        return;
    w.setTreePath(dospath::folderOf(dosPaths.first()));
    w.setListPath(w.treePath());
    w.processEvents();
    deselectAll(w);
    for (const QString &path : dosPaths) {
        const QString name = dospath::nameOf(path);
        if (name.right(3).toUpper() != u"ZIP")
            continue;
        for (int i = 0; i < w.listCount(); ++i)
            if (w.listItem(i).toUpper() == name.toUpper()) {
                w.setListSelected(i, true);
                break;
            }
    }
    const QStringList selected = w.selectedNames();
    for (int i = 0; i < selected.size(); ++i)
        c.state.setName(i + 1, selected[i]);
    InstallFiles(c);
}

} // namespace zelv
