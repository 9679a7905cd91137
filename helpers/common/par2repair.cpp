#include "par2repair.h"

#include "platform/toolrun.h"
#include "progress.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace zelv {

QString releaseStem(const QString &volumeName)
{
    const qsizetype dot = volumeName.indexOf(u'.');
    return dot > 0 ? volumeName.left(dot) : volumeName;
}

std::optional<Result<void>> repairWithPar2(const QString &folder, const QString &stem, const QString &setName)
{
    QStringList par2s;
    qint64 bytes = 0;
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
        if (f.fileName().startsWith(stem, Qt::CaseInsensitive) && f.suffix().compare(u"par2", Qt::CaseInsensitive) == 0)
            par2s << f.fileName();
        bytes += f.size();
    }
    if (par2s.isEmpty())
        return std::nullopt;
    // The index file is the one without ".vol" in its name; any of them will do otherwise.
    QString index = par2s.first();
    for (const QString &p : par2s)
        if (!p.contains(QStringLiteral(".vol"), Qt::CaseInsensitive))
            index = p;

    ExtractionProgress window(setName, 0, QStringLiteral("Repairing"));
    window.report(QStringLiteral("Repairing"), 0);
    static const QRegularExpression percent(QStringLiteral(R"((\d+(?:\.\d+)?)%)"));
    // A minute, and a second more for every 2 MB of the folder: a repair reads everything.
    const qint64 limit = 60000 + bytes / (2 << 20) * 1000;
    // par2 prints its percentage as it goes; the window shows the last one.
    const ToolRun run = runTool(
        QStringLiteral("par2"), {QStringLiteral("repair"), index}, folder, limit, [&window](const QByteArray &output) {
            const QString tail = QString::fromLocal8Bit(output.right(200));
            QString last;
            for (const auto &m : percent.globalMatch(tail))
                last = m.captured(1);
            return window.report(QStringLiteral("Repairing %1%").arg(last.isEmpty() ? QStringLiteral("0") : last),
                                 int(last.toDouble()));
        });

    const auto failed = [](const QString &why) { return std::optional<Result<void>>(Error(why)); };
    if (!run.started)
        return failed(QStringLiteral("par2 cannot be started; is it installed?"));
    if (run.cancelled)
        return failed(QStringLiteral("Repair of %1 cancelled").arg(setName));
    if (run.timedOut)
        return failed(QStringLiteral("par2 did not finish repairing %1 in time and was stopped").arg(setName));
    if (run.exitCode == 0)
        return Result<void>();
    static const QRegularExpression need(QStringLiteral(R"(You need (\d+) more recovery blocks)"));
    const auto m = need.match(QString::fromLocal8Bit(run.output));
    if (m.hasMatch())
        return failed(
            QStringLiteral("%1 cannot be repaired: %2 more recovery blocks are needed").arg(setName, m.captured(1)));
    return failed(QStringLiteral("%1 cannot be repaired with its .par2 files").arg(setName));
}

Result<void> checkOrRepair(const QString &folder, const QString &stem, const QString &setName,
                           const std::function<Result<void>()> &check)
{
    const auto problem = check();
    if (problem)
        return problem;
    const auto repair = repairWithPar2(folder, stem, setName);
    if (!repair)
        return problem;
    if (!*repair)
        return *repair;
    return check();
}

} // namespace zelv
