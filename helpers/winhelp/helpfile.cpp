#include "helpfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextDocument>
#include <algorithm>

namespace zelv {

namespace {

const QString kMagic = QStringLiteral("Zelvant32 help");

// A help file larger than this is not one of ours; the viewer keeps the whole file in memory.
constexpr qint64 kLargestFile = 16 * 1024 * 1024;

QString plainTextOf(const HelpTopic &topic)
{
    QTextDocument document;
    document.setMarkdown(HelpFile::pageMarkdown(topic));
    return document.toPlainText().toLower();
}

} // namespace

QString HelpFile::pageMarkdown(const HelpTopic &topic)
{
    return QStringLiteral("# ") + topic.title + QStringLiteral("\n\n") + topic.markdown;
}

std::optional<HelpFile> HelpFile::parse(const QByteArray &bytes, QString *why)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        *why = QStringLiteral("it is not UTF-8 text");
        return std::nullopt;
    }
    text.remove(u'\r');
    const QStringList lines = text.split(u'\n');
    if (lines.isEmpty() || lines.first().trimmed() != kMagic) {
        *why = QStringLiteral("it is not a Zelvant32 help file");
        return std::nullopt;
    }

    static const QRegularExpression topicLine(QStringLiteral(R"(^(={2,3}) ([a-z0-9-]+) \| (.+)$)"));
    HelpFile file;
    QStringList body;
    const auto finishTopic = [&] {
        if (!file.m_topics.isEmpty())
            file.m_topics.last().markdown = body.join(u'\n').trimmed() + u'\n';
        body.clear();
    };
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = topicLine.match(lines[i]);
        if (!m.hasMatch()) {
            if (file.m_topics.isEmpty() && !lines[i].trimmed().isEmpty()) {
                *why = QStringLiteral("line %1 comes before the first topic").arg(i + 1);
                return std::nullopt;
            }
            body.append(lines[i]);
            continue;
        }
        finishTopic();
        HelpTopic topic;
        topic.level = int(m.capturedLength(1)) - 1;
        topic.id = m.captured(2);
        topic.title = m.captured(3).trimmed();
        if (file.topicById(topic.id) >= 0) {
            *why = QStringLiteral("topic %1 is named twice").arg(topic.id);
            return std::nullopt;
        }
        if (i + 1 < lines.size() && lines[i + 1].startsWith(QStringLiteral("keywords:"))) {
            ++i;
            for (const QString &k : lines[i].mid(9).split(u';')) {
                if (!k.trimmed().isEmpty())
                    topic.keywords.append(k.trimmed());
            }
        }
        file.m_topics.append(topic);
    }
    finishTopic();
    if (file.m_topics.isEmpty()) {
        *why = QStringLiteral("it has no topics");
        return std::nullopt;
    }

    for (int t = 0; t < file.m_topics.size(); ++t) {
        for (const QString &keyword : file.m_topics[t].keywords)
            file.m_index.append({keyword, t});
        file.m_plainText.append(plainTextOf(file.m_topics[t]));
    }
    std::stable_sort(file.m_index.begin(), file.m_index.end(), [](const HelpIndexEntry &a, const HelpIndexEntry &b) {
        return a.keyword.compare(b.keyword, Qt::CaseInsensitive) < 0;
    });
    return file;
}

std::optional<HelpFile> HelpFile::load(const QString &hostPath, const QString &shownName, QString *why)
{
    QFile file(hostPath);
    QString reason;
    if (hostPath.isEmpty())
        reason = QStringLiteral("it is on no drive");
    else if (!file.open(QIODevice::ReadOnly))
        reason = file.errorString();
    else if (file.size() > kLargestFile)
        reason = QStringLiteral("it is too large to be a help file");
    if (reason.isEmpty()) {
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            reason = file.errorString();
        else if (auto parsed = parse(bytes, &reason))
            return parsed;
    }
    *why = QStringLiteral("The help file %1 cannot be opened: %2").arg(shownName, reason);
    return std::nullopt;
}

int HelpFile::topicById(const QString &id) const
{
    for (int i = 0; i < m_topics.size(); ++i) {
        if (m_topics[i].id == id)
            return i;
    }
    return -1;
}

QList<int> HelpFile::search(const QString &query) const
{
    const QStringList words = query.toLower().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    QList<int> found;
    if (words.isEmpty())
        return found;
    for (int t = 0; t < m_plainText.size(); ++t) {
        if (std::all_of(words.begin(), words.end(), [&](const QString &w) { return m_plainText[t].contains(w); }))
            found.append(t);
    }
    return found;
}

} // namespace zelv
