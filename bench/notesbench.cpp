// The zip test and the description display through the real window (offscreen), against the
// bare engine on the same archives, side by side:
//
//   test:  TestZipArchives on the three release disks of zipbench's corpus, the window's whole
//          run (first stage, list refreshes, panels) against `zelvzip test` on each disk.
//          Target: at most 1.15 times the engine.
//   diz:   ShowArchiveDiz on the largest disk with a file_id.diz and two .nfo files added at its
//          end, against `zelvzip extract` of those three members alone. Target: under 1.1.
//
// Needs zipbench's release corpus (run build/bench/zipbench --corpus release once).
//   many:  the test of 2,500 and of 5,000 small disks, whose times should grow as the count does.
//
//   notesbench [--rounds N] [--engine PATH] [--disks N]
#include "archive/zipengine.h"
#include "platform/drivetable.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>
#include <zip.h>

using namespace zelv;

namespace {

// Every box answered as if closed: the runs here ask nothing unless something breaks.
class QuietDialogs : public Dialogs {
public:
    MessageAnswer ask(const MessageRequest &r) override
    {
        fprintf(stderr, "unexpected box: %s\n", qPrintable(r.text));
        return dismissAnswer(r.buttons);
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double runEngine(const QString &engine, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(engine, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        fprintf(stderr, "%s %s failed: %s\n", qPrintable(engine), qPrintable(args.join(u' ')),
                p.readAllStandardOutput().constData());
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e6;
}

// The largest disk with the release notes added at its end, made once beside the corpus.
QString notesArchive(const QString &corpus, const QString &largest)
{
    const QString path = corpus + QStringLiteral("/../notes/notes.zip");
    if (QFileInfo(path).isFile() && QFileInfo(path).size() > QFileInfo(largest).size())
        return QFileInfo(path).absoluteFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    if (!QFile::copy(largest, path))
        return QString();
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), 0, &error);
    if (!z)
        return QString();
    static const QByteArray diz = "Release 1.0\nDisk 1 of 3\n";
    static const QByteArray nfo1 = QByteArray(4000, '\xb1') + "\nabout\n";
    static const QByteArray nfo2 = QByteArray(2000, '\xdb') + "\ngreetings\n";
    const struct {
        const char *name;
        const QByteArray *data;
    } notes[] = {{"file_id.diz", &diz}, {"release.nfo", &nfo1}, {"group.nfo", &nfo2}};
    for (const auto &n : notes)
        zip_file_add(z, n.name, zip_source_buffer(z, n.data->constData(), zip_uint64_t(n.data->size()), 0),
                     ZIP_FL_ENC_UTF_8);
    if (zip_close(z) != 0) {
        zip_discard(z);
        return QString();
    }
    return QFileInfo(path).absoluteFilePath();
}

void report(const char *what, const std::vector<double> &window, const std::vector<double> &engine,
            const std::vector<double> &ratios, double target, bool strictlyBelow)
{
    const double r = median(ratios);
    const bool met = strictlyBelow ? r < target : r <= target;
    printf("  %-5s window %.0f ms  engine %.0f ms  ratio %.3f  target %s %.2f  %s\n", what, median(window),
           median(engine), r, strictlyBelow ? "<" : "<=", target, met ? "met" : "MISSED");
}

} // namespace

// count disks of one small stored member each, disk00000.zip and on.
bool smallDisks(const QString &folder, int count)
{
    QDir().mkpath(folder);
    static const char text[] = "a small disk of a large release\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray path =
            QFile::encodeName(folder + QStringLiteral("/disk%1.zip").arg(i, 5, 10, QLatin1Char('0')));
        int error = 0;
        zip_t *z = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        zip_source_t *source = z ? zip_source_buffer(z, text, sizeof text - 1, 0) : nullptr;
        if (!source || zip_file_add(z, "readme.txt", source, 0) < 0 || zip_close(z) != 0)
            return false;
    }
    return true;
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = 5;
    int manyDisks = 5000;
    QString engine = QCoreApplication::applicationDirPath() + QStringLiteral("/../zelvzip");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--rounds" && i + 1 < args.size())
            rounds = std::max(2, args[++i].toInt());
        else if (args[i] == u"--engine" && i + 1 < args.size())
            engine = QFileInfo(args[++i]).absoluteFilePath();
        else if (args[i] == u"--disks" && i + 1 < args.size())
            manyDisks = std::max(2, args[++i].toInt());
    }
    QString corpus = QDir::tempPath() + QStringLiteral("/zelv-zipbench/corpus/release");
    const QStringList disks{QStringLiteral("disk1.zip"), QStringLiteral("disk2.zip"), QStringLiteral("disk3.zip")};
    bool haveCorpus = true;
    for (const QString &d : disks)
        haveCorpus = haveCorpus && QFileInfo(corpus + u'/' + d).isFile();
    if (!haveCorpus) {
        fprintf(stderr,
                "no release corpus in %s (build/bench/zipbench --corpus release makes it): only the "
                "small disks are measured\n",
                qPrintable(corpus));
        rounds = 0;
        corpus = QDir::tempPath();
    }
    QString largest;
    for (const QString &d : disks)
        if (largest.isEmpty() || QFileInfo(corpus + u'/' + d).size() > QFileInfo(largest).size())
            largest = corpus + u'/' + d;
    const QString notes = haveCorpus ? notesArchive(corpus, largest) : corpus + QStringLiteral("/none.zip");
    if (notes.isEmpty()) {
        fprintf(stderr, "cannot make the archive with release notes\n");
        return 2;
    }

    // A program folder of its own, with c: on the corpus and d: on the notes archive's folder.
    QTemporaryDir program;
    const QString programFolder = program.path() + QStringLiteral("/program");
    QDir().mkpath(programFolder + QStringLiteral("/dosdevices"));
    QFile::link(QFileInfo(corpus).canonicalFilePath(), programFolder + QStringLiteral("/dosdevices/c:"));
    QFile::link(QFileInfo(notes).absolutePath(), programFolder + QStringLiteral("/dosdevices/d:"));
    QFile::link(QStringLiteral("/"), programFolder + QStringLiteral("/dosdevices/z:"));
    const QString out = program.path() + QStringLiteral("/out");
    QDir().mkpath(out);
    const DriveTable drives(programFolder);
    QuietDialogs dialogs;
    Form1 form(Form1Context{programFolder, &drives, &dialogs, nullptr});
    if (form.Form_Load() != StartupOutcome::Completed) {
        fprintf(stderr, "the window did not start\n");
        return 2;
    }
    const auto selectAll = [&form](const QString &folder) {
        form.setTreePath(folder);
        form.setListPath(folder);
        for (int i = 0; i < form.listCount(); ++i)
            form.setListSelected(i, true);
    };

    printf("notesbench: %d rounds (the first warms up), engine %s\n", rounds, qPrintable(engine));
    std::vector<double> testWindow, testEngine, testRatios, inProcessRatios, dizWindow, dizEngine, dizRatios;
    for (int round = 0; round < rounds; ++round) {
        const bool engineFirst = round % 2 == 1;
        double w = 0, e = 0;
        const auto window = [&] {
            selectAll(QStringLiteral("c:\\"));
            QElapsedTimer t;
            t.start();
            form.test_Click();
            w = double(t.nsecsElapsed()) / 1e6;
        };
        double inProcess = 0;
        const auto bare = [&] {
            e = 0;
            for (const QString &d : disks)
                e += runEngine(engine, {QStringLiteral("test"), corpus + u'/' + d});
            // The engine without a process around it, for what the window adds to the work itself.
            QElapsedTimer t;
            t.start();
            std::atomic<bool> abort{false};
            for (const QString &d : disks)
                ZipEngine::test({corpus + u'/' + d, QString(), QString(), false}, abort);
            inProcess = double(t.nsecsElapsed()) / 1e6;
        };
        if (engineFirst) {
            bare();
            window();
        } else {
            window();
            bare();
        }
        const QString caption = form.folderPanelCaption();
        if (caption != u" Found 0 zip error(s)") {
            fprintf(stderr, "the window's test ended with \"%s\"\n", qPrintable(caption));
            return 1;
        }
        printf("  round %d test: window %.0f ms, engine %.0f ms, ratio %.3f (engine in this process %.0f ms, "
               "ratio %.3f)\n",
               round + 1, w, e, w / e, inProcess, w / inProcess);
        if (round > 0) {
            testWindow.push_back(w);
            testEngine.push_back(e);
            testRatios.push_back(w / e);
            inProcessRatios.push_back(w / inProcess);
        }

        const auto dizWindowRun = [&] {
            form.GTToolbar1_ButtonClick(ZipButton);
            selectAll(QStringLiteral("d:\\"));
            QElapsedTimer t;
            t.start();
            form.Diz_Click();
            w = double(t.nsecsElapsed()) / 1e6;
        };
        const auto dizBare = [&] {
            QDir(out).removeRecursively();
            e = runEngine(engine,
                          {QStringLiteral("extract"), notes, QStringLiteral("file_id.diz;release.nfo;group.nfo"), out});
        };
        if (engineFirst) {
            dizBare();
            dizWindowRun();
        } else {
            dizWindowRun();
            dizBare();
        }
        if (!form.viewer().text().contains(u"Disk 1 of 3")) {
            fprintf(stderr, "the window did not show the description\n");
            return 1;
        }
        printf("  round %d diz:  window %.0f ms, engine %.0f ms, ratio %.3f\n", round + 1, w, e, w / e);
        if (round > 0) {
            dizWindow.push_back(w);
            dizEngine.push_back(e);
            dizRatios.push_back(w / e);
        }
    }
    if (haveCorpus) {
        printf("Medians of the counted rounds:\n");
        report("test", testWindow, testEngine, testRatios, 1.15, false);
        printf("  test  against the engine in this process: ratio %.3f\n", median(inProcessRatios));
        report("diz", dizWindow, dizEngine, dizRatios, 1.10, true);
    }

    // Many small disks: the test of half of them and of all, whose times should grow as the
    // count does (2.0), and the bare engine on all of them in this process.
    const QString many = program.path() + QStringLiteral("/many");
    if (!smallDisks(many, manyDisks)) {
        fprintf(stderr, "cannot write %d small disks\n", manyDisks);
        return 2;
    }
    QFile::link(many, programFolder + QStringLiteral("/dosdevices/e:"));
    QThread::msleep(1100); // disks a person tests were not written in the last second
    std::vector<double> perCount;
    for (const int count : {manyDisks / 2, manyDisks}) {
        form.GTToolbar1_ButtonClick(ZipButton);
        form.setTreePath(QStringLiteral("e:\\"));
        form.setListPath(QStringLiteral("e:\\"));
        for (int i = 0; i < count && i < form.listCount(); ++i)
            form.setListSelected(i, true);
        QElapsedTimer t;
        t.start();
        form.test_Click();
        perCount.push_back(double(t.nsecsElapsed()) / 1e6);
        if (form.folderPanelCaption() != u" Found 0 zip error(s)") {
            fprintf(stderr, "the test of the small disks ended with \"%s\"\n", qPrintable(form.folderPanelCaption()));
            return 1;
        }
    }
    QElapsedTimer t;
    t.start();
    std::atomic<bool> abort{false};
    for (int i = 0; i < manyDisks; ++i)
        ZipEngine::test(
            {many + QStringLiteral("/disk%1.zip").arg(i, 5, 10, QLatin1Char('0')), QString(), QString(), false}, abort);
    const double bareMany = double(t.nsecsElapsed()) / 1e6;
    printf("  many  %d disks %.0f ms, %d disks %.0f ms: growth %.2f (2.00 grows with the count); engine alone on "
           "%d disks %.0f ms, ratio %.2f\n",
           manyDisks / 2, perCount[0], manyDisks, perCount[1], perCount[1] / perCount[0], manyDisks, bareMany,
           perCount[1] / bareMany);
    form.close();
    return 0;
}
