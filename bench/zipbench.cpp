// The zip engine (build/zelvzip) against unzip, 7-Zip (7zz) and bsdtar on three corpora: a
// release of three disks, one archive of 20,000 small files, and one of stored members.
//
//   zipbench [--rounds N] [--corpus release|many|stored] [--fresh] [--engine PATH]
//
// The corpora are made once under the temporary folder and kept for later runs. First, as an
// install extracts: every tool extracts into a new, empty folder each round, its earlier one
// removed untimed and the file system's writeback and discards settled before it runs. Then
// (unless --fresh) over its own earlier output, kept from round to round. The first round warms
// caches up and is not counted.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zip.h>

extern char **environ;

namespace {

QTextStream out(stdout);

// Bump when the corpora change, so that kept ones are made again.
constexpr const char *kCorpusVersion = "zipbench corpus 1";

// ---------------------------------------------------------------------------------------------
// Data

struct Rng {
    quint64 state;
    explicit Rng(quint64 seed) : state(seed) {}
    quint64 next() // splitmix64
    {
        quint64 z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    quint64 below(quint64 n) { return next() % n; }
    double unit() { return double(next() >> 11) / double(1ull << 53); }
    // Sizes spread evenly over orders of magnitude, as in real software.
    size_t logUniform(size_t lo, size_t hi)
    {
        return size_t(std::exp(std::log(double(lo)) + unit() * std::log(double(hi) / double(lo))));
    }
};

enum class Kind { Text, Binary, Random };

// Words with a skewed frequency, so that deflate finds what it finds in real text.
class Vocabulary {
public:
    Vocabulary()
    {
        static const char *const syllables[] = {
            "ka",  "lo", "mer", "in",  "tra",  "sen", "do", "vi",  "pro", "ces",  "ar",   "te",   "con",  "fig",
            "ure", "da", "ta",  "ble", "ment", "ion", "re", "set", "up",  "load", "file", "path", "user", "net",
            "sys", "ex", "it",  "st",  "or",   "an",  "al", "ed",  "er",  "ly",   "ing",  "s"};
        Rng r(42);
        m_words.reserve(kCount);
        for (int i = 0; i < kCount; ++i) {
            std::string w;
            const int n = 1 + int(r.below(4));
            for (int s = 0; s < n; ++s)
                w += syllables[r.below(std::size(syllables))];
            m_words.push_back(std::move(w));
        }
    }
    const std::string &pick(Rng &r) const
    {
        const double u = r.unit();
        return m_words[size_t(u * u * u * kCount)];
    }

private:
    static constexpr int kCount = 4096;
    std::vector<std::string> m_words;
};

const Vocabulary &vocabulary()
{
    static const Vocabulary v;
    return v;
}

void appendLogLines(Rng &r, std::string &s, size_t n)
{
    static const char *const levels[] = {"INFO ", "INFO ", "INFO ", "INFO ", "INFO ",
                                         "INFO ", "INFO ", "DEBUG", "DEBUG", "WARN "};
    static const char *const modules[] = {"net.session", "io.cache", "ui.main",     "db.pool", "auth",   "render",
                                          "audio.mixer", "sched",    "http.client", "config",  "update", "plugin.host"};
    const Vocabulary &v = vocabulary();
    quint64 ms = r.below(86400000);
    char head[96];
    while (s.size() < n) {
        ms += r.below(2000);
        const quint64 t = ms % 86400000;
        const int len =
            snprintf(head, sizeof head, "2026-11-%02d %02d:%02d:%02d.%03d %s [%s] ", int(1 + ms / 86400000 % 28),
                     int(t / 3600000), int(t / 60000 % 60), int(t / 1000 % 60), int(t % 1000),
                     levels[r.below(std::size(levels))], modules[r.below(std::size(modules))]);
        s.append(head, size_t(len));
        for (int w = 4 + int(r.below(10)); w > 0; --w) {
            s += v.pick(r);
            s += ' ';
        }
        if (r.below(3) == 0) {
            const int l =
                snprintf(head, sizeof head, "id=%u took=%ums", unsigned(r.below(100000)), unsigned(r.below(500)));
            s.append(head, size_t(l));
        }
        s += '\n';
    }
}

void appendProse(Rng &r, std::string &s, size_t n)
{
    const Vocabulary &v = vocabulary();
    while (s.size() < n) {
        for (int sentence = 1 + int(r.below(6)); sentence > 0; --sentence) {
            const size_t start = s.size();
            for (int w = 5 + int(r.below(15)); w > 0; --w) {
                s += v.pick(r);
                s += w > 1 ? (r.below(9) == 0 ? ", " : " ") : ". ";
            }
            s[start] = char(std::toupper(static_cast<unsigned char>(s[start])));
        }
        s += "\n\n";
    }
}

// Machine code, tables, strings and padding, as in programs and libraries.
void appendBinary(Rng &r, std::string &s, size_t n)
{
    unsigned char patterns[64][12];
    Rng p(7); // the same "instruction set" in every file
    for (auto &pattern : patterns)
        for (unsigned char &b : pattern)
            b = static_cast<unsigned char>(p.next());
    const Vocabulary &v = vocabulary();
    while (s.size() < n) {
        switch (r.below(8)) {
        case 0:
        case 1:
        case 2:
            for (int i = 16 + int(r.below(48)); i > 0; --i) {
                const unsigned char *pattern = patterns[r.below(64)];
                const size_t at = s.size();
                s.append(reinterpret_cast<const char *>(pattern), 2 + r.below(10));
                s[at + 1] = char(r.below(16)); // an operand
            }
            break;
        case 3: {
            quint32 value = quint32(r.next());
            for (int i = 64 + int(r.below(192)); i > 0; --i) {
                value += quint32(r.below(64));
                s.append(reinterpret_cast<const char *>(&value), 4);
            }
            break;
        }
        case 4:
            s.append(16 + r.below(496), '\0');
            break;
        case 5: {
            char bytes[128];
            const size_t k = 16 + r.below(112);
            for (size_t i = 0; i < k; ++i)
                bytes[i] = char(r.next());
            s.append(bytes, k);
            break;
        }
        default:
            for (int i = 4 + int(r.below(12)); i > 0; --i) {
                s += v.pick(r);
                s += '\0';
            }
        }
    }
}

std::string makeData(Kind kind, size_t size, quint64 seed)
{
    Rng r(seed);
    std::string s;
    s.reserve(size + 4096);
    switch (kind) {
    case Kind::Text:
        if (r.below(2))
            appendLogLines(r, s, size);
        else
            appendProse(r, s, size);
        break;
    case Kind::Binary:
        appendBinary(r, s, size);
        break;
    case Kind::Random:
        s.resize(size + 8);
        for (size_t i = 0; i < size; i += 8) {
            const quint64 x = r.next();
            memcpy(&s[i], &x, 8);
        }
        break;
    }
    s.resize(size);
    return s;
}

// ---------------------------------------------------------------------------------------------
// Corpora

struct Planned {
    std::string name;
    Kind kind;
    size_t size;
    bool deflate;
};

struct ArchivePlan {
    QString path;
    quint64 seed;
    std::vector<Planned> members;
};

// How much of a member deflate leaves, roughly, to fill each disk to about 100 MB.
double packedShare(Kind k) { return k == Kind::Text ? 0.33 : k == Kind::Binary ? 0.45 : 1.0; }

std::vector<Planned> releaseDisk(int disk)
{
    Rng r(1000 + quint64(disk));
    std::vector<Planned> m;
    const std::string d = std::to_string(disk);
    // One large member per disk (over 32 MiB), as a release has its one big data file.
    if (disk == 1)
        m.push_back({"data/logs/history.log", Kind::Text, 40'000'000, true});
    else if (disk == 2)
        m.push_back({"data/paks/base.pak", Kind::Binary, 36'000'000, true});
    else
        m.push_back({"data/video/intro.bik", Kind::Random, 38'000'000, false});

    static const char *const locales[] = {"de", "fr", "es", "it", "ja", "ko", "nl", "pl", "pt_BR", "ru", "sv", "zh_CN"};
    for (int i = 0; i < 150; ++i) {
        const Kind kind = r.below(5) < 3 ? Kind::Text : Kind::Binary;
        const size_t size = r.logUniform(1024, 64 * 1024);
        std::string name;
        switch (r.below(4)) {
        case 0:
            name = "app/share/locale/" + std::string(locales[r.below(std::size(locales))]) + "/msg" + d + "_" +
                   std::to_string(i) + ".po";
            break;
        case 1:
            name = "app/plugins/plug" + d + "_" + std::to_string(i) + (kind == Kind::Text ? ".json" : ".so");
            break;
        case 2:
            name = "docs/html/page" + d + "_" + std::to_string(i) + ".html";
            break;
        default:
            name = "data/config/set" + d + "_" + std::to_string(i) + (kind == Kind::Text ? ".ini" : ".dat");
            break;
        }
        m.push_back({name, kind, size, true});
    }

    double packed = 0;
    for (const Planned &p : m)
        packed += double(p.size) * packedShare(p.kind);
    constexpr double kDisk = 100e6;
    for (int i = 0; packed < kDisk - 1e6; ++i) {
        const quint64 k = r.below(10);
        const Kind kind = k < 5 ? Kind::Text : k < 7 ? Kind::Binary : Kind::Random;
        size_t size = r.logUniform(4 * 1024, 30'000'000);
        if (packed + double(size) * packedShare(kind) > kDisk)
            size = std::max<size_t>(4096, size_t((kDisk - packed) / packedShare(kind)));
        const std::string n = std::to_string(i);
        std::string name;
        bool deflate = true;
        if (kind == Kind::Text)
            name = (r.below(2) ? "docs/manual/ch" : "data/scripts/script") + d + "_" + n + ".txt";
        else if (kind == Kind::Binary)
            name = (r.below(2) ? "app/lib/libpart" : "app/bin/tool") + d + "_" + n + (r.below(2) ? ".so" : ".bin");
        else {
            name = "data/media/asset" + d + "_" + n + ".ogg";
            // Some packers store what does not shrink, others deflate it anyway.
            deflate = i % 2 == 0;
        }
        m.push_back({name, kind, size, deflate});
        packed += double(size) * packedShare(kind);
    }
    // Archive order by name, as a packer walking folders writes them.
    std::sort(m.begin(), m.end(), [](const Planned &a, const Planned &b) { return a.name < b.name; });
    return m;
}

std::vector<Planned> manySmall()
{
    static const char *const packages[] = {"core", "net", "gui", "sql", "xml", "io", "media", "tools", "tests", "docs"};
    static const char *const subs[] = {"src", "include", "private", "res", "util"};
    static const char *const exts[] = {".cpp", ".h", ".txt", ".xml", ".json"};
    Rng r(2000);
    std::vector<Planned> m;
    m.reserve(20000);
    for (int i = 0; i < 20000; ++i) {
        const int folder = i * 50 / 20000;
        const std::string name = std::string("tree/") + packages[folder / 5] + '/' + subs[folder % 5] + "/file" +
                                 std::to_string(i) + exts[r.below(5)];
        m.push_back({name, Kind::Text, 1024 + size_t(r.below(7 * 1024 + 1)), true});
    }
    return m;
}

std::vector<Planned> storedMembers()
{
    Rng r(3000);
    std::vector<Planned> m;
    size_t total = 0;
    for (int i = 0; total < 300'000'000; ++i) {
        const size_t size = std::min<size_t>(1'000'000 + r.below(19'000'001), 300'000'000 - total + 1'000'000);
        m.push_back({"media/clip" + std::to_string(1000 + i) + ".bin", Kind::Random, size, false});
        total += size;
    }
    return m;
}

bool writeArchive(const ArchivePlan &plan, QString *problem)
{
    const QByteArray path = QFile::encodeName(plan.path);
    int error = 0;
    zip_t *z = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z) {
        *problem = QStringLiteral("cannot create %1 (libzip error %2)").arg(plan.path).arg(error);
        return false;
    }
    // A fixed time, so that the archives are the same every time they are made.
    struct tm when = {};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 10;
    when.tm_mday = 30;
    when.tm_hour = 12;
    const time_t mtime = mktime(&when);
    std::vector<std::string> data; // kept until the archive is written
    data.reserve(plan.members.size());
    std::map<std::string, bool> folders;
    auto fail = [&](const char *what) {
        *problem =
            QStringLiteral("%1: %2: %3").arg(plan.path, QString::fromLatin1(what), QString::fromUtf8(zip_strerror(z)));
        zip_discard(z);
        return false;
    };
    for (size_t i = 0; i < plan.members.size(); ++i) {
        const Planned &p = plan.members[i];
        // Folder entries first, as packers write them.
        for (size_t slash = p.name.find('/'); slash != std::string::npos; slash = p.name.find('/', slash + 1)) {
            const std::string folder = p.name.substr(0, slash + 1);
            if (folders.emplace(folder, true).second) {
                const zip_int64_t at = zip_dir_add(z, folder.c_str(), ZIP_FL_ENC_UTF_8);
                if (at < 0 || zip_file_set_mtime(z, zip_uint64_t(at), mtime, 0) != 0)
                    return fail("folder");
            }
        }
        data.push_back(makeData(p.kind, p.size, plan.seed * 1000003 + i));
        zip_source_t *source = zip_source_buffer(z, data.back().data(), data.back().size(), 0);
        if (!source)
            return fail("source");
        const zip_int64_t at = zip_file_add(z, p.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (at < 0) {
            zip_source_free(source);
            return fail("add");
        }
        if (zip_set_file_compression(z, zip_uint64_t(at), p.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                     p.deflate ? 6 : 0) != 0 ||
            zip_file_set_mtime(z, zip_uint64_t(at), mtime, 0) != 0)
            return fail("member");
    }
    if (zip_close(z) != 0)
        return fail("write");
    return true;
}

struct Corpus {
    QString name;
    QString folder;
    std::vector<ArchivePlan> archives;
    double extractTarget;   // into a fresh folder
    double overwriteTarget; // over the tool's earlier output
    double testTarget;      // 0: not tested
    QStringList paths() const
    {
        QStringList p;
        for (const ArchivePlan &a : archives)
            p << a.path;
        return p;
    }
};

QString markerOf(const Corpus &c) { return c.folder + QStringLiteral("/complete"); }

// The marker names each archive with its size; written last, so a broken run is made again.
QByteArray markerText(const Corpus &c)
{
    QByteArray text = QByteArray(kCorpusVersion) + '\n';
    for (const ArchivePlan &a : c.archives)
        text += QFileInfo(a.path).fileName().toUtf8() + ' ' + QByteArray::number(QFileInfo(a.path).size()) + '\n';
    return text;
}

bool isComplete(const Corpus &c)
{
    QFile marker(markerOf(c));
    if (!marker.open(QIODevice::ReadOnly))
        return false;
    for (const ArchivePlan &a : c.archives)
        if (!QFileInfo(a.path).isFile())
            return false;
    return marker.readAll() == markerText(c);
}

bool makeCorpora(const std::vector<Corpus *> &corpora)
{
    std::vector<const ArchivePlan *> work;
    for (Corpus *c : corpora) {
        if (isComplete(*c))
            continue;
        QFile::remove(markerOf(*c));
        QDir().mkpath(c->folder);
        for (const ArchivePlan &a : c->archives)
            work.push_back(&a);
    }
    if (work.empty())
        return true;
    out << "Making the corpora (once), " << work.size() << " archives..." << Qt::endl;
    QElapsedTimer timer;
    timer.start();
    // The biggest archives first, so that the workers finish together.
    std::sort(work.begin(), work.end(), [](const ArchivePlan *a, const ArchivePlan *b) {
        auto bytes = [](const ArchivePlan *p) {
            size_t n = 0;
            for (const Planned &m : p->members)
                n += m.size;
            return n;
        };
        return bytes(a) > bytes(b);
    });
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    std::vector<QString> problems(work.size());
    std::vector<std::thread> threads;
    const unsigned workers =
        std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(), unsigned(work.size())));
    for (unsigned w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            for (size_t i; (i = next++) < work.size();)
                if (!writeArchive(*work[i], &problems[i]))
                    ok = false;
        });
    for (std::thread &t : threads)
        t.join();
    for (const QString &p : problems)
        if (!p.isEmpty())
            out << "  " << p << Qt::endl;
    if (!ok)
        return false;
    for (Corpus *c : corpora) {
        if (isComplete(*c))
            continue;
        QFile marker(markerOf(*c));
        if (!marker.open(QIODevice::WriteOnly) || marker.write(markerText(*c)) < 0)
            return false;
    }
    out << "  made in " << QString::number(timer.elapsed() / 1000.0, 'f', 1) << " s" << Qt::endl;
    return true;
}

