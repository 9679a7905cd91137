#include "par2repair.h"

#include "archive/par2set.h"
#include "delivery.h"
#include "platform/linkfolder.h"
#include "platform/toolrun.h"
#include "progress.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

// The bytes a file takes on the disk: a sparse file counts only what it holds.
qint64 bytesOnDisk(const QString &hostPath)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(hostPath).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return std::min<qint64>(st.st_size, qint64(st.st_blocks) * 512);
}

// "prog.r01 (damaged), prog.r02 (missing)"
QString listed(const QList<std::pair<QString, QString>> &volumes)
{
    QStringList words;
    for (const auto &[name, state] : volumes)
        words << QStringLiteral("%1 (%2)").arg(name, state);
    return words.join(QStringLiteral(", "));
}

// A file as the file system knows it, whatever its name.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity &) const = default;
};
Identity identityOf(const struct stat &st) { return {st.st_dev, st.st_ino}; }

// A volume put into the repair folder: the file in the release folder, and its link or copy
// there, which par2 leaves as it is unless it repairs the volume.
struct TakenVolume {
    Identity original;
    Identity taken;
};

// The volumes par2 wrote in the repair folder moved into the release folder, each damaged
// original set aside beside its repaired volume as NAME.1 (the name par2 keeps it under) and
// noted in setAside. A name that something else took while par2 ran is refused, naming it;
// nothing is written through it.
Result<void> placeRepaired(const RepairScope &scope, const StagingFolder &repairFolder, const QStringList &names,
                           const QHash<QString, TakenVolume> &taken, SetAside *setAside)
{
    const int from = repairFolder.descriptor();
    const int to = repairFolder.destinationDescriptor();
    if (setAside)
        setAside->hold(to);
    for (const QString &name : names) {
        const QByteArray leaf = QFile::encodeName(name);
        struct stat written {};
        if (::fstatat(from, leaf.constData(), &written, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(written.st_mode))
            continue;
        const auto was = taken.constFind(name);
        if (was != taken.cend() && identityOf(written) == was->taken)
            continue; // par2 left it as it was
        const QString shown = scope.dosFolder + u'\\' + name;
        const auto refused = [&](const struct stat &standing) {
            return S_ISLNK(standing.st_mode)
                       ? Error(QStringLiteral("%1 is not repaired: %2 is a link").arg(scope.setName, shown))
                       : Error(QStringLiteral("%1 is not repaired: something else now stands at %2")
                                   .arg(scope.setName, shown));
        };
        struct stat standing {};
        if (::fstatat(to, leaf.constData(), &standing, AT_SYMLINK_NOFOLLOW) == 0) {
            if (was == taken.cend() || identityOf(standing) != was->original)
                return refused(standing);
            // The first free NAME.1, NAME.2, ... as par2 would choose it.
            int error = 0;
            for (int kept = 1; kept < 1000; ++kept) {
                const QByteArray aside = leaf + '.' + QByteArray::number(kept);
                error = ::renameat2(to, leaf.constData(), to, aside.constData(), RENAME_NOREPLACE) == 0 ? 0 : errno;
                if (error == 0 && setAside)
                    setAside->add(aside, quint64(standing.st_dev), quint64(standing.st_ino));
                if (error != EEXIST)
                    break;
            }
            if (error != 0)
                return Error::fromErrno(
                    QStringLiteral("%1 is not repaired: %2 cannot be set aside").arg(scope.setName, shown), error);
        }
        if (auto moved = repairFolder.moveIn(name); !moved) {
            if (::fstatat(to, leaf.constData(), &standing, AT_SYMLINK_NOFOLLOW) == 0)
                return refused(standing);
            return moved.error().reworded(
                QStringLiteral("%1 is not repaired: %2 cannot be written").arg(scope.setName, shown));
        }
    }
    return {};
}

// par2's words for a volume it found damaged or missing.
const QRegularExpression &reportPattern()
{
    static const QRegularExpression target(
        QStringLiteral(R"re((?:Target|File): "(.+?)" - (damaged|missing|empty|no data found)\b)re"));
    return target;
}

} // namespace

