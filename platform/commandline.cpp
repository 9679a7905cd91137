#include "commandline.h"

namespace zelv::commandline {

namespace {
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
} // namespace

QStringList split(QStringView line)
{
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && isBlank(line[i]))
        ++i;
    if (i == n)
        return words;

    // The program: no escapes, a quote only groups.
    QString program;
    bool quoted = false;
    while (i < n && (quoted || !isBlank(line[i]))) {
        if (line[i] == u'"')
            quoted = !quoted;
        else
            program += line[i];
        ++i;
    }
    words.append(program);

    for (;;) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n)
            break;
        QString word;
        bool inQuotes = false;
        while (i < n && (inQuotes || !isBlank(line[i]))) {
            const QChar c = line[i];
            if (c == u'\\') {
                qsizetype run = 0;
                while (i < n && line[i] == u'\\') {
                    ++run;
                    ++i;
                }
                if (i < n && line[i] == u'"') {
                    word += QString(run / 2, u'\\');
                    if (run % 2 == 1) {
                        word += u'"';
                        ++i;
                    }
                } else {
                    word += QString(run, u'\\');
                }
                continue;
            }
            if (c == u'"') {
                if (inQuotes && i + 1 < n && line[i + 1] == u'"') {
                    word += u'"';
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            word += c;
            ++i;
        }
        words.append(word);
    }
    return words;
}

QString quote(const QString &word)
{
    const bool needs = word.isEmpty() || word.contains(u' ') || word.contains(u'\t') || word.contains(u'"');
    if (!needs)
        return word;
    QString out = QStringLiteral("\"");
    qsizetype backslashes = 0;
    for (const QChar c : word) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            out += QString(backslashes * 2 + 1, u'\\');
            out += u'"';
        } else {
            out += QString(backslashes, u'\\');
            out += c;
        }
        backslashes = 0;
    }
    out += QString(backslashes * 2, u'\\');
    out += u'"';
    return out;
}

QString quoteProgram(const QString &program)
{
    if (program.contains(u' ') || program.contains(u'\t'))
        return u'"' + program + u'"';
    return program;
}

QString join(const QString &program, const QStringList &arguments)
{
    QString line = quoteProgram(program);
    for (const QString &a : arguments)
        line += u' ' + quote(a);
    return line;
}

} // namespace zelv::commandline
