// The archiver helpers against the bare tools on two volume sets: wrar.exe on a RAR set of 300 MB
// in 15 volumes against unar and against libarchive reading every volume in one process (this
// program run as "setbench --libarchive DEST VOLUME..."), and warj.pif (one run per volume, as
// the install runs it) on an ARJ set of 100 MB in 5 volumes against arj itself.
//
//   setbench [--rounds N] [--set rar|packed|arj|sfv]
//
// rar: target wrar.exe / unar at most 0.4 (the set is stored).
//
// packed: a RAR 5 set packed by the tests' writer (a 64 MiB text member, data that packs to
// half, random data, small files; some 12 volumes): wrar.exe against unar and libarchive.
// Target: at most 1.0 of the faster bare tool.
//
// sfv: the check of the RAR set against a .sfv of its volumes (the helpers' own, in this
// process) against cksfv -f on the same files. Target: at most 0.5.
//
// The sets are made once under the temporary folder and kept: the RAR set by the tests' stored
// RAR writer (no free tool writes RAR), the ARJ set by arj a -v. Every round runs each contender
// once into an empty destination, in an order that turns from round to round; the first round
// warms the caches and is not counted. Printed: the median time of each, and the median of the
// per-round ratios helper / fastest bare tool against the target of at most 1.15.
#include "archive/sfvcheck.h"
#include "support/setwriters.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <clocale>
#include <functional>
#include <map>
#include <random>

namespace {

QTextStream out(stdout);

constexpr const char *kSetVersion = "setbench sets 2";
constexpr double kTarget = 1.15;

QString benchFolder() { return QDir::tempPath() + QStringLiteral("/zelv-setbench"); }
QString programFolder() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"); }

// Data that packs to about half, as programs and their data do.
QByteArray fileData(qint64 size, quint32 seed)
{
    std::mt19937 rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; i += 4) {
        const quint32 r = rng();
        for (int k = 0; k < 4 && i + k < size; ++k)
            data[i + k] = char((r >> (8 * k)) & (k % 2 ? 0x0F : 0xFF));
    }
    return data;
}

// Sizes in MB that add up to total, one of them larger than a volume so that it spans.
QList<qint64> memberSizes(int total)
{
    QList<qint64> sizes;
    int left = total;
    for (int mb : {total / 3, 40, 25, 12, 8, 5, 3, 2, 1}) {
        if (mb >= left)
            break;
        sizes << (qint64(mb) << 20);
        left -= mb;
    }
    sizes << (qint64(left) << 20);
    return sizes;
}

bool setIsKept(const QString &folder)
{
    QFile stamp(folder + QStringLiteral("/.made"));
    return stamp.open(QIODevice::ReadOnly) && stamp.readAll() == kSetVersion;
}

void keep(const QString &folder)
{
    QFile stamp(folder + QStringLiteral("/.made"));
    if (stamp.open(QIODevice::WriteOnly))
        stamp.write(kSetVersion);
}

QString makeRarSet()
{
    const QString folder = benchFolder() + QStringLiteral("/rar");
    if (setIsKept(folder))
        return folder + QStringLiteral("/release.part01.rar");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    out << "Writing the RAR set (300 MB, 15 volumes)..." << Qt::endl;
    QList<zelv::test::SetMember> members;
    int n = 0;
    for (qint64 size : memberSizes(300)) {
        ++n;
        members << zelv::test::SetMember::file(QStringLiteral("game/data%1.bin").arg(n).toUtf8(),
                                               fileData(size, quint32(n)));
    }
    members << zelv::test::SetMember::file("setup.exe", fileData(300000, 99));
    QString error;
    const auto volumes = zelv::test::writeRarSet(folder, QStringLiteral("release"), zelv::test::RarFormat::Rar5,
                                                 zelv::test::VolumeNaming::New, members, 21 << 20, &error, 2);
    if (!volumes) {
        out << "cannot write the RAR set: " << error << Qt::endl;
        return QString();
    }
    keep(folder);
    return volumes->first();
}

