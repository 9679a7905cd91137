// File and folder operations on host paths, with the original platform's view of a folder:
// hidden entries (a leading dot) are not seen, names are listed in name order ignoring case.
#pragma once

#include "error.h"
#include "wildcard.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace zelv::hostfs {

enum class EntryKind {
    Files,       // plain files, and links to plain files
    Directories, // folders, and links to folders
    Any,         // files and folders
};

// The names in folder that match the filter, sorted by name ignoring case; hidden names are
// left out. An unreadable folder is an error.
Result<QStringList> list(const QString &folder, const WildcardFilter &filter, EntryKind kind);
// Every name, hidden ones too when includeHidden; an unreadable folder lists nothing.
QStringList listNames(const QString &folder, EntryKind kind, bool includeHidden = false);

// The entry of folder whose name equals name ignoring case; the exact spelling wins.
std::optional<QString> findNameIgnoringCase(const QString &folder, const QString &name);
// The path of the file (or link to one) in folder named name ignoring case; empty when none.
QString findFileIgnoringCase(const QString &folder, const QString &name);

// Whether the folder holds a folder (or a link to one) that listNames would list; stops at the
// first one found.
bool hasSubfolder(const QString &folder);

// Whether the folder can be opened for listing; the error's cause says why not ("No such file
// or directory").
Result<void> canOpenFolder(const QString &folder);

bool exists(const QString &path);             // any entry, a dangling link included
bool isDirectory(const QString &path);        // follows links
bool isFile(const QString &path);             // follows links
Result<qint64> fileSize(const QString &path); // of a file, following links

// Each operation's error names the host path in its sentence and the system's cause.

// Makes the entry writable again (the original "normal attributes").
Result<void> resetAttributes(const QString &path);
// A file or a link; never a folder.
Result<void> removeFile(const QString &path);
// Never replaces an existing entry.
Result<void> rename(const QString &from, const QString &to);
Result<void> makeDirectory(const QString &path);
// A folder that is empty, never through a link; one that holds anything stays.
Result<void> removeEmptyDirectory(const QString &path);

// Writes all of data to fd, going on after interruptions and short writes; false with errno
// set when it cannot.
bool writeAll(int fd, const void *data, qsizetype size);

// Free bytes for an unprivileged writer on the file system that holds path.
Result<qint64> freeBytes(const QString &path);

} // namespace zelv::hostfs
