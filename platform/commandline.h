// Command lines as the original platform reads them: blanks separate words, double quotes
// group, backslashes are ordinary characters except in front of a double quote. In the first
// word, the program, quotes only group and backslashes are always ordinary.
#pragma once

#include <QString>
#include <QStringList>

namespace zelv::commandline {

// The words of a command line; the first is the program.
QStringList split(QStringView line);

// One argument, written so that split() gives it back unchanged: quoted when it holds a blank,
// a tab or a double quote, or is empty.
QString quote(const QString &word);

// The program word: quoted when it holds a blank.
QString quoteProgram(const QString &program);

// Program and arguments as one line.
QString join(const QString &program, const QStringList &arguments);

} // namespace zelv::commandline