// Data that does not pack at all.
QByteArray randomData(qint64 size, quint32 seed)
{
    std::mt19937 rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char(rng());
    return data;
}

// Text from a small vocabulary, as logs and scripts are: it packs to a fraction.
QByteArray textData(qint64 size, quint32 seed)
{
    static const char *const words[] = {"install", "setup", "volume", "archive", "member", "folder", "the",
                                        "of",      "data",  "level",  "sound",   "music",  "map",    "error"};
    std::mt19937 rng(seed);
    QByteArray data;
    data.reserve(size + 64);
    for (int line = 0; data.size() < size; ++line) {
        data += QByteArray::number(line % 1000);
        for (int w = 0; w < 8; ++w) {
            data += ' ';
            data += words[rng() % 14];
        }
        data += '\n';
    }
    data.truncate(size);
    return data;
}

// A packed RAR 5 set: a 64 MiB member of text, data that packs to half, random data and small
// files, in 12 volumes or so.
QString makePackedRarSet(qint64 *bytes)
{
    const QString folder = benchFolder() + QStringLiteral("/packed");
    QList<zelv::test::SetMember> members{
        zelv::test::SetMember::packed("game/script.txt", textData(qint64(64) << 20, 1)),
        zelv::test::SetMember::packed("game/level.dat", fileData(qint64(12) << 20, 2)),
        zelv::test::SetMember::packed("game/sound.bin", randomData(4 << 20, 3)),
        zelv::test::SetMember::packed("setup.exe", fileData(300000, 4)),
        zelv::test::SetMember::packed("readme.txt", textData(20000, 5))};
    *bytes = 0;
    for (const auto &m : members)
        *bytes += m.data.size();
    if (setIsKept(folder))
        return folder + QStringLiteral("/release.part01.rar");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    out << "Writing the packed RAR set..." << Qt::endl;
    QString error;
    const auto volumes = zelv::test::writeRarSet(folder, QStringLiteral("release"), zelv::test::RarFormat::Rar5,
                                                 zelv::test::VolumeNaming::New, members, 2 << 20, &error, 2);
    if (!volumes) {
        out << "cannot write the packed RAR set: " << error << Qt::endl;
        return QString();
    }
    keep(folder);
    return volumes->first();
}

QString makeArjSet()
{
    const QString folder = benchFolder() + QStringLiteral("/arj");
    if (setIsKept(folder))
        return folder + QStringLiteral("/release.arj");
    QDir(folder).removeRecursively();
    const QString source = folder + QStringLiteral("/source");
    QDir().mkpath(source + QStringLiteral("/game"));
    out << "Making the ARJ set (100 MB, 5 volumes) with arj..." << Qt::endl;
    QStringList names;
    int n = 0;
    for (qint64 size : memberSizes(100)) {
        const QString name = QStringLiteral("game/data%1.bin").arg(++n);
        QFile f(source + u'/' + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(fileData(size, quint32(n))) != size)
            return QString();
        names << name;
    }
    QProcess arj;
    arj.setWorkingDirectory(source);
    arj.setStandardInputFile(QProcess::nullDevice());
    // Packed once to learn the packed size, then again in volumes of a fifth of it.
    arj.start(QStringLiteral("arj"), QStringList{QStringLiteral("a"), QStringLiteral("-m4"), QStringLiteral("-y"),
                                                 QStringLiteral("../probe")} +
                                         names);
    arj.waitForFinished(-1);
    const qint64 packed = QFileInfo(folder + QStringLiteral("/probe.arj")).size();
    QFile::remove(folder + QStringLiteral("/probe.arj"));
    const qint64 volumeKb = packed / 1024 / 5 + 512;
    arj.start(QStringLiteral("arj"), QStringList{QStringLiteral("a"), QStringLiteral("-m4"), QStringLiteral("-y"),
                                                 QStringLiteral("-v%1K").arg(volumeKb), QStringLiteral("../release")} +
                                         names);
    arj.waitForFinished(-1);
    if (arj.exitCode() != 0) {
        out << "arj could not make the set: " << arj.readAll() << Qt::endl;
        return QString();
    }
    QDir(source).removeRecursively();
    keep(folder);
    return folder + QStringLiteral("/release.arj");
}

