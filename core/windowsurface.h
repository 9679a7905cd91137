// What the commands of the program need of the main window: the file list, the folder tree,
// the two status panels, the availability of the toolbar buttons and menu items, and a few
// window services. The main window implements it; each subsystem works through it.
#pragma once

#include "platform/dialogs.h"

#include <QString>

namespace zelv {

// Text alignment codes of the status panels.
enum PanelAlignment : int { AlignLeftMiddle = 1, AlignCentred = 7 };

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

    // Folder tree; setting a folder raises the folder-change handling.
    virtual bool setTreePath(const QString &dosFolder) = 0;
    virtual QString treePath() const = 0;

    // Kind panel.
    virtual void setKindPanel(int alignment, const QString &caption) = 0;

    // Availability of the commands, by toolbar position and by menu item name.
    virtual void setToolbarButtonEnabled(int position, bool enabled) = 0;
    virtual bool toolbarButtonEnabled(int position) const = 0;
    virtual void setMenuItemEnabled(const QString &name, bool enabled) = 0;
    virtual bool menuItemEnabled(const QString &name) const = 0;

    virtual void processEvents() = 0;
    virtual void setBusyCursor(bool busy) = 0;
    virtual Dialogs &dialogs() = 0;
};

} // namespace zelv
