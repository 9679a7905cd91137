#include "rarset.h"

#include "platform/hostfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>
#include <optional>

namespace zelv {

namespace {

enum class Next { Follows, Last, Unknown };

quint16 le16(const QByteArray &b, int at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
quint32 le32(const QByteArray &b, int at) { return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16; }

// RAR 1.5 to 4: blocks of a fixed head and a size, the end block saying whether a volume follows.
std::optional<Next> nextAfterRar4(QFile &f, QString *fault)
{
    constexpr quint16 kLongBlock = 0x8000;
    bool volume = false, splitAfter = false;
    for (qint64 at = 7; at < f.size();) {
        f.seek(at);
        const QByteArray head = f.read(11);
        if (head.size() < 7) {
            *fault = QStringLiteral("cut short");
            return std::nullopt;
        }
        const quint8 type = uchar(head[2]);
        const quint16 flags = le16(head, 3);
        const quint16 size = le16(head, 5);
        if (size < 7) {
            *fault = QStringLiteral("a damaged block");
            return std::nullopt;
        }
        qint64 data = 0;
        if ((flags & kLongBlock) || type == 0x74 || type == 0x7a) {
            if (head.size() < 11) {
                *fault = QStringLiteral("cut short");
                return std::nullopt;
            }
            data = le32(head, 7);
            if (type == 0x74 && (flags & 0x0100)) { // a file over 4 GiB: the high part of its size
                f.seek(at + 32);
                const QByteArray high = f.read(4);
                if (high.size() == 4)
                    data += qint64(le32(high, 0)) << 32;
            }
        }
        if (type == 0x73)
            volume = flags & 0x0001;
        else if (type == 0x74)
            splitAfter = flags & 0x0002;
        else if (type == 0x7b)
            return (flags & 0x0001) ? Next::Follows : Next::Last;
        at += size + data;
    }
    // Volumes of old versions end without an end block: a file split at the end says so.
    if (splitAfter)
        return Next::Follows;
    return volume ? Next::Unknown : Next::Last;
}

// RAR 5: blocks of variable-length numbers, the end block saying whether a volume follows.
std::optional<Next> nextAfterRar5(QFile &f, QString *fault)
{
    for (qint64 at = 8; at < f.size();) {
        f.seek(at + 4);
        const QByteArray bytes = f.read(64);
        int pos = 0;
        const auto number = [&bytes, &pos]() -> std::optional<quint64> {
            quint64 v = 0;
            for (int shift = 0; shift < 64 && pos < bytes.size(); shift += 7) {
                const uchar b = uchar(bytes[pos++]);
                v |= quint64(b & 0x7f) << shift;
                if (!(b & 0x80))
                    return v;
            }
            return std::nullopt;
        };
        const auto headerSize = number();
        const int headerStart = pos;
        const auto type = number();
        const auto flags = number();
        if (!headerSize || !type || !flags || *headerSize == 0) {
            *fault = QStringLiteral("a damaged block");
            return std::nullopt;
        }
        std::optional<quint64> extra = 0, data = 0;
        if (*flags & 0x0001)
            extra = number();
        if (*flags & 0x0002)
            data = number();
        if (!extra || !data) {
            *fault = QStringLiteral("a damaged block");
            return std::nullopt;
        }
        if (*type == 5) {
            const auto endFlags = number();
            return endFlags && (*endFlags & 0x0001) ? Next::Follows : Next::Last;
        }
        at += 4 + headerStart + qint64(*headerSize) + qint64(*data);
    }
    return Next::Unknown;
}

std::optional<Next> nextAfter(const QString &path, QString *fault)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *fault = f.errorString();
        return std::nullopt;
    }
    const QByteArray signature = f.read(8);
    if (signature.startsWith(QByteArray("Rar!\x1a\x07\x01\x00", 8)))
        return nextAfterRar5(f, fault);
    if (signature.startsWith(QByteArray("Rar!\x1a\x07\x00", 7)))
        return nextAfterRar4(f, fault);
    *fault = QStringLiteral("not a RAR volume");
    return std::nullopt;
}

// The name of volume i (from 0) of the set the given name belongs to.
std::function<QString(int)> namingOf(const QString &name)
{
    static const QRegularExpression newStyle(QStringLiteral("^(.*)\\.part(\\d+)\\.rar$"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (const auto m = newStyle.match(name); m.hasMatch()) {
        const QString base = m.captured(1);
        const int width = int(m.captured(2).size());
        return [base, width](int i) {
            return base + QStringLiteral(".part%1.rar").arg(i + 1, width, 10, QLatin1Char('0'));
        };
    }
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    static const QRegularExpression numbered(QStringLiteral("^\\d\\d\\d$"));
    if (numbered.match(info.suffix()).hasMatch())
        return [stem](int i) { return stem + QStringLiteral(".%1").arg(i, 3, 10, QLatin1Char('0')); };
    // name.rar, then name.r00 to name.r99, name.s00 and on.
    return [stem](int i) {
        if (i == 0)
            return stem + QStringLiteral(".rar");
        const int n = i - 1;
        return stem + u'.' + QChar(u'r' + n / 100) + QStringLiteral("%1").arg(n % 100, 2, 10, QLatin1Char('0'));
    };
}

} // namespace

RarSet findRarSet(const QString &hostPath)
{
    RarSet set;
    const QFileInfo given(hostPath);
    const QString folder = given.absolutePath();
    const auto volumeName = namingOf(given.fileName());
    int first = 0;
    // Sets numbered .000, .001 may start at either.
    if (hostfs::findFileIgnoringCase(folder, volumeName(0)).isEmpty() &&
        !hostfs::findFileIgnoringCase(folder, volumeName(1)).isEmpty() && given.suffix().size() == 3 &&
        given.suffix().front().isDigit())
        first = 1;
    for (int i = first;; ++i) {
        const QString path = hostfs::findFileIgnoringCase(folder, volumeName(i));
        if (path.isEmpty()) {
            set.missingVolume = folder + u'/' + volumeName(i);
            return set;
        }
        set.volumes << path;
        QString fault;
        const auto next = nextAfter(path, &fault);
        if (!next) {
            set.fault = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), fault);
            return set;
        }
        if (*next == Next::Last)
            return set;
        if (*next == Next::Unknown && hostfs::findFileIgnoringCase(folder, volumeName(i + 1)).isEmpty())
            return set;
    }
}

} // namespace zelv
