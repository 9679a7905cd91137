// How fast the file list shows a folder of 100,000 files, against a bare scan of the same
// folder; and how fast the program shows its window, against a Qt program with an empty one.
//
//   filelistbench [--rounds N] [--list-only | --startup-only] [--program PATH]
//
// --program times another build of the program instead of the one beside this build.
// The folder is made once under the temporary folder and kept for later runs.
#include "platform/dosfilesystem.h"
#include "platform/drivetable.h"
#include "platform/wildcard.h"
#include "ui/widgets/filelist.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace zelv;

namespace {

constexpr int kFileCount = 100000;
constexpr double kListTarget = 3.0;
constexpr double kStartupTarget = 1.5;

QTextStream out(stdout);

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int countEntries(const QString &folder)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(QFile::encodeName(folder).constData()), closedir);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *e = readdir(dir.get()))
        if (e->d_name[0] != '.')
            ++count;
    return count;
}

// Names as a download folder has them: whole archives, volume sets in both spellings, numbered
// parts, text files and names without an extension, in mixed letter case.
QString nameFor(int i)
{
    static const char *const stems[] = {"prog", "Setup", "DATA", "ReadMe", "game", "Tool_v2", "NOTES", "mIxEd"};
    const QString stem = QString::fromLatin1(stems[i % 8]) + QString::number(i / 8);
    switch (i % 11) {
    case 0:
        return stem + QStringLiteral(".rar");
    case 1:
        return stem + QStringLiteral(".RAR");
    case 2:
        return stem + QStringLiteral(".r%1").arg(i % 100, 2, 10, QLatin1Char('0'));
    case 3:
        return stem + QStringLiteral(".R%1").arg(i % 100, 2, 10, QLatin1Char('0'));
    case 4:
        return stem + QStringLiteral(".0%1").arg(i % 100, 2, 10, QLatin1Char('0'));
    case 5:
        return stem + QStringLiteral(".001");
    case 6:
        return stem + QStringLiteral(".zip");
    case 7:
        return stem + QStringLiteral(".ZIP");
    case 8:
        return stem + QStringLiteral(".txt");
    case 9:
        return stem + QStringLiteral(".Txt");
    default:
        return stem; // no extension
    }
}

bool makeFolderOfFiles(const QString &folder)
{
    if (countEntries(folder) == kFileCount)
        return true;
    out << "Making " << kFileCount << " files in " << folder << " (once)..." << Qt::endl;
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < kFileCount; ++i) {
        const QByteArray path = QFile::encodeName(folder + u'/' + nameFor(i));
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return countEntries(folder) == kFileCount;
}

// The peer: read the folder and match each name, nothing more.
int plainScan(const QString &folder, const WildcardFilter &filter)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(QFile::encodeName(folder).constData()), closedir);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *e = readdir(dir.get())) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (filter.matches(QFile::decodeName(n)))
            ++count;
    }
    return count;
}

// Points the list at the folder and waits until the view has laid the entries out.
double timeFileList(FileList &list, const QString &emptyDos, const QString &filesDos, const QString &pattern,
                    int *count)
{
    list.setPath(emptyDos);
    list.setPattern(pattern);
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    list.setPath(filesDos);
    const int rows = list.listCount();
    const int visibleRows = list.viewport()->height() / std::max(1, list.sizeHintForRow(0)) + 1;
    for (int spins = 0; spins < 1000; ++spins) {
        QCoreApplication::processEvents();
        // The scroll range is set once the layout has run.
        if (rows <= visibleRows || list.verticalScrollBar()->maximum() >= rows - visibleRows)
            break;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    *count = rows;
    return ms;
}

double timeScan(const QString &folder, const QString &pattern, int *count)
{
    QElapsedTimer timer;
    timer.start();
    *count = plainScan(folder, WildcardFilter(pattern));
    return timer.nsecsElapsed() / 1e6;
}

void benchFileList(int rounds)
{
    const QString base = QDir::tempPath() + QStringLiteral("/zelv-filelistbench");
    const QString files = base + QStringLiteral("/files");
    if (!makeFolderOfFiles(files)) {
        out << "Could not make the folder of files in " << files << Qt::endl;
        return;
    }
    QDir().mkpath(base + QStringLiteral("/empty"));
    // A drive table of its own: c: is the benchmark's folder.
    const QString program = base + QStringLiteral("/program");
    QDir().mkpath(program + QStringLiteral("/dosdevices"));
    const QString link = program + QStringLiteral("/dosdevices/c:");
    if (QFile::symLinkTarget(link) != base) {
        QFile::remove(link);
        QFile::link(base, link);
    }
    DriveTable drives(program);
    DosFileSystem fs(drives);

    FileList list(fs);
    list.resize(400, 600);
    list.show();
    QCoreApplication::processEvents();

    out << "File list, folder of " << kFileCount << " files, " << rounds << " rounds (median ms)" << Qt::endl;
    for (const QString &pattern : {QStringLiteral("*.R??;*.0??"), QStringLiteral("*.*")}) {
        std::vector<double> listed, scanned;
        int listCount = 0, scanCount = 0;
        for (int round = 0; round < rounds; ++round) {
            // Alternate which goes first, so that neither always meets a warmer cache.
            if (round % 2 == 0) {
                listed.push_back(
                    timeFileList(list, QStringLiteral("C:\\empty"), QStringLiteral("C:\\files"), pattern, &listCount));
                scanned.push_back(timeScan(files, pattern, &scanCount));
            } else {
                scanned.push_back(timeScan(files, pattern, &scanCount));
                listed.push_back(
                    timeFileList(list, QStringLiteral("C:\\empty"), QStringLiteral("C:\\files"), pattern, &listCount));
            }
        }
        const double l = median(listed), s = median(scanned);
        const double ratio = l / s;
        out << QStringLiteral(
                   "  %1  entries %2 (scan %3)  FileList %4 ms  plain scan %5 ms  ratio %6  target <= %7  %8")
                   .arg(pattern, -12)
                   .arg(listCount)
                   .arg(scanCount)
                   .arg(l, 0, 'f', 1)
                   .arg(s, 0, 'f', 1)
                   .arg(ratio, 0, 'f', 2)
                   .arg(kListTarget, 0, 'f', 1)
                   .arg(ratio <= kListTarget ? QStringLiteral("met") : QStringLiteral("MISSED"))
            << Qt::endl;
        if (listCount != scanCount)
            out << "  the list and the scan disagree on the number of entries" << Qt::endl;
    }
}

// Runs a program until it exits; the time in ms, or a negative figure when it failed.
double timeLaunch(const QString &program, QString *problem)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    if (!process.waitForStarted(10000)) {
        *problem = QStringLiteral("could not be started");
        return -1;
    }
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        *problem = QStringLiteral("was still running after 20 s");
        return -1;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *problem = QStringLiteral("exited with code %1").arg(process.exitCode());
        return -1;
    }
    return ms;
}

