// The ACE reader against real archives of every packing (stored, ACE 1.0, ACE 2.0, solid) and
// the original files they hold, and against sets the tests write.
#include "archive/ace/acehuffman.h"
#include "archive/ace/acereader.h"
#include "support/aceblockwriter.h"
#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace zelv;

namespace {

QString sharedAceArchives() { return test::sharedFolder() + QStringLiteral("/testdata/ace"); }

// Text of words from a small vocabulary: many matches, many of them at a repeated distance.
QByteArray wordsText(int size, quint32 seed)
{
    static const char *const kWords[] = {"install", "disk",    "archive", "volume", "the", "of", "setup", "readme",
                                         "\r\n",    "zelvant", "copy",    "file",   "a",   "to", "data",  " "};
    QRandomGenerator rng(seed);
    QByteArray out;
    while (out.size() < size) {
        out += kWords[rng.bounded(16)];
        out += ' ';
    }
    out.truncate(size);
    return out;
}

// Records of a fixed size with a few changing fields: the same distances come again and again.
QByteArray records(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out;
    for (int n = 0; out.size() < size; ++n) {
        QByteArray r(24, '\0');
        r.replace(0, 8, "RECORD::");
        r[8] = char(n);
        r[9] = char(n >> 8);
        r[12] = char(rng.bounded(4));
        r[20] = char(0xE8);
        out += r;
    }
    out.truncate(size);
    return out;
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

// Unpacks packed data of method, asking for size bytes, each piece handed to sink.
Result<void> unpackInto(const QByteArray &packed, int method, qint64 size,
                        const std::function<void(const char *, qsizetype)> &sink)
{
    qsizetype at = 0;
    AceDecoder decoder;
    return decoder.unpack(
        method, 0, size,
        [&](char *buffer, qsizetype n) {
            const qsizetype take = std::min(n, packed.size() - at);
            memcpy(buffer, packed.constData() + at, size_t(take));
            at += take;
            return take;
        },
        [&](const char *p, qsizetype n) {
            sink(p, n);
            return true;
        });
}

// Unpacks packed data of method into exactly size bytes; the fault if any.
Result<QByteArray> unpackStream(const QByteArray &packed, int method, qint64 size)
{
    QByteArray got;
    const auto unpacked = unpackInto(packed, method, size, [&](const char *p, qsizetype n) { got.append(p, n); });
    if (!unpacked)
        return unpacked.error();
    return got;
}

struct Unpacked {
    QString fault;
    QMap<QString, QByteArray> files; // by name, '\' between parts
};

Unpacked unpackAll(const AceSet &set)
{
    Unpacked out;
    AceReader reader(set);
    for (int i = 0; i < set.members.size() && out.fault.isEmpty(); ++i) {
        QByteArray data;
        const auto unpacked = reader.unpack(i, [&](const char *p, qsizetype n) {
            data.append(p, n);
            return true;
        });
        out.fault = unpacked ? QString() : unpacked.error().text();
        if (!set.members[i].directory)
            out.files.insert(set.members[i].name, data);
    }
    return out;
}

} // namespace

class TestAceReader : public QObject {
    Q_OBJECT
private slots:
    void realArchives_data();
    void realArchives();
    void packedArchives_data();
    void packedArchives();
    void everyMode_data();
    void everyMode();
    void soundEndsTheMember();
    void damagedPackedData();
    void refusesWhatNoArchiverWrites_data();
    void refusesWhatNoArchiverWrites();
    void deltaMode_data();
    void deltaMode();
    void damagedArchivesStayInBounds();
    void noiseNeverRunsAway_data();
    void noiseNeverRunsAway();
    void codeOrderOfAnyWidths_data();
    void codeOrderOfAnyWidths();
};

void TestAceReader::realArchives_data()
{
    QTest::addColumn<QString>("archive");
    for (const char *name :
         {"Ace.store.ace", "Ace.method1.ace", "Ace.method1-solid.ace", "Ace.method2.ace", "Ace.method2-solid.ace"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAceReader::realArchives()
{
    QFETCH(QString, archive);
    const QString folder = sharedAceArchives();
    if (!QFileInfo::exists(folder + u'/' + archive))
        QSKIP("the shared ACE test archives are not here (../shared/testdata/ace)");
    const AceSet set = readAceSet(folder + u'/' + archive);
    QVERIFY(!set.damage);
    const Unpacked got = unpackAll(set);
    QCOMPARE(got.fault, QString());
    QCOMPARE(got.files.value(QStringLiteral("exe\\test.exe")),
             test::readBytes(folder + QStringLiteral("/original/exe/test.exe")));
    QCOMPARE(got.files.value(QStringLiteral("jpg\\test.jpg")),
             test::readBytes(folder + QStringLiteral("/original/jpg/test.jpg")));
    QByteArray text = test::readBytes(folder + QStringLiteral("/original/тест.txt"));
    text.replace("\n", "\r\n");
    QCOMPARE(got.files.size(), 3);
    bool found = false;
    for (auto it = got.files.cbegin(); it != got.files.cend(); ++it)
        found = found || (!it.key().contains(u'\\') && it.value() == text);
    QVERIFY(found);
}

void TestAceReader::packedArchives_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("solid");
    QTest::addColumn<qint64>("volumeSize");
    QTest::newRow("ACE 1.0") << 1 << false << qint64(0);
    QTest::newRow("ACE 2.0") << 2 << false << qint64(0);
    QTest::newRow("ACE 1.0 solid") << 1 << true << qint64(0);
    QTest::newRow("ACE 2.0 solid") << 2 << true << qint64(0);
    QTest::newRow("ACE 2.0 solid in volumes") << 2 << true << qint64(40000);
    QTest::newRow("ACE 1.0 in volumes") << 1 << false << qint64(25000);
}

void TestAceReader::packedArchives()
{
    // Members packed by the tests' writer, read back whole and compared; in a solid archive
    // each member's matches reach back into the ones before it, and a member larger than
    // the dictionary makes it wrap.
    QFETCH(int, method);
    QFETCH(bool, solid);
    QFETCH(qint64, volumeSize);
    const bool large = volumeSize == 0;
    const QList<QByteArray> datas{wordsText(150000, 1),
                                  records(60000, 2),
                                  noise(20000, 3),
                                  QByteArray(70000, 'z'),
                                  wordsText(9000, 1) + noise(300, 4) + records(9000, 5),
                                  QByteArray(),
                                  large && solid ? wordsText(4300000, 6) : records(5000, 6),
                                  wordsText(30000, 7)};
    QList<test::AceArchiveMember> members;
    QByteArray before;
    for (int i = 0; i < datas.size(); ++i) {
        const QByteArray name = "dir\\file" + QByteArray::number(i) + ".bin";
        members << test::packedMember(name, datas[i], i == 5 ? 0 : method,
                                      solid ? before.right(1 << 20) : QByteArray());
        before += datas[i];
    }
    test::AceArchiveMember folder;
    folder.name = "dir";
    folder.directory = true;
    members.insert(0, folder);
    QTemporaryDir dir;
    const auto volumes = test::writeAceArchive(dir.path(), QStringLiteral("packed"), members, solid, volumeSize);
    QVERIFY(volumes);
    QCOMPARE(volumes->size() > 1, volumeSize > 0);
    const AceSet set = readAceSet(volumes->first());
    QVERIFY(!set.damage);
    QCOMPARE(set.members.size(), members.size());
    const Unpacked got = unpackAll(set);
    QCOMPARE(got.fault, QString());
    for (int i = 0; i < datas.size(); ++i)
        QVERIFY2(got.files.value(QString::fromLatin1(members[i + 1].name)) == datas[i], members[i + 1].name);
    // A solid member asked for alone unpacks the ones before it on the way.
    AceReader reader(set);
    QByteArray last;
    QVERIFY(reader.unpack(int(set.members.size()) - 1, [&](const char *p, qsizetype n) {
        last.append(p, n);
        return true;
    }));
    QCOMPARE(last, datas.last());
}

void TestAceReader::everyMode_data()
{
    QTest::addColumn<int>("soundKind");
    QTest::addColumn<int>("planes");
    QTest::newRow("8-bit sound, one plane") << int(test::AceBlockWriter::Sound8) << 1;
    QTest::newRow("16-bit sound, three planes") << int(test::AceBlockWriter::Sound16) << 3;
    QTest::newRow("32-bit sound, four planes") << int(test::AceBlockWriter::Sound32A) << 4;
    QTest::newRow("32-bit sound of the other order") << int(test::AceBlockWriter::Sound32B) << 2;
}

void TestAceReader::everyMode()
{
    // One ACE 2.0 member going through every mode: LZ77, both exe filters, delta, sound and
    // picture, and back to LZ77 after each.
    using W = test::AceBlockWriter;
    QFETCH(int, soundKind);
    QFETCH(int, planes);
    QRandomGenerator rng(quint32(soundKind * 10 + planes));
    W w;
    QByteArray expected;
    // The dictionary holds LZ77's bytes before the filters, and the bytes of sound and picture.
    QByteArray dictionary;
    const auto packed = [&](const QByteArray &data, const QByteArray &stored) {
        w.pack(dictionary + stored, 1 << 16, 700, dictionary.size());
        dictionary += stored;
        expected += data;
    };
    packed(wordsText(5000, 1), wordsText(5000, 1));
    for (int exeMode : {1, 0}) {
        w.change({W::Exe, 0, 0, exeMode});
        // The second stretch ends in a JMP whose operand is cut off: it goes out as it is
        // before the delta stretch.
        const QByteArray code =
            records(3000, quint32(exeMode)) + "\xE8\x10\x00\x00\x00\xE9\x20\x00" + (exeMode ? "tail!" : "t\xE9\x01");
        packed(code, W::exeEncode(code, exeMode, expected.size()));
    }
    // Delta: three planes of 40 bytes, then four of 30, and LZ77 again.
    w.change({W::Delta, 3, 120});
    uchar last = 0;
    for (int round = 0; round < 2; ++round) {
        QByteArray samples(120, '\0');
        for (int i = 0; i < 120; ++i)
            samples[i] = char(i % (3 + round) * 50 + i / (3 + round) * (round + 1));
        const QByteArray stored = W::deltaEncode(samples, 3 + round, last);
        w.pack(dictionary + stored, 1 << 16, 32767, dictionary.size());
        dictionary += stored;
        expected += samples;
        if (round == 0) {
            w.endBlock(); // the next mode change opens the next block
            w.change({W::Delta, 4, 120});
        }
    }
    w.change({W::Plain});
    packed("between", "between");
    // Sound: each channel's first value comes out as it is; the rest only the decoder knows.
    w.change({soundKind});
    QList<int> codes;
    const int channels = soundKind == W::Sound8 ? 1 : soundKind == W::Sound16 ? 2 : 3;
    for (int i = 0; i < 4; ++i)
        codes << 32 + 2 * (10 + i);
    for (int i = 0; i < 3000; ++i)
        codes << int(rng.bounded(i % 7 == 0 ? 32 : 288));
    const qint64 soundBytes = w.sound(soundKind, codes, {W::Plain});
    const qint64 soundAt = expected.size();
    expected += QByteArray(soundBytes, '?');
    dictionary.clear(); // what sound left there is not known here: no match reaches back into it
    packed(wordsText(900, 2), wordsText(900, 2));
    // Picture: lines of `planes` planes with small errors, every predictor.
    w.change({W::Picture});
    QList<int> errors;
    for (int i = 0; i < 60 * 25; ++i)
        errors << int(rng.bounded(9)) - 4 + (i % 97 == 0 ? 200 : 0);
    const QByteArray picture = w.picture(60, planes, errors, {0, 1, 2}, {W::Plain});
    expected += picture;
    dictionary += picture;
    packed(records(2000, 9), records(2000, 9));
    const QByteArray stream = w.finish();

    const auto got = unpackStream(stream, 2, expected.size());
    QVERIFY2(got, qPrintable(got ? QString() : got.error().text()));
    QCOMPARE(got->size(), expected.size());
    QCOMPARE(got->left(soundAt), expected.left(soundAt));
    QCOMPARE(got->mid(soundAt + soundBytes), expected.mid(soundAt + soundBytes));
    // The first sample of channel k is the k-th value code's delta, 10 + k.
    QCOMPARE(int(uchar(got->at(soundAt))), 10);
    if (channels > 1)
        QCOMPARE(int(uchar(got->at(soundAt + 1))), 11);
}

void TestAceReader::soundEndsTheMember()
{
    // Sound to the member's end: zero differences give silence, and so do runs of zeros with
    // a zero after them.
    using W = test::AceBlockWriter;
    W w;
    w.change({W::Sound8});
    QList<int> codes;
    for (int i = 0; i < 400; ++i)
        codes << QList<int>{5, 0, 32, 32}[i % 4];
    const qint64 bytes = w.sound(W::Sound8, codes, {});
    const QByteArray stream = w.finish();
    const qint64 size = bytes & ~qint64(3);
    const auto got = unpackStream(stream, 2, size);
    QVERIFY(got);
    QCOMPARE(*got, QByteArray(size, '\0'));
    // Asked for more than the stream holds: a fault, never bytes made up.
    QVERIFY(!unpackStream(stream, 2, size + 4000));
}

void TestAceReader::damagedPackedData()
{
    // Archives of the tests' writer with their packed data changed: every member ends with a
    // fault or its exact size, never more.
    using W = test::AceBlockWriter;
    QRandomGenerator rng(5);
    QList<QByteArray> streams;
    QList<qint64> sizes;
    for (int kind : {int(W::Sound8), int(W::Sound32A), int(W::Picture), int(W::Delta), int(W::Exe)}) {
        W w;
        w.pack(wordsText(3000, 1), 1 << 16, 400);
        qint64 size = 3000;
        w.change({kind, 2, 64, 1});
        if (kind == W::Picture) {
            QList<int> errors;
            for (int i = 0; i < 40 * 10; ++i)
                errors << int(rng.bounded(21)) - 10;
            size += w.picture(40, 2, errors, {0, 1, 2}, {W::Plain}).size();
        } else if (kind != W::Delta && kind != W::Exe) {
            QList<int> codes;
            for (int i = 0; i < 500; ++i)
                codes << int(rng.bounded(288));
            size += w.sound(kind, codes, {W::Plain});
        } else {
            w.pack(records(64, 3));
            size += 64;
            if (kind == W::Delta)
                w.change({W::Plain});
        }
        w.pack(records(2000, 3));
        size += 2000;
        streams << w.finish();
        sizes << size;
    }
    int faults = 0, rounds = 0;
    for (int s = 0; s < streams.size(); ++s) {
        QVERIFY(unpackStream(streams[s], 2, sizes[s]));
        for (int round = 0; round < 200; ++round, ++rounds) {
            QByteArray bytes = streams[s];
            for (int k = 0, n = 1 + int(rng.bounded(4)); k < n; ++k)
                bytes[int(rng.bounded(bytes.size()))] ^= char(1 << rng.bounded(8));
            if (round % 10 == 0)
                bytes.truncate(int(rng.bounded(bytes.size())));
            const auto got = unpackStream(bytes, 2, sizes[s]);
            QVERIFY(!got || got->size() == sizes[s]);
            faults += !got;
        }
    }
    QVERIFY2(faults > rounds / 4, qPrintable(QString::number(faults)));
}

void TestAceReader::refusesWhatNoArchiverWrites_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("fault");
    for (int method : {1, 2}) {
        QTest::addRow("ACE %d.0: a match before the member's start", method) << method << 0;
        QTest::addRow("ACE %d.0: a copy past the member's end", method) << method << 1;
        QTest::addRow("ACE %d.0: the last word cut off", method) << method << 2;
    }
}

void TestAceReader::refusesWhatNoArchiverWrites()
{
    // A member that is not solid has nothing before it, no copy runs past its declared size,
    // and no member needs more bits than its data holds: each means the data or the header lies.
    QFETCH(int, method);
    QFETCH(int, fault);
    test::AceBlockWriter w(method == 1);
    for (char c : QByteArray("abcdefgh"))
        w.literal(uchar(c));
    w.match(fault == 0 ? 9 : 8, 8);
    QByteArray stream = w.finish();
    if (fault == 2) // the zero bits that stand in past the end are not data
        stream.chop(4);
    const auto got = unpackStream(stream, method, fault == 1 ? 12 : 16);
    QVERIFY(!got);
    QCOMPARE(got.error().message(), QString::fromLatin1(AceDecoder::kDamagedData));
    if (fault == 1)
        QCOMPARE(*unpackStream(stream, method, 16), QByteArray("abcdefghabcdefgh"));
}

void TestAceReader::deltaMode_data()
{
    QTest::addColumn<int>("distance");
    QTest::addColumn<int>("length");
    QTest::newRow("two planes") << 2 << 16;
    QTest::newRow("four planes") << 4 << 32;
}

void TestAceReader::deltaMode()
{
    // Bytes of `distance` interleaved planes, each rising by one: the delta filter stores them
    // plane after plane as differences.
    QFETCH(int, distance);
    QFETCH(int, length);
    const int planeSize = length / distance;
    QByteArray planes(length, 0), data(length, 0);
    for (int pos = 0; pos < planeSize; ++pos)
        for (int j = 0; j < distance; ++j)
            data[pos * distance + j] = planes[j * planeSize + pos] = char(j * 10 + pos);
    QByteArray differences(length, 0);
    for (int i = 0; i < length; ++i)
        differences[i] = char(planes[i] - (i > 0 ? planes[i - 1] : 0));

    test::AceBlockWriter w;
    w.block("ABC", {1, distance, length});
    w.block(differences, {0});
    w.block("XYZ");
    const QByteArray packed = w.finish();
    const QByteArray expected = "ABC" + data + "XYZ";
    const auto got = unpackStream(packed, 2, expected.size());
    QVERIFY(got);
    QCOMPARE(got->toHex(), expected.toHex());
}

void TestAceReader::damagedArchivesStayInBounds()
{
    const QString folder = sharedAceArchives();
    if (!QFileInfo::exists(folder + QStringLiteral("/Ace.method2.ace")))
        QSKIP("the shared ACE test archives are not here (../shared/testdata/ace)");
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("damaged.ace"));
    QRandomGenerator rng(11);
    int faults = 0;
    int rounds = 0;
    for (const char *name : {"Ace.method1.ace", "Ace.method1-solid.ace", "Ace.method2.ace", "Ace.method2-solid.ace"}) {
        const QByteArray original = test::readBytes(folder + u'/' + QLatin1String(name));
        for (int round = 0; round < 150; ++round, ++rounds) {
            // Changes in the packed data mostly, where the header CRCs do not look.
            QByteArray bytes = original;
            for (int k = 0, n = 1 + int(rng.bounded(8)); k < n; ++k)
                bytes[int(rng.bounded(bytes.size()))] = char(rng.bounded(256));
            QFile f(copy);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
            f.close();
            const AceSet set = readAceSet(copy);
            AceReader reader(set);
            for (int i = 0; i < set.members.size(); ++i) {
                qint64 got = 0;
                const auto unpacked = reader.unpack(i, [&](const char *, qsizetype n) {
                    got += n;
                    return true;
                });
                // Never more than the member's size, and all of it unless there is a fault.
                QVERIFY(got <= set.members[i].size);
                if (unpacked)
                    QCOMPARE(got, set.members[i].directory ? 0 : set.members[i].size);
                faults += !unpacked;
            }
        }
    }
    QVERIFY2(faults > rounds / 2, qPrintable(QString::number(faults)));
}

void TestAceReader::noiseNeverRunsAway_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("ACE 1.0") << 1;
    QTest::newRow("ACE 2.0") << 2;
}

