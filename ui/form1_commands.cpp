// The doors to the commands: toolbar, menus, keys, the context menu and clicks in the list,
// and the folder navigation they share.

#include "form1.h"

#include "inspect/archivecontents.h"

#include "aboutwindow.h"
#include "archive/xceedzip.h"
#include "housekeeping/deletefiles.h"
#include "housekeeping/tempdrive.h"
#include "inspect/releasenotes.h"
#include "inspect/ziptest.h"
#include "install/installpipeline.h"
#include "shell/shellcommands.h"
#include "widgets/filelist.h"
#include "widgets/foldertree.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/statuspanel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace zelv {

void Form1::GTToolbar1_ButtonClick(int position)
{
    switch (position) {
    case ZipButton:
    case RarButton:
    case ArjButton:
    case AceButton:
        SwitchKind(context(), kAllArchiveKinds[size_t(position - ZipButton)]);
        break;
    case DizButton:
        Diz_Click();
        break;
    case NfoButton:
        dnfo_Click();
        break;
    case InstallButton:
        install_Click();
        break;
    case TestButton:
        test_Click();
        break;
    case HelpButton:
        contents_Click();
        break;
    case WebButton:
        web_Click();
        break;
    case EmailButton:
        mail_Click();
        break;
    case ExitButton:
        close();
        break;
    default:
        break;
    }
}

void Form1::File1_MouseUp(Qt::MouseButton button)
{
    if (button != Qt::RightButton)
        ApplyClickAvailability(context());
}

void Form1::XceedZip1_Status(const ZipProgress &progress) { SSPanel3->setFloodPercent(progress.completion); }

void Form1::File1_DblClick() { Diz_Click(); }

void Form1::showContextMenu(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button == Qt::RightButton && menuItemEnabled(QStringLiteral("install")))
        popup->popup(globalPos);
}

void Form1::mousePressEvent(QMouseEvent *event)
{
    showContextMenu(event->button(), event->globalPosition().toPoint());
    QMainWindow::mousePressEvent(event);
}

void Form1::Form_KeyDown(int keyCode)
{
    if (keyCode == 27)
        XceedZip1->setAbort(true);
    else if (keyCode == 112)
        PressHelpKey(context());
}

bool Form1::Form_KeyPress(int keyAscii)
{
    switch (keyAscii) {
    case 19: // Ctrl+S: select every file
        SelectAllFiles(context());
        return true;
    case 20: // Ctrl+T
        test_Click();
        return true;
    case 9: // Ctrl+I
        install_Click();
        return true;
    default:
        return false;
    }
}

// ---- Folder navigation ----------------------------------------------------------------------

void Form1::ExplorerTree1_OnDirChanged()
{
    // Setting the tree while recovering raises this again; the outer call finishes the work.
    if (m_inDirChange)
        return;
    m_inDirChange = true;
    ShowChangedFolder(context());
    m_inDirChange = false;
}

void Form1::refresh_Click() { RefreshFiles(context()); }

// ---- Commands of the other subsystems ------------------------------------------------------

void Form1::test_Click() { TestZipArchives(context()); }
void Form1::Diz_Click() { ShowArchiveDiz(context()); }
void Form1::dnfo_Click() { ShowNextNfo(context()); }

void Form1::install_Click() { InstallFiles(context()); }

void Form1::FMDrop1_DropFiles(const QStringList &dosPaths) { InstallDroppedFiles(context(), dosPaths); }

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl &u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    // Only files on one of the program's drives can be named to the install.
    QStringList dosPaths;
    QStringList elsewhere;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString host = url.toLocalFile();
        if (const auto dos = m_files.drives().toDos(host))
            dosPaths << *dos;
        else
            elsewhere << host;
    }
    event->acceptProposedAction();
    if (dosPaths.isEmpty()) {
        if (!elsewhere.isEmpty())
            context().dialogs.showError(
                QStringLiteral("%1 is on none of the drives Zelvant32 knows").arg(elsewhere.first()));
        return;
    }
    FMDrop1_DropFiles(dosPaths);
}
void Form1::delete_Click() { DeleteSelectedFiles(context()); }
void Form1::temp_Click() { ChooseTempDrive(context()); }
void Form1::dtemp_Click() { DeleteTempDirs(context()); }
void Form1::contents_Click() { ShowHelpContents(context()); }
void Form1::search_Click() { ShowHelpIndex(context()); }
void Form1::web_Click() { OpenWebPage(context()); }
void Form1::installed_Click() { OpenInstallFolder(context()); }
void Form1::members_Click() { ShowArchiveContents(context()); }
void Form1::mail_Click() { WriteMail(context()); }
void Form1::about_Click()
{
    AboutWindow *about = AboutWindow::load(Form4);
    if (!m_thunder)
        m_thunder = new AboutThunder(m_context.programFolder, this);
    m_thunder->play();
    about->show();
    about->raise();
    about->activateWindow();
}

void Form1::SSPanel1_Click()
{
    AboutWindow::load(Form4)->AniIcon1->setVisible(true);
    about_Click();
}

} // namespace zelv
