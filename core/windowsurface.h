// What the commands of the program need of the main window: the file list, the folder tree,
// the two status panels, the kind buttons, the availability of the file commands, the text
// viewer and a few window services. The main window implements it; each subsystem works
// through it, and tests put a scripted surface in its place.
#pragma once

#include "archive/archivekind.h"
#include "archivecontents.h"

#include <QString>
#include <QStringList>
#include <initializer_list>
#include <optional>

namespace zelv {

// How the kind panel aligns its caption: left for a file in work, centred for a pattern.
enum class KindPanelAlignment { Left, Centred };

// The looks of the folder panel. Progress: a bar filling from left to right behind the caption
// in the highlight-text colour, for long commands. Idle: no bar, window-text colour, for their
// results. Folder: no bar, black text, for the folder shown after a folder change. None of
// them changes the percentage.
enum class FolderPanelLook { Progress, Idle, Folder };

// Toolbar positions, counted from 1 as the toolbar addresses its buttons.
enum ToolbarPosition : int {
    ZipButton = 1,
    RarButton = 2,
    ArjButton = 3,
    AceButton = 4,
    DizButton = 6,
    NfoButton = 7,
    InstallButton = 9,
    TestButton = 10,
    HelpButton = 12,
    WebButton = 13,
    EmailButton = 14,
    ExitButton = 16,
};

// The file commands, whose availability changes as the list and the commands do. Each has a
// menu item and, except delete, a toolbar button; the two are enabled separately.
enum class FileCommand { Diz, Nfo, Install, Test, Delete };

struct FileCommandDoors {
    FileCommand command;
    int toolbarPosition; // 0: none
    const char *menuItem;
};

// The one table of the file commands' doors.
const FileCommandDoors &doorsOf(FileCommand command);
inline constexpr FileCommand kAllFileCommands[] = {FileCommand::Diz, FileCommand::Nfo, FileCommand::Install,
                                                   FileCommand::Test, FileCommand::Delete};

// Which doors a change of availability reaches.
enum class Doors { Toolbar = 1, Menu = 2, Both = 3 };

// A rectangle of a window in twips, relative to the screen.
struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool operator==(const TwipsRect &) const = default;
};

// The text viewer for release notes: a window of its own, loaded once and shown on demand.
class TextViewer {
public:
    virtual ~TextViewer() = default;
    virtual void setText(const QString &text) = 0;
    virtual QString text() const = 0;
    virtual void show(bool takeFocus) = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    virtual void place(const TwipsRect &rect) = 0;
    virtual TwipsRect placement() const = 0;
};

class WindowSurface {
public:
    virtual ~WindowSurface() = default;

    // File list: setting the folder or the pattern reads the folder again at once. Setting a
    // folder that cannot be opened returns false and leaves the list where it was.
    virtual bool setListPath(const QString &dosFolder) = 0;
    virtual QString listPath() const = 0;
    virtual void setListPattern(const QString &pattern) = 0;
    virtual QString listPattern() const = 0;
    virtual void refreshList() = 0;
    virtual int listCount() const = 0;
    virtual QString listItem(int index) const = 0;
    virtual bool listSelected(int index) const = 0;
    virtual void setListSelected(int index, bool selected) = 0;
    virtual int listIndex() const = 0;
    // The selected names in list order.
    QStringList selectedNames() const;

    // Folder tree; setting a folder raises the folder-change handling.
    virtual bool setTreePath(const QString &dosFolder) = 0;
    virtual QString treePath() const = 0;
    // Why the tree's current folder cannot be opened by its DOS path (a name holding a
    // backslash, or bytes that are not text), empty when it can.
    virtual QString treePathProblem() const { return QString(); }
    // Whether a folder exists, or nothing when its drive cannot say (not ready).
    virtual std::optional<bool> folderExists(const QString &dosFolder) const = 0;

    // Kind panel.
    virtual void setKindPanel(KindPanelAlignment alignment, const QString &caption) = 0;
    virtual QString kindPanelCaption() const = 0;

    // The Contents window, open beside the main window with what contents holds.
    virtual void showContents(const ArchiveContents &contents) = 0;

    // Folder panel.
    virtual void setFolderPanelLook(FolderPanelLook look) = 0;
    virtual void setFolderPanelCaption(const QString &caption) = 0;
    virtual QString folderPanelCaption() const = 0;
    virtual void setFolderPanelPercent(int percent) = 0;
    virtual int folderPanelPercent() const = 0;
    virtual void repaintFolderPanel() = 0;

    // The kind buttons: the pressed one is the current kind; none may be pressed.
    virtual std::optional<ArchiveKind> pressedKind() const = 0;
    virtual void setKindPressed(ArchiveKind kind, bool pressed) = 0;
    // Presses one kind button and releases the other three.
    void pressOnly(ArchiveKind kind);

    // Availability of the commands, by toolbar position and by menu item name. A position or
    // a name the window does not have is a programming error.
    virtual void setToolbarButtonEnabled(int position, bool enabled) = 0;
    virtual bool toolbarButtonEnabled(int position) const = 0;
    virtual void setMenuItemEnabled(const QString &name, bool enabled) = 0;
    virtual bool menuItemEnabled(const QString &name) const = 0;
    // The file commands through their doors, in the order given.
    void setCommandsEnabled(std::initializer_list<FileCommand> commands, bool enabled, Doors doors = Doors::Both);
    bool commandEnabled(FileCommand command, Doors door) const;

    // The main window.
    virtual void minimizeWindow() = 0;
    virtual void restoreWindow() = 0; // back to normal, neither minimised nor maximised
    virtual bool windowMaximized() const = 0;
    virtual TwipsRect windowRect() const = 0;
    virtual void repaintWindow() = 0;
    virtual void closeWindow() = 0;
    virtual void processEvents() = 0;
    virtual void setBusyCursor(bool busy) = 0;

    virtual TextViewer &viewer() = 0;
};

} // namespace zelv
