#include "scriptedsurface.h"

#include "platform/dospath.h"

namespace zelv::test {

void ScriptedViewer::show(bool takeFocus)
{
    m_visible = true;
    focused = takeFocus;
}

ScriptedSurface::ScriptedSurface(const DosFileSystem &files) : m_files(files)
{
    for (int position : {DizButton, NfoButton, InstallButton, TestButton})
        m_buttons.insert(position, false);
    for (const char *item : {"Diz", "dnfo", "install", "test", "delete"})
        m_items.insert(QString::fromLatin1(item), false);
}

bool ScriptedSurface::setListPath(const QString &dosFolder)
{
    if (!m_files.isDirectory(dosFolder))
        return false;
    m_listPath = dosFolder;
    log(QStringLiteral("list ") + dosFolder);
    refreshList();
    return true;
}

void ScriptedSurface::setListPattern(const QString &pattern)
{
    m_pattern = pattern;
    log(QStringLiteral("pattern ") + pattern);
    refreshList();
}

void ScriptedSurface::refreshList()
{
    m_names = m_listPath.isEmpty() ? QStringList() : m_files.list(m_listPath, m_pattern, hostfs::EntryKind::Files);
    m_selected = QList<bool>(m_names.size(), false);
}

void ScriptedSurface::setListSelected(int index, bool selected)
{
    if (index >= 0 && index < m_selected.size())
        m_selected[index] = selected;
}

bool ScriptedSurface::setTreePath(const QString &dosFolder)
{
    if (!m_files.isDirectory(dosFolder))
        return false;
    const bool moved = dosFolder.compare(m_treePath, Qt::CaseInsensitive) != 0;
    m_treePath = dosFolder;
    log(QStringLiteral("tree ") + dosFolder);
    if (moved && onTreeMoved)
        onTreeMoved();
    return true;
}

std::optional<bool> ScriptedSurface::folderExists(const QString &dosFolder) const
{
    const auto letter = dospath::driveLetter(dosFolder);
    const auto drive = letter ? m_files.drives().drive(*letter) : std::nullopt;
    if (!drive || !drive->ready())
        return std::nullopt;
    return m_files.isDirectory(dosFolder);
}

void ScriptedSurface::setKindPanel(KindPanelAlignment alignment, const QString &caption)
{
    m_kindAlignment = alignment;
    m_kindCaption = caption;
    log(QStringLiteral("kind panel ") + caption);
}

void ScriptedSurface::setFolderPanelLook(FolderPanelLook look)
{
    m_look = look;
    static const char *const names[] = {"progress", "idle", "folder"};
    log(QStringLiteral("folder panel look ") + QString::fromLatin1(names[int(look)]));
}

void ScriptedSurface::setFolderPanelCaption(const QString &caption)
{
    m_folderCaption = caption;
    log(QStringLiteral("folder panel ") + caption);
}

std::optional<ArchiveKind> ScriptedSurface::pressedKind() const { return m_pressed; }

void ScriptedSurface::setKindPressed(ArchiveKind kind, bool pressed)
{
    if (pressed)
        m_pressed = kind;
    else if (m_pressed == kind)
        m_pressed.reset();
}

void ScriptedSurface::setToolbarButtonEnabled(int position, bool enabled)
{
    if (!m_buttons.contains(position))
        m_unknown << QStringLiteral("button %1").arg(position);
    else
        m_buttons[position] = enabled;
}

void ScriptedSurface::setMenuItemEnabled(const QString &name, bool enabled)
{
    if (!m_items.contains(name))
        m_unknown << QStringLiteral("item ") + name;
    else
        m_items[name] = enabled;
}

QStringList ScriptedSurface::enabledDoors() const
{
    QStringList out;
    for (FileCommand c : kAllFileCommands) {
        const FileCommandDoors &d = doorsOf(c);
        if (d.toolbarPosition && toolbarButtonEnabled(d.toolbarPosition))
            out << QStringLiteral("button %1").arg(d.toolbarPosition);
        if (menuItemEnabled(QString::fromLatin1(d.menuItem)))
            out << QString::fromLatin1(d.menuItem);
    }
    return out;
}

void ScriptedSurface::closeWindow()
{
    closed = true;
    log(QStringLiteral("close"));
}

} // namespace zelv::test