QStringList volumesOf(const QString &first)
{
    const QFileInfo info(first);
    QStringList found;
    for (const QString &name : QDir(info.path()).entryList(QDir::Files, QDir::Name))
        if (!name.startsWith(u'.'))
            found << info.path() + u'/' + name;
    return found;
}

qint64 bytesBelow(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += it.nextFileInfo().size();
    return total;
}

struct Contender {
    QString name;
    bool helper = false;
    // The runs of one extraction into dest: program, arguments, working folder.
    std::function<QList<std::tuple<QString, QStringList, QString>>(const QString &dest)> runs;
};

// Runs every step of an extraction; the time in ms, or a negative number when one failed.
double timeRuns(const Contender &c, const QString &dest)
{
    QDir(dest).removeRecursively();
    QDir().mkpath(dest);
    QElapsedTimer timer;
    timer.start();
    for (const auto &[program, args, folder] : c.runs(dest)) {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(folder);
        p.start(program, args);
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            out << c.name << " failed: " << p.readAll().trimmed().right(300) << Qt::endl;
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The bare libarchive peer: the volumes handed in order to one reader, written by libarchive's
// own secure disk writer, as bsdtar would if it took several files.
int libarchiveExtract(const QString &dest, const QStringList &volumes)
{
    setlocale(LC_CTYPE, "C.UTF-8");
    archive *in = archive_read_new();
    archive_read_support_format_rar(in);
    archive_read_support_format_rar5(in);
    std::vector<QByteArray> names;
    for (const QString &v : volumes)
        names.push_back(QFile::encodeName(v));
    std::vector<const char *> list;
    for (const QByteArray &n : names)
        list.push_back(n.constData());
    list.push_back(nullptr);
    archive *disk = archive_write_disk_new();
    archive_write_disk_set_options(disk, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                             ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    if (!QDir::setCurrent(dest) || archive_read_open_filenames(in, list.data(), 1 << 20) != ARCHIVE_OK)
        return 1;
    archive_entry *entry = nullptr;
    int status = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN || archive_write_header(disk, entry) < ARCHIVE_WARN) {
            status = 1;
            break;
        }
        la_ssize_t n;
        while ((n = archive_read_data(in, buffer.data(), buffer.size())) > 0)
            if (archive_write_data(disk, buffer.data(), size_t(n)) < 0)
                n = -1;
        if (n < 0 || archive_write_finish_entry(disk) < ARCHIVE_WARN) {
            status = 1;
            break;
        }
    }
    if (status)
        fprintf(stderr, "%s\n", archive_error_string(in) ? archive_error_string(in) : archive_error_string(disk));
    archive_read_free(in);
    archive_write_free(disk);
    return status;
}

// Against: the bare tools the ratio is taken against (all when empty): the fastest of them.
void compare(const QString &title, const QList<Contender> &contenders, qint64 setBytes, int rounds,
             double target = kTarget, const QStringList &against = {})
{
    out << "\n" << title << Qt::endl;
    const QString work = benchFolder() + QStringLiteral("/out");
    std::map<QString, QList<double>> times, peerRatios;
    QList<double> ratios;
    QList<Contender> alive = contenders;
    for (int round = 0; round <= rounds; ++round) {
        std::rotate(alive.begin(), alive.begin() + round % alive.size(), alive.end());
        std::map<QString, double> now;
        for (auto it = alive.begin(); it != alive.end();) {
            const QString dest = work + u'/' + QString(it->name).remove(u' ').remove(u'.');
            const double ms = timeRuns(*it, dest);
            const qint64 written = ms < 0 ? 0 : bytesBelow(dest);
            if (ms < 0 || written < setBytes) {
                if (ms >= 0)
                    out << it->name << " wrote " << written << " of " << setBytes << " bytes: left out" << Qt::endl;
                it = alive.erase(it);
                continue;
            }
            now[it->name] = ms;
            ++it;
        }
        if (round == 0)
            continue; // warming up
        double helper = 0, fastestTool = 0;
        for (const Contender &c : std::as_const(alive)) {
            times[c.name] << now[c.name];
            if (c.helper)
                helper = now[c.name];
            else if ((against.isEmpty() || against.contains(c.name)) && (fastestTool == 0 || now[c.name] < fastestTool))
                fastestTool = now[c.name];
        }
        if (helper > 0 && fastestTool > 0)
            ratios << helper / fastestTool;
        for (const Contender &c : std::as_const(alive))
            if (!c.helper && helper > 0)
                peerRatios[c.name] << helper / now[c.name];
    }
    QDir(work).removeRecursively();
    for (const auto &[name, list] : times)
        out << QStringLiteral("  %1 %2 ms (median of %3)").arg(name, -26).arg(median(list), 8, 'f', 1).arg(list.size())
            << Qt::endl;
    for (const auto &[name, list] : peerRatios)
        out << QStringLiteral("  ratio helper / %1 %2").arg(name, -26).arg(median(list), 0, 'f', 3) << Qt::endl;
    if (ratios.isEmpty()) {
        out << "  no ratio: the helper or every bare tool failed" << Qt::endl;
        return;
    }
    const double r = median(ratios);
    out << QStringLiteral("  ratio helper / fastest of %1: %2 (target <= %3) %4")
               .arg(against.isEmpty() ? QStringLiteral("the bare tools") : against.join(QStringLiteral(", ")))
               .arg(r, 0, 'f', 3)
               .arg(target)
               .arg(r <= target ? QStringLiteral("met") : QStringLiteral("MISSED"))
        << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 3 && args[1] == u"--libarchive")
        return libarchiveExtract(args[2], args.mid(3));
    int rounds = 7;
    QString only;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--rounds" && i + 1 < args.size())
            rounds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--set" && i + 1 < args.size())
            only = args[++i];
    }
    for (const char *tool : {"unar", "bsdtar", "arj", "lsar"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            out << tool << " is not installed (scripts/install-deps installs it)" << Qt::endl;
            return 1;
        }
    // The helpers run without a window here, as under a command line without a display.
    qputenv("ZELV_WINDOW_HINT", "0");
    const QString bin = QDir(programFolder()).absolutePath();
    using Runs = QList<std::tuple<QString, QStringList, QString>>;

    // wrar.exe against unar and against libarchive reading every volume in this process.
    const auto rarContenders = [&bin](const QString &first, const QStringList &volumes) {
        return QList<Contender>{
            {QStringLiteral("wrar.exe"), true,
             [=](const QString &dest) {
                 return Runs{{bin + QStringLiteral("/wrar.exe"),
                              {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"), first, dest},
                              QString()}};
             }},
            {QStringLiteral("unar -o DEST -f"), false,
             [=](const QString &dest) {
                 return Runs{{QStringLiteral("unar"),
                              {QStringLiteral("-o"), dest, QStringLiteral("-f"), QStringLiteral("-q"), first},
                              QString()}};
             }},
            {QStringLiteral("libarchive, every volume"), false, [=](const QString &dest) {
                 return Runs{{QCoreApplication::applicationFilePath(),
                              QStringList{QStringLiteral("--libarchive"), dest} + volumes, QString()}};
             }}};
    };
    if (only.isEmpty() || only == u"rar") {
        const QString first = makeRarSet();
        if (first.isEmpty())
            return 1;
        const QStringList volumes = volumesOf(first);
        qint64 bytes = 0;
        for (qint64 size : memberSizes(300))
            bytes += size;
        bytes += 300000;
        compare(QStringLiteral("RAR 5, %1 volumes, %2 MB").arg(volumes.size()).arg(bytes >> 20),
                rarContenders(first, volumes), bytes, rounds, 0.4, {QStringLiteral("unar -o DEST -f")});
    }
    if (only.isEmpty() || only == u"packed") {
        qint64 bytes = 0;
        const QString first = makePackedRarSet(&bytes);
        if (first.isEmpty())
            return 1;
        const QStringList volumes = volumesOf(first);
        qint64 packed = 0;
        for (const QString &v : volumes)
            packed += QFileInfo(v).size();
        compare(QStringLiteral("RAR 5 packed, %1 volumes, %2 MB packed to %3 MB")
                    .arg(volumes.size())
                    .arg(bytes >> 20)
                    .arg(packed >> 20),
                rarContenders(first, volumes), bytes, rounds, 1.0);
    }
    if (only.isEmpty() || only == u"sfv") {
        const QString first = makeRarSet();
        if (first.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("cksfv")).isEmpty()) {
            out << "cksfv is not installed (scripts/install-deps installs it)" << Qt::endl;
            return 1;
        }
        const QString folder = QFileInfo(first).absolutePath();
        const QString sfv = benchFolder() + QStringLiteral("/release.sfv");
        if (!QFileInfo::exists(sfv)) {
            QProcess make;
            make.setWorkingDirectory(folder);
            make.setStandardOutputFile(sfv);
            make.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cksfv -b release.part*.rar")});
            make.waitForFinished(-1);
        }
        QFile::remove(folder + QStringLiteral("/release.sfv"));
        QFile::link(sfv, folder + QStringLiteral("/release.sfv"));
        QList<double> ours, theirs, ratios;
        for (int round = 0; round <= rounds; ++round) {
            QElapsedTimer t;
            t.start();
            const auto fault = zelv::checkSfv(folder, zelv::sfvEntriesFor(folder, QStringLiteral("release.part")));
            const double mine = double(t.nsecsElapsed()) / 1e6;
            t.restart();
            QProcess cksfv;
            cksfv.setWorkingDirectory(folder);
            cksfv.start(QStringLiteral("cksfv"), {QStringLiteral("-q"), QStringLiteral("-f"), sfv});
            cksfv.waitForFinished(-1);
            const double peer = double(t.nsecsElapsed()) / 1e6;
            if (fault || cksfv.exitCode() != 0) {
                out << "the .sfv check failed" << Qt::endl;
                return 1;
            }
            if (round == 0)
                continue;
            ours << mine;
            theirs << peer;
            ratios << mine / peer;
        }
        QFile::remove(folder + QStringLiteral("/release.sfv"));
        out << "\nSFV check of the RAR set (15 volumes, 300 MB)" << Qt::endl;
        out << QStringLiteral("  helpers' check             %1 ms").arg(median(ours), 8, 'f', 1) << Qt::endl;
        out << QStringLiteral("  cksfv -f                   %1 ms").arg(median(theirs), 8, 'f', 1) << Qt::endl;
        const double r = median(ratios);
        out << QStringLiteral("  ratio: %1 (target <= 0.5) %2")
                   .arg(r, 0, 'f', 3)
                   .arg(r <= 0.5 ? QStringLiteral("met") : QStringLiteral("MISSED"))
            << Qt::endl;
    }
    if (only.isEmpty() || only == u"arj") {
        const QString first = makeArjSet();
        if (first.isEmpty())
            return 1;
        const QStringList volumes = volumesOf(first);
        qint64 bytes = 0;
        for (qint64 size : memberSizes(100))
            bytes += size;
        compare(QStringLiteral("ARJ, %1 volumes, %2 MB").arg(volumes.size()).arg(bytes >> 20),
                {{QStringLiteral("warj.pif, every volume"), true,
                  [&](const QString &dest) {
                      Runs runs;
                      for (const QString &v : volumes)
                          runs.append({bin + QStringLiteral("/warj.pif"),
                                       {QStringLiteral("x"), QStringLiteral("-y"), v, dest},
                                       QString()});
                      return runs;
                  }},
                 {QStringLiteral("arj x -v -y"), false,
                  [&](const QString &dest) {
                      return Runs{{QStringLiteral("arj"),
                                   {QStringLiteral("x"), QStringLiteral("-v"), QStringLiteral("-y"), first},
                                   dest}};
                  }}},
                bytes, rounds);
    }
    return 0;
}
