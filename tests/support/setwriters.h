// RAR and ACE archives and volume sets, written byte by byte for test fixtures: no free tool
// here writes either format. Members are stored, except RAR 5 members asked to be packed, which
// are packed in RAR 5's own format (optionally solid); a member's data, packed or not, is split
// across volumes where a volume fills up.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace zelv::test {

struct SetMember {
    QByteArray name; // '/' between folders; see raw
    QByteArray data;
    // RAR 4 and ACE keep it as DOS time: local, in two-second steps.
    QDateTime mtime = QDateTime(QDate(2024, 3, 9), QTime(10, 20, 30));
    bool directory = false; // a folder entry; data is ignored
    // The name goes into the header exactly as given: no separator conversion, no trailing
    // '/' dropped. For hostile names such as "..\\x", "../x", "/abs" or "C:\\x".
    bool raw = false;
    // Marked as encrypted (RAR 4 and ACE); the data is stored as it is.
    bool encrypted = false;
    // A link (RAR only): RAR 4 stores a symbolic link from a Unix host with its target as the
    // data; RAR 5 keeps the target in a redirection record, of the kind given.
    enum class Link { None, Symbolic, HardLink, FileCopy };
    Link link = Link::None;
    QByteArray target;
    // A DOS date and time of 0, as many archives made on DOS have (RAR 4).
    bool zeroDosTime = false;
    // RAR 5: a folder's header without a data area, which unar reads and libarchive refuses.
    bool bareFolder = false;
    // RAR 5: the packing method, 0 (stored) to 5; any other is packed the same way.
    int method = 0;
    // RAR: a file from a Unix host with this mode (permission bits and all) as its attributes.
    std::optional<quint32> unixMode;

    static SetMember file(const QByteArray &name, const QByteArray &data)
    {
        SetMember m;
        m.name = name;
        m.data = data;
        return m;
    }
    static SetMember packed(const QByteArray &name, const QByteArray &data, int method = 3)
    {
        SetMember m = file(name, data);
        m.method = method;
        return m;
    }
    static SetMember folder(const QByteArray &name)
    {
        SetMember m;
        m.name = name;
        m.directory = true;
        return m;
    }
    static SetMember symlink(const QByteArray &name, const QByteArray &target, Link kind = Link::Symbolic)
    {
        SetMember m;
        m.name = name;
        m.link = kind;
        m.target = target;
        return m;
    }
    static SetMember rawFile(const QByteArray &name, const QByteArray &data)
    {
        SetMember m = file(name, data);
        m.raw = true;
        return m;
    }
};

enum class RarFormat {
    Rar4, // the 1.5 to 4.x format: names with '\' (host Win32)
    Rar5, // names with '/'
};

enum class VolumeNaming {
    Old, // prog.rar, prog.r00, prog.r01, ...
    New, // prog.part1.rar, prog.part2.rar, ... (partDigits wide: part01, ...)
};

// How RAR 5 members asked to be packed are packed.
struct RarPacking {
    // The window, 128 KiB << n: matches reach back at most this far. unar misreads windows
    // of 128 and 256 KiB whose matches reach near their end (it says "Wrong checksum");
    // libarchive refuses windows over 64 MiB.
    int dictionaryShift = 5; // 4 MiB
    // The window goes on from one packed member to the next; the main header says so. unar
    // starts the window over at a folder or stored member: put those before the packed ones.
    bool solid = false;
    // How many bytes of input go into one block, each with its own tables (at most 32 KiB).
    int blockInput = 1 << 15;
    // The algorithm version the headers give: 0 for RAR 5.0, 1 for RAR 7.0, whose headers keep
    // the shift in five bits and add fraction 32nds of the window to it.
    int algorithmVersion = 0;
    int dictionaryFraction = 0;
};

// Writes the members into folder (made if missing) as baseName.rar when volumeSize is 0, else
// as a volume set whose files are each at most volumeSize bytes (a set of one volume when
// everything fits). Returns the volume paths in order, or nullopt with a message.
std::optional<QStringList> writeRarSet(const QString &folder, const QString &baseName, RarFormat format,
                                       VolumeNaming naming, const QList<SetMember> &members, qint64 volumeSize,
                                       QString *error = nullptr, int partDigits = 1, const RarPacking &packing = {});

// RAR 5's packed form of data, in blocks; with a window, it goes on from the data before.
class Rar5Packer {
public:
    explicit Rar5Packer(const RarPacking &packing);
    ~Rar5Packer();
    // The packed bytes of data, whose matches may reach into the data packed before when solid.
    QByteArray pack(const QByteArray &data);
    // Where each block's head lies in the data last packed: its offset and length.
    QList<QPair<qint64, qint64>> blockHeads() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// ACE 1.0 the same way: baseName.ace, then baseName.c00, .c01, ... Names are stored with '\'
// (host Win32). versionNeeded goes into the main header as the version needed to extract
// (20 marks the archive as ACE 2.0, which the 2.0 format flag says too).
std::optional<QStringList> writeAceSet(const QString &folder, const QString &baseName, const QList<SetMember> &members,
                                       qint64 volumeSize, int versionNeeded = 10, QString *error = nullptr);

// Data for a member that repeats nowhere near, different for every seed.
QByteArray patternBytes(int size, int seed);

// The ACE checksum: CRC-32's table and start value without the final inversion. Header
// checksums are its low 16 bits.
quint32 aceCrc32(const QByteArray &bytes);

} // namespace zelv::test
