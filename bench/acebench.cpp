// The ACE reader's unpacking speed, in memory, against zlib's inflate and against unace.
//
//   acebench [--rounds N] [--archives FOLDER]
//
// The largest member of the shared real archives (exe\test.exe, 45,056 bytes; ACE 1.0 packing
// from Ace.method1.ace, ACE 2.0 from Ace.method2.ace) is unpacked again and again until 100 MB
// have come out; the same bytes deflated are inflated by zlib as often. A stored ACE 1.0 copy of
// those 100 MB, written by the tests' stored writer, is read by the reader into memory and
// extracted by unace to a folder. Printed: medians of the rounds, and the ratios of the ACE 1.0
// and ACE 2.0 throughputs to inflate's against their targets (1.0 and 0.8): each round's ratio of
// runs side by side, their median and range. Beside them, the same
// ratios on a member of the size an install unpacks: 8 MiB of records packed by the tests'
// writer. The in-memory runs are timed in the thread's CPU time, which other work on a shared
// machine disturbs less.
#include "archive/ace/acereader.h"
#include "support/aceblockwriter.h"
#include "support/setwriters.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <zlib.h>

using namespace zelv;

namespace {

QTextStream out(stdout);

constexpr qint64 kTotal = 100 << 20;
constexpr double kTarget1 = 1.0;
constexpr double kTarget2 = 0.8;

// Milliseconds of this thread's CPU time.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

struct Member {
    QByteArray packed;
    int method = 0;
    quint16 parameters = 0;
    qint64 size = 0;
};

// The packed bytes of the named member of a single-volume archive.
std::optional<Member> memberOf(const QString &archive, const QString &name)
{
    const AceSet set = readAceSet(archive);
    for (const AceMember &m : set.members) {
        if (m.name != name || m.parts.size() != 1)
            continue;
        QFile f(set.volumes[m.parts[0].volume]);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(m.parts[0].offset))
            return std::nullopt;
        return Member{f.read(m.parts[0].size), m.method, m.parameters, m.size};
    }
    return std::nullopt;
}

// Milliseconds to unpack the member until kTotal bytes came out.
double unpackRepeatedly(const Member &m)
{
    AceDecoder decoder;
    const double start = cpuMs();
    for (qint64 done = 0; done < kTotal; done += m.size) {
        qsizetype at = 0;
        const auto unpacked = decoder.unpack(
            m.method, m.parameters, m.size,
            [&](char *buffer, qsizetype n) {
                const qsizetype take = std::min(n, m.packed.size() - at);
                memcpy(buffer, m.packed.constData() + at, size_t(take));
                at += take;
                return take;
            },
            [](const char *, qsizetype) { return true; });
        if (!unpacked) {
            out << "unpacking failed: " << unpacked.error().text() << Qt::endl;
            return -1;
        }
    }
    return cpuMs() - start;
}

double inflateRepeatedly(const QByteArray &deflated, qint64 size)
{
    QByteArray buffer(size, Qt::Uninitialized);
    const double start = cpuMs();
    for (qint64 done = 0; done < kTotal; done += size) {
        uLongf length = uLongf(size);
        if (uncompress(reinterpret_cast<Bytef *>(buffer.data()), &length,
                       reinterpret_cast<const Bytef *>(deflated.constData()), uLong(deflated.size())) != Z_OK)
            return -1;
    }
    return cpuMs() - start;
}

double readStored(const QString &archive)
{
    const AceSet set = readAceSet(archive);
    AceReader reader(set);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < set.members.size(); ++i)
        if (!reader.unpack(i, [](const char *, qsizetype) { return true; }))
            return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