QStringList reportedVolumes(const QString &par2Output, const QStringList &names)
{
    QStringList reported;
    for (const auto &m : reportPattern().globalMatch(par2Output))
        if (names.contains(m.captured(1)) && !reported.contains(m.captured(1)))
            reported << m.captured(1);
    return reported;
}

QString repairWindowName(const QStringList &reported, const QString &setName)
{
    return reported.isEmpty() ? setName : reported.join(QStringLiteral(", "));
}

SetAside::~SetAside()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

void SetAside::hold(int folder)
{
    if (m_folder < 0)
        m_folder = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
}

void SetAside::add(const QByteArray &name, quint64 device, quint64 inode) { m_kept.append({name, device, inode}); }

QList<std::pair<QString, QString>> SetAside::remove()
{
    QList<std::pair<QString, QString>> left;
    for (const Kept &k : std::as_const(m_kept)) {
        struct stat st {};
        int error = 0;
        if (m_folder < 0)
            error = EBADF;
        else if (::fstatat(m_folder, k.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            error = errno == ENOENT ? 0 : errno;
        else if (!S_ISREG(st.st_mode) || quint64(st.st_dev) != k.device || quint64(st.st_ino) != k.inode)
            error = EEXIST; // another file took its name: not this run's to remove
        else if (::unlinkat(m_folder, k.name.constData(), 0) != 0)
            error = errno;
        if (error != 0)
            left.append({QFile::decodeName(k.name), Error::describe(error)});
    }
    m_kept.clear();
    return left;
}

bool isVolumeName(ArchiveKind kind, const QString &givenName, const QString &name)
{
    // Asked about every name a .par2 file gives, for one set at a time: the pattern is made
    // once for the set.
    struct Pattern {
        ArchiveKind kind = ArchiveKind::Zip;
        QString givenName;
        QRegularExpression volume;
    };
    thread_local std::optional<Pattern> last;
    if (kind == ArchiveKind::Zip)
        return false;
    if (!last || last->kind != kind || last->givenName != givenName) {
        static const QRegularExpression newStyle(QStringLiteral(R"(^(.*)\.part\d+\.rar$)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        const QString stem = QRegularExpression::escape(QFileInfo(givenName).completeBaseName());
        QString pattern;
        switch (kind) {
        case ArchiveKind::Rar:
            if (const auto m = newStyle.match(givenName); m.hasMatch())
                pattern = QRegularExpression::escape(m.captured(1)) + QStringLiteral(R"(\.part\d+\.rar)");
            else
                pattern = stem + QStringLiteral(R"(\.(rar|[r-z]\d\d|\d\d\d))");
            break;
        case ArchiveKind::Arj:
            pattern = stem + QStringLiteral(R"(\.(arj|a\d\d|\d\d\d))");
            break;
        case ArchiveKind::Ace:
            pattern = stem + QStringLiteral(R"(\.(ace|c\d\d))");
            break;
        case ArchiveKind::Zip:
            break;
        }
        last = Pattern{kind, givenName,
                       QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                                          QRegularExpression::CaseInsensitiveOption)};
    }
    return last->volume.match(name).hasMatch();
}

std::optional<Par2Choice> choosePar2Files(const RepairScope &scope)
{
    struct Candidate {
        QString path;
        qint64 size = 0;
        QList<Par2Description> files;
    };
    QList<Candidate> usable;
    for (const QFileInfo &f : QDir(scope.folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (f.suffix().compare(u"par2", Qt::CaseInsensitive) != 0)
            continue;
        // A file naming anything but a volume is not read on: it is not used at all.
        const auto protectsVolume = [&](const Par2Description &d) {
            return !d.name.isEmpty() && scope.isVolume(d.name);
        };
        const auto contents = readPar2Descriptions(f.absoluteFilePath(), protectsVolume);
        if (!contents || !contents->whole || contents->files.isEmpty())
            continue;
        usable << Candidate{f.absoluteFilePath(), f.size(), contents->files};
    }

    // The recovery set that protects the most volumes. A .par2 file may name a great many: every
    // name is looked up, never searched for.
    struct Names {
        QSet<QString> seen;
        QStringList inOrder;
    };
    QHash<QByteArray, Names> namesOfSet;
    QList<QByteArray> order;
    for (const Candidate &c : usable)
        for (const Par2Description &d : c.files) {
            auto it = namesOfSet.find(d.setId);
            if (it == namesOfSet.end()) {
                order << d.setId;
                it = namesOfSet.insert(d.setId, {});
            }
            if (!it->seen.contains(d.name)) {
                it->seen.insert(d.name);
                it->inOrder << d.name;
            }
        }
    if (order.isEmpty())
        return std::nullopt;
    QByteArray best = order.first();
    for (const QByteArray &id : order)
        if (namesOfSet[id].inOrder.size() > namesOfSet[best].inOrder.size())
            best = id;

    QList<Candidate> chosen;
    for (const Candidate &c : usable)
        if (std::any_of(c.files.begin(), c.files.end(), [&](const Par2Description &d) { return d.setId == best; }))
            chosen << c;
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const Candidate &a, const Candidate &b) { return a.size < b.size; });
    Par2Choice choice;
    for (const Candidate &c : chosen)
        choice.par2Files << c.path;
    choice.protectedNames = std::move(namesOfSet[best].inOrder);
    choice.protectedNames.sort();
    return choice;
}

qint64 par2TimeLimitMs(qint64 bytesOnDisk)
{
    constexpr qint64 ceiling = 12LL * 3600 * 1000;
    return std::min(ceiling, 60000 + bytesOnDisk / (2 << 20) * 1000);
}

Result<Par2Verdict> verifyOrRepair(const RepairScope &scope, const Par2Choice &choice, bool knownDamaged,
                                   SetAside *setAside)
{
    // par2 reads the .par2 files named like the one it is given from that one's folder: a
    // folder of its own, holding links to the chosen files alone, keeps it from the others.
    LinkFolder links("zelv-par2-");
    if (!links.isValid())
        return Error(QStringLiteral("No temporary folder for par2"), links.errorString());
    qint64 bytes = 0;
    for (qsizetype i = 0; i < choice.par2Files.size(); ++i) {
        const QString name = i == 0 ? QStringLiteral("set.par2") : QStringLiteral("set.%1.par2").arg(i);
        if (!QFile::link(choice.par2Files[i], links.filePath(name)))
            return Error(QStringLiteral("No temporary folder for par2"));
        bytes += bytesOnDisk(choice.par2Files[i]);
    }
    for (const QFileInfo &f : QDir(scope.folder).entryInfoList(QDir::Files | QDir::Hidden))
        if (scope.isVolume(f.fileName()))
            bytes += bytesOnDisk(f.absoluteFilePath());

    const QByteArray folderPath = QFile::encodeName(scope.folder);
    bool writable = ::access(folderPath.constData(), W_OK) == 0;
    QString notWritable = writable ? QString() : Error::describe(errno);
    // A link among the protected names: the set is only verified.
    QString link;
    for (const QString &name : choice.protectedNames) {
        struct stat st {};
        if (link.isEmpty() && ::lstat(QFile::encodeName(scope.folder + u'/' + name).constData(), &st) == 0 &&
            S_ISLNK(st.st_mode))
            link = name;
    }

    // par2 makes a missing volume by its name, through whatever stands there by then: it repairs
    // in a private folder beside the volumes that holds them under their names, and what it
    // writes there is moved into place afterwards through the release folder held open.
    std::optional<StagingFolder> repairFolder;
    QHash<QString, TakenVolume> taken;
    if (writable && link.isEmpty()) {
        repairFolder.emplace(scope.folder);
        if (!repairFolder->isValid()) {
            const int error = errno;
            writable = false;
            notWritable = Error::describe(error != 0 ? error : EACCES);
            repairFolder.reset();
        }
    }
    if (repairFolder) {
        for (const QString &name : choice.protectedNames) {
            if (!repairFolder->takeIn(name))
                continue; // missing, or not a plain file: par2 makes it anew
            const QByteArray leaf = QFile::encodeName(name);
            struct stat original, copy;
            if (::fstatat(repairFolder->destinationDescriptor(), leaf.constData(), &original, AT_SYMLINK_NOFOLLOW) ==
                    0 &&
                ::fstatat(repairFolder->descriptor(), leaf.constData(), &copy, AT_SYMLINK_NOFOLLOW) == 0)
                taken.insert(name, {identityOf(original), identityOf(copy)});
        }
    }
    // /proc/self/cwd is par2's working folder, the repair folder held open, whatever is put under
    // that folder's name meanwhile.
    const QString basePath = !repairFolder                                         ? scope.folder + u'/'
                             : QFileInfo(QStringLiteral("/proc/self/cwd")).isDir() ? QStringLiteral("/proc/self/cwd/")
                                                                                   : repairFolder->path() + u'/';
    const WorkingFolder workingFolder =
        repairFolder ? WorkingFolder(repairFolder->descriptor()) : WorkingFolder(links.path());

    // The window is named after the volumes being repaired once par2 names them.
    const QString verb = knownDamaged ? QStringLiteral("Repairing") : QStringLiteral("Checking");
    std::optional<ExtractionProgress> window;
    window.emplace(scope.setName, 0, verb);
    window->report(verb, 0);
    QString windowName = scope.setName;
    QStringList reported;
    qsizetype scanned = 0;
    static const QRegularExpression step(QStringLiteral(R"((Loading|Scanning|Repairing): (\d+(?:\.\d+)?)%)"));
    // The volumes are named by the .par2 files alone (-B): par2 is handed no other file.
    const ToolRun run =
        runTool(QStringLiteral("par2"),
                {repairFolder ? QStringLiteral("r") : QStringLiteral("v"), QStringLiteral("-B") + basePath,
                 QStringLiteral("--"), links.filePath(QStringLiteral("set.par2"))},
                workingFolder, par2TimeLimitMs(bytes), [&](const QByteArray &output) {
                    // The whole lines that came since the last look.
                    const qsizetype end = output.lastIndexOf('\n') + 1;
                    if (end > scanned) {
                        const QStringList more = reportedVolumes(
                            QString::fromLocal8Bit(output.mid(scanned, end - scanned)), choice.protectedNames);
                        scanned = end;
                        for (const QString &name : more)
                            if (!reported.contains(name))
                                reported << name;
                        if (repairWindowName(reported, scope.setName) != windowName) {
                            windowName = repairWindowName(reported, scope.setName);
                            window.reset();
                            window.emplace(windowName, 0,
                                           repairFolder ? QStringLiteral("Repairing") : QStringLiteral("Checking"));
                        }
                    }
                    const QString tail = QString::fromLocal8Bit(output.right(200));
                    QString last = QStringLiteral("Checking 0%");
                    int percent = 0;
                    for (const auto &m : step.globalMatch(tail)) {
                        const QString doing =
                            m.captured(1) == u"Repairing" ? QStringLiteral("Repairing") : QStringLiteral("Checking");
                        last = QStringLiteral("%1 %2%").arg(doing, m.captured(2));
                        percent = int(m.captured(2).toDouble());
                    }
                    return window->report(last, percent);
                });

    if (!run.started && !knownDamaged)
        return Par2Verdict::Whole; // the set's own checks, which it passed, stand
    if (!run.started)
        return Error(QStringLiteral("par2 cannot be started; is it installed?"));
    if (run.cancelled)
        return Error(QStringLiteral("%1 of %2 cancelled")
                         .arg(knownDamaged ? QStringLiteral("Repair") : QStringLiteral("Check"), scope.setName));
    if (run.timedOut)
        return Error(QStringLiteral("par2 did not finish %1 %2 in time and was stopped")
                         .arg(knownDamaged ? QStringLiteral("repairing") : QStringLiteral("checking"), scope.setName));

    // The volumes par2 found damaged or missing, before any repair.
    const QString output = QString::fromLocal8Bit(run.output);
    const QSet<QString> protectedNames(choice.protectedNames.cbegin(), choice.protectedNames.cend());
    QList<std::pair<QString, QString>> damaged;
    QSet<QString> told;
    for (const auto &m :
         reportPattern().globalMatch(output.left(output.indexOf(QStringLiteral("Verifying repaired files"))))) {
        const QString name = m.captured(1);
        if (protectedNames.contains(name) && !told.contains(name)) {
            told.insert(name);
            damaged.append({name, m.captured(2) == u"empty" || m.captured(2) == u"missing"
                                      ? m.captured(2)
                                      : QStringLiteral("damaged")});
        }
    }
    std::sort(damaged.begin(), damaged.end());

    if (run.exitCode == 0) {
        if (!output.contains(QStringLiteral("Repair complete")))
            return Par2Verdict::Whole;
        if (repairFolder)
            if (auto placed = placeRepaired(scope, *repairFolder, choice.protectedNames, taken, setAside); !placed)
                return placed.error();
        return Par2Verdict::Repaired;
    }
    // par2 could not judge the set (its .par2 files are damaged, say): the set's own checks,
    // which it passed, stand. 1 and 2: a repair is needed, and possible or not.
    if (!knownDamaged && damaged.isEmpty() && run.exitCode != 1 && run.exitCode != 2)
        return Par2Verdict::Whole;
    static const QRegularExpression need(QStringLiteral(R"(You need (\d+) more recovery blocks)"));
    if (const auto m = need.match(output); m.hasMatch())
        return Error(QStringLiteral("%1 cannot be repaired: %2 more recovery blocks are needed%3")
                         .arg(scope.setName, m.captured(1),
                              damaged.isEmpty() ? QString() : QStringLiteral(" for ") + listed(damaged)));
    if (!link.isEmpty())
        return Error(QStringLiteral("%1 is not repaired: %2\\%3 is a link").arg(scope.setName, scope.dosFolder, link));
    if (!writable)
        return Error(QStringLiteral("%1 cannot be written to repair %2")
                         .arg(scope.dosFolder, damaged.isEmpty() ? scope.setName : listed(damaged)),
                     notWritable);
    return Error(QStringLiteral("%1 cannot be repaired with its .par2 files%2")
                     .arg(scope.setName, damaged.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(listed(damaged))));
}

Result<void> checkOrRepair(const RepairScope &scope, const std::function<Result<bool>()> &check)
{
    const Result<bool> checked = check();
    if (checked && *checked)
        return {};
    const auto choice = choosePar2Files(scope);
    if (!choice)
        return checked ? Result<void>() : Result<void>(checked.error());
    SetAside setAside;
    const auto verdict = verifyOrRepair(scope, *choice, !checked, &setAside);
    if (!verdict)
        return verdict.error();
    // Nothing was written: the check would find what it found.
    if (*verdict == Par2Verdict::Whole)
        return checked ? Result<void>() : Result<void>(checked.error());
    const Result<bool> again = check();
    if (!again)
        return again.error(); // the damaged originals stay beside what did not pass
    // The repaired set passed: its damaged originals are of no more use. One that cannot go is
    // told, though the set goes on to be extracted.
    for (const auto &[name, why] : setAside.remove())
        fprintf(stderr, "%s: %s\n", qPrintable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
                qPrintable(QStringLiteral("%1 is repaired, but its damaged copy %2\\%3 cannot be removed: %4")
                               .arg(scope.setName, scope.dosFolder, name, why)));
    return {};
}

} // namespace zelv
