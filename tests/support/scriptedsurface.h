// A main window for command tests: the file list reads real folders through the drive table,
// everything else is kept as plain values, and every step a command takes that a person would
// see is written to a log in order.
#pragma once

#include "core/windowsurface.h"
#include "platform/dosfilesystem.h"

#include <QMap>
#include <QStringList>
#include <functional>

namespace zelv::test {

class ScriptedViewer : public TextViewer {
public:
    void setText(const QString &text) override { m_text = text; }
    QString text() const override { return m_text; }
    void show(bool takeFocus) override;
    void close() override { m_visible = false; }
    bool isVisible() const override { return m_visible; }
    void place(const TwipsRect &rect) override { m_rect = rect; }
    TwipsRect placement() const override { return m_rect; }

    bool focused = false;

private:
    QString m_text;
    bool m_visible = false;
    TwipsRect m_rect{100, 100, 4000, 2000};
};

class ScriptedSurface : public WindowSurface {
public:
    explicit ScriptedSurface(const DosFileSystem &files);

    bool setListPath(const QString &dosFolder) override;
    QString listPath() const override { return m_listPath; }
    void setListPattern(const QString &pattern) override;
    QString listPattern() const override { return m_pattern; }
    void refreshList() override;
    int listCount() const override { return int(m_names.size()); }
    QString listItem(int index) const override { return m_names.value(index); }
    bool listSelected(int index) const override { return m_selected.value(index); }
    void setListSelected(int index, bool selected) override;
    int listIndex() const override { return m_names.isEmpty() ? -1 : 0; }

    bool setTreePath(const QString &dosFolder) override;
    QString treePath() const override { return m_treePath; }
    std::optional<bool> folderExists(const QString &dosFolder) const override;

    void setKindPanel(KindPanelAlignment alignment, const QString &caption) override;
    QString kindPanelCaption() const override { return m_kindCaption; }
    KindPanelAlignment kindPanelAlignment() const { return m_kindAlignment; }

    void setFolderPanelLook(FolderPanelLook look) override;
    void setFolderPanelCaption(const QString &caption) override;
    QString folderPanelCaption() const override { return m_folderCaption; }
    void setFolderPanelPercent(int percent) override { m_percent = percent; }
    int folderPanelPercent() const override { return m_percent; }
    void repaintFolderPanel() override { log(QStringLiteral("repaint folder panel")); }
    FolderPanelLook folderPanelLook() const { return m_look; }

    std::optional<ArchiveKind> pressedKind() const override;
    void setKindPressed(ArchiveKind kind, bool pressed) override;

    // The doors the real window has: toolbar positions 6, 7, 9, 10 and the menu items of the
    // file commands. Any other is recorded in unknownDoors().
    void setToolbarButtonEnabled(int position, bool enabled) override;
    bool toolbarButtonEnabled(int position) const override { return m_buttons.value(position); }
    void setMenuItemEnabled(const QString &name, bool enabled) override;
    bool menuItemEnabled(const QString &name) const override { return m_items.value(name); }
    const QStringList &unknownDoors() const { return m_unknown; }
    // The doors of the file commands that are enabled, in the table's order: "button 6", "Diz".
    QStringList enabledDoors() const;

    void minimizeWindow() override { log(QStringLiteral("minimize")); }
    void restoreWindow() override { log(QStringLiteral("restore")); }
    bool windowMaximized() const override { return maximized; }
    TwipsRect windowRect() const override { return rect; }
    void repaintWindow() override { log(QStringLiteral("repaint window")); }
    void closeWindow() override;
    void processEvents() override
    {
        log(QStringLiteral("process events"));
        if (onProcessEvents)
            onProcessEvents();
    }
    void showContents(const ArchiveContents &contents) override
    {
        log(QStringLiteral("contents"));
        shownContents = contents;
    }
    std::optional<ArchiveContents> shownContents;
    void setBusyCursor(bool busy) override { log(busy ? QStringLiteral("busy") : QStringLiteral("not busy")); }
    TextViewer &viewer() override { return m_viewer; }
    ScriptedViewer &scriptedViewer() { return m_viewer; }

    bool maximized = false;
    TwipsRect rect{1500, 3000, 6000, 4005};
    bool closed = false;
    // What else happens while the window lets events through: another program at work.
    std::function<void()> onProcessEvents;
    // What the window does when the tree moves to another folder (the real one shows the folder
    // in the folder panel).
    std::function<void()> onTreeMoved;
    QStringList steps; // in the order taken
    void log(const QString &step) { steps << step; }

private:
    const DosFileSystem &m_files;
    QString m_listPath;
    QString m_pattern = QStringLiteral("*.ZIP");
    QStringList m_names;
    QList<bool> m_selected;
    QString m_treePath;
    KindPanelAlignment m_kindAlignment = KindPanelAlignment::Centred;
    QString m_kindCaption;
    FolderPanelLook m_look = FolderPanelLook::Folder;
    QString m_folderCaption;
    int m_percent = 0;
    std::optional<ArchiveKind> m_pressed = ArchiveKind::Zip;
    QMap<int, bool> m_buttons;
    QMap<QString, bool> m_items;
    QStringList m_unknown;
    ScriptedViewer m_viewer;
};

} // namespace zelv::test
