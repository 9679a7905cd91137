// DOS path text: the program's own way of naming files ("c:\Zelv001\setup.exe").
// Pure string work; nothing here touches the disk.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace zelv::dospath {

// The drive letter of "X:..." in lower case, or nothing when the text names no drive.
std::optional<QChar> driveLetter(QStringView path);

// The components below the drive root, with "." dropped and ".." applied; ".." never climbs
// above the root, as on the original platform. Both "\" and "/" separate. Nothing for a path
// without a drive.
std::optional<QStringList> components(QStringView path);

// "X:\a\b" with the components as given; the letter keeps its case. Nothing without a drive.
std::optional<QString> normalize(QStringView path);

// True for "c:", "c:\", "C:\.", "c:\sub\.." and the like.
bool isDriveRoot(QStringView path);

// A folder and a name joined with one backslash: "C:\" + "x" gives "C:\x", "c:" + "x" gives
// "c:\x", "c:\dir" + "x" gives "c:\dir\x".
QString join(QStringView folder, QStringView name);

// The folder of a path with its trailing backslash cut, except for a root ("c:\"); the name is
// the part after the last backslash.
QString folderOf(QStringView path);
QString nameOf(QStringView path);

} // namespace zelv::dospath
