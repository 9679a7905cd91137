// The ACE reader against real archives of every packing (stored, ACE 1.0, ACE 2.0, solid) and
// the original files they hold, and against sets the tests write.
#include "archive/ace/acereader.h"
#include "support/aceblockwriter.h"
#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace zelv;

namespace {

QString sharedAceArchives() { return QDir(QStringLiteral(ZELV_SOURCE_DIR "/../shared/testdata/ace")).absolutePath(); }

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
    void deltaMode_data();
    void deltaMode();
    void damagedArchivesStayInBounds();
    void noiseNeverRunsAway_data();
    void noiseNeverRunsAway();
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
    QByteArray got;
    qsizetype at = 0;
    AceDecoder decoder;
    const auto unpacked = decoder.unpack(
        2, 0, expected.size(),
        [&](char *buffer, qsizetype n) {
            const qsizetype take = std::min(n, packed.size() - at);
            memcpy(buffer, packed.constData() + at, size_t(take));
            at += take;
            return take;
        },
        [&](const char *p, qsizetype n) {
            got.append(p, n);
            return true;
        });
    QVERIFY(unpacked);
    QCOMPARE(got.toHex(), expected.toHex());
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
        qsizetype at = 0;
        const qint64 size = 1 + rng.bounded(200000);
        qint64 got = 0;
        AceDecoder decoder;
        const auto unpacked = decoder.unpack(
            method, 0, size,
            [&](char *buffer, qsizetype n) {
                const qsizetype take = std::min(n, noise.size() - at);
                memcpy(buffer, noise.constData() + at, size_t(take));
                at += take;
                return take;
            },
            [&](const char *, qsizetype n) {
                got += n;
                return true;
            });
        QVERIFY(got <= size);
        QVERIFY(!unpacked || got == size);
    }
}

QTEST_GUILESS_MAIN(TestAceReader)
#include "tst_acereader.moc"
