// The help file: a first line "Zelvant32 help", then topics. A topic starts with a line
// "== id | Title" (a top-level topic) or "=== id | Title" (one under the top-level topic before
// it), may name its index keywords on the next line ("keywords: a; b; c"), and has a Markdown
// body up to the next topic line. The first topic is the contents. Links between topics are
// written [text](#id).
#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace zelv {

struct HelpTopic {
    QString id;
    QString title;
    int level = 1; // 1 top-level, 2 under the top-level topic before it
    QStringList keywords;
    QString markdown; // the body, without the title
};

struct HelpIndexEntry {
    QString keyword;
    int topic = -1; // index into HelpFile::topics
};

class HelpFile {
public:
    // Else why the bytes are not a help file, in one line.
    static Result<HelpFile> parse(const QByteArray &bytes);
    // Reads and parses a file; else the error names the file and the reason.
    static Result<HelpFile> load(const QString &hostPath, const QString &shownName);

    const QList<HelpTopic> &topics() const { return m_topics; }
    int topicById(const QString &id) const; // -1 when there is none

    // Keyword and topic pairs, sorted by keyword without regard to letter case, then by the
    // topic's place in the file.
    const QList<HelpIndexEntry> &index() const { return m_index; }

    // The topics whose title or text hold every word of the query, letter case ignored, in
    // the order of the file.
    QList<int> search(const QString &query) const;

    // The topic's text as the viewer renders it: its title as a heading, then the body.
    static QString pageMarkdown(const HelpTopic &topic);

private:
    QList<HelpTopic> m_topics;
    QList<HelpIndexEntry> m_index;
    QStringList m_plainText; // per topic, lower case, for the search
};

} // namespace zelv
