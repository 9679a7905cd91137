#include "hostfs.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace zelv::hostfs {

namespace {

// The error for a call that just failed: the sentence about path, and errno as its cause.
Error failed(const char *sentence, const QString &path, int error = errno)
{
    return Error::fromErrno(QString::fromLatin1(sentence).arg(path), error);
}

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

bool isWanted(DIR *dir, const dirent *e, EntryKind kind)
{
    if (kind == EntryKind::Any)
        return true;
    const unsigned char wanted = kind == EntryKind::Files ? DT_REG : DT_DIR;
    if (e->d_type == wanted)
        return true;
    if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
        return false;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0)
        return false;
    return kind == EntryKind::Files ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
}

// The name with each character case-folded as QString::compare(..., Qt::CaseInsensitive)
// folds it, so that comparing keys gives that comparison's order.
QString foldedKey(const QString &name)
{
    QString key(name.size(), Qt::Uninitialized);
    const char16_t *from = reinterpret_cast<const char16_t *>(name.constData());
    char16_t *to = reinterpret_cast<char16_t *>(key.data());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = from[i];
        if (c < 0x80) {
            to[i] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(from[i + 1])) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, from[i + 1]));
            to[i] = QChar::highSurrogate(folded);
            to[++i] = QChar::lowSurrogate(folded);
        } else {
            to[i] = QChar::toCaseFolded(c);
        }
    }
    return key;
}

// Name order ignoring case, then exact. A large folder makes millions of comparisons: each
// name is folded once here instead of at every comparison.
void sortIgnoringCase(QStringList &names)
{
    struct Keyed {
        QString key;
        QString name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(names.size());
    for (QString &name : names)
        keyed.push_back({foldedKey(name), std::move(name)});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[i].name);
}

template <typename Accept>
Result<QStringList> collect(const QString &folder, EntryKind kind, bool includeHidden, Accept accept)
{
    QStringList names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return failed("%1 cannot be listed", folder);
    while (const dirent *e = readdir(dir.get())) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (n[0] == '.' && !includeHidden)
            continue;
        if (!isWanted(dir.get(), e, kind))
            continue;
        QString name = QFile::decodeName(n);
        if (accept(name))
            names.append(std::move(name));
    }
    sortIgnoringCase(names);
    return names;
}

} // namespace

Result<QStringList> list(const QString &folder, const WildcardFilter &filter, EntryKind kind)
{
    return collect(folder, kind, false, [&](const QString &n) { return filter.matches(n); });
}

QStringList listNames(const QString &folder, EntryKind kind, bool includeHidden)
{
    return collect(folder, kind, includeHidden, [](const QString &) { return true; }).valueOr({});
}

std::optional<QString> findNameIgnoringCase(const QString &folder, const QString &name)
{
    struct stat st;
    if (lstat(QFile::encodeName(folder + u'/' + name).constData(), &st) == 0)
        return name;
    const QStringList found = collect(folder, EntryKind::Any, true, [&](const QString &n) {
                                  return n.compare(name, Qt::CaseInsensitive) == 0;
                              }).valueOr({});
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QString findFileIgnoringCase(const QString &folder, const QString &name)
{
    const auto found = findNameIgnoringCase(folder, name);
    return found && isFile(folder + u'/' + *found) ? folder + u'/' + *found : QString();
}

bool exists(const QString &path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isDirectory(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

Result<qint64> fileSize(const QString &path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return failed("The size of %1 cannot be read", path);
    if (!S_ISREG(st.st_mode))
        return failed("The size of %1 cannot be read", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    return qint64(st.st_size);
}

Result<void> resetAttributes(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (lstat(p.constData(), &st) != 0)
        return failed("The attributes of %1 cannot be reset", path);
    if (S_ISLNK(st.st_mode))
        return {};
    mode_t mode = st.st_mode & 07777;
    mode |= S_IRUSR | S_IWUSR;
    if (S_ISDIR(st.st_mode))
        mode |= S_IXUSR;
    if (chmod(p.constData(), mode) != 0)
        return failed("The attributes of %1 cannot be reset", path);
    return {};
}

Result<void> removeFile(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (lstat(p.constData(), &st) != 0)
        return failed("%1 could not be deleted", path);
    if (S_ISDIR(st.st_mode))
        return failed("%1 could not be deleted", path, EISDIR);
    if (unlink(p.constData()) != 0)
        return failed("%1 could not be deleted", path);
    return {};
}

Result<void> rename(const QString &from, const QString &to)
{
    const QByteArray f = QFile::encodeName(from);
    const QByteArray t = QFile::encodeName(to);
    const auto refused = [&](int error) {
        return Error::fromErrno(QStringLiteral("%1 could not be renamed to %2").arg(from, to), error);
    };
    if (renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return refused(errno);
    // A file system without the no-replace flag: check, then rename.
    struct stat st;
    if (lstat(t.constData(), &st) == 0)
        return refused(EEXIST);
    if (::rename(f.constData(), t.constData()) != 0)
        return refused(errno);
    return {};
}

Result<void> makeDirectory(const QString &path)
{
    if (mkdir(QFile::encodeName(path).constData(), 0777) != 0)
        return failed("%1 could not be created", path);
    return {};
}

Result<void> removeEmptyDirectory(const QString &path)
{
    if (rmdir(QFile::encodeName(path).constData()) != 0)
        return failed("%1 could not be removed", path);
    return {};
}

Result<qint64> freeBytes(const QString &path)
{
    struct statvfs vfs;
    if (statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return failed("The free space of %1 cannot be read", path);
    const unsigned long long bytes =
        static_cast<unsigned long long>(vfs.f_bavail) * static_cast<unsigned long long>(vfs.f_frsize);
    return qint64(std::min<unsigned long long>(bytes, static_cast<unsigned long long>(INT64_MAX)));
}

bool hasSubfolder(const QString &folder)
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return false;
    while (const dirent *e = readdir(dir.get())) {
        if (e->d_name[0] != '.' && isWanted(dir.get(), e, EntryKind::Directories))
            return true;
    }
    return false;
}

Result<void> canOpenFolder(const QString &folder)
{
    DIR *dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return failed("%1 cannot be opened", folder);
    closedir(dir);
    return {};
}

bool writeAll(int fd, const void *data, qsizetype size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        size -= n;
    }
    return true;
}

} // namespace zelv::hostfs
