// The program's start-up, once the main window's parts exist: the refusals, the hand-over to a
// running instance, the About window while the settings are read and applied, the leftovers of
// earlier runs, the scan for temporary folders on drive c and the view the person left.
#pragma once

#include "core/commandcontext.h"
#include "core/settingsfile.h"

namespace zelv {

enum class StartupOutcome { Completed, Refused, HandedOver };

// What start-up needs of the main window beyond the surface: its settings side, the running
// instance, the About window shown meanwhile, and the first showing.
class StartupWindow : public SettingsWindow {
public:
    // Why the program may not run from its folder at all (one another user can change, one that
    // could not be made); empty when it may.
    virtual QString programFolderRefusal() const { return QString(); }
    // Becomes the running instance, or asks the one that runs to come forward: true then.
    virtual bool handOverToRunningInstance() = 0;
    virtual void showAboutWindow() = 0;
    // The version label of the About window; null when it is not there.
    virtual QString aboutWindowVersion() const = 0;
    virtual void closeAboutWindow() = 0;
    // Shown and painted at once.
    virtual void showMainWindow() = 0;
    // False once something closed the shown window (a folder tree that found nothing to show).
    virtual bool mainWindowOpen() const { return true; }
};

// Refused when the program folder could not be had or is not the user's to trust, is on no drive
// or is a drive's root, after saying so; handed over when another instance runs. The window
// closes itself on either.
StartupOutcome StartUp(CommandContext &c, StartupWindow &window);

} // namespace zelv
