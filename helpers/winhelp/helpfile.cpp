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

Result<HelpFile> HelpFile::parse(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return Error(QStringLiteral("it is not UTF-8 text"));
    text.remove(u'\r');
    const QStringList lines = text.split(u'\n');
    if (lines.isEmpty() || lines.first().trimmed() != kMagic)
        return Error(QStringLiteral("it is not a Zelvant32 help file"));

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
            if (file.m_topics.isEmpty() && !lines[i].trimmed().isEmpty())
                return Error(QStringLiteral("line %1 comes before the first topic").arg(i + 1));
            body.append(lines[i]);
            continue;
        }
        finishTopic();
        HelpTopic topic;
        topic.level = int(m.capturedLength(1)) - 1;
        topic.id = m.captured(2);
        topic.title = m.captured(3).trimmed();
        if (file.topicById(topic.id) >= 0)
            return Error(QStringLiteral("topic %1 is named twice").arg(topic.id));
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
    if (file.m_topics.isEmpty())
        return Error(QStringLiteral("it has no topics"));

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

Result<HelpFile> HelpFile::load(const QString &hostPath, const QString &shownName)
{
    const QString cannot = QStringLiteral("The help file %1 cannot be opened").arg(shownName);
    QFile file(hostPath);
    if (hostPath.isEmpty())
        return Error(cannot, QStringLiteral("it is on no drive"));
    if (!file.open(QIODevice::ReadOnly))
        return Error(cannot, file.errorString());
    if (file.size() > kLargestFile)
        return Error(cannot, QStringLiteral("it is too large to be a help file"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error(cannot, file.errorString());
    auto parsed = parse(bytes);
    if (!parsed)
        return Error(cannot, parsed.error().text());
    return parsed;
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
