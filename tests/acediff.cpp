// The ACE decoder against an independent one (acefile, a pure-Python reader kept in the shared
// folder's tools): streams of the tests' writer that enter every mode, random and mutated,
// wrapped as archives, go through both. Each must give the same bytes from both or be refused
// by both. Runs for ZELV_ACEDIFF_SECONDS (a few by default; ZELV_ACEDIFF_SEED varies the
// streams); prints one line of figures; a difference fails it, with the streams kept in
// ZELV_ACEDIFF_KEEP if set. Without acefile or python3 it skips (exit code 77).
#include "archive/ace/acereader.h"
#include "support/aceblockwriter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <zlib.h>

#include <cstdio>
#include <map>

using namespace zelv;
using W = test::AceBlockWriter;

namespace {

// Reads every member of the archives given with acefile: "ok SIZE SHA1" or "fail SIZE SHA1
// ERROR WHERE WHY" a line; a failed member's bytes go into the folder given first, as INDEX.bin.
const char kDriver[] = R"(import hashlib, sys
sys.path.insert(0, sys.argv[1])
import acefile
for path in sys.argv[3:]:
    with acefile.open(path) as archive:
        for index, member in enumerate(archive.getmembers()):
            data = bytearray()
            try:
                for block in archive.readblocks(member):
                    data += block
                print('ok', len(data), hashlib.sha1(data).hexdigest(), flush=True)
            except Exception as e:
                with open('%s/%d.bin' % (sys.argv[2], index), 'wb') as f:
                    f.write(data)
                where = e.__traceback__
                while where.tb_next:
                    where = where.tb_next
                print('fail', len(data), hashlib.sha1(data).hexdigest(), type(e).__name__,
                      where.tb_frame.f_code.co_name, str(e).replace(' ', '_')[:60], flush=True)
)";

// What the streams went through; "cut": a block that sound or picture data cut in two.
enum Mode { Lz77, Matches, Repeats, Ace10, Exe, Delta, Sound8, Sound16, Sound32, Picture, Cut, Mutated, ModeCount };
const char *const kModeNames[ModeCount] = {"lz77",   "matches", "repeats", "ace1.0",  "exe", "delta",
                                           "sound8", "sound16", "sound32", "picture", "cut", "mutated"};

struct Stream {
    QByteArray packed;
    int method = 2;
    qint64 size = 0;
    std::array<bool, ModeCount> modes{};
    QString recipe; // how it was made, for a report
};

class Generator {
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    Stream make()
    {
        Stream s;
        s.method = m_rng.bounded(6) == 0 ? 1 : 2;
        W w(s.method == 1);
        m_produced = 0;
        const int segments = 1 + int(m_rng.bounded(s.method == 1 ? 3 : 6));
        int kind = W::Plain;
        for (int i = 0; i < segments; ++i) {
            int next = s.method == 1 ? W::Plain : int(m_rng.bounded(8));
            if (i == segments - 1 && next >= W::Sound8)
                next = W::Plain; // sound and picture end the member only where their size fits
            if (next != kind || next == W::Delta || next == W::Exe) {
                if (i > 0 || next != W::Plain)
                    change(w, next, s);
                kind = next;
            }
            segment(w, kind, s);
            if (kind >= W::Sound8) {
                s.recipe += QStringLiteral(" >0");
                kind = W::Plain;
                if (m_cut) { // the rest of the block that the change to sound or picture cut
                    soup(w, 1 + int(m_rng.bounded(300)), s);
                    w.endBlock();
                    s.modes[Cut] = true;
                }
                segment(w, kind, s);
            }
        }
        s.modes[Lz77] = true;
        s.modes[Ace10] = s.method == 1;
        s.packed = w.finish();
        s.size = m_produced;
        return s;
    }

