// A RAR, ARJ or ACE archive as the files of one folder that make it: opened from any of its
// volumes, it gives the volumes in order (or names the one that is missing), the members with
// their sizes, CRCs and the parts of their data in each volume, and extracts itself into a
// folder. Every format reads its own headers; where its data needs a tool, the format runs it.
#pragma once

#include "archivekind.h"
#include "platform/error.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace zelv {

// A piece of a member's packed data in one volume.
struct MemberPart {
    int volume = 0;      // index into the set's volumes
    qint64 offset = 0;   // where the piece starts in that volume
    qint64 size = 0;     // its bytes there
    bool stored = false; // the member's own bytes, not packed
    // The CRC-32 of this piece's bytes, where the format keeps one for each piece.
    std::optional<quint32> crc;
    // crc is of the bytes as they lie in the volume even when packed (RAR keeps it so).
    bool crcOfPackedBytes = false;
};

// One member of a set as its headers or its tool's listing give it.
struct SetMember {
    QString name; // as stored, "/" or "\" between its parts
    qint64 size = 0;
    std::optional<quint32> crc; // CRC-32 of the data, when the listing gives one
    bool directory = false;
    bool link = false; // a link that is never made (a hard link, one whose target is unknown)
    bool special = false;
    // A symbolic link, made when its target stays inside the destination; size and crc are
    // those of its target text where the format stores that as data.
    bool symlink = false;
    QString linkTarget; // as stored, "/" or "\" between its parts
    // A hard link or a file copy of an earlier file member: made as a copy of that member's
    // file; size and crc are that file's.
    QString copyOf;
    // The member copyOf names, by its place in the set's members: the last file of that name
    // before the copy (a later one of the same name is another file); -1 when there is none.
    int copyOfMember = -1;
    bool encrypted = false;
    QList<MemberPart> parts;
    quint64 dictionary = 0; // the window its packed data needs, where the headers tell it
    // The permission bits (rwx for user, group and other) of a member from a Unix host.
    std::optional<quint16> unixMode;
    QDateTime modified; // when the headers give it
};

// Bytes the files of the set take unpacked.
qint64 unpackedSize(const QList<SetMember> &members);

// The CRC-32 of what fd reads from where it stands to its end; nothing when it cannot be read.
std::optional<quint32> crcOfOpenFile(int fd);
// The CRC-32 of a file, read through a link only when asked; else why it cannot be read.
enum class Links { NotFollowed, Followed };
Result<quint32> crcOfFile(const QString &hostPath, Links links = Links::NotFollowed);

// Where a set is extracted: a folder that only this extraction writes. A tool writes below
// path(); the program's own readers make files through createFile(), which never follows a
// link.
class ExtractionFolder {
public:
    virtual ~ExtractionFolder() = default;
    virtual QString path() const = 0;
    // The folder held open, for a tool that writes by path to run in; -1 when it is reached by
    // path alone.
    virtual int descriptor() const { return -1; }
    // The file of a member, made with its folders and emptied: a descriptor open for writing.
    virtual Result<int> createFile(const QString &member) const = 0;
    virtual Result<void> makeFolder(const QString &member) const = 0;
    // A symbolic link, made once every file is in place; never through a link.
    virtual Result<void> makeLink(const QString &member, const QString &target) const = 0;
    // The file of member made as a copy of the file of member from, read without following a link.
    virtual Result<void> copyFile(const QString &member, const QString &from) const = 0;
    // What a tool wrote under the bytes of a name as the archive holds it ('/' between folders)
    // moved to member's place; a folder is merged into one already there. The folders of the
    // written name that are left empty go.
    virtual Result<void> moveWritten(const QByteArray &written, const QString &member) const = 0;
    // A file this program wrote whole through createFile(), with the CRC of the bytes it wrote:
    // its check need not read it again while it stays as it was written.
    virtual void wroteFile(const QString &member, int fd, quint32 crc) const
    {
        Q_UNUSED(member)
        Q_UNUSED(fd)
        Q_UNUSED(crc)
    }
    // Everything below path() removed, links removed and never followed: what a tool that
    // failed part way left, before another reader starts over.
    virtual Result<void> clear() const = 0;
};

