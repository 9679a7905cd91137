#include "settingsfile.h"

#include "platform/hostfs.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace zelv {

namespace {

// Offsets of the values: the length of each line's label.
constexpr int kStateAt = 6;  // "State="
constexpr int kTopAt = 4;    // "Top="
constexpr int kLeftAt = 5;   // "Left="
constexpr int kHeightAt = 7; // "Height="
constexpr int kWidthAt = 6;  // "Width="
constexpr int kPaneAt = 13;  // "Panel1.width="
constexpr int kDirAt = 4;    // "Dir="
constexpr int kLineCount = 8;

// The file is in the single-byte code page; a name it cannot hold is written as UTF-8 rather
// than lost, and read back as such.
QByteArray encode(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    return text.toLatin1();
}

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QStringView valueAt(const QString &line, int offset)
{
    return QStringView(line).mid(std::min<qsizetype>(offset, line.size()));
}

} // namespace

QString formatSettingsNumber(double value)
{
    if (value == 0 || std::isnan(value))
        return QStringLiteral(" 0");
    QString digits = QString::number(std::fabs(value), 'f', 6);
    while (digits.endsWith(u'0'))
        digits.chop(1);
    if (digits.endsWith(u'.'))
        digits.chop(1);
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + digits;
}

std::optional<double> parseSettingsNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    QString number;
    bool seenDigit = false;
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128) {
            number += c;
            seenDigit = true;
        } else if (c == u'.' && !seenPoint) {
            number += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return std::nullopt;
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return negative ? -value : value;
}

namespace {

// The file's bytes: eight lines ended by carriage return and line feed.
QByteArray settingsFileBytes(const SettingsRecord &r)
{
    const QStringList lines{
        QStringLiteral("Version=") + r.version,
        QStringLiteral("State=") + formatSettingsNumber(r.state),
        QStringLiteral("Top=") + formatSettingsNumber(r.top),
        QStringLiteral("Left=") + formatSettingsNumber(r.left),
        QStringLiteral("Height=") + formatSettingsNumber(r.height),
        QStringLiteral("Width=") + formatSettingsNumber(r.width),
        QStringLiteral("Panel1.width=") + formatSettingsNumber(r.paneWidth),
        QStringLiteral("Dir=") + r.folder,
    };
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += encode(line) + "\r\n";
    return bytes;
}

// Whether the plain file under the name (not a link) already holds exactly these bytes.
bool holdsAlready(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return false;
    }
    struct stat st {};
    // One byte more than expected is asked for: a file still growing is not the same.
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == bytes.size() &&
           file.read(bytes.size() + 1) == bytes;
}

