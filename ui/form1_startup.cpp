// Start-up and shutdown of the main window.

#include "form1.h"

#include "aboutwindow.h"
#include "core/programfolderfiles.h"
#include "core/singleinstance.h"
#include "housekeeping/tempdirs.h"
#include "platform/dospath.h"
#include "shell/shellcommands.h"
#include "widgets/filelist.h"
#include "widgets/foldertree.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/panesplitter.h"
#include "widgets/statuspanel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>

namespace zelv {

bool Form1::startedFromRoot() const { return m_programFolderDos.endsWith(u'\\'); }

void Form1::fallBackToDriveC()
{
    setListPath(QStringLiteral("c:\\"));
    setTreePath(listPath());
    // Without drive c: the saved folder is kept for the next start.
    if (!treePath().isEmpty())
        m_state.SavedDirLine = QStringLiteral("Dir=") + treePath();
}

StartupOutcome Form1::Form_Load()
{
    if (m_loaded)
        return m_outcome;
    m_loaded = true;

    // The tree has the first pane; the file list takes the second.
    GTSplitter1->addPane(File1);
    buildToolbar();

    if (m_programFolderDos.isEmpty()) {
        // Without a DOS name for its own folder the program could name none of its files.
        m_dialogs->ask({QStringLiteral("Error"),
                        QStringLiteral("Zelvant32 can NOT be run from a folder that is on no drive"), MessageIcon::Stop,
                        MessageButtons::Ok, false});
        m_outcome = StartupOutcome::Refused;
        close();
        return m_outcome;
    }
    if (startedFromRoot()) {
        m_dialogs->ask({QStringLiteral("Error"), QStringLiteral("Zelvant32 can NOT be run from a root directory"),
                        MessageIcon::Stop, MessageButtons::Ok, false});
        m_outcome = StartupOutcome::Refused;
        close();
        return m_outcome;
    }

    m_instance = new SingleInstance(m_context.programFolder, this);
    if (m_instance->handOverToRunningInstance()) {
        setWindowTitle(QStringLiteral("... duplicate instance."));
        m_outcome = StartupOutcome::HandedOver;
        close();
        return m_outcome;
    }
    connect(m_instance, &SingleInstance::restoreRequested, this, &Form1::restoreFromHandOver);

    Form4 = new AboutWindow();
    Form4->show();

    m_state.HelpFile = QStringLiteral("Zelv32.hlp");
    m_state.SettingsPath = dospath::join(m_programFolderDos, u"Zelv32.ini");

    const QString settingsHost = m_files.hostPath(m_state.SettingsPath).value_or(QString());
    const LoadOutcome settings = LoadSettings(settingsHost, *this, m_state.VersionText);
    m_state.SavedDirLine = settings.savedDirLine;
    // A saved folder that could not be applied (a drive that is not ready) falls back to drive c
    // once; a newly written file has nothing to fall back from.
    bool fellBack = false;
    if (settings.folderFailed) {
        fallBackToDriveC();
        fellBack = true;
    }

    if (Form4)
        m_state.VersionText = Form4->Label3->text();

    const QString treeFolder = treePath();
    if (!treeFolder.isEmpty() && m_files.isDirectory(treeFolder)) {
        if (!setListPath(treeFolder) && !settings.newlyWritten && !fellBack) {
            fallBackToDriveC();
            fellBack = true;
        }
        setFolderPanelLook(FolderPanelLook::Folder);
        setFolderPanelCaption(listPath().toLower());
    }

    if (Form4)
        Form4->close();
    show();
    repaint();

    RemoveNoteCopies(m_files, m_programFolderDos);
    removeErrorReport(m_files, m_programFolderDos);

    const QString selection = QString::number(listIndex());
    for (int i = 0; i < listCount(); ++i)
        m_state.setName(i, selection);

    ScanLeftoverTempDirs(context(), QStringLiteral("c"));

    setListPattern(QStringLiteral("*.zip"));
    processEvents();

    const QString savedFolder = m_state.SavedDirLine.mid(4);
    if (folderExists(savedFolder).value_or(false)) {
        setListPath(savedFolder);
        setTreePath(listPath());
    } else {
        setTreePath(QStringLiteral("c:\\"));
        setListPath(treePath());
    }

    setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    setListPattern(QStringLiteral("*.zip"));
    setKindPressed(ArchiveKind::Zip, true);

    setCommandsEnabled({FileCommand::Diz, FileCommand::Install, FileCommand::Test, FileCommand::Delete}, false,
                       Doors::Menu);

    m_state.TempDrive = QStringLiteral("c");
    m_outcome = StartupOutcome::Completed;
    return m_outcome;
}

void Form1::restoreFromHandOver()
{
    showNormal();
    raise();
    activateWindow();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::exit0_Click() { close(); }

// Shutdown: each step is tried, and a failing one does not stop the next.
void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    const bool completed = m_loaded && m_outcome == StartupOutcome::Completed && !startedFromRoot();
    if (completed) {
        const auto path = m_files.hostPath(dospath::join(m_programFolderDos, u"Zelv32.ini"));
        QString error;
        if (!path || !SaveSettings(*path, *this, m_state.VersionText, &error))
            qWarning("Zelvant32: the settings could not be saved: %s", qPrintable(error));

        QuitHelp(context());
        removeNfoCopies(m_files, m_programFolderDos);
        removeFirstDizCopy(m_files, m_programFolderDos);
        processEvents();
    }
    if (Form4)
        Form4->close();
}

} // namespace zelv
