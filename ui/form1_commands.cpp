// The doors to the commands: toolbar, menus, keys, the context menu and clicks in the list,
// and the folder navigation they share.

#include "form1.h"

#include "archive/archivekind.h"
#include "archive/xceedzip.h"
#include "core/helpercommands.h"
#include "widgets/filelist.h"
#include "widgets/foldertree.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/statuspanel.h"

#include <QMenu>
#include <QMouseEvent>

namespace zelv {

void Form1::GTToolbar1_ButtonClick(int position)
{
    switch (position) {
    case ZipButton:
    case RarButton:
    case ArjButton:
    case AceButton:
        switchKind(position);
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

void Form1::switchKind(int position)
{
    const ArchiveKind kind = kAllArchiveKinds[size_t(position - ZipButton)];
    const ArchiveKindInfo &info = archiveKindInfo(kind);
    setListPattern(info.listingFilter);
    setKindPanel(AlignCentred, info.label);
    if (kind == ArchiveKind::Zip)
        return;
    // The new list has no usable selection.
    for (int button : {DizButton, NfoButton, InstallButton, TestButton})
        setToolbarButtonEnabled(button, false);
    for (const char *item : {"test", "Diz", "dnfo", "install"})
        setMenuItemEnabled(QString::fromLatin1(item), false);
}

void Form1::File1_MouseUp(Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        return;
    switch (GTToolbar1->pressedGroupButton()) {
    case RarButton:
    case AceButton:
        setMenuItemEnabled(QStringLiteral("install"), true);
        setToolbarButtonEnabled(DizButton, false);
        setToolbarButtonEnabled(TestButton, false);
        setToolbarButtonEnabled(InstallButton, true);
        break;
    case ArjButton:
        break;
    default:
        for (int b : {InstallButton, TestButton, DizButton})
            setToolbarButtonEnabled(b, true);
        for (const char *item : {"Diz", "install", "test", "delete"})
            setMenuItemEnabled(QString::fromLatin1(item), true);
        break;
    }
}

void Form1::XceedZip1_Status(const QString &, qint64, qint64, qint64, int, const QDateTime &, quint32, int,
                             int Completion, int, bool, int, const QString &)
{
    SSPanel3->setFloodPercent(Completion);
}

void Form1::File1_DblClick()
{
    Diz_Click();
}

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

void Form1::setFileCommandsEnabled(bool enabled)
{
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        setToolbarButtonEnabled(b, enabled);
    for (const char *item : {"Diz", "dnfo", "install", "test", "delete"})
        setMenuItemEnabled(QString::fromLatin1(item), enabled);
}

void Form1::Form_KeyDown(int keyCode)
{
    if (keyCode == 27) {
        XceedZip1->setAbort(true);
    } else if (keyCode == 112) {
        const ExecResult run = start(m_runner, helpercommands::showHelp(m_programFolderDos));
        if (!run.started)
            reportCommandFailure(*m_dialogs, run);
    }
}

bool Form1::Form_KeyPress(int keyAscii)
{
    switch (keyAscii) {
    case 19: // Ctrl+S: select every file
        refreshList();
        processEvents();
        File1->selectAllEntries();
        for (int b : {InstallButton, TestButton, DizButton})
            setToolbarButtonEnabled(b, true);
        for (const char *item : {"Diz", "install", "test"})
            setMenuItemEnabled(QString::fromLatin1(item), true);
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
    const auto showFolder = [this] {
        SSPanel3->setFloodType(0);
        SSPanel3->setForeColor(Qt::black);
        SSPanel3->setFont3D(0);
        SSPanel3->setCaption(listPath().toLower());
    };
    const QString folder = treePath();
    const std::optional<bool> exists = folderExists(folder);
    if (exists == false) {
        // Gone behind the program's back: the list stays where it was.
    } else if (exists && setListPath(folder)) {
        showFolder();
    } else {
        // A drive that is not ready, or a folder that cannot be opened: back to c:\.
        setTreePath(QStringLiteral("c:\\"));
        const QString root = treePath();
        if (folderExists(root).value_or(false) && setListPath(root))
            showFolder();
        else
            close();
    }
    m_inDirChange = false;
}

void Form1::refresh_Click()
{
    refreshList();
    setFileCommandsEnabled(false);
}

// ---- Commands built with their own parts of the program --------------------------------------
// Until then their doors are in place and do nothing.

void Form1::install_Click() {}
void Form1::test_Click() {}
void Form1::Diz_Click() {}
void Form1::dnfo_Click() {}
void Form1::delete_Click() {}
void Form1::temp_Click() {}
void Form1::dtemp_Click() {}
void Form1::contents_Click() {}
void Form1::search_Click() {}
void Form1::web_Click() {}
void Form1::mail_Click() {}
void Form1::about_Click() {}
void Form1::SSPanel1_Click() {}

} // namespace zelv
