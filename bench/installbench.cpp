// The whole install through the real window (offscreen) against the same work done by hand
// with the fastest bare tools, side by side:
//
//   ours:  three zip disks of about 100 MB each, holding a RAR set of 15 volumes, selected and
//          installed by the window's install command: the zip stage into c:\Zelv001, the set
//          found and extracted by wrar.exe into c:\Zelv002 with the descriptions, c:\Zelv001
//          removed, the setup question answered No.
//   peers: bsdtar -xf of the three disks into one folder, then unar on the set: the one bare
//          tool here that reads a RAR set across its volumes (bsdtar reads the first volume only
//          and says nothing; 7zz has no RAR).
//
// Target: at most 0.6. Also printed: the peak resident size of the program (this process, whose
// window does the install) and of its largest helper, against 256 MB and 64 MB. Needs setbench's
// RAR set (build/bench/setbench --set rar, once); the disks are made from it once and kept.
//   installbench [--rounds N]
#include "platform/drivetable.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>
#include <zip.h>

using namespace zelv;

namespace {

QTextStream out(stdout);

constexpr double kTarget = 0.6;
constexpr long kProgramMemoryMB = 256;
constexpr long kHelperMemoryMB = 64;

// Peak resident sizes in MB: this process's, and that of the largest child it has waited for
// (with their own waited-for children).
long peakMB(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024;
}

QString benchFolder() { return QDir::tempPath() + QStringLiteral("/zelv-installbench"); }
QString rarSetFolder() { return QDir::tempPath() + QStringLiteral("/zelv-setbench/rar"); }

// Answers the setup question with No; anything else is a fault of the run.
class BenchDialogs : public Dialogs {
public:
    MessageAnswer ask(const MessageRequest &r) override
    {
        if (r.title == u"Found setup")
            return MessageAnswer::No;
        out << "unexpected box: " << r.text << Qt::endl;
        failed = true;
        return dismissAnswer(r.buttons);
    }
    bool failed = false;
};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Three stored zip disks holding the set's volumes in turn, the first with a description.
bool makeDisks(const QString &folder)
{
    const QStringList volumes = QDir(rarSetFolder()).entryList({QStringLiteral("*.rar")}, QDir::Files, QDir::Name);
    if (volumes.size() != 15)
        return false;
    QDir().mkpath(folder);
    for (int d = 0; d < 3; ++d) {
        const QString path = folder + QStringLiteral("/disk%1.zip").arg(d + 1);
        if (QFileInfo(path).size() > (90 << 20))
            continue; // kept from an earlier run
        QFile::remove(path);
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!z)
            return false;
        if (d == 0) {
            static const char kDiz[] = "Release 1.0\r\n";
            zip_source_t *s = zip_source_buffer(z, kDiz, sizeof kDiz - 1, 0);
            zip_file_add(z, "file_id.diz", s, ZIP_FL_OVERWRITE);
        }
        for (int v = d * 5; v < d * 5 + 5; ++v) {
            const QByteArray source = QFile::encodeName(rarSetFolder() + u'/' + volumes[v]);
            zip_source_t *s = zip_source_file(z, source.constData(), 0, -1);
            const zip_int64_t index = zip_file_add(z, volumes[v].toUtf8().constData(), s, ZIP_FL_OVERWRITE);
            zip_set_file_compression(z, zip_uint64_t(index), ZIP_CM_STORE, 0);
        }
        if (zip_close(z) != 0)
            return false;
    }
    return true;
}

