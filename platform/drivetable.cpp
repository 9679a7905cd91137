#include "drivetable.h"

#include "dospath.h"
#include "hostfs.h"
#include "programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

const char kDevices[] = "dosdevices";

// 0, or the errno of the failed call.
int makeLink(const QString &target, const QString &link)
{
    return symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0 ? 0 : errno;
}

bool hasPrefix(const QString &path, const QString &folder)
{
    if (folder == u"/")
        return path.startsWith(u'/');
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == u'/');
}

QString remainderAfter(const QString &path, const QString &folder)
{
    if (path == folder)
        return QString();
    QString rest = path.mid(folder == u"/" ? 1 : folder.size() + 1);
    return rest;
}

} // namespace

DriveTable::DriveTable(QString programFolder, QString settingsFile)
    : m_programFolder(QDir::cleanPath(QDir(programFolder).absolutePath()))
    , m_settingsFile(std::move(settingsFile))
{}

QString DriveTable::devicesFolder() const { return m_programFolder + u'/' + QLatin1String(kDevices); }

Result<void> DriveTable::ensureExists(const QString &homeFolder) const
{
    const QString folder = devicesFolder();
    const auto failed = [&](int error) {
        return Error::fromErrno(QStringLiteral("The drive table %1 could not be made").arg(folder), error);
    };
    QFileInfo info(folder);
    if (info.exists() || info.isSymLink())
        return info.isDir() ? Result<void>() : failed(ENOTDIR);
    if (!QDir().mkpath(folder))
        return failed(errno ? errno : EIO);
    // Both links are tried; the first that fails gives the cause.
    const int c = makeLink(QDir(homeFolder).absolutePath(), folder + QStringLiteral("/c:"));
    const int z = makeLink(QStringLiteral("/"), folder + QStringLiteral("/z:"));
    if (c != 0 || z != 0)
        return failed(c != 0 ? c : z);
    return {};
}

namespace {

// When the folder of links last changed: adding, removing or replacing a link changes it.
qint64 changeStamp(const QString &folder)
{
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

} // namespace

QList<Drive> DriveTable::drives() const
{
    QList<Drive> result;
    const QString folder = devicesFolder();
    const qint64 stamp = changeStamp(folder);
    for (const QString &name : hostfs::listNames(folder, hostfs::EntryKind::Any, true)) {
        if (name.size() != 2 || name[1] != u':')
            continue;
        const QChar letter = name[0].toLower();
        if (letter < u'a' || letter > u'z')
            continue;
        const QString link = folder + u'/' + name;
        QString target = QFile::symLinkTarget(link);
        if (target.isEmpty()) {
            // A plain folder standing in for a drive works too.
            if (!QFileInfo(link).isDir())
                continue;
            target = link;
        }
        Drive d{letter, QDir::cleanPath(target), QFileInfo(link).canonicalFilePath()};
        if (!d.canonical.isEmpty() && !QFileInfo(d.canonical).isDir())
            d.canonical.clear();
        bool replaced = false;
        for (Drive &existing : result) {
            if (existing.letter == letter) {
                // "C:" and "c:" both present: the lower-case link is the one the program made.
                if (name[0].isLower())
                    existing = d;
                replaced = true;
            }
        }
        if (!replaced)
            result.append(d);
    }
    std::sort(result.begin(), result.end(), [](const Drive &a, const Drive &b) { return a.letter < b.letter; });
    QMutexLocker lock(&m_mutex);
    m_cache = result;
    m_cacheStamp = stamp;
    return result;
}

QList<Drive> DriveTable::cachedDrives() const
{
    const qint64 stamp = changeStamp(devicesFolder());
    {
        QMutexLocker lock(&m_mutex);
        if (m_cache && stamp == m_cacheStamp && stamp != -1)
            return *m_cache;
    }
    return drives();
}

std::optional<Drive> DriveTable::drive(QChar letter) const
{
    letter = letter.toLower();
    const auto find = [letter](const QList<Drive> &all) -> std::optional<Drive> {
        for (const Drive &d : all)
            if (d.letter == letter)
                return d;
        return std::nullopt;
    };
    // A kept drive counts while its folder is still there; anything else reads the table again.
    const auto kept = find(cachedDrives());
    if (kept && kept->ready() && QFileInfo(kept->canonical).isDir())
        return kept;
    return find(drives());
}

namespace {

struct Resolved {
    QString host;
    QStringList names; // the components as found on disk
};

std::optional<Resolved> resolve(const DriveTable &table, QStringView dosPath)
{
    const auto letter = dospath::driveLetter(dosPath);
    const auto parts = dospath::components(dosPath);
    if (!letter || !parts)
        return std::nullopt;
    const auto d = table.drive(*letter);
    if (!d || !d->ready())
        return std::nullopt;
    Resolved r{d->canonical, {}};
    bool parentExists = true;
    for (const QString &part : *parts) {
        QString name = part;
        if (parentExists) {
            if (auto found = hostfs::findNameIgnoringCase(r.host, part))
                name = *found;
            else
                parentExists = false;
        }
        if (!r.host.endsWith(u'/'))
            r.host += u'/';
        r.host += name;
        r.names.append(name);
    }
    return r;
}

} // namespace

std::optional<QString> DriveTable::toHost(QStringView dosPath) const
{
    const auto r = resolve(*this, dosPath);
    if (!r)
        return std::nullopt;
    // The settings beside the program are kept elsewhere; every other name is where it says.
    if (!m_settingsFile.isEmpty()) {
        const QFileInfo info(r->host);
        if (info.fileName().compare(QStringLiteral("Zelv32.ini"), Qt::CaseInsensitive) == 0 &&
            QFileInfo(info.absolutePath()).canonicalFilePath() == QFileInfo(m_programFolder).canonicalFilePath())
            return m_settingsFile;
    }
    return r->host;
}

std::optional<QString> DriveTable::resolveDos(QStringView dosPath) const
{
    const auto r = resolve(*this, dosPath);
    if (!r)
        return std::nullopt;
    return QString(dosPath[0].toUpper()) + QStringLiteral(":\\") + r->names.join(u'\\');
}

std::optional<QString> DriveTable::toDos(const QString &hostPath) const
{
    if (hostPath.isEmpty())
        return std::nullopt;
    const QString lexical = QDir::cleanPath(QDir(hostPath).absolutePath());
    const QString canonical = QFileInfo(lexical).canonicalFilePath();
    if (auto dos = toDos(lexical, canonical, cachedDrives()))
        return dos;
    return toDos(lexical, canonical, drives());
}

std::optional<QString> DriveTable::toDos(const QString &lexical, const QString &canonical, const QList<Drive> &all)
{
    // Prefer the path as written, so that a folder reached through a link keeps its name.
    for (const QString &path : {lexical, canonical}) {
        if (path.isEmpty())
            continue;
        const Drive *best = nullptr;
        QString bestFolder;
        for (const Drive &d : all) {
            for (const QString &folder : {d.target, d.canonical}) {
                if (folder.isEmpty() || !hasPrefix(path, folder))
                    continue;
                if (!best || folder.size() > bestFolder.size()) {
                    best = &d;
                    bestFolder = folder;
                }
            }
        }
        if (best) {
            QString rest = remainderAfter(path, bestFolder);
            rest.replace(u'/', u'\\');
            return QString(best->letter.toUpper()) + QStringLiteral(":\\") + rest;
        }
    }
    return std::nullopt;
}

QString DriveTable::runningProgramFolder() { return resolveProgramFolder(executableFolder()).folder; }

} // namespace zelv
