#include "ziptest.h"

#include "badarchive.h"
#include "core/helpercommands.h"
#include "core/settingsfile.h"
#include "platform/dospath.h"
#include "releasenotes.h"

#include <tuple>

namespace zelv {

namespace {

enum class Verdict { Good, Bad, Stop };

// What the first stage's code says: the archive's descriptions could be taken, or not.
Verdict afterFirstStage(ZipCode r, bool *record)
{
    *record = false;
    if (r == ZipAborted)
        return Verdict::Stop;
    if (r == ZipDone || r == ZipNothingMatched)
        return Verdict::Good;
    *record = r >= 100;
    return Verdict::Bad;
}

Verdict afterTest(ZipCode t, bool *record)
{
    *record = false;
    if (t == ZipAborted)
        return Verdict::Stop;
    if (t == ZipDone)
        return Verdict::Good;
    *record = t == ZipCrcError || t == ZipStructureError || t == ZipDataError || t == ZipUnsupported;
    return Verdict::Bad;
}

QString testFolder(const QString &treeFolder)
{
    const QString folder = treeFolder.endsWith(u'\\') ? treeFolder.left(2) : treeFolder;
    return folder.toLower();
}

} // namespace

QString testProgressCaption(const QString &name, int index, int count)
{
    return u' ' + name + QStringLiteral("   ") + u' ' + QString::number(index) + QStringLiteral(" of") + u' ' +
           QString::number(count);
}

void TestZipArchives(CommandContext &c)
{
    WindowSurface &w = c.window;
    if (w.pressedKind() != ArchiveKind::Zip)
        return;
    // A run over nothing would report no errors, which reads as success.
    const QStringList selected = w.selectedNames();
    if (selected.isEmpty()) {
        w.setFolderPanelCaption(QStringLiteral(" No archive selected"));
        return;
    }
    w.setBusyCursor(true);
    w.viewer().close();
    const QString report = dospath::join(c.programFolder, u"errors.txt");
    // One that stays is replaced when the report is written.
    if (c.files.exists(report))
        std::ignore = c.files.removeFile(report);
    w.viewer().setText(QString());
    w.viewer().setText(DizBanner());
    w.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false);

    for (int i = 0; i < selected.size(); ++i)
        c.state.setName(i + 1, selected[i]);
    c.state.NameCount = int(selected.size());
    const QString folder = testFolder(w.treePath());
    w.setFolderPanelLook(FolderPanelLook::Progress);
    w.setFolderPanelPercent(0);

    QStringList errorLines;
    int tested = 0;
    bool cancelled = false;
    for (int i = 1; i <= c.state.NameCount; ++i) {
        const QString name = c.state.NameList[i].toLower();
        c.state.NameList[i] = name;
        w.setKindPanel(KindPanelAlignment::Left, testProgressCaption(name, i, c.state.NameCount));
        const QString path = folder + u'\\' + name;

        bool record = false;
        ZipCode code = c.zip.extract(path, QStringLiteral("*.diz"), c.programFolder);
        Verdict verdict = c.zip.abortRequested() ? Verdict::Stop : afterFirstStage(code, &record);
        if (verdict == Verdict::Good) {
            code = c.zip.test(path);
            verdict = afterTest(code, &record);
        }
        // Escape pressed as an archive ended is seen here, before the next one starts.
        if (verdict == Verdict::Stop || c.zip.abortRequested()) {
            cancelled = true;
            break;
        }
        ++tested;
        if (record)
            errorLines << QStringLiteral("# %1 - ").arg(code) + path;
        if (verdict == Verdict::Bad)
            MarkArchiveBad(c, path);
        w.refreshList();
        w.setFolderPanelPercent(0);
    }

    w.setFolderPanelLook(FolderPanelLook::Idle);
    w.setFolderPanelCaption(cancelled ? QStringLiteral(" Test cancelled: %1 of %2 archive(s) tested, %3 zip error(s)")
                                            .arg(tested)
                                            .arg(c.state.NameCount)
                                            .arg(errorLines.size())
                                      : QStringLiteral(" Found %1 zip error(s)").arg(errorLines.size()));
    w.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    if (!errorLines.isEmpty()) {
        const auto host = c.files.hostPath(report);
        const Result<void> written = host ? writeTextLines(*host, errorLines) : Result<void>(Error());
        if (!written)
            c.dialogs.showError(
                written.error().reworded(QStringLiteral("The error report %1 could not be written").arg(report)));
        if (c.files.exists(report)) {
            const ExecResult run = start(c.runner, helpercommands::showErrorReport(c.programFolder));
            if (!run.started)
                reportCommandFailure(c.dialogs, run);
        }
    }
    w.setCommandsEnabled({FileCommand::Install, FileCommand::Test}, true);
    w.setBusyCursor(false);
}

} // namespace zelv