double unaceStored(const QString &archive)
{
    QTemporaryDir into;
    QProcess p;
    p.setWorkingDirectory(into.path());
    p.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    p.start(QStringLiteral("unace"), {QStringLiteral("x"), QStringLiteral("-y"), archive});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

QString rate(double ms) { return QStringLiteral("%1 MB/s").arg(double(kTotal) / (1 << 20) / (ms / 1000), 7, 'f', 1); }

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int rounds = 5;
    QString folder =
        QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../../../shared/testdata/ace")).absolutePath();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rounds")
            rounds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--archives")
            folder = args[++i];
    }
    const auto ace1 = memberOf(folder + QStringLiteral("/Ace.method1.ace"), QStringLiteral("exe\\test.exe"));
    const auto ace2 = memberOf(folder + QStringLiteral("/Ace.method2.ace"), QStringLiteral("exe\\test.exe"));
    if (!ace1 || !ace2) {
        out << "the shared ACE archives are not in " << folder << " (--archives FOLDER)" << Qt::endl;
        return 1;
    }
    const QByteArray original = [&] {
        QByteArray data;
        AceDecoder decoder;
        qsizetype at = 0;
        (void)decoder.unpack(
            ace1->method, ace1->parameters, ace1->size,
            [&](char *b, qsizetype n) {
                const qsizetype take = std::min(n, ace1->packed.size() - at);
                memcpy(b, ace1->packed.constData() + at, size_t(take));
                at += take;
                return take;
            },
            [&](const char *p, qsizetype n) {
                data.append(p, n);
                return true;
            });
        return data;
    }();
    QByteArray deflated(int(compressBound(uLong(original.size()))), Qt::Uninitialized);
    uLongf deflatedSize = uLongf(deflated.size());
    compress2(reinterpret_cast<Bytef *>(deflated.data()), &deflatedSize,
              reinterpret_cast<const Bytef *>(original.constData()), uLong(original.size()), 6);
    deflated.truncate(int(deflatedSize));

    // A stored ACE 1.0 archive of the same 100 MB, in files of 4 MB.
    QTemporaryDir work;
    QList<test::SetMember> members;
    QByteArray block;
    while (block.size() < (4 << 20))
        block += original;
    for (int i = 0; i < 25; ++i)
        members << test::SetMember::file(QStringLiteral("part%1.bin").arg(i).toUtf8(), block.left(4 << 20));
    const auto stored = test::writeAceSet(work.path(), QStringLiteral("stored"), members, 0, 10);
    const bool haveUnace = !QStandardPaths::findExecutable(QStringLiteral("unace")).isEmpty();

    out << "exe\\test.exe: " << original.size() << " bytes, ACE 1.0 " << ace1->packed.size() << ", ACE 2.0 "
        << ace2->packed.size() << ", deflate " << deflated.size() << "; 100 MB a round, " << rounds << " rounds"
        << Qt::endl;
    QList<double> lz, blocked, inflate, ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        lz << unpackRepeatedly(*ace1);
        blocked << unpackRepeatedly(*ace2);
        inflate << inflateRepeatedly(deflated, original.size());
        if (stored) {
            ours << readStored(stored->first());
            if (haveUnace)
                theirs << unaceStored(stored->first());
        }
    }
    out << "  ACE 1.0 LZ77        " << rate(median(lz)) << Qt::endl;
    out << "  ACE 2.0 blocked     " << rate(median(blocked)) << Qt::endl;
    out << "  zlib inflate        " << rate(median(inflate)) << Qt::endl;
    // Each round's ratio from its own two runs, side by side; their median.
    const auto ratio = [&](const char *what, const QList<double> &ms, double target) {
        QList<double> ratios;
        for (int r = 0; r < rounds; ++r)
            ratios << inflate[r] / ms[r];
        const double m = median(ratios);
        out << QStringLiteral("  %1 / inflate   %2 (target >= %3) %4, rounds %5 to %6")
                   .arg(QLatin1String(what))
                   .arg(m, 0, 'f', 2)
                   .arg(target, 0, 'f', 1)
                   .arg(m >= target ? QStringLiteral("met") : QStringLiteral("MISSED"))
                   .arg(*std::min_element(ratios.begin(), ratios.end()), 0, 'f', 2)
                   .arg(*std::max_element(ratios.begin(), ratios.end()), 0, 'f', 2)
            << Qt::endl;
    };
    ratio("ACE 1.0", lz, kTarget1);
    ratio("ACE 2.0", blocked, kTarget2);

    // A member of the size an install unpacks: 8 MiB of text-like records packed by the tests'
    // writer, where the tables are built once a block rather than once a small member.
    QByteArray large;
    static const char *const words[] = {"setup", "install", "volume", "release", "archive", "the",
                                        "of",    "disk",    "folder", "notes",   "data",    "file",
                                        "game",  "music",   "level",  "player"};
    quint32 seed = 12345;
    while (large.size() < (8 << 20)) {
        seed = seed * 1103515245 + 12345;
        large += words[(seed >> 16) % 16];
        large += (seed >> 8) % 7 == 0 ? "\r\n" : " ";
    }
    const auto packedWith = [&large](bool ace10) {
        test::AceBlockWriter w(ace10);
        w.pack(large, 1 << 16, 32767);
        return Member{w.finish(), ace10 ? 1 : 2, 0, large.size()};
    };
    const Member large1 = packedWith(true), large2 = packedWith(false);
    QByteArray largeDeflated(int(compressBound(uLong(large.size()))), Qt::Uninitialized);
    uLongf largeDeflatedSize = uLongf(largeDeflated.size());
    compress2(reinterpret_cast<Bytef *>(largeDeflated.data()), &largeDeflatedSize,
              reinterpret_cast<const Bytef *>(large.constData()), uLong(large.size()), 6);
    largeDeflated.truncate(int(largeDeflatedSize));
    QList<double> lzLarge, blockedLarge, inflateLarge;
    for (int r = 0; r < rounds; ++r) {
        lzLarge << unpackRepeatedly(large1);
        blockedLarge << unpackRepeatedly(large2);
        inflateLarge << inflateRepeatedly(largeDeflated, large.size());
    }
    const double largeInflateMs = median(inflateLarge);
    out << "8 MiB of records packed by the tests' writer: ACE 1.0 " << large1.packed.size() << ", ACE 2.0 "
        << large2.packed.size() << ", deflate " << largeDeflated.size() << Qt::endl;
    out << "  ACE 1.0 LZ77        " << rate(median(lzLarge))
        << QStringLiteral("  %1 of inflate").arg(largeInflateMs / median(lzLarge), 0, 'f', 2) << Qt::endl;
    out << "  ACE 2.0 blocked     " << rate(median(blockedLarge))
        << QStringLiteral("  %1 of inflate").arg(largeInflateMs / median(blockedLarge), 0, 'f', 2) << Qt::endl;
    out << "  zlib inflate        " << rate(largeInflateMs) << Qt::endl;
    if (!ours.isEmpty())
        out << "  stored, reader      " << rate(median(ours)) << " (into memory)" << Qt::endl;
    if (!theirs.isEmpty())
        out << "  stored, unace       " << rate(median(theirs)) << " (to files)" << Qt::endl;
    return 0;
}
