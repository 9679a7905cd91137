// zelvzip: the zip engine from the command line, for developers and benchmarks.
//
//   zelvzip extract ARCHIVE MASK DEST   masks separated by ";" or new lines; "" for all
//   zelvzip test ARCHIVE
//
// Host paths. The last line printed is the engine's result code.
#include "archive/zipengine.h"

#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    std::atomic<bool> abort{false};
    zelv::ZipCode code = zelv::ZipDone;
    if (command == u"extract" && argc == 5) {
        QString masks = QString::fromLocal8Bit(argv[3]);
        masks.replace(u';', u'\r');
        code = zelv::ZipEngine::extract(
            {QString::fromLocal8Bit(argv[2]), masks, QString::fromLocal8Bit(argv[4]), false}, abort);
    } else if (command == u"test" && argc == 3) {
        code = zelv::ZipEngine::test({QString::fromLocal8Bit(argv[2]), QString(), QString(), false}, abort);
    } else {
        fprintf(stderr, "usage: zelvzip extract ARCHIVE MASK DEST\n       zelvzip test ARCHIVE\n");
        return 2;
    }
    printf("%d\n", int(code));
    return code == 0 ? 0 : 1;
}
