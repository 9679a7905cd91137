#include "sfvcheck.h"

#include "archiveset.h"
#include "platform/dospath.h"
#include "platform/hostfs.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zelv {

namespace {

QString hex(quint32 v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); }

// "name crc" on one trimmed line: the last word, eight hex digits, is the CRC; all before it
// the name. One pass from the end, so a line of junk costs its length and no more.
std::optional<std::pair<QString, quint32>> sfvLine(const QString &text)
{
    qsizetype blank = text.size() - 1;
    while (blank >= 0 && !text[blank].isSpace())
        --blank;
    const QStringView crc = QStringView(text).mid(blank + 1);
    if (blank < 0 || crc.size() != 8)
        return std::nullopt;
    bool ok = false;
    const quint32 value = crc.toUInt(&ok, 16);
    const QString name = text.left(blank).trimmed();
    if (!ok || name.isEmpty() || crc.startsWith(u'+') || crc.startsWith(u'-'))
        return std::nullopt;
    return std::pair(name, value);
}

} // namespace

QHash<QString, quint32> sfvEntriesFor(const QString &folder, const QString &stem, QHash<QString, QString> *listedIn)
{
    QHash<QString, quint32> all;
    const QStringList sfvs = QDir(folder).entryList({QStringLiteral("*.sfv"), QStringLiteral("*.SFV")},
                                                    QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &sfv : sfvs) {
        QFile f(folder + u'/' + sfv);
        if (!f.open(QIODevice::ReadOnly) || f.size() > (4 << 20))
            continue;
        QHash<QString, quint32> mine;
        for (const QByteArray &raw : f.readAll().split('\n')) {
            const QString text = QString::fromLatin1(raw).trimmed();
            if (text.isEmpty() || text.startsWith(u';'))
                continue;
            const auto entry = sfvLine(text);
            if (!entry)
                continue;
            const QString name = entry->first.toLower();
            if (name.startsWith(stem.toLower()))
                mine.insert(name, entry->second);
        }
        // Only a .sfv that names the files counts; one for other files is none of our business.
        all.insert(mine);
        if (listedIn)
            for (auto it = mine.cbegin(); it != mine.cend(); ++it)
                listedIn->insert(it.key(), sfv);
    }
    return all;
}

std::optional<SfvFault> checkSfv(const QString &folder, const QHash<QString, quint32> &entries)
{
    QStringList names = entries.keys();
    std::sort(names.begin(), names.end());
    std::vector<std::optional<SfvFault>> faults(size_t(names.size()));
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i; (i = next++) < names.size();) {
            const QString &wanted = names[i];
            const QString found = hostfs::findFileIgnoringCase(folder, wanted);
            if (found.isEmpty()) {
                faults[size_t(i)] = SfvFault{SfvFault::Kind::Missing, wanted, 0, entries[wanted], QString()};
                continue;
            }
            const QString shown = found.mid(found.lastIndexOf(u'/') + 1);
            // A volume may be a link the person made: it is read where it points.
            const auto crc = crcOfFile(found, Links::Followed);
            if (!crc)
                faults[size_t(i)] =
                    SfvFault{SfvFault::Kind::Unreadable, shown, 0, entries[wanted], crc.error().cause()};
            else if (*crc != entries[wanted])
                faults[size_t(i)] = SfvFault{SfvFault::Kind::Mismatch, shown, *crc, entries[wanted], QString()};
        }
    };
    // Several volumes at once: one reader alone keeps neither the CRC nor the disk busy.
    const unsigned workers = std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::thread> threads;
    for (unsigned k = 1; k < std::min<unsigned>(workers, unsigned(names.size())); ++k)
        threads.emplace_back(work);
    work();
    for (std::thread &t : threads)
        t.join();
    for (const auto &f : faults)
        if (f)
            return f;
    return std::nullopt;
}

Error describeSfvFault(const SfvFault &fault, const QString &dosFolder)
{
    const QString path = dospath::join(dosFolder, fault.name);
    switch (fault.kind) {
    case SfvFault::Kind::Missing:
        return Error(QStringLiteral("Missing volume %1").arg(path));
    case SfvFault::Kind::Unreadable:
        return Error(QStringLiteral("Cannot read %1").arg(path), fault.cause);
    case SfvFault::Kind::Mismatch:
        break;
    }
    return Error(
        QStringLiteral("Bad volume %1 (CRC %2, SFV says %3)").arg(path, hex(fault.actual), hex(fault.expected)));
}

} // namespace zelv
