// File and folder operations on host paths, with the original platform's view of a folder:
// hidden entries (a leading dot) are not seen, names are listed in name order ignoring case.
#pragma once

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

// The names in folder that match the filter, sorted by name ignoring case. Hidden names are
// left out unless includeHidden. An unreadable folder lists nothing and sets *ok to false.
QStringList list(const QString &folder, const WildcardFilter &filter, EntryKind kind, bool *ok = nullptr);
QStringList listNames(const QString &folder, EntryKind kind, bool includeHidden = false);

// The entry of folder whose name equals name ignoring case; the exact spelling wins.
std::optional<QString> findNameIgnoringCase(const QString &folder, const QString &name);
// The path of the file (or link to one) in folder named name ignoring case; empty when none.
QString findFileIgnoringCase(const QString &folder, const QString &name);

// Whether the folder holds a folder (or a link to one) that listNames would list; stops at the
// first one found.
bool hasSubfolder(const QString &folder);

// Why the folder cannot be opened for listing ("No such file or directory"); empty when it can.
QString whyFolderCannotOpen(const QString &folder);

bool exists(const QString &path);      // any entry, a dangling link included
bool isDirectory(const QString &path); // follows links
bool isFile(const QString &path);      // follows links
std::optional<qint64> fileSize(const QString &path);

// Makes the entry writable again (the original "normal attributes").
bool resetAttributes(const QString &path);
bool removeFile(const QString &path);
// Never replaces an existing entry.
bool rename(const QString &from, const QString &to);
bool makeDirectory(const QString &path);
bool makePath(const QString &path);

// Free bytes for an unprivileged writer on the file system that holds path.
std::optional<qint64> freeBytes(const QString &path);

// The text of the last failing call of this thread, for messages.
QString lastError();

} // namespace zelv::hostfs
