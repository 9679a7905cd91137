// Writes the manual pages from their one source (manpages.txt) in roff: "# NAME SECTION -
// summary" starts a page, "## HEADING" a section, a blank line a paragraph, "- TERM :: text" an
// indented item; **bold** and *italic* inline.
//   mangen SOURCE OUTDIR VERSION
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>

namespace {

// Text as roff reads it: backslashes and dashes literal, no line read as a request.
QString escaped(QString text)
{
    text.replace(u'\\', QStringLiteral("\\e"));
    text.replace(u'-', QStringLiteral("\\-"));
    static const QRegularExpression bold(QStringLiteral("\\*\\*(.+?)\\*\\*"));
    static const QRegularExpression italic(QStringLiteral("\\*(.+?)\\*"));
    text.replace(bold, QStringLiteral("\\fB\\1\\fR"));
    text.replace(italic, QStringLiteral("\\fI\\1\\fR"));
    if (text.startsWith(u'.') || text.startsWith(u'\''))
        text.prepend(QStringLiteral("\\&"));
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        fprintf(stderr, "usage: mangen SOURCE OUTDIR VERSION\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly | QIODevice::Text)) {
        fprintf(stderr, "mangen: %s: %s\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString version = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(outDir);
    static const QRegularExpression pageLine(QStringLiteral("^# (\\S+) (\\d) - (.+)$"));

    QFile out;
    QTextStream roff;
    bool paragraph = false;
    while (!source.atEnd()) {
        const QString line = QString::fromUtf8(source.readLine()).chopped(1);
        if (const auto m = pageLine.match(line); m.hasMatch()) {
            roff.flush();
            out.close();
            out.setFileName(outDir + u'/' + m.captured(1) + u'.' + m.captured(2));
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                fprintf(stderr, "mangen: %s: %s\n", qPrintable(out.fileName()), qPrintable(out.errorString()));
                return 1;
            }
            roff.setDevice(&out);
            const QString name = escaped(m.captured(1));
            roff << ".TH \"" << name.toUpper() << "\" " << m.captured(2) << " \"\" \"Zelvant32 " << version
                 << "\" \"Zelvant32\"\n.SH NAME\n"
                 << name << " \\- " << escaped(m.captured(3)) << '\n';
            paragraph = false;
        } else if (!out.isOpen()) {
            continue;
        } else if (line.startsWith(QLatin1String("## "))) {
            roff << ".SH " << escaped(line.mid(3)) << '\n';
            paragraph = false;
        } else if (line.isEmpty()) {
            paragraph = true;
        } else if (line.startsWith(QLatin1String("- ")) && line.contains(QLatin1String(" :: "))) {
            const qsizetype split = line.indexOf(QLatin1String(" :: "));
            roff << ".TP\n" << escaped(line.mid(2, split - 2)) << '\n' << escaped(line.mid(split + 4)) << '\n';
            paragraph = false;
        } else {
            if (paragraph)
                roff << ".PP\n";
            roff << escaped(line) << '\n';
            paragraph = false;
        }
    }
    roff.flush();
    return out.error() == QFileDevice::NoError ? 0 : 1;
}