void describe(const Corpus &c)
{
    qint64 files = 0, folders = 0, size = 0, packed = 0, zipBytes = 0, stored = 0;
    for (const ArchivePlan &a : c.archives) {
        zipBytes += QFileInfo(a.path).size();
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(a.path).constData(), ZIP_RDONLY, &error);
        if (!z)
            continue;
        const zip_int64_t n = zip_get_num_entries(z, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            zip_stat_t st;
            if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0)
                continue;
            if (st.name[strlen(st.name) - 1] == '/') {
                ++folders;
                continue;
            }
            ++files;
            size += qint64(st.size);
            packed += qint64(st.comp_size);
            if (st.comp_method == ZIP_CM_STORE)
                ++stored;
        }
        zip_discard(z);
    }
    out << QStringLiteral(
               "%1: %2 archive(s), %3 MB on disk, %4 files (%5 stored) in %6 folders, %7 MB unpacked (packed to %8%)")
               .arg(c.name)
               .arg(c.archives.size())
               .arg(zipBytes / 1e6, 0, 'f', 1)
               .arg(files)
               .arg(stored)
               .arg(folders)
               .arg(size / 1e6, 0, 'f', 1)
               .arg(size ? 100.0 * double(packed) / double(size) : 0, 0, 'f', 0)
        << Qt::endl;
}

