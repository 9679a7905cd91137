#include "programfolder.h"

#include "drivetable.h"
#include "linkfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

const QString kName = QStringLiteral("zelvant32");

QString absoluteFromEnvironment(const char *name, const QString &fallback)
{
    const QString value = QFile::decodeName(qgetenv(name));
    // The base directory rules: a relative path is ignored.
    return value.startsWith(u'/') ? QDir::cleanPath(value) : fallback;
}

// What a link holds, or nothing when path is no link.
std::optional<QString> linkText(const QString &path)
{
    QByteArray buffer(4096, '\0');
    const ssize_t n = readlink(QFile::encodeName(path).constData(), buffer.data(), buffer.size());
    if (n < 0 || n >= buffer.size())
        return std::nullopt;
    return QFile::decodeName(buffer.left(n));
}

// A link at path to target, made beside it and renamed over whatever stands there, so the name
// is never missing or half made and nothing is written through an old link.
Result<void> ensureLink(const QString &path, const QString &target)
{
    if (linkText(path) == target)
        return {};
    static std::atomic<int> counter{0};
    const QFileInfo info(path);
    const QString temporary =
        info.absolutePath() + QStringLiteral("/.%1.%2.%3").arg(info.fileName()).arg(getpid()).arg(counter++);
    const QByteArray tmp = QFile::encodeName(temporary);
    const QString cannot = QStringLiteral("%1 could not be linked").arg(path);
    if (symlink(QFile::encodeName(target).constData(), tmp.constData()) != 0)
        return Error::fromErrno(cannot);
    if (rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) {
        const int why = errno;
        unlink(tmp.constData());
        return Error::fromErrno(cannot, why);
    }
    return {};
}

Result<void> makeFolder(const QString &path)
{
    if (QFileInfo(path).isDir() || QDir().mkpath(path))
        return QFileInfo(path).isDir() ? Result<void>()
                                       : Error::fromErrno(QStringLiteral("%1 could not be made").arg(path), ENOTDIR);
    return Error::fromErrno(QStringLiteral("%1 could not be made").arg(path), errno ? errno : EIO);
}

// Another user who can put a link in a folder of ours runs code as this user the next time the
// program starts a helper from it. A folder just made is closed to others whatever the umask.
Result<void> checkFolderIsOurs(const QString &path, bool madeNow)
{
    const QByteArray name = QFile::encodeName(path);
    if (madeNow)
        chmod(name.constData(), 0700);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return Error::fromErrno(QStringLiteral("%1 could not be checked").arg(path));
    return checkOwnFolder(path, st, FolderPrivacy::NoOtherWriter);
}

bool isMissing(const QString &path) { return !QFileInfo::exists(path) && !QFileInfo(path).isSymLink(); }

} // namespace

UserFolders UserFolders::fromEnvironment()
{
    UserFolders f;
    f.home = QDir::homePath();
    f.data = absoluteFromEnvironment("XDG_DATA_HOME", f.home + QStringLiteral("/.local/share"));
    f.config = absoluteFromEnvironment("XDG_CONFIG_HOME", f.home + QStringLiteral("/.config"));
    return f;
}

bool isWritableFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && (st.st_mode & 0222) != 0 && access(path.constData(), W_OK) == 0;
}

Result<ProgramFolder> prepareUserProgramFolder(const QString &installedFolder, const UserFolders &user)
{
    const QString installed = QDir::cleanPath(QDir(installedFolder).absolutePath());
    const QString own = user.data + u'/' + kName;
    const QString config = user.config + u'/' + kName;
    for (const QString &folder : {own, config}) {
        const bool missing = isMissing(folder);
        if (const Result<void> made = makeFolder(folder); !made)
            return made.error();
        if (const Result<void> ours = checkFolderIsOurs(folder, missing); !ours)
            return ours.error();
    }

    const DriveTable table(config);
    for (const QString &name :
         QDir(installed).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        // What the user owns is never a link into the installed folder.
        if (name.compare(QStringLiteral("dosdevices"), Qt::CaseInsensitive) == 0 ||
            name.compare(QStringLiteral("Zelv32.ini"), Qt::CaseInsensitive) == 0)
            continue;
        if (const Result<void> linked = ensureLink(own + u'/' + name, installed + u'/' + name); !linked)
            return linked.error();
    }
    const bool missing = isMissing(table.devicesFolder());
    if (const Result<void> made = table.ensureExists(user.home); !made)
        return made.error();
    if (const Result<void> ours = checkFolderIsOurs(table.devicesFolder(), missing); !ours)
        return ours.error();
    if (const Result<void> linked = ensureLink(own + QStringLiteral("/dosdevices"), table.devicesFolder()); !linked)
        return linked.error();
    return ProgramFolder{own, config + QStringLiteral("/Zelv32.ini")};
}

ProgramFolder resolveProgramFolder(const QString &executableFolder)
{
    if (isWritableFolder(executableFolder))
        return ProgramFolder{executableFolder, QString()};
    const Result<ProgramFolder> own = prepareUserProgramFolder(executableFolder, UserFolders::fromEnvironment());
    if (own)
        return *own;
    qWarning("Zelvant32: %s", qPrintable(own.error().text()));
    return ProgramFolder{executableFolder, QString(), own.error().text()};
}

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

} // namespace zelv
