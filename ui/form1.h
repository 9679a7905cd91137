// The main window: toolbar row, folder tree and file list in a splitter, two status panels,
// the menus and every handler the window's events reach.
#pragma once

#include "core/commandcontext.h"
#include "core/commandrunner.h"
#include "core/programstate.h"
#include "core/settingsfile.h"
#include "core/windowsurface.h"
#include "platform/dialogs.h"
#include "platform/dosfilesystem.h"
#include "ui/layoutrules.h"
#include "ui/shell/startup.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QMenu;

namespace zelv {

class ContentsWindow;

class AboutThunder;
class AboutWindow;
class XceedZip;
struct ZipProgress;
class XceedZipComponent;
class DragCorner;
class FileList;
class FolderTree;
class Form3;
class KeyedToolbar;
class LogoPanel;
class MessageBoxDialogs;
class PaneSplitter;
class SingleInstance;
class StatusPanel;

// What the window is started with: its program folder and drive table, and where its message
// boxes go.
struct Form1Context {
    QString programFolder; // host folder of the program
    const DriveTable *drives = nullptr;
    Dialogs *dialogs = nullptr;         // nothing: real message boxes
    const DiskInfo *diskInfo = nullptr; // nothing: the drives' real free space
    QString programFolderRefusal = {};  // why the program cannot run from its folder; empty: it can
};

class Form1 : public QMainWindow, public WindowSurface, public StartupWindow {
    Q_OBJECT
public:
    explicit Form1(const Form1Context &context, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up: runs once before the window is first shown; a start that does not complete
    // closes the window.
    StartupOutcome Form_Load();
    // Files to open once started (absolute host paths), or to hand to the running instance.
    void setGivenFiles(const QStringList &hostFiles) { m_givenFiles = hostFiles; }

    // The program folder as a DOS path ("C:\Tools\Zelv").
    QString programFolder() const { return m_programFolderDos; }
    ProgramState &state() { return m_state; }
    // What every command works through, for the window's whole life.
    CommandContext &context() { return *m_commands; }

    // WindowSurface
    bool setListPath(const QString &dosFolder) override;
    QString listPath() const override;
    void setListPattern(const QString &pattern) override;
    QString listPattern() const override;
    void refreshList() override;
    int listCount() const override;
    QString listItem(int index) const override;
    bool listSelected(int index) const override;
    void setListSelected(int index, bool selected) override;
    int listIndex() const override;
    bool setTreePath(const QString &dosFolder) override;
    QString treePath() const override;
    QString treePathProblem() const override;
    std::optional<bool> folderExists(const QString &dosFolder) const override;
    void setKindPanel(KindPanelAlignment alignment, const QString &caption) override;
    QString kindPanelCaption() const override;
    void showContents(const ArchiveContents &contents) override;
    void setFolderPanelLook(FolderPanelLook look) override;
    void setFolderPanelCaption(const QString &caption) override;
    QString folderPanelCaption() const override;
    void setFolderPanelPercent(int percent) override;
    int folderPanelPercent() const override;
    void repaintFolderPanel() override;
    std::optional<ArchiveKind> pressedKind() const override;
    void setKindPressed(ArchiveKind kind, bool pressed) override;
    void setToolbarButtonEnabled(int position, bool enabled) override;
    bool toolbarButtonEnabled(int position) const override;
    void setMenuItemEnabled(const QString &name, bool enabled) override;
    bool menuItemEnabled(const QString &name) const override;
    void minimizeWindow() override;
    void restoreWindow() override;
    bool windowMaximized() const override;
    TwipsRect windowRect() const override;
    void repaintWindow() override;
    void closeWindow() override;
    void processEvents() override;
    void setBusyCursor(bool busy) override;
    TextViewer &viewer() override;

    // SettingsWindow, lengths in twips
    int windowState() const override;
    bool setWindowState(int state) override;
    double windowTop() const override;
    double windowLeft() const override;
    double windowHeight() const override;
    double windowWidth() const override;
    void setWindowTop(double twips) override;
    void setWindowLeft(double twips) override;
    void setWindowHeight(double twips) override;
    void setWindowWidth(double twips) override;
    double screenHeight() const override;
    double screenWidth() const override;
    void showWindowNow() override;
    void keepOnScreen() override;
    void keepWithinReach() override;
    int paneWidth() const override;
    void setPaneWidth(int width) override;
    // The list's folder, or the one the settings named when the list never reached a folder
    // (drive c: broken from the start), so that closing does not forget it.
    QString listFolder() const override;
    bool setListFolder(const QString &dosFolder) override { return setListPath(dosFolder); }
    bool setTreeFolder(const QString &dosFolder) override { return setTreePath(dosFolder); }

    // StartupWindow
    QString programFolderRefusal() const override { return m_context.programFolderRefusal; }
    bool handOverToRunningInstance() override;
    void showAboutWindow() override;
    QString aboutWindowVersion() const override;
    void closeAboutWindow() override;
    void showMainWindow() override;
    bool mainWindowOpen() const override { return isVisible(); }

public slots:
    // Menu items
    void install_Click();
    void FMDrop1_DropFiles(const QStringList &dosPaths);
    void test_Click();
    void Diz_Click();
    void dnfo_Click();
    void refresh_Click();
    void delete_Click();
    void exit0_Click();
    void temp_Click();
    void dtemp_Click();
    void contents_Click();
    void search_Click();
    void web_Click();
    void installed_Click();
    void members_Click();
    void mail_Click();
    void about_Click();

    // Window parts
    void GTToolbar1_ButtonClick(int position);
    void ExplorerTree1_OnDirChanged();
    void File1_MouseUp(Qt::MouseButton button);
    void File1_DblClick();
    void SSPanel1_Click();
    void Form_Resize();
    void XceedZip1_Status(const ZipProgress &progress);

    // Keys: the code of a pressed key, and the character it produces (19 Ctrl+S, 20 Ctrl+T,
    // 9 Ctrl+I). KeyPress returns true when it swallowed the character.
    void Form_KeyDown(int keyCode);
    bool Form_KeyPress(int keyAscii);

protected:
    void closeEvent(QCloseEvent *event) override;
    // Files dragged from the desktop's file manager: dropping zip files installs them.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // The parts of the window, under their names; tests find them by those names.
    QFrame *Frame1;
    KeyedToolbar *GTToolbar1;
    LogoPanel *SSPanel1;
    PaneSplitter *GTSplitter1;
    FolderTree *ExplorerTree1;
    FileList *File1;
    StatusPanel *SSPanel2;
    StatusPanel *SSPanel3;
    DragCorner *Picture1;
    XceedZip *XceedZip1;
    QPointer<AboutWindow> Form4;
    QPointer<ContentsWindow> m_contents;
    // The About window's thunder, made at the first About and kept while it plays.
    AboutThunder *m_thunder = nullptr;
    Form3 *m_form3 = nullptr; // the text viewer, made when first used
    QMenu *popup;
    QMenu *options;
    QMenu *help;

    void buildMenus();
    void buildToolbar();
    void showContextMenu(Qt::MouseButton button, const QPoint &globalPos);
    void Form_Unload();
    void restoreFromHandOver();
    void openHandedOverFiles();
    bool startedFromRoot() const;
    void applyOuterSize();
    // Once the desktop has put its frame around the shown window: the saved outer size again,
    // now with the frame taken off, so that a start and a save give back the same numbers.
    void applyOnceFramed();
    void placeOnScreen();

    Form1Context m_context;
    std::unique_ptr<Dialogs> m_ownDialogs;
    MessageBoxDialogs *m_boxes = nullptr; // m_ownDialogs when the window shows real boxes
    Dialogs *m_dialogs = nullptr;
    std::unique_ptr<DiskInfo> m_ownDiskInfo;
    const DiskInfo *m_diskInfo = nullptr;
    DosFileSystem m_files;
    CommandRunner m_runner;
    QString m_programFolderDos;
    ProgramState m_state;
    std::unique_ptr<XceedZipComponent> m_zip; // XceedZip1 as the commands see it
    std::optional<CommandContext> m_commands; // made once the window's parts exist
    SingleInstance *m_instance = nullptr;
    QStringList m_givenFiles;
    QStringList m_handedOverFiles; // from a later start, waiting for the window to be free

    QHash<QString, QAction *> m_menuItems;
    WindowLayout m_layout;
    StartupOutcome m_outcome = StartupOutcome::Completed;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_inDirChange = false;
    // The outer size asked for, in twips: the frame's own size is known only once the window
    // is shown, so the size is applied again then.
    double m_outerWidth = designed::windowWidth;
    double m_outerHeight = designed::windowHeight;
    bool m_outerSizeApplied = false;
    bool m_shownOnce = false;
    bool m_wholeOnScreen = true; // placed by default, not at a saved place that need only be in reach
    bool m_frameApplied = false; // the saved outer size was applied with the desktop's frame known
    bool m_busyCursor = false;   // the busy pointer is up
};

} // namespace zelv