bool run(const QString &program, const QStringList &args, const QString &folder = QString())
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = 5;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args[i] == u"--rounds")
            rounds = std::max(1, args[++i].toInt());

    const QString c = benchFolder() + QStringLiteral("/c");
    if (!makeDisks(c + QStringLiteral("/dl"))) {
        out << "setbench's RAR set is missing: run build/bench/setbench --set rar once" << Qt::endl;
        return 1;
    }
    // A program folder of its own: the helpers beside a drive table whose c: is the bench's.
    const QString program = benchFolder() + QStringLiteral("/program");
    QDir(program).removeRecursively();
    QDir().mkpath(program + QStringLiteral("/dosdevices"));
    const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    for (const QString &name : QDir(built).entryList(QDir::Files))
        if (name != u"Zelv32.ini")
            QFile::copy(built + u'/' + name, program + u'/' + name);
    QFile::link(c, program + QStringLiteral("/dosdevices/c:"));
    QFile::link(QStringLiteral("/"), program + QStringLiteral("/dosdevices/z:"));
    QFile ini(program + QStringLiteral("/Zelv32.ini"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("Version=v2.72\r\nState= 0\r\nTop= 300\r\nLeft= 300\r\nHeight= 6000\r\nWidth= 9000\r\n"
                  "Panel1.width= 2400\r\nDir=C:\\dl\r\n");
    ini.close();

    const DriveTable drives(program);
    BenchDialogs dialogs;
    Form1 form(Form1Context{program, &drives, &dialogs, nullptr});
    if (form.Form_Load() != StartupOutcome::Completed)
        return 1;
    form.show();

    const QString peerZip = benchFolder() + QStringLiteral("/peer-zip");
    const QString peerOut = benchFolder() + QStringLiteral("/peer-out");
    const auto clean = [&] {
        for (const QString &name : QDir(c).entryList({QStringLiteral("Zelv*")}, QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(c + u'/' + name).removeRecursively();
        QDir(peerZip).removeRecursively();
        QDir(peerOut).removeRecursively();
    };
    QList<double> ours, peers, ratios;
    long helperMB = -1;
    qint64 installed = 0;
    for (int round = 0; round <= rounds; ++round) {
        clean();
        double mine = 0, theirs = 0;
        for (int side = 0; side < 2; ++side) {
            const bool oursFirst = round % 2 == 0;
            // What the other side wrote goes to the disk first, so that neither pays for the
            // other's writeback.
            sync();
            QElapsedTimer t;
            if ((side == 0) == oursFirst) {
                form.setListPath(QStringLiteral("C:\\dl"));
                for (int i = 0; i < form.listCount(); ++i)
                    form.setListSelected(i, true);
                t.start();
                form.install_Click();
                mine = double(t.nsecsElapsed()) / 1e6;
                if (helperMB < 0) // before any peer ran: only the install's helpers were waited for
                    helperMB = peakMB(RUSAGE_CHILDREN);
            } else {
                QDir().mkpath(peerZip);
                t.start();
                bool ok = true;
                for (int d = 1; d <= 3; ++d)
                    ok = ok && run(QStringLiteral("bsdtar"),
                                   {QStringLiteral("-xf"), c + QStringLiteral("/dl/disk%1.zip").arg(d)}, peerZip);
                ok = ok && run(QStringLiteral("unar"),
                               {QStringLiteral("-o"), peerOut, QStringLiteral("-f"), QStringLiteral("-D"),
                                QStringLiteral("-q"), peerZip + QStringLiteral("/release.part01.rar")});
                theirs = double(t.nsecsElapsed()) / 1e6;
                if (!ok) {
                    out << "the bare tools failed" << Qt::endl;
                    return 1;
                }
            }
        }
        installed = 0;
        for (const QString &f : QDir(c + QStringLiteral("/Zelv002")).entryList(QDir::Files))
            installed += QFileInfo(c + QStringLiteral("/Zelv002/") + f).size();
        if (dialogs.failed || QFileInfo::exists(c + QStringLiteral("/Zelv001")) || installed == 0) {
            out << "the install did not end as it should" << Qt::endl;
            return 1;
        }
        if (round == 0)
            continue; // warming up
        ours << mine;
        peers << theirs;
        ratios << mine / theirs;
    }
    clean();
    out << "Install of 3 zip disks (" << QFileInfo(c + QStringLiteral("/dl/disk1.zip")).size() / (1 << 20)
        << " MB and more) holding a RAR set of 15 volumes, " << rounds << " rounds" << Qt::endl;
    out << QStringLiteral("  window install        %1 ms").arg(median(ours), 8, 'f', 1) << Qt::endl;
    out << QStringLiteral("  bsdtar + unar         %1 ms").arg(median(peers), 8, 'f', 1) << Qt::endl;
    const double r = median(ratios);
    out << QStringLiteral("  ratio: %1 (target <= %2) %3")
               .arg(r, 0, 'f', 3)
               .arg(kTarget)
               .arg(r <= kTarget ? QStringLiteral("met") : QStringLiteral("MISSED"))
        << Qt::endl;
    const long programMB = peakMB(RUSAGE_SELF);
    out << QStringLiteral(
               "  peak resident size: program %1 MB (target <= %2) %3, largest helper %4 MB (target <= %5) %6")
               .arg(programMB)
               .arg(kProgramMemoryMB)
               .arg(programMB <= kProgramMemoryMB ? QStringLiteral("met") : QStringLiteral("MISSED"))
               .arg(helperMB)
               .arg(kHelperMemoryMB)
               .arg(helperMB <= kHelperMemoryMB ? QStringLiteral("met") : QStringLiteral("MISSED"))
        << Qt::endl;
    return 0;
}
