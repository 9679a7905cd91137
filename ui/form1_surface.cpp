// The main window as the commands see it: the surface every command works through.

#include "form1.h"

#include "contentswindow.h"

#include "archive/xceedzip.h"
#include "form3.h"
#include "platform/dospath.h"
#include "shell/shellcommands.h"
#include "widgets/filelist.h"
#include "widgets/foldertree.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/statuspanel.h"

#include <QAction>
#include <QApplication>

namespace zelv {

bool Form1::setListPath(const QString &dosFolder) { return File1->setPath(dosFolder); }
QString Form1::listPath() const { return File1->path(); }
void Form1::setListPattern(const QString &pattern) { File1->setPattern(pattern); }
QString Form1::listPattern() const { return File1->pattern(); }
void Form1::refreshList() { File1->refresh(); }
int Form1::listCount() const { return File1->listCount(); }
QString Form1::listItem(int index) const { return File1->list(index); }
bool Form1::listSelected(int index) const { return File1->selected(index); }
void Form1::setListSelected(int index, bool selected) { File1->setSelected(index, selected); }
int Form1::listIndex() const { return File1->listIndex(); }
QString Form1::listFolder() const
{
    const QString folder = listPath();
    return folder.isEmpty() && m_state.SavedDirLine.startsWith(QStringLiteral("Dir=")) ? m_state.SavedDirLine.mid(4)
                                                                                       : folder;
}

bool Form1::setTreePath(const QString &dosFolder) { return ExplorerTree1->setPath(dosFolder); }
QString Form1::treePath() const { return ExplorerTree1->path(); }
QString Form1::treePathProblem() const { return ExplorerTree1->pathProblem(); }

std::optional<bool> Form1::folderExists(const QString &dosFolder) const
{
    const auto letter = dospath::driveLetter(dosFolder);
    const auto drive = letter ? m_context.drives->drive(*letter) : std::nullopt;
    if (!drive || !drive->ready())
        return std::nullopt;
    return m_files.isDirectory(dosFolder);
}

void Form1::setKindPanel(KindPanelAlignment alignment, const QString &caption)
{
    SSPanel2->setAlignmentCode(alignment == KindPanelAlignment::Left ? StatusPanel::kLeftMiddle
                                                                     : StatusPanel::kCentreMiddle);
    SSPanel2->setCaption(caption);
}

QString Form1::kindPanelCaption() const { return SSPanel2->caption(); }

void Form1::setFolderPanelLook(FolderPanelLook look)
{
    switch (look) {
    case FolderPanelLook::Progress:
        SSPanel3->setFloodType(StatusPanel::kBarFromLeft);
        SSPanel3->setForeColor(palette().color(QPalette::HighlightedText));
        SSPanel3->setFont3D(StatusPanel::kPlain);
        break;
    case FolderPanelLook::Idle:
        SSPanel3->setFloodType(StatusPanel::kNoBar);
        SSPanel3->setForeColor(palette().color(QPalette::WindowText));
        SSPanel3->setFont3D(StatusPanel::kInset);
        break;
    case FolderPanelLook::Folder:
        SSPanel3->setFloodType(StatusPanel::kNoBar);
        SSPanel3->setForeColor(Qt::black);
        SSPanel3->setFont3D(StatusPanel::kPlain);
        break;
    }
}

void Form1::setFolderPanelCaption(const QString &caption) { SSPanel3->setCaption(caption); }
QString Form1::folderPanelCaption() const { return SSPanel3->caption(); }
void Form1::setFolderPanelPercent(int percent) { SSPanel3->setFloodPercent(percent); }
int Form1::folderPanelPercent() const { return SSPanel3->floodPercent(); }
void Form1::repaintFolderPanel() { SSPanel3->repaint(); }

std::optional<ArchiveKind> Form1::pressedKind() const
{
    const int position = GTToolbar1->pressedGroupButton();
    if (position < ZipButton || position > AceButton)
        return std::nullopt;
    return kAllArchiveKinds[size_t(position - ZipButton)];
}

void Form1::setKindPressed(ArchiveKind kind, bool pressed)
{
    GTToolbar1->setValue(ZipButton + int(kind), pressed ? 1 : 0);
}

void Form1::setToolbarButtonEnabled(int position, bool enabled)
{
    Q_ASSERT_X(!GTToolbar1->key(position).isEmpty(), "setToolbarButtonEnabled", "no button at that position");
    GTToolbar1->setButtonEnabled(position, enabled);
}

bool Form1::toolbarButtonEnabled(int position) const { return GTToolbar1->buttonEnabled(position); }

void Form1::setMenuItemEnabled(const QString &name, bool enabled)
{
    QAction *a = m_menuItems.value(name);
    Q_ASSERT_X(a, "setMenuItemEnabled", "no menu item of that name");
    if (a)
        a->setEnabled(enabled);
}

bool Form1::menuItemEnabled(const QString &name) const
{
    const QAction *a = m_menuItems.value(name);
    return a && a->isEnabled();
}

void Form1::minimizeWindow() { setWindowState(1); }
void Form1::restoreWindow() { setWindowState(0); }
bool Form1::windowMaximized() const { return isMaximized(); }
TwipsRect Form1::windowRect() const { return {windowLeft(), windowTop(), windowWidth(), windowHeight()}; }
void Form1::repaintWindow() { repaint(); }
void Form1::closeWindow() { close(); }
void Form1::processEvents() { QCoreApplication::processEvents(); }

void Form1::showContents(const ArchiveContents &contents)
{
    if (!m_contents)
        m_contents = new ContentsWindow(this);
    m_contents->show(contents);
}

void Form1::setBusyCursor(bool busy)
{
    // Busy and default are a pair, as the mouse pointer property they stand for: asking for
    // busy twice and default once gives the default back.
    if (busy == m_busyCursor)
        return;
    m_busyCursor = busy;
    // Over the main window only: a box the command asks in keeps the ordinary pointer.
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

TextViewer &Form1::viewer()
{
    if (!m_form3) {
        m_form3 = new Form3(this); // a window of its own that goes with the main window
        connect(m_form3, &Form3::dnfoRequested, this, &Form1::dnfo_Click);
        connect(m_form3, &Form3::helpRequested, this, [this] { ShowApplicationHelp(context()); });
    }
    return *m_form3;
}

} // namespace zelv