    // A copy of the stream with a few bits changed, bytes replaced or its end cut off.
    Stream mutate(Stream s)
    {
        const int kinds = int(m_rng.bounded(3));
        if (s.packed.isEmpty())
            return s;
        for (int k = 0, n = 1 + int(m_rng.bounded(4)); k < n; ++k) {
            const int at = int(m_rng.bounded(s.packed.size()));
            if (kinds == 0)
                s.packed[at] = char(s.packed[at] ^ char(1 << m_rng.bounded(8)));
            else
                s.packed[at] = char(m_rng.bounded(256));
        }
        if (kinds == 2 && m_rng.bounded(2))
            s.packed.truncate(int(m_rng.bounded(s.packed.size())));
        s.modes[Mutated] = true;
        s.recipe += QStringLiteral(" mutated");
        return s;
    }

private:
    int delta = 1;
    int deltaLength = 1;
    bool m_cut = false;

    void change(W &w, int kind, Stream &s)
    {
        W::Change c;
        c.mode = kind;
        if (kind == W::Delta) {
            delta = 1 + int(m_rng.bounded(m_rng.bounded(2) ? 8 : 255));
            deltaLength = delta * (1 + int(m_rng.bounded(std::max(1, 3000 / delta))));
            c.deltaDistance = delta;
            c.deltaLength = deltaLength;
        } else if (kind == W::Exe) {
            c.exeMode = int(m_rng.bounded(2));
        }
        s.recipe += QStringLiteral(" >%1").arg(kind);
        // Half the changes leave their block open: LZ77 symbols follow in it, which for sound
        // and picture are used only when LZ77 comes back after their data.
        m_cut = m_rng.bounded(2) == 0;
        w.change(c, !m_cut);
    }

    QByteArray data(int size, bool exe)
    {
        QByteArray out;
        const int style = int(m_rng.bounded(4));
        while (out.size() < size) {
            const int r = int(m_rng.bounded(100));
            if (exe && r < 15) {
                out += char(0xE8 + m_rng.bounded(2));
            } else if (style == 0 || r < 10) {
                out += char(m_rng.bounded(256));
            } else if (style == 1 && out.size() > 8) {
                const int from = int(m_rng.bounded(out.size() - 4));
                out += out.mid(from, 2 + int(m_rng.bounded(40)));
            } else {
                out += "ab" + QByteArray::number(m_rng.bounded(style == 3 ? 20 : 300)) + ' ';
            }
        }
        out.truncate(size);
        return out;
    }

    // LZ77 symbols of every kind at random, all within what was made so far.
    void soup(W &w, int size, Stream &s)
    {
        for (int have = 0; have < size;) {
            const int r = int(m_rng.bounded(10));
            const int left = size - have;
            if (r < 4 || m_produced + have < 2) {
                w.literal(uchar(m_rng.bounded(256)));
                ++have;
                continue;
            }
            if (r < 7) {
                const int which = int(m_rng.bounded(4));
                const quint32 distance = w.latest(which);
                const int least = W::repeatMinLength(which);
                if (distance <= quint32(m_produced + have) && left >= least) {
                    const int length = least + int(m_rng.bounded(quint32(std::min(255, left - least + 1))));
                    w.repeat(which, length);
                    have += length;
                    s.modes[Repeats] = true;
                    continue;
                }
            }
            const qint64 reach = m_produced + have;
            const quint32 distance =
                1 + quint32(m_rng.bounded(quint32(std::min<qint64>(reach, m_rng.bounded(2) ? 300 : 1 << 22))));
            const int least = W::minLength(distance);
            if (left < least) {
                w.literal(uchar(m_rng.bounded(256)));
                ++have;
                continue;
            }
            const int length = least + int(m_rng.bounded(quint32(std::min(255, left - least + 1))));
            w.match(distance, length);
            have += length;
            s.modes[Matches] = true;
        }
        m_produced += size;
    }

    void lz(W &w, int size, bool exe, Stream &s)
    {
        if (m_rng.bounded(2)) {
            soup(w, size, s);
        } else {
            w.pack(data(size, exe), 1 << 16, 50 + int(m_rng.bounded(2000)));
            m_produced += size;
            s.modes[Matches] = true;
            s.modes[Repeats] = true; // packed text and records repeat their distances
        }
    }