// Whether a symbolic link at member's place pointing at target stays inside the folder it is
// extracted into, passing through none of the set's other links (links holds their places).
bool linkStaysInside(const QString &member, const QString &target, const QSet<QString> &links);

struct ExtractionRun {
    const ExtractionFolder &folder;
    // Called now and then while the work goes on; false stops it.
    std::function<bool()> tick;
    // The archive as the person named it ("c:\Zelv001\prog.rar"), for messages.
    QString shownName;
    // The members to extract, by their place in members(); all of them when empty.
    QList<int> only = {};
};

struct Extracted {
    bool toolReportedCrcError = false; // the tool's own words mention a CRC
};

class ArchiveSet {
public:
    virtual ~ArchiveSet() = default;

    // Host paths, first volume first.
    const QStringList &volumes() const { return m_volumes; }
    // Host path of the first volume that is not there; empty when none is missing.
    const QString &missingVolume() const { return m_missingVolume; }
    // A volume that is not of the format or whose headers are damaged, in the format's words.
    const std::optional<Error> &damage() const { return m_damage; }
    const QList<SetMember> &members() const { return m_members; }

    // Reads the members where the volumes' own headers do not list them (a tool's listing).
    virtual Result<void> readMembers() { return {}; }

    // Why a member may not be extracted: encrypted, a device, a link reaching outside, a name
    // that would leave the destination or pass through a link; a format adds what its engine
    // cannot do. What it needs of the other members is worked out once for the set.
    virtual std::optional<Error> refusal(const SetMember &member) const;
    // Why the set as a whole may not be extracted: what its reading would take beyond the
    // budget, told before anything runs.
    virtual std::optional<Error> setRefusal() const { return std::nullopt; }
    // The set's refusal, else the first member's, in the members' order.
    std::optional<Error> firstRefusal() const;

    // Whether destination already holds the whole set, for a format whose install extracts it
    // once for each volume given: the first run extracts, the later ones only check.
    virtual bool alreadyIn(const QString &destination, const QString &givenVolume) const;

    // The set, or the members run.only names, into run.folder, nothing checked yet; the caller
    // checks every file.
    virtual Result<Extracted> extract(const ExtractionRun &run) const = 0;

    // The name of the volume holding damage in a member, told by the CRCs of its pieces or of
    // its whole (stored) data; empty when none can be told. When a CRC error in packed data is
    // known (crcErrorKnown) and the pieces that keep a CRC are whole, the last piece holds it.
    QString damagedVolume(const QString &member, bool crcErrorKnown = false) const;

protected:
    // The first member of that name.
    const SetMember *member(const QString &name) const;
    // For a format that lists its members again: what was worked out from them is forgotten.
    void membersChanged() { m_index.reset(); }

    QStringList m_volumes;
    QString m_missingVolume;
    std::optional<Error> m_damage;
    QList<SetMember> m_members;

private:
    // The members looked up by name and the places of the links, made at the first question.
    struct MemberIndex {
        QHash<QString, int> firstByName;
        QSet<QString> linkPlaces;
    };
    const MemberIndex &index() const;
    mutable std::optional<MemberIndex> m_index;
};

// The set that the file at hostPath belongs to, whichever of its volumes that is.
std::unique_ptr<ArchiveSet> openArchiveSet(ArchiveKind kind, const QString &hostPath);

// A tool that extracts a set, run with its input closed, in a process group of its own, and
// stopped after a minute and a second for every 5 MB of the set.
struct ToolExtraction {
    QString tool;
    QStringList arguments;
    // Run in the extraction folder, held open where it can be: the tool is given relative paths.
    bool runInFolder = false;
    qint64 unpackedBytes = 0;
};
Result<Extracted> extractWithTool(const ToolExtraction &call, const ExtractionRun &run);

} // namespace zelv
