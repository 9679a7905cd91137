// Start-up and shutdown of the main window.

#include "form1.h"

#include "aboutwindow.h"
#include "core/programfolderfiles.h"
#include "core/singleinstance.h"
#include "platform/dospath.h"
#include "shell/openfiles.h"
#include "shell/shellcommands.h"
#include "widgets/filelist.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/panesplitter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QTimer>

#include <utility>

namespace zelv {

bool Form1::startedFromRoot() const { return m_programFolderDos.endsWith(u'\\'); }

StartupOutcome Form1::Form_Load()
{
    if (m_loaded)
        return m_outcome;
    m_loaded = true;

    // The tree has the first pane; the file list takes the second.
    GTSplitter1->addPane(File1);
    buildToolbar();

    m_outcome = StartUp(context(), *this);
    if (m_outcome == StartupOutcome::HandedOver)
        setWindowTitle(QStringLiteral("... duplicate instance."));
    if (m_outcome != StartupOutcome::Completed)
        close();
    else if (!m_givenFiles.isEmpty())
        OpenGivenFiles(context(), m_givenFiles);
    return m_outcome;
}

bool Form1::handOverToRunningInstance()
{
    m_instance = new SingleInstance(m_context.programFolder, this);
    if (m_instance->handOverToRunningInstance(m_givenFiles))
        return true;
    connect(m_instance, &SingleInstance::restoreRequested, this, &Form1::restoreFromHandOver);
    connect(m_instance, &SingleInstance::filesGiven, this, [this](const QStringList &files) {
        m_handedOverFiles = files;
        // Later: the later start has its answer at once.
        QTimer::singleShot(0, this, &Form1::openHandedOverFiles);
    });
    return false;
}

void Form1::openHandedOverFiles()
{
    if (m_handedOverFiles.isEmpty() || m_unloaded || m_outcome != StartupOutcome::Completed)
        return;
    // A question or a command at work keeps the list where it is until it is done.
    if (QApplication::activeModalWidget() || m_busyCursor) {
        QTimer::singleShot(250, this, &Form1::openHandedOverFiles);
        return;
    }
    OpenGivenFiles(context(), std::exchange(m_handedOverFiles, {}));
}

void Form1::showAboutWindow()
{
    Form4 = new AboutWindow();
    Form4->show();
}

QString Form1::aboutWindowVersion() const { return Form4 ? Form4->Label3->text() : QString(); }

void Form1::closeAboutWindow()
{
    if (Form4)
        Form4->close();
}

void Form1::showMainWindow()
{
    show();
    repaint();
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
        const Result<void> saved = path ? SaveSettings(*path, *this, m_state.VersionText) : Result<void>(Error());
        if (!saved)
            qWarning("Zelvant32: the settings could not be saved: %s", qPrintable(saved.error().text()));

        QuitHelp(context());
        removeNfoCopies(m_files, m_programFolderDos);
        removeFirstDizCopy(m_files, m_programFolderDos);
        processEvents();
    }
    if (Form4)
        Form4->close();
}

} // namespace zelv