    void segment(W &w, int kind, Stream &s)
    {
        switch (kind) {
        case W::Plain:
            lz(w, 1 + int(m_rng.bounded(3000)), false, s);
            break;
        case W::Exe:
            lz(w, 1 + int(m_rng.bounded(3000)), true, s);
            s.modes[Exe] = true;
            break;
        case W::Delta: {
            const int rounds = 1 + int(m_rng.bounded(3));
            for (int r = 0; r < rounds; ++r) {
                if (r > 0)
                    change(w, W::Delta, s);
                lz(w, deltaLength, false, s);
            }
            s.modes[Delta] = true;
            break;
        }
        case W::Picture: {
            const int width = 1 + int(m_rng.bounded(m_rng.bounded(2) ? 16 : 300));
            const int planes = 1 + int(m_rng.bounded(quint32(std::min(width, 5))));
            const int lines = 1 + int(m_rng.bounded(quint32(std::max(1, 4000 / width))));
            const int spread = 1 + int(m_rng.bounded(m_rng.bounded(4) ? 10 : 256));
            QList<int> errors;
            for (int i = 0; i < width * lines; ++i)
                errors << int(m_rng.bounded(2 * spread + 1)) - spread;
            QList<int> predictors;
            for (int i = 0; i < 5; ++i)
                predictors << int(m_rng.bounded(3));
            m_produced += w.picture(width, planes, errors, predictors, {W::Plain}).size();
            s.modes[Picture] = true;
            break;
        }
        default: { // sound
            QList<int> codes;
            const int n = 1 + int(m_rng.bounded(3000));
            const int spread = m_rng.bounded(3) ? 80 : 288;
            for (int i = 0; i < n; ++i)
                codes << (m_rng.bounded(8) == 0 ? int(m_rng.bounded(32)) : 32 + int(m_rng.bounded(spread)) % 256);
            m_produced += w.sound(kind, codes, {W::Plain}, 100 + int(m_rng.bounded(32000)));
            s.modes[kind == W::Sound8 ? Sound8 : kind == W::Sound16 ? Sound16 : Sound32] = true;
            break;
        }
        }
    }

    QRandomGenerator m_rng;
    qint64 m_produced = 0;
};

struct Ours {
    bool ok = false;
    QByteArray bytes;
};

Ours decode(const Stream &s)
{
    Ours o;
    qsizetype at = 0;
    AceDecoder decoder;
    const auto done = decoder.unpack(
        s.method, 0x0C, s.size,
        [&](char *buffer, qsizetype n) {
            const qsizetype take = std::min(n, s.packed.size() - at);
            memcpy(buffer, s.packed.constData() + at, size_t(take));
            at += take;
            return take;
        },
        [&](const char *p, qsizetype n) {
            o.bytes.append(p, n);
            return true;
        });
    o.ok = bool(done);
    return o;
}

quint32 crcOf(const QByteArray &b)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
}