void TestAceReader::noiseNeverRunsAway()
{
    // Random bytes as packed data: the decoder ends with a fault or with exactly the size
    // asked for, and within the noise it was given.
    QFETCH(int, method);
    QRandomGenerator rng(quint32(method) * 77);
    for (int round = 0; round < 300; ++round) {
        QByteArray noise(int(4 + rng.bounded(4000)), Qt::Uninitialized);
        for (char &c : noise)
            c = char(rng.bounded(256));
        const qint64 size = 1 + rng.bounded(200000);
        qint64 got = 0;
        const auto unpacked = unpackInto(noise, method, size, [&](const char *, qsizetype n) { got += n; });
        QVERIFY(got <= size);
        QVERIFY(!unpacked || got == size);
    }
}

void TestAceReader::codeOrderOfAnyWidths_data()
{
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("makesCode");
    QTest::newRow("one symbol") << QList<int>{0, 0, 5, 0} << 4 << true;
    QTest::newRow("none") << QList<int>{0, 0, 0} << 3 << true;
    QTest::newRow("all equal") << QList<int>(256, 8) << 256 << true;
    QTest::newRow("too many short") << QList<int>(300, 8) << 300 << false;
    QTest::newRow("wider than the table") << QList<int>{1, 12} << 2 << false;
    QTest::newRow("rising") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11} << 12 << true;
    QTest::newRow("falling, zeros within") << QList<int>{11, 0, 11, 10, 0, 9, 8, 7, 0, 0} << 10 << true;
    QTest::newRow("largest widths") << QList<int>(512, 255) << 512 << false;
    QTest::newRow("more than any table") << QList<int>(513, 9) << 513 << false;
}