// ---------------------------------------------------------------------------------------------
// Running the tools

struct Run {
    double ms = 0;
    double cpuMs = 0; // user and system time of the children
    QString problem;
};

// Runs one command to its end with stdout and stderr in files; the wall time around the
// process, from spawn to reaped.
Run spawn(const QStringList &command, const QString &stdoutFile, const QString &stderrFile)
{
    Run run;
    std::vector<QByteArray> args;
    for (const QString &a : command)
        args.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray so = QFile::encodeName(stdoutFile), se = QFile::encodeName(stderrFile);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, so.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, se.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    const int e = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (e != 0) {
        run.problem = QStringLiteral("cannot start %1: %2").arg(command.first(), QString::fromLocal8Bit(strerror(e)));
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    run.ms = double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
    run.cpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        QFile err(stderrFile);
        err.open(QIODevice::ReadOnly);
        run.problem = QStringLiteral("%1 ended with %2: %3")
                          .arg(command.join(u' '),
                               WIFEXITED(status) ? QStringLiteral("code %1").arg(WEXITSTATUS(status))
                                                 : QStringLiteral("a signal"),
                               QString::fromLocal8Bit(err.read(400)).trimmed());
    }
    return run;
}

QString lastLine(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    return QString::fromLocal8Bit(lines.last()).trimmed();
}