void benchStartup(int rounds, const QString &zelv)
{
    const QString empty = QCoreApplication::applicationDirPath() + QStringLiteral("/emptywindow");
    out << "Start-up to the first shown window, " << rounds << " rounds (median ms)" << Qt::endl;
    for (const QString &program : {empty, zelv}) {
        if (!QFileInfo(program).isExecutable()) {
            out << "  " << program << " is not built" << Qt::endl;
            return;
        }
    }
    // The program's start-up runs in its own world: a drive c of its own keeps leftover
    // questions and a settings file from the person's real folders out of the measurement.
    const QString devices = QFileInfo(zelv).absolutePath() + QStringLiteral("/dosdevices");
    if (!QFileInfo::exists(devices)) {
        const QString driveC = QDir::tempPath() + QStringLiteral("/zelv-startupbench-c");
        QDir().mkpath(driveC);
        QDir().mkpath(devices);
        QFile::link(driveC, devices + QStringLiteral("/c:"));
        QFile::link(QStringLiteral("/"), devices + QStringLiteral("/z:"));
    }
    std::vector<double> emptyTimes, zelvTimes, ratios;
    for (int round = 0; round < rounds; ++round) {
        QString problem;
        const bool emptyFirst = round % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isEmpty = (turn == 0) == emptyFirst;
            const double ms = timeLaunch(isEmpty ? empty : zelv, &problem);
            if (ms < 0) {
                out << "  " << (isEmpty ? empty : zelv) << " " << problem << "; start-up not measured" << Qt::endl;
                return;
            }
            (isEmpty ? emptyTimes : zelvTimes).push_back(ms);
        }
        ratios.push_back(zelvTimes.back() / emptyTimes.back());
    }
    // Judged, as the other benchmarks judge, by the median of each round's own ratio: the two
    // starts of a round meet the same moment of a machine whose speed wanders.
    const double z = median(zelvTimes), e = median(emptyTimes);
    const double ratio = median(ratios);
    out << QStringLiteral("  Zelv32 %1 ms  empty window %2 ms  ratio %3 (of the medians %4)  target <= %5  %6")
               .arg(z, 0, 'f', 1)
               .arg(e, 0, 'f', 1)
               .arg(ratio, 0, 'f', 2)
               .arg(z / e, 0, 'f', 2)
               .arg(kStartupTarget, 0, 'f', 1)
               .arg(ratio <= kStartupTarget ? QStringLiteral("met") : QStringLiteral("MISSED"))
        << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    // The list is measured without a display, as the tests run.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int rounds = 9;
    bool list = true, startup = true;
    QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/zelvshown");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--rounds" && i + 1 < args.size())
            rounds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--list-only")
            startup = false;
        else if (args[i] == u"--startup-only")
            list = false;
        else if (args[i] == u"--program" && i + 1 < args.size())
            program = QFileInfo(args[++i]).absoluteFilePath();
        else {
            out << "usage: filelistbench [--rounds N] [--list-only | --startup-only] [--program PATH]" << Qt::endl;
            return 2;
        }
    }
    if (list)
        benchFileList(rounds);
    if (startup)
        benchStartup(rounds, program);
    return 0;
}