void TestAceReader::codeOrderOfAnyWidths()
{
    // Whatever a damaged table says, the archiver's sort stays in its range and gives every
    // symbol with a width once, shortest first; widths that overfill the table make no code.
    QFETCH(QList<int>, widths);
    QFETCH(int, count);
    QFETCH(bool, makesCode);
    std::vector<quint8> w(widths.begin(), widths.end());
    std::vector<quint16> order(w.size() + 1, 0xFFFF);
    const int used = ace::codeOrder(11, count, w.data(), int(w.size()), order.data());
    QCOMPARE(used >= 0, makesCode);
    if (used < 0)
        return;
    QCOMPARE(order[size_t(used)], quint16(0xFFFF));
    QSet<int> seen;
    for (int k = 0; k < used; ++k) {
        QVERIFY(order[size_t(k)] < w.size());
        QVERIFY(!seen.contains(order[size_t(k)]));
        seen.insert(order[size_t(k)]);
        QVERIFY(w[order[size_t(k)]] > 0);
        if (k > 0)
            QVERIFY(w[order[size_t(k) - 1]] <= w[order[size_t(k)]]);
    }
    const qsizetype given = std::count_if(w.begin(), w.begin() + count, [](quint8 x) { return x > 0; });
    QCOMPARE(used, int(std::max<qsizetype>(given, 1)));
}

QTEST_GUILESS_MAIN(TestAceReader)
#include "tst_acereader.moc"