struct Tool {
    QString name;
    QString program; // absolute path
    bool engine = false;
};

// Extract: into a new, empty folder each round, as an install does. Overwrite: over the tool's
// own output of the round before.
enum class Operation { Extract, Overwrite, Test };

QStringList commandFor(const Tool &t, Operation op, const QString &archive, const QString &dest)
{
    const QString n = QFileInfo(t.program).fileName();
    const bool extract = op != Operation::Test;
    if (t.engine)
        return extract ? QStringList{t.program, QStringLiteral("extract"), archive, QString(), dest}
                       : QStringList{t.program, QStringLiteral("test"), archive};
    if (n == u"unzip")
        return extract ? QStringList{t.program, QStringLiteral("-qq"), QStringLiteral("-o"),
                                     archive,   QStringLiteral("-d"),  dest}
                       : QStringList{t.program, QStringLiteral("-tqq"), archive};
    if (n == u"7zz")
        return extract ? QStringList{t.program,
                                     QStringLiteral("x"),
                                     QStringLiteral("-y"),
                                     QStringLiteral("-bso0"),
                                     QStringLiteral("-bsp0"),
                                     QStringLiteral("-o") + dest,
                                     archive}
                       : QStringList{t.program, QStringLiteral("t"), QStringLiteral("-bso0"), QStringLiteral("-bsp0"),
                                     archive};
    // bsdtar
    return {t.program, QStringLiteral("-xf"), archive, QStringLiteral("-C"), dest};
}

