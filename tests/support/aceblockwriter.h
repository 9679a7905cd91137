// Packed ACE data written the way the archiver lays it out, for the tests: ACE 1.0 LZ77 and
// ACE 2.0 blocked data with literals, matches, repeated distances and mode changes (the exe and
// delta filters, sound and picture), each block with Huffman tables made from its own symbol
// counts. Members go into archives, solid or not, in one file or in volumes.
#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace zelv::test {

class AceBlockWriter {
public:
    // The mode kinds of ACE 2.0 as the mode-change symbol names them.
    enum Kind { Plain = 0, Delta = 1, Exe = 2, Sound8 = 3, Sound16 = 4, Sound32A = 5, Sound32B = 6, Picture = 7 };

    // A mode change: the kind, with the delta filter's distance and length or the exe mode.
    struct Change {
        int mode = -1; // -1: none
        int deltaDistance = 0;
        int deltaLength = 0;
        int exeMode = 0;
    };

    // ACE 1.0 data knows no mode changes.
    explicit AceBlockWriter(bool ace10 = false) : m_ace10(ace10) {}

    // LZ77 symbols, gathered into the current block. A distance counts back from the next
    // byte (1 is the byte before); a repeat takes the which-th latest distance (0 the latest).
    void literal(uchar c);
    void match(quint32 distance, int length);
    void repeat(int which, int length);
    // The shortest and longest match the format can say at a distance.
    static int minLength(quint32 distance);
    static int maxLength(quint32 distance) { return minLength(distance) + 254; }
    // The which-th latest distance, as repeat() would take it.
    quint32 latest(int which) const { return m_history[size_t(3 - which)] + 1; }
    static int repeatMinLength(int which) { return which > 1 ? 3 : 2; }
    // A mode change, which ends the block it is in unless told otherwise. Sound or picture
    // data written next go right after the change; LZ77 symbols written after that continue
    // the block, read when LZ77 comes back.
    void change(const Change &to, bool endsBlock = true);
    // Ends the current block (its tables, its count, its symbols).
    void endBlock();

    // Packs data as LZ77 with a greedy search of the last window bytes: matches, repeats
    // of the four latest distances and literals; blocks end every blockSymbols symbols. Only
    // the bytes from `from` on are written: those before are what the dictionary holds already.
    void pack(const QByteArray &data, int window = 1 << 16, int blockSymbols = 32767, qsizetype from = 0);

    // Sound: codes as the sound decoder reads them, each into the model the decoder reads it
    // with (the writer follows its run and adaptation states); the stretch ends with after, if
    // any. The bytes these codes make come back; a code over 287 is taken modulo 288.
    qint64 sound(int kind, const QList<int> &codes, const Change &after, int blockSymbols = 32767);

    // Picture: lines of width bytes in planes, from the prediction errors given (one per byte,
    // each -255..255); the predictor of each further plane of a line from predictors (0..2,
    // cycled). Ends with after, if any. The bytes the decoder makes come back. Only after a
    // change from another kind, as the width and planes go first.
    QByteArray picture(int width, int planes, const QList<int> &errors, const QList<int> &predictors,
                       const Change &after);

    // Bits as they are, e.g. noise in the middle of a stream.
    void raw(quint32 value, int width) { put(value, width); }

    // The block of literals of the first tests, then the change if any.
    void block(const QByteArray &literals, Change after);
    void block(const QByteArray &literals);

    QByteArray finish();

    // The forward filters: what the exe filter of the given mode and the delta filter store for
    // data. position is where data starts in the member.
    static QByteArray exeEncode(QByteArray data, int exeMode, qint64 position);
    static QByteArray deltaEncode(const QByteArray &data, int distance, uchar &last);

private:
    struct Symbol {
        quint16 symbol;
        quint16 length; // length symbol, or the model of a sound code
        quint32 extra;  // distance bits
        int extraWidth;
    };
    void put(quint32 value, int width);
    void putMode(const Change &c);
    void enter(const Change &c); // the decoder's state as the change leaves it
    // A table of the given widths, stored as the reader reads it.
    void putTable(const std::vector<quint8> &widths);
    // Code widths for the counts, none above maxWidth; every table has at least two codes.
    static std::vector<quint8> widthsFor(std::vector<quint32> counts, int maxWidth);
    // Each symbol's code; count: how many widths the reader sorts (0: up to the last used).
    static std::vector<quint32> codesFor(int maxWidth, std::vector<quint8> widths, int count = 0);
    void note(quint32 distance);

    bool m_ace10;
    QByteArray m_out;
    quint64 m_word = 0;
    int m_used = 0; // bits of m_word taken, from the top
    std::vector<Symbol> m_block;
    std::vector<Change> m_pendingChanges; // of the current block, in order
    // Bits of other modes inside the current block, each after its mode change (whose
    // extra is its index + 1), and where put() keeps them while they are written.
    std::vector<std::vector<std::pair<quint32, int>>> m_foreign;
    std::vector<std::pair<quint32, int>> *m_capture = nullptr;
    class Capture {
    public:
        explicit Capture(AceBlockWriter *w);
        ~Capture();
        Capture(const Capture &) = delete;
        Capture &operator=(const Capture &) = delete;

    private:
        AceBlockWriter *m_writer;
        bool m_active = false;
    };
    std::array<quint32, 4> m_history{}; // stored distances (one less than counted), latest last
    // Sound channels as the decoder keeps them, across stretches of one member.
    struct Channel {
        int state = 0;
        int code = 0;
        int adaptCount = 0;
        int adaptUse = 0;
    };
    std::array<Channel, 3> m_channels{};
    int m_kind = Plain;
};

// A member of an ACE archive that the tests write: the unpacked data, and how it is packed.
struct AceArchiveMember {
    QByteArray name;
    QByteArray data;   // unpacked, for the size and CRC
    QByteArray packed; // method 0: ignored, data is stored
    int method = 0;
    bool directory = false;
    // The CRC and size may be given apart from data (streams whose output only the decoder
    // knows).
    std::optional<quint32> crc;
    std::optional<qint64> size;
};

// Writes an ACE 2.0 archive (solid if asked) into folder as baseName.ace, or as volumes of at
// most volumeSize bytes (.ace, .c00, .c01, ...). The volume paths, or nullopt.
std::optional<QStringList> writeAceArchive(const QString &folder, const QString &baseName,
                                           const QList<AceArchiveMember> &members, bool solid, qint64 volumeSize = 0);

// One member packed: stored, ACE 1.0 or ACE 2.0 LZ77; in a solid archive, matches may reach
// back into before, the data of the members before it.
AceArchiveMember packedMember(const QByteArray &name, const QByteArray &data, int method,
                              const QByteArray &before = QByteArray());

// The shared folder of test data and tools: ZELV_SHARED_DIR, else ../shared beside the sources.
QString sharedFolder();

} // namespace zelv::test
