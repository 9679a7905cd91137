#include "tempdrive.h"

#include "tempdirs.h"

#include <QLocale>

namespace zelv {

ChooserStatus tempDriveStatus(const DiskInfo &disks, const QString &path)
{
    const auto free = path.isEmpty() ? std::nullopt : disks.freeBytes(path.front());
    if (!free || *free < kTempDriveMinimumFree)
        return {false, QStringLiteral("Not a valid path or not enough free space")};
    QLocale locale;
    locale.setNumberOptions(QLocale::DefaultNumberOptions); // grouped in thousands
    return {true, locale.toString(*free) + QStringLiteral(" Free space")};
}

void ChooseTempDrive(CommandContext &c)
{
    const auto chosen = c.dialogs.chooseFolder(QStringLiteral("Choose drive for temporary files..."),
                                               [&c](const QString &path) { return tempDriveStatus(c.disks, path); });
    if (!chosen || chosen->isEmpty()) {
        c.state.TempDrive = QStringLiteral("c");
        return;
    }
    c.state.TempDrive = chosen->left(1);
    const QString listFolder = c.window.listPath();
    if (ScanLeftoverTempDirs(c, c.state.TempDrive))
        return; // cancelled: the list stays on the folder last shown
    c.window.processEvents();
    c.window.setListPattern(QStringLiteral("*.zip"));
    c.window.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    c.window.setListPath(listFolder);
    c.window.setTreePath(c.window.listPath());
}

void DeleteTempDirs(CommandContext &c)
{
    WindowSurface &w = c.window;
    const QString tree = w.treePath();
    const QString remembered = tree.endsWith(u'\\') ? tree.left(2) : tree;
    ScanLeftoverTempDirs(c, QStringLiteral("c"));
    w.setTreePath(remembered);
    w.setListPath(w.treePath());
    w.setListPattern(QStringLiteral("*.zip"));
    w.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    w.refreshList();
    w.processEvents();
    w.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false);
}

} // namespace zelv