// A new, empty folder at dest, as an install extracts into: the tool's last output goes first,
// and its writeback and the discards of its blocks are over before the tool runs again.
void makeFresh(const QString &dest)
{
    QDir(dest).removeRecursively();
    sync();
    QThread::msleep(200);
    QDir().mkpath(dest);
    sync();
}

// One tool's turn: every archive of the corpus in order, into the tool's own folder.
Run runTool(const Tool &t, Operation op, const Corpus &c, const QString &dest, const QString &logs)
{
    Run total;
    for (const QString &archive : c.paths()) {
        const QString so = logs + u'/' + t.name + QStringLiteral(".out"),
                      se = logs + u'/' + t.name + QStringLiteral(".err");
        // Writeback of the previous turn's files does not fall into this one.
        sync();
        const Run r = spawn(commandFor(t, op, archive, dest), so, se);
        total.ms += r.ms;
        total.cpuMs += r.cpuMs;
        if (r.problem.isEmpty() && t.engine && lastLine(so) != u"0")
            total.problem = QStringLiteral("%1 on %2 answered %3").arg(t.name, archive, lastLine(so));
        else
            total.problem = r.problem;
        if (!total.problem.isEmpty())
            return total;
    }
    return total;
}

// ---------------------------------------------------------------------------------------------
// Checking that the outputs agree

struct Listing {
    std::map<QString, qint64> sizes; // relative path: size
    qint64 bytes = 0;
};

Listing listFolder(const QString &folder)
{
    Listing l;
    const QDir base(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const qint64 size = it.fileInfo().size();
        l.sizes.emplace(base.relativeFilePath(it.filePath()), size);
        l.bytes += size;
    }
    return l;
}

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result();
}

