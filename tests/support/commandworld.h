// A command context for tests: a world of its own, a scripted window and scripted message
// boxes, the real runner, files and zip component, and a disk whose free space the test sets.
#pragma once

#include "core/commandcontext.h"
#include "install/xceedzipcomponent.h"
#include "support/scripteddialogs.h"
#include "support/scriptedsurface.h"
#include "support/testworld.h"

#include <QCoreApplication>

namespace zelv::test {

class FixedDiskInfo : public DiskInfo {
public:
    std::optional<qint64> freeBytes(QChar) const override { return bytes; }
    std::optional<qint64> bytes = 10'000'000'000;
};

// The program folder is on a drive, as it is beside z: -> / in real use.
struct WorldWithProgramDrive : TestWorld {
    WorldWithProgramDrive() { linkDrive(u'z', root()); }
};

struct CommandWorld {
    // As the window does, events are let through while the zip component works.
    CommandWorld()
    {
        zip.setProgressHandler([](const ZipProgress &) { QCoreApplication::processEvents(); });
    }

    WorldWithProgramDrive world;
    DosFileSystem files{world.drives()};
    CommandRunner runner{world.drives()};
    FixedDiskInfo disks;
    XceedZip zip{world.drives()};
    XceedZipComponent zipComponent{zip};
    ScriptedDialogs dialogs;
    ProgramState state;
    ScriptedSurface window{files};
    CommandContext context{
        window, state,        files,   runner,
        disks,  zipComponent, dialogs, world.drives().toDos(world.programFolder()).value_or(QString())};

    // Host path of a file in the program folder.
    QString inProgramFolder(const QString &name) const { return world.programFolder() + u'/' + name; }
};

} // namespace zelv::test