// Two faults of acefile's, told apart from a difference: its exe filter indexes past the end
// of its output chunk when a CALL or JMP opcode lies in the chunk's last four bytes (a Python
// IndexError, 0), and it holds such an opcode's tail back until after the next chunk even when
// that chunk is sound, picture or delta output, which moves those bytes behind it, where its
// filter may patch them again (1); and at
// the member's end, or behind a delta stretch that ends it, it waits for bytes that never come
// (an AssertionError or an EOFError, 2). Ours made the bytes in order; -1 for anything else.
int acefileFault(const QList<QByteArray> &answer, const QByteArray &ours, const QString &theirsFile)
{
    if (answer.value(3) == "IndexError" && answer.value(4) == "decompress_blocked")
        return 0;
    QFile f(theirsFile);
    if (answer.value(0) != "fail" || !f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray theirs = f.readAll();
    const qsizetype cut = theirs.size();
    if (answer.value(3) == "AssertionError" && answer.value(4) == "read" && ours.startsWith(theirs) &&
        ours.size() > cut && ours.size() - cut <= 4 && (uchar(ours[cut]) == 0xE8 || uchar(ours[cut]) == 0xE9))
        return 2;
    // Held back behind a delta stretch that ends the member, the opcode's bytes never come:
    // acefile reads past the data for them.
    if (answer.value(3) == "EOFError" && cut < ours.size() && ours.size() - cut <= 4) {
        qsizetype first = 0;
        while (first < cut && ours[first] == theirs[first])
            ++first;
        const qsizetype moved = ours.size() - cut;
        if (first < cut && (uchar(ours[first]) & 0xFE) == 0xE8 && theirs.mid(first) == ours.mid(first + moved))
            return 2;
    }
    if (theirs.size() != ours.size())
        return -1;
    qsizetype first = 0;
    while (first < ours.size() && ours[first] == theirs[first])
        ++first;
    const uchar op = first < ours.size() ? uchar(ours[first]) : 0;
    if (first == ours.size() || (op != 0xE8 && op != 0xE9))
        return -1;
    for (qsizetype moved = 1; moved <= 4; ++moved) {
        // ours: A T B C, theirs: A B T C, where T is the held back tail.
        const QByteArray tail = ours.mid(first, moved);
        for (qsizetype at = first + 1; at + moved <= theirs.size(); ++at) {
            if (theirs.mid(at, moved) != tail)
                continue;
            // Where acefile moved it, its filter may have patched the operand after it anew.
            if (theirs.mid(first, at - first) == ours.mid(first + moved, at - first) &&
                theirs.mid(at + moved + 4) == ours.mid(at + moved + 4))
                return 1;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString acefile = test::sharedFolder() + QStringLiteral("/tools/acefile");
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (!QFileInfo::exists(acefile + QStringLiteral("/acefile.py")) || python.isEmpty()) {
        std::printf("acediff: skipped: needs python3 and %s/acefile.py\n", qPrintable(acefile));
        return 77;
    }
    const double seconds = qEnvironmentVariableIsSet("ZELV_ACEDIFF_SECONDS")
                               ? qEnvironmentVariable("ZELV_ACEDIFF_SECONDS").toDouble()
                               : 3.0;
    const quint32 seed = quint32(qEnvironmentVariableIntValue("ZELV_ACEDIFF_SEED"));
    const QString keep = qEnvironmentVariable("ZELV_ACEDIFF_KEEP");
    QTemporaryDir dir;
    QFile driver(dir.filePath(QStringLiteral("driver.py")));
    if (!driver.open(QIODevice::WriteOnly) || driver.write(kDriver) < 0)
        return 2;
    driver.close();

    Generator gen(seed * 7919 + 1);
    std::array<qint64, ModeCount> perMode{};
    qint64 compared = 0, bothRefused = 0, differences = 0;
    std::array<qint64, 3> acefileFaults{};
    QElapsedTimer clock;
    clock.start();
    for (int batch = 0; batch == 0 || clock.elapsed() < seconds * 1000; ++batch) {
        // A batch: streams and mutated copies, one archive per method (ACE 1.0 and 2.0 members
        // in one archive would do as well; two keep each archive's version honest).
        QList<Stream> streams;
        for (int i = 0; i < 24; ++i) {
            Stream s = gen.make();
            streams << s;
            if (i % 2 == 0)
                streams << gen.mutate(s);
        }
        QList<Ours> ours;
        QList<test::AceArchiveMember> members;
        for (int i = 0; i < streams.size(); ++i) {
            const Stream &s = streams[i];
            ours << decode(s);
            test::AceArchiveMember m;
            m.name = "s" + QByteArray::number(i);
            m.packed = s.packed;
            m.method = s.method;
            m.size = s.size;
            // Our CRC where ours made the bytes: acefile then has to make the same ones.
            m.crc = crcOf(ours.last().bytes) ^ (ours.last().ok ? 0u : 1u);
            members << m;
        }
        const auto written = test::writeAceArchive(dir.path(), QStringLiteral("batch"), members, false);
        if (!written)
            return 2;
        // Our verdict is the reader's, on the archive as acefile gets it.
        const AceSet set = readAceSet(written->first());
        if (set.members.size() != streams.size())
            return 2;
        AceReader reader(set);
        for (int i = 0; i < streams.size(); ++i) {
            ours[i].bytes.clear();
            ours[i].ok = bool(reader.unpack(i, [&](const char *p, qsizetype n) {
                ours[i].bytes.append(p, n);
                return true;
            }));
        }
        QProcess py;
        py.start(python, {driver.fileName(), acefile, dir.path(), written->first()});
        py.waitForFinished(-1);
        const QList<QByteArray> lines = py.readAllStandardOutput().trimmed().split('\n');
        if (lines.size() != streams.size()) {
            std::printf("acediff: acefile answered %d lines for %d streams: %s\n", int(lines.size()),
                        int(streams.size()), py.readAllStandardError().constData());
            return 1;
        }
        for (int i = 0; i < streams.size(); ++i) {
            const QList<QByteArray> f = lines[i].split(' ');
            const bool theirsOk = f.value(0) == "ok";
            const QByteArray theirSha = f.value(2);
            const QByteArray ourSha = QCryptographicHash::hash(ours[i].bytes, QCryptographicHash::Sha1).toHex();
            const bool agree = theirsOk == ours[i].ok && (!theirsOk || theirSha == ourSha);
            ++compared;
            bothRefused += !theirsOk && !ours[i].ok;
            for (int m = 0; m < ModeCount; ++m)
                perMode[size_t(m)] += streams[i].modes[size_t(m)];
            if (agree &&
                !(qEnvironmentVariableIsSet("ZELV_ACEDIFF_DEBUG") && !ours[i].ok && !streams[i].modes[Mutated]))
                continue;
            if (!agree && ours[i].ok) {
                const int fault = acefileFault(f, ours[i].bytes, dir.filePath(QStringLiteral("%1.bin").arg(i)));
                if (fault >= 0) {
                    ++acefileFaults[size_t(fault)];
                    continue;
                }
            }
            ++differences;
            if (differences <= 5 || qEnvironmentVariableIsSet("ZELV_ACEDIFF_DEBUG"))
                std::printf("acediff: difference: method %d, size %lld, modes%s: ours %s (%lld bytes), acefile %s\n",
                            streams[i].method, streams[i].size, qPrintable(streams[i].recipe),
                            ours[i].ok ? "ok" : "refused", qint64(ours[i].bytes.size()), lines[i].constData());
            if (!keep.isEmpty()) {
                QDir().mkpath(keep);
                test::AceArchiveMember m = members[i];
                test::writeAceArchive(keep, QStringLiteral("diff%1").arg(differences), {m}, false);
                QFile o(QDir(keep).filePath(QStringLiteral("diff%1.ours").arg(differences)));
                if (o.open(QIODevice::WriteOnly))
                    o.write(ours[i].bytes);
            }
        }
    }
    QString modes;
    for (int m = 0; m < ModeCount; ++m)
        modes += QStringLiteral(" %1 %2").arg(QLatin1String(kModeNames[m])).arg(perMode[size_t(m)]);
    std::printf(
        "acediff: %lld streams compared (%lld refused by both);%s; %lld differences; acefile faults: %lld "
        "exe filter past its chunk, %lld exe bytes moved behind another mode, %lld opcode held back to the end\n",
        compared, bothRefused, qPrintable(modes), differences, acefileFaults[0], acefileFaults[1], acefileFaults[2]);
    for (int m = 0; m < ModeCount; ++m)
        if (perMode[size_t(m)] == 0) {
            std::printf("acediff: no stream entered %s\n", kModeNames[m]);
            return 1;
        }
    return differences == 0 ? 0 : 1;
}
