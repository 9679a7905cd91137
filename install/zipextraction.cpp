#include "zipextraction.h"

#include "archive/memorybudget.h"
#include "archive/sfvcheck.h"
#include "archive/zipengine.h"
#include "platform/dospath.h"

#include <cerrno>
#include <chrono>
#include <future>
#include <tuple>

namespace zelv {

QString zipStageCaption(const QString &name, int index, int count)
{
    return u' ' + name.toLower() + QStringLiteral("   ") + u' ' + QString::number(index) + QStringLiteral(" of") +
           u' ' + QString::number(count);
}

namespace {

// The selected disks checked against the release's .sfv, before any is extracted: what is wrong
// with the first bad one, naming the .sfv that disagrees with it.
std::optional<Error> badDiskBySfv(const CommandContext &c, const ZipStage &stage)
{
    const auto folder = c.files.hostPath(stage.sourceFolder);
    if (!folder || c.state.NameCount < 1)
        return std::nullopt;
    QStringList names;
    for (int i = 1; i <= c.state.NameCount; ++i)
        names << c.state.NameList.value(i);
    QString stem = names.first().toLower();
    for (const QString &n : names)
        while (!n.toLower().startsWith(stem))
            stem.chop(1);
    // The disks' CRCs are read away from the window, which keeps answering meanwhile.
    auto checked = std::async(std::launch::async, [folder = *folder, stem, names] {
        QHash<QString, QString> listedIn;
        QHash<QString, quint32> entries;
        const QHash<QString, quint32> listed = sfvEntriesFor(folder, stem, &listedIn);
        for (const QString &n : names)
            if (listed.contains(n.toLower()))
                entries.insert(n.toLower(), listed.value(n.toLower()));
        return std::pair(checkSfv(folder, entries), listedIn);
    });
    while (checked.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        c.window.processEvents();
    const auto [fault, listedIn] = checked.get();
    if (!fault)
        return std::nullopt;
    switch (fault->kind) {
    case SfvFault::Kind::Mismatch:
        return Error(
            QStringLiteral("%1 does not match its CRC in %2").arg(fault->name, listedIn.value(fault->name.toLower())));
    case SfvFault::Kind::Unreadable:
        return Error(QStringLiteral("%1 could not be read").arg(fault->name), fault->cause);
    case SfvFault::Kind::Missing:
        break;
    }
    // Gone since it was selected.
    return Error(QStringLiteral("%1 could not be read").arg(fault->name), Error::describe(ENOENT));
}

} // namespace

StageOutcome ExtractZipArchives(CommandContext &c, ZipStage &stage)
{
    WindowSurface &w = c.window;
    if (const auto bad = badDiskBySfv(c, stage)) {
        // Not the component's error: the disk itself disagrees with the release's .sfv.
        w.processEvents();
        c.dialogs.showError(*bad);
        return StageOutcome::Stop;
    }
    for (int i = 1; i <= c.state.NameCount; ++i) {
        const QString name = c.state.NameList.value(i);
        w.setKindPanel(KindPanelAlignment::Left, zipStageCaption(name, i, c.state.NameCount));
        const ZipCode code =
            c.zip.extract(dospath::join(stage.sourceFolder, name), QStringLiteral("*.*\r"), stage.installDir);
        if (code == ZipAborted || c.zip.abortRequested())
            return StageOutcome::Cancelled;
        if (code != ZipDone && code != ZipNothingMatched) {
            w.processEvents();
            stage.sourceFolder = stage.sourceFolder.toLower();
            const QString codeText = u' ' + QString::number(code);
            const QString where = QStringLiteral("\n") + dospath::join(stage.sourceFolder, name);
            if (code == ZipCrcError || code == ZipDataError || code == ZipUnsupported) {
                // A member refused for the memory its decoder would take says so beneath.
                const quint64 needed = code == ZipUnsupported ? c.zip.lastMemoryNeeded() : 0;
                const QString memory =
                    needed ? u'\n' + budget::memoryRefusal(name, needed, QStringLiteral("its dictionary"),
                                                           budget::kInProcessWindow)
                           : QString();
                c.dialogs.showError(QStringLiteral("Zip CRC error - #") + codeText + where + memory);
                return StageOutcome::Stop;
            }
            if (code == ZipStructureError) {
                c.dialogs.showError(QStringLiteral("Zip structure error - #") + codeText + where);
                return StageOutcome::Stop;
            }
            if (code == ZipCannotWrite) {
                const int cause = c.zip.lastWriteError();
                const QString folder =
                    cause ? Error::fromErrno(stage.installDir + QStringLiteral(" cannot be written"), cause).text()
                          : stage.installDir + QStringLiteral(" cannot be written");
                c.dialogs.showError(QStringLiteral("Zip write error - #") + codeText + u'\n' + folder);
                return StageOutcome::Stop;
            }
            // Anything else (the archive cannot be opened) wrote none of it.
            c.dialogs.showError(QStringLiteral("Zip error - #") + codeText + where);
            return StageOutcome::Stop;
        }
        w.setFolderPanelPercent(0);
    }
    return StageOutcome::GoOn;
}

void CopyDescriptionFiles(CommandContext &c, const QString &innerInstallDir)
{
    // Nice to have beside the set: a description that could not be copied is passed over.
    std::ignore = c.zip.extract(c.state.FirstArchivePath, QStringLiteral("*.diz\r*.nfo"), innerInstallDir);
}

} // namespace zelv