// A new file beside the old one, renamed over it when whole: a crash or a full disk never
// leaves half a file, and a link standing under the name is replaced, never written through.
// A file that holds these bytes already is left alone: closing the window without a change
// costs no disk write and no wait for one.
Result<void> writeWhole(const QString &hostPath, const QByteArray &bytes)
{
    if (holdsAlready(QFile::encodeName(hostPath), bytes))
        return {};
    const QString cannot = QStringLiteral("%1 could not be written").arg(hostPath);
    const QFileInfo info(hostPath);
    QByteArray temporary =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(cannot);
    const int error = hostfs::writeAll(fd, bytes.constData(), bytes.size()) ? 0 : errno;
    // The old file's permissions carry over; a new one gets what a new text file usually has.
    struct stat old {};
    const mode_t mode =
        lstat(QFile::encodeName(hostPath).constData(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0644;
    const bool written = error == 0 && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const int closeError = close(fd) == 0 ? 0 : errno;
    if (written && closeError == 0 && rename(temporary.constData(), QFile::encodeName(hostPath).constData()) == 0)
        return {};
    const int why = error ? error : closeError ? closeError : errno;
    unlink(temporary.constData());
    return Error::fromErrno(cannot, why ? why : EIO);
}

} // namespace

Result<void> writeSettingsFile(const QString &hostPath, const SettingsRecord &record)
{
    return writeWhole(hostPath, settingsFileBytes(record));
}

Result<void> writeTextLines(const QString &hostPath, const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += encode(line) + "\r\n";
    return writeWhole(hostPath, bytes);
}

Result<QStringList> readTextLines(const QString &hostPath)
{
    // Opened without waiting (a FIFO under the name would hold the start for ever), and read
    // only when it is a plain file of a size a text file has.
    constexpr qint64 kLargest = 16 << 20;
    const QString cannot = QStringLiteral("%1 could not be read").arg(hostPath);
    const int fd = open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(cannot);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargest) {
        const int why = errno;
        close(fd);
        return S_ISREG(st.st_mode) || st.st_mode == 0 ? Error::fromErrno(cannot, st.st_size > kLargest ? EFBIG : why)
                                                      : Error(cannot, QStringLiteral("it is not a plain file"));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return Error(cannot, file.errorString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error(cannot, file.errorString());
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(decode(bytes.mid(start, i - start)));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(decode(bytes.mid(start)));
    return lines;
}

namespace {

// Places the window by default and writes a new file; returns the Dir line, "Dir=C:\\".
QString WriteDefaultSettings(const QString &hostPath, SettingsWindow &window, const QString &versionText)
{
    SettingsRecord r;
    r.version = versionText;
    r.state = window.windowState();
    r.top = (window.screenHeight() - window.windowHeight()) / 2 + 1300;
    window.setWindowTop(r.top);
    r.left = (window.screenWidth() - window.windowWidth()) / 2;
    window.setWindowLeft(r.left);
    // The place below the middle may reach past a small screen's bottom: where the window
    // had to move, the file says where it went.
    const double top = window.windowTop(), left = window.windowLeft();
    window.keepOnScreen();
    if (window.windowTop() != top || window.windowLeft() != left) {
        r.top = window.windowTop();
        r.left = window.windowLeft();
    }
    r.height = window.windowHeight();
    r.width = window.windowWidth();
    r.paneWidth = window.paneWidth();
    r.folder = QStringLiteral("C:\\");
    // A folder that cannot be written to starts with the defaults every time.
    std::ignore = writeSettingsFile(hostPath, r);
    return QStringLiteral("Dir=C:\\");
}

} // namespace

LoadOutcome LoadSettings(const QString &hostPath, SettingsWindow &window, const QString &versionText)
{
    LoadOutcome outcome;
    const auto lines = QFile::exists(hostPath) ? readTextLines(hostPath) : Result<QStringList>(Error());
    // A missing, unreadable or short file is replaced by a default one.
    if (!lines || lines->size() < kLineCount) {
        outcome.newlyWritten = true;
        outcome.savedDirLine = WriteDefaultSettings(hostPath, window, versionText);
        return outcome;
    }
    const QStringList &l = *lines;

    const QStringView stateText = valueAt(l[1], kStateAt);
    window.setWindowState(int(parseSettingsNumber(stateText).value_or(0)));
    if (stateText == u" 2") {
        window.showWindowNow();
    } else {
        if (auto v = parseSettingsNumber(valueAt(l[2], kTopAt)))
            window.setWindowTop(*v);
        if (auto v = parseSettingsNumber(valueAt(l[3], kLeftAt)))
            window.setWindowLeft(*v);
        if (auto v = parseSettingsNumber(valueAt(l[4], kHeightAt)))
            window.setWindowHeight(*v);
        if (auto v = parseSettingsNumber(valueAt(l[5], kWidthAt)))
            window.setWindowWidth(*v);
        window.keepWithinReach();
    }
    if (auto v = parseSettingsNumber(valueAt(l[6], kPaneAt)))
        window.setPaneWidth(int(std::lround(*v)));

    outcome.savedDirLine = l[7];
    const QString folder = valueAt(l[7], kDirAt).toString();
    const std::optional<bool> exists = window.folderExists(folder);
    if (!exists) {
        outcome.folderFailed = true;
    } else if (*exists) {
        if (!window.setListFolder(folder) || !window.setTreeFolder(window.listFolder()))
            outcome.folderFailed = true;
    }
    return outcome;
}

SettingsRecord settingsFromWindow(const SettingsWindow &window, const QString &versionText)
{
    SettingsRecord r;
    r.version = versionText;
    r.state = window.windowState();
    r.top = window.windowTop();
    r.left = window.windowLeft();
    r.height = window.windowHeight();
    r.width = window.windowWidth();
    r.paneWidth = window.paneWidth();
    r.folder = window.listFolder();
    return r;
}

Result<void> SaveSettings(const QString &hostPath, const SettingsWindow &window, const QString &versionText)
{
    return writeSettingsFile(hostPath, settingsFromWindow(window, versionText));
}

} // namespace zelv
