// What the Contents window shows: the members of the selected zip archives or of the selected
// volume set, read without extracting anything, with their totals and the room on the
// temporary drive.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace zelv {

struct ContentsEntry {
    QString archive; // the zip archive or the set's first volume it is in
    QString name;    // "\" between its parts, whichever the archive keeps
    bool folder = false;
    qint64 size = 0;
    qint64 packed = 0;
    QDateTime time; // invalid where the reader gives none
    QString method;
    QString volumes; // for a set: the volumes its pieces lie in ("prog.r00, prog.r01")
};

struct ArchiveContents {
    QString title; // "c:\dl\disk1.zip, disk2.zip" or the set's first volume
    QList<ContentsEntry> entries;
    qint64 size = 0;   // of the files
    qint64 packed = 0; // of the files
    int files = 0;
    QString tempDrive;              // "c"
    std::optional<qint64> freeRoom; // on the temporary drive; nothing when it cannot say
    QStringList problems;           // archives that could not be read, one line each
};

} // namespace zelv