// The same files with the same sizes; for the engine against unzip also the same contents of
// the largest files and a spread of others.
bool agree(const QString &name, const Listing &mine, const QString &mineFolder, const QString &refFolder,
           const Listing &ref, bool hashes)
{
    if (mine.sizes != ref.sizes) {
        int missing = 0, extra = 0, differ = 0;
        for (const auto &[path, size] : ref.sizes) {
            const auto it = mine.sizes.find(path);
            if (it == mine.sizes.end())
                ++missing;
            else if (it->second != size)
                ++differ;
        }
        for (const auto &entry : mine.sizes)
            extra += ref.sizes.count(entry.first) ? 0 : 1;
        out << QStringLiteral("    %1 differs from unzip: %2 files missing, %3 extra, %4 of another size")
                   .arg(name)
                   .arg(missing)
                   .arg(extra)
                   .arg(differ)
            << Qt::endl;
        return false;
    }
    if (!hashes) {
        out << QStringLiteral("    %1 wrote the same files as unzip").arg(name) << Qt::endl;
        return true;
    }
    std::vector<std::pair<qint64, QString>> bySize;
    for (const auto &[path, size] : ref.sizes)
        bySize.emplace_back(size, path);
    std::sort(bySize.begin(), bySize.end(), std::greater<>());
    QStringList picked;
    for (size_t i = 0; i < std::min<size_t>(3, bySize.size()); ++i)
        picked << bySize[i].second;
    const size_t step = std::max<size_t>(1, bySize.size() / 8);
    for (size_t i = 3; i < bySize.size(); i += step)
        picked << bySize[i].second;
    for (const QString &path : picked) {
        if (hashOf(mineFolder + u'/' + path) != hashOf(refFolder + u'/' + path)) {
            out << "    " << name << " and unzip wrote different contents in " << path << Qt::endl;
            return false;
        }
    }
    out << QStringLiteral("    %1 agrees with unzip: %2 files, %3 MB, %4 contents compared")
               .arg(name)
               .arg(mine.sizes.size())
               .arg(mine.bytes / 1e6, 0, 'f', 1)
               .arg(picked.size())
        << Qt::endl;
    return true;
}

void verify(const std::vector<Tool> &tools, const std::vector<QString> &dests)
{
    int unzipAt = -1;
    for (size_t i = 0; i < tools.size(); ++i)
        if (tools[i].name == u"unzip")
            unzipAt = int(i);
    if (unzipAt < 0) {
        out << "    unzip is missing: the outputs are not compared" << Qt::endl;
        return;
    }
    const Listing ref = listFolder(dests[size_t(unzipAt)]);
    for (size_t i = 0; i < tools.size(); ++i)
        if (int(i) != unzipAt)
            agree(tools[i].name, listFolder(dests[i]), dests[i], dests[size_t(unzipAt)], ref, tools[i].engine);
}

