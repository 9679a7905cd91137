// libFuzzer target for the zip engine's reading: the input is a zip archive, tested, then
// extracted into a fresh folder. Whatever the bytes, the engine answers one of its codes and
// writes nothing outside the folder. Built with clang only when ZELV_FUZZ is on (README.md,
// "For developers").
#include "archive/zipengine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>

using namespace zelv;

namespace {

bool knownCode(ZipCode c)
{
    switch (c) {
    case ZipDone:
    case ZipCrcError:
    case ZipStructureError:
    case ZipNothingMatched:
    case ZipDataError:
    case ZipCannotWrite:
    case ZipUnsupported:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("fuzz.zip"));
    const QString into = dir.filePath(QStringLiteral("out"));
    QFile f(archive);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    f.write(reinterpret_cast<const char *>(data), qint64(size));
    f.close();
    std::atomic<bool> abort{false};
    ZipJob job;
    job.archive = archive;
    if (!knownCode(ZipEngine::test(job, abort)))
        __builtin_trap();
    job.destination = into;
    if (!knownCode(ZipEngine::extract(job, abort)))
        __builtin_trap();
    // Only the archive and the destination folder, whatever the names inside said.
    const QStringList top = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : top)
        if (name != QStringLiteral("fuzz.zip") && name != QStringLiteral("out"))
            __builtin_trap();
    QDir(into).removeRecursively();
    return 0;
}
