#include "releasenotes.h"

#include "archive/archivekind.h"
#include "badarchive.h"
#include "core/helpercommands.h"
#include "platform/cp437.h"
#include "platform/dospath.h"
#include "platform/readwatch.h"
#include "viewerplacement.h"

#include <QFile>

#include <tuple>

namespace zelv {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QStringList notesIn(CommandContext &c, const char *pattern)
{
    return c.files.list(c.programFolder, QString::fromLatin1(pattern), hostfs::EntryKind::Files);
}

// A note that stays is seen by the next listing; nothing more is done about it.
void removeNote(CommandContext &c, const QString &name)
{
    std::ignore = c.files.removeWritable(dospath::join(c.programFolder, name));
}

// The notes an earlier display left in the program folder: the first description, and every
// .nfo file until one cannot be removed.
void removeEarlierNotes(CommandContext &c)
{
    if (const QStringList diz = notesIn(c, "*.diz"); !diz.isEmpty())
        removeNote(c, diz.first());
    for (QStringList nfo = notesIn(c, "*.nfo"); !nfo.isEmpty(); nfo = notesIn(c, "*.nfo")) {
        removeNote(c, nfo.first());
        if (notesIn(c, "*.nfo").contains(nfo.first()))
            break;
    }
}

void kindPanelBackToZip(CommandContext &c)
{
    c.window.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
}

void showBanner(CommandContext &c)
{
    c.window.viewer().setText(QString());
    c.window.viewer().setText(DizBanner());
}

} // namespace

QString DizBanner()
{
    static const char16_t *const art[] = {
        u"─────┐ ┌───── │      │     │",
        u"  ┌──┘ ├────  │      └┐   ┌┘",
        u"┌─┘    │      │       └┐ ┌┘ ",
        u"└───── └───── └─────   └─┘  ",
    };
    QString banner = kLineBreak.repeated(3);
    for (const char16_t *line : art)
        banner += QString(9, u' ') + QString::fromUtf16(line) + kLineBreak;
    return banner;
}

void ShowArchiveDiz(CommandContext &c)
{
    WindowSurface &w = c.window;
    if (w.pressedKind() != ArchiveKind::Zip) {
        w.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo}, false);
        return;
    }
    w.setFolderPanelLook(FolderPanelLook::Progress);
    removeEarlierNotes(c);
    w.setBusyCursor(true);

    const QStringList selected = w.selectedNames();
    for (int i = 0; i < selected.size(); ++i)
        c.state.setName(i + 1, selected[i]);
    c.state.NameCount = int(selected.size());
    if (selected.isEmpty()) {
        // Nothing chosen: nothing to read notes from, and no name of an earlier run to guess at.
        w.setBusyCursor(false);
        w.setFolderPanelPercent(0);
        PlaceViewer(w);
        w.viewer().show(false);
        showBanner(c);
        return;
    }
    c.state.FirstArchivePath = listedFilePath(w.treePath(), c.state.NameList[1]);

    w.setKindPanel(KindPanelAlignment::Left, c.state.NameList[1].toLower() + u' ');
    const ZipCode r = c.zip.extract(c.state.FirstArchivePath, QStringLiteral("*.diz\r*.nfo"), c.programFolder);

    if (r == ZipStructureError || r == ZipDataError || r == ZipUnsupported) {
        showBanner(c);
        w.setBusyCursor(false);
        w.setFolderPanelPercent(0);
        kindPanelBackToZip(c);
        if (MarkArchiveBad(c, c.state.FirstArchivePath))
            w.refreshList();
        c.state.FirstArchivePath = c.state.FirstArchivePath.toLower();
        PlaceViewer(w);
        w.viewer().show(false);
        w.viewer().setText(kLineBreak.repeated(4) + QStringLiteral("# %1 - Zip CRC error - ").arg(r) +
                           c.state.FirstArchivePath);
        return;
    }

    w.setBusyCursor(false);
    w.setFolderPanelPercent(0);
    PlaceViewer(w);
    const QString description = dospath::join(c.programFolder, u"file_id.diz");
    if (!c.files.exists(description)) {
        w.viewer().show(false);
        showBanner(c);
        kindPanelBackToZip(c);
        return;
    }
    w.viewer().setText(QString());
    w.viewer().show(true);
    w.setCommandsEnabled({FileCommand::Nfo}, !notesIn(c, "*.nfo").isEmpty());
    QByteArray bytes;
    if (const auto host = c.files.hostPath(description)) {
        QFile file(*host);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
    }
    w.viewer().setText(cp437::decodeNotes(bytes));
    kindPanelBackToZip(c);
}

void ShowNextNfo(CommandContext &c)
{
    const QStringList notes = notesIn(c, "*.nfo");
    if (notes.isEmpty()) {
        c.window.setCommandsEnabled({FileCommand::Nfo}, false, Doors::Menu);
        c.window.setCommandsEnabled({FileCommand::Nfo}, false, Doors::Toolbar);
        return;
    }
    const QString name = notes.first();
    const QString path = dospath::join(c.programFolder, name);
    // The viewer is handed the file itself; it goes only once the viewer has read it, so the
    // viewer shows all of it whenever it gets to run.
    ReadWatch watch(c.files.hostPath(path).value_or(QString()));
    const ExecResult run = start(c.runner, helpercommands::showNfo(c.programFolder, name));
    if (!run.started) {
        // Kept, so that the next click can show it once the viewer is there.
        reportCommandFailure(c.dialogs, run);
        return;
    }
    watch.waitUntilRead(kNoteReadTimeoutMs);
    removeNote(c, name);
    if (notesIn(c, "*.nfo").isEmpty())
        c.window.setCommandsEnabled({FileCommand::Nfo}, false);
}

} // namespace zelv
