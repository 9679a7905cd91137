// Zelv32.ini: eight positional lines that remember the window's state, place and size, the
// folder tree's pane width and the folder the file list showed. Each value is found by its line
// number and a fixed number of characters after the start of the line; the keys are labels.
#pragma once

#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace zelv {

// Numbers are written with a sign character (a blank for zero and positive numbers), the
// digits and, for a fraction, a point and its digits without trailing zeros: " 0", " 2897.5",
// "-60".
QString formatSettingsNumber(double value);
// Leading blanks ignored, a leading "-" is the sign; reading stops at the first character that
// cannot continue the number. Nothing when no digit is found.
std::optional<double> parseSettingsNumber(QStringView text);

struct SettingsRecord {
    QString version;
    int state = 0; // 0 normal, 1 minimised, 2 maximised
    double top = 0;
    double left = 0;
    double height = 0;
    double width = 0;
    int paneWidth = 0;
    QString folder;

    bool operator==(const SettingsRecord &) const = default;
};

// Written to a temporary file that replaces the old one only when complete, so that a full
// disk or a crash never leaves a cut settings file.
Result<void> writeSettingsFile(const QString &hostPath, const SettingsRecord &record);

// A text file the program writes (settings, error report): each line in the system's single-byte
// code page and ended by carriage return and line feed, written to a temporary file that replaces
// the old one only when complete.
Result<void> writeTextLines(const QString &hostPath, const QStringList &lines);

// The lines of a text file, whatever ends them (CR LF, LF or CR); a final line end starts no
// further line.
Result<QStringList> readTextLines(const QString &hostPath);

// What the settings are read from and applied to: the main window, the folder tree and the
// file list. Lengths are twips.
class SettingsWindow {
public:
    virtual ~SettingsWindow() = default;
    virtual int windowState() const = 0;
    virtual bool setWindowState(int state) = 0; // false for a state the window refuses
    virtual double windowTop() const = 0;
    virtual double windowLeft() const = 0;
    virtual double windowHeight() const = 0;
    virtual double windowWidth() const = 0;
    virtual void setWindowTop(double twips) = 0;
    virtual void setWindowLeft(double twips) = 0;
    virtual void setWindowHeight(double twips) = 0;
    virtual void setWindowWidth(double twips) = 0;
    virtual double screenHeight() const = 0;
    virtual double screenWidth() const = 0;
    virtual void showWindowNow() = 0;
    // Brings the window back within reach when the saved place and size leave it off every
    // screen, too large for one or too small to see.
    virtual void keepOnScreen() {}
    // The same for a saved place, which stays as saved while the window can be reached: only
    // one with most of it, or its title bar, off every screen is brought back.
    virtual void keepWithinReach() {}
    virtual int paneWidth() const = 0;
    virtual void setPaneWidth(int width) = 0;
    virtual QString listFolder() const = 0;
    // Both return false when the folder could not be opened.
    virtual bool setListFolder(const QString &dosFolder) = 0;
    virtual bool setTreeFolder(const QString &dosFolder) = 0;
    // Nothing when the test itself fails: a path on no drive, or a drive that is not ready.
    virtual std::optional<bool> folderExists(const QString &dosFolder) const = 0;
};

struct LoadOutcome {
    bool newlyWritten = false; // the file was missing or short and has been written anew
    QString savedDirLine;      // the Dir line as read, or "Dir=C:\" for a new file
    bool folderFailed = false; // applying the saved folder failed: start-up falls back
};

LoadOutcome LoadSettings(const QString &hostPath, SettingsWindow &window, const QString &versionText);
SettingsRecord settingsFromWindow(const SettingsWindow &window, const QString &versionText);
Result<void> SaveSettings(const QString &hostPath, const SettingsWindow &window, const QString &versionText);

} // namespace zelv