// ---------------------------------------------------------------------------------------------
// Rounds and figures

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// All CPUs' busy time (stolen time included) and this process's own, in ms: what is left after
// the tools' CPU time was spent by other work. The kernel's writeback of what the tools wrote
// counts there too: about 0.05 CPUs on a quiet machine, 0.25 for 20,000 small files.
double busyMs()
{
    QFile f(QStringLiteral("/proc/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> v = f.readLine().simplified().split(' ');
    if (v.size() < 9)
        return 0;
    double ticks = 0;
    for (int i : {1, 2, 3, 6, 7, 8}) // user, nice, system, irq, softirq, steal
        ticks += v[i].toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double selfMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Result {
    QString corpus;
    QString operation;
    double target = 0;
    std::vector<Tool> tools;
    std::vector<std::vector<double>> ms, cpuMs; // per tool, counted rounds
    std::vector<double> warmUp;                 // per tool, the first round
    std::vector<double> ratios;                 // per counted round: engine / fastest peer
    double otherCpus = 0;                       // other work during the counted rounds, in CPUs
    QString problem;
};

Result measure(const Corpus &c, Operation op, const std::vector<Tool> &tools, int rounds, const QString &work)
{
    Result res;
    res.corpus = c.name;
    res.operation = op == Operation::Extract     ? QStringLiteral("extract")
                    : op == Operation::Overwrite ? QStringLiteral("overwrite")
                                                 : QStringLiteral("test");
    res.target = op == Operation::Extract     ? c.extractTarget
                 : op == Operation::Overwrite ? c.overwriteTarget
                                              : c.testTarget;
    res.tools = tools;
    res.ms.resize(tools.size());
    res.cpuMs.resize(tools.size());
    res.warmUp.resize(tools.size());
    std::vector<QString> dests;
    const QString logs = work + QStringLiteral("/logs");
    QDir().mkpath(logs);
    const bool fresh = op == Operation::Extract;
    for (const Tool &t : tools) {
        dests.push_back(work + QStringLiteral("/out/") + c.name + u'/' + t.name);
        if (fresh)
            QDir(dests.back()).removeRecursively();
        QDir().mkpath(dests.back());
    }
    out << c.name << ' ' << res.operation << ", " << rounds << " rounds" << (rounds > 1 ? " (the first warms up)" : "")
        << Qt::endl;
    const bool counted1 = rounds == 1;
    double busy0 = 0, self0 = 0, toolsMs = 0;
    QElapsedTimer counted;
    for (int round = 0; round < rounds; ++round) {
        if (round == (counted1 ? 0 : 1)) {
            busy0 = busyMs();
            self0 = selfMs();
            counted.start();
        }
        std::vector<double> times(tools.size(), 0);
        QStringList line;
        // Each round starts with another tool, so that none always meets the others' leftovers.
        for (size_t k = 0; k < tools.size(); ++k) {
            const size_t i = (k + size_t(round)) % tools.size();
            if (fresh)
                makeFresh(dests[i]);
            const Run r = runTool(tools[i], op, c, dests[i], logs);
            if (!r.problem.isEmpty()) {
                res.problem = r.problem;
                out << "  " << r.problem << Qt::endl;
                return res;
            }
            times[i] = r.ms;
            if (round > 0 || counted1) {
                res.ms[i].push_back(r.ms);
                res.cpuMs[i].push_back(r.cpuMs);
                toolsMs += r.cpuMs;
            } else {
                res.warmUp[i] = r.ms;
            }
        }
        double fastestPeer = 0;
        for (size_t i = 0; i < tools.size(); ++i) {
            line << QStringLiteral("%1 %2").arg(tools[i].name).arg(times[i], 0, 'f', 0);
            if (!tools[i].engine && (fastestPeer == 0 || times[i] < fastestPeer))
                fastestPeer = times[i];
        }
        const double ratio = fastestPeer > 0 ? times[0] / fastestPeer : 0;
        if (round > 0 || counted1)
            res.ratios.push_back(ratio);
        out << "  round " << round + 1 << (round == 0 && !counted1 ? " (warm-up)" : "") << ": "
            << line.join(QStringLiteral(", ")) << " ms; ratio " << QString::number(ratio, 'f', 2) << Qt::endl;
        if (round == 0 && op != Operation::Test)
            verify(tools, dests);
    }
    if (counted.isValid() && counted.elapsed() > 0) {
        res.otherCpus = std::max(0.0, busyMs() - busy0 - (selfMs() - self0) - toolsMs) / double(counted.elapsed());
        out << "  other work during the counted rounds: " << QString::number(res.otherCpus, 'f', 2) << " CPUs"
            << (res.otherCpus > 0.5 ? " (a busy machine: the figures are unreliable)" : "") << Qt::endl;
    }
    return res;
}

// Other work on the machine shows here; the paired ratios bear it better than the times.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readLine()).section(u' ', 0, 2)
                                       : QStringLiteral("unknown");
}

// What memory costs here, beside the load: a fresh extraction writes every byte into new
// page-cache pages, and on a virtual machine the first write to a page can cost many times a
// copy between pages in use. In GB/s, over 256 MB: memory written for the first time and copied
// once in use; a new file in the work folder written in 1 MB pieces, then written over while
// its pages are still cached (the price a fresh folder pays against an overwrite).
QString memoryPrice(const QString &work)
{
    constexpr size_t kSize = 256 << 20;
    void *fresh = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh == MAP_FAILED)
        return QStringLiteral("unknown");
    const auto rate = [](const QElapsedTimer &t) {
        return double(kSize) / double(std::max<qint64>(t.nsecsElapsed(), 1));
    };
    QElapsedTimer t;
    t.start();
    std::memset(fresh, 1, kSize);
    const double firstWrite = rate(t);
    auto *bytes = static_cast<unsigned char *>(fresh);
    t.restart();
    std::memcpy(bytes, bytes + kSize / 2, kSize / 2);
    std::memcpy(bytes + kSize / 2, bytes, kSize / 2);
    const double copy = rate(t);

    const QByteArray path = QFile::encodeName(work + QStringLiteral("/memory-price"));
    const auto writeFile = [&](int flags) {
        const int fd = open(path.constData(), O_WRONLY | O_CLOEXEC | flags, 0600);
        if (fd < 0)
            return 0.0;
        QElapsedTimer w;
        w.start();
        bool whole = true;
        for (size_t at = 0; at < kSize && whole; at += 1 << 20)
            whole = write(fd, bytes + at, 1 << 20) == 1 << 20;
        const double r = whole ? rate(w) : 0.0;
        close(fd);
        return r;
    };
    unlink(path.constData()); // a run that was stopped may have left it
    const double newFile = writeFile(O_CREAT | O_EXCL);
    const double overCached = newFile > 0 ? writeFile(0) : 0.0;
    unlink(path.constData());
    munmap(fresh, kSize);
    return QStringLiteral("first writes %1 GB/s, copies %2 GB/s; page cache: new file %3 GB/s, over cached %4 GB/s")
        .arg(firstWrite, 0, 'f', 1)
        .arg(copy, 0, 'f', 1)
        .arg(newFile, 0, 'f', 1)
        .arg(overCached, 0, 'f', 1);
}

void report(const std::vector<Result> &results)
{
    out << Qt::endl
        << "Medians of the counted rounds (wall ms, CPU ms in brackets); ratio: median over rounds of" << Qt::endl
        << "the engine's time / the fastest peer's time in the same round" << Qt::endl;
    for (const Result &r : results) {
        if (!r.problem.isEmpty()) {
            out << QStringLiteral("  %1 %2: not measured (%3)").arg(r.corpus, r.operation, r.problem) << Qt::endl;
            continue;
        }
        QStringList cells;
        for (size_t i = 0; i < r.tools.size(); ++i)
            cells << QStringLiteral("%1 %2 (%3)")
                         .arg(r.tools[i].name)
                         .arg(median(r.ms[i]), 0, 'f', 0)
                         .arg(median(r.cpuMs[i]), 0, 'f', 0);
        const double ratio = median(r.ratios);
        out << QStringLiteral("  %1 %2").arg(r.corpus, -8).arg(r.operation, -10) << cells.join(QStringLiteral("  "))
            << QStringLiteral("  ratio %1  target <= %2  %3  (other work %4 CPUs)")
                   .arg(ratio, 0, 'f', 2)
                   .arg(r.target, 0, 'f', 2)
                   .arg(r.tools.size() < 2  ? QStringLiteral("no peer")
                        : ratio <= r.target ? QStringLiteral("met")
                                            : QStringLiteral("MISSED"))
                   .arg(r.otherCpus, 0, 'f', 2)
            << Qt::endl;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int rounds = 5;
    QString only;
    bool freshOnly = false;
    QString engine = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../zelvzip"));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--rounds" && i + 1 < args.size())
            rounds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--corpus" && i + 1 < args.size())
            only = args[++i];
        else if (args[i] == u"--fresh")
            freshOnly = true;
        else if (args[i] == u"--engine" && i + 1 < args.size())
            engine = QFileInfo(args[++i]).absoluteFilePath();
        else {
            out << "usage: zipbench [--rounds N] [--corpus release|many|stored] [--fresh] [--engine PATH]" << Qt::endl;
            return 2;
        }
    }
    if (!QFileInfo(engine).isExecutable()) {
        out << engine << " is not built" << Qt::endl;
        return 1;
    }

    const QString work = QDir::tempPath() + QStringLiteral("/zelv-zipbench");
    const QString corpora = work + QStringLiteral("/corpus");
    Corpus release{QStringLiteral("release"), corpora + QStringLiteral("/release"), {}, 0.20, 0.30, 0.18};
    for (int d = 1; d <= 3; ++d)
        release.archives.push_back({release.folder + QStringLiteral("/disk%1.zip").arg(d), quint64(d), releaseDisk(d)});
    Corpus many{QStringLiteral("many"), corpora + QStringLiteral("/many"), {}, 0.35, 0.45, 0};
    many.archives.push_back({many.folder + QStringLiteral("/many.zip"), 10, manySmall()});
    Corpus stored{QStringLiteral("stored"), corpora + QStringLiteral("/stored"), {}, 0.38, 0.38, 0};
    stored.archives.push_back({stored.folder + QStringLiteral("/stored.zip"), 20, storedMembers()});

    std::vector<Corpus *> chosen;
    for (Corpus *c : {&release, &many, &stored})
        if (only.isEmpty() || only == c->name)
            chosen.push_back(c);
    if (chosen.empty()) {
        out << "no corpus is called " << only << Qt::endl;
        return 2;
    }
    if (!makeCorpora(chosen))
        return 1;
    for (const Corpus *c : chosen)
        describe(*c);

    std::vector<Tool> extractors{{QStringLiteral("zelvzip"), engine, true}};
    std::vector<Tool> testers{extractors.front()};
    for (const char *peer : {"unzip", "7zz", "bsdtar"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(peer));
        if (path.isEmpty()) {
            out << peer << " is not installed: left out" << Qt::endl;
            continue;
        }
        extractors.push_back({QString::fromLatin1(peer), path, false});
        if (qstrcmp(peer, "bsdtar") != 0)
            testers.push_back(extractors.back());
    }

    out << "load average " << loadAverage() << " at the start; memory: " << memoryPrice(work) << Qt::endl;
    std::vector<Result> results;
    for (const Corpus *c : chosen) {
        results.push_back(measure(*c, Operation::Extract, extractors, rounds, work));
        if (!freshOnly)
            results.push_back(measure(*c, Operation::Overwrite, extractors, rounds, work));
        if (c->testTarget > 0)
            results.push_back(measure(*c, Operation::Test, testers, rounds, work));
    }
    report(results);
    out << "load average " << loadAverage() << " at the end; memory: " << memoryPrice(work) << Qt::endl;
    return 0;
}
