#include "windowsurface.h"

namespace zelv {

namespace {

constexpr FileCommandDoors kDoors[] = {
    {FileCommand::Diz, DizButton, "Diz"},
    {FileCommand::Nfo, NfoButton, "dnfo"},
    {FileCommand::Install, InstallButton, "install"},
    {FileCommand::Test, TestButton, "test"},
    {FileCommand::Delete, 0, "delete"},
};

} // namespace

const FileCommandDoors &doorsOf(FileCommand command) { return kDoors[size_t(command)]; }

QStringList WindowSurface::selectedNames() const
{
    QStringList names;
    for (int i = 0; i < listCount(); ++i)
        if (listSelected(i))
            names << listItem(i);
    return names;
}

void WindowSurface::pressOnly(ArchiveKind kind)
{
    for (ArchiveKind k : kAllArchiveKinds)
        setKindPressed(k, k == kind);
}

void WindowSurface::setCommandsEnabled(std::initializer_list<FileCommand> commands, bool enabled, Doors doors)
{
    if (int(doors) & int(Doors::Toolbar)) {
        for (FileCommand c : commands)
            if (const int position = doorsOf(c).toolbarPosition)
                setToolbarButtonEnabled(position, enabled);
    }
    if (int(doors) & int(Doors::Menu)) {
        for (FileCommand c : commands)
            setMenuItemEnabled(QString::fromLatin1(doorsOf(c).menuItem), enabled);
    }
}

bool WindowSurface::commandEnabled(FileCommand command, Doors door) const
{
    const FileCommandDoors &d = doorsOf(command);
    if (door == Doors::Toolbar)
        return d.toolbarPosition != 0 && toolbarButtonEnabled(d.toolbarPosition);
    if (door == Doors::Menu)
        return menuItemEnabled(QString::fromLatin1(d.menuItem));
    return commandEnabled(command, Doors::Toolbar) && commandEnabled(command, Doors::Menu);
}

} // namespace zelv
