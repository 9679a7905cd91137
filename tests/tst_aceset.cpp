// The ACE set read from its headers: members, their parts in each volume and their CRCs as the
// writer put them, and damaged or lying headers never taken for data outside a volume.
#include "archive/ace/aceset.h"
#include "support/setwriters.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

using namespace zelv;
using test::SetMember;

namespace {

quint32 crcOf(const QByteArray &data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

const QList<SetMember> kMembers{SetMember::file("setup.exe", test::patternBytes(50000, 1)), SetMember::folder("data"),
                                SetMember::file("data/game.dat", test::patternBytes(12000, 7))};

} // namespace

class TestAceSet : public QObject {
    Q_OBJECT
private slots:
    void readsWhatWasWritten_data();
    void readsWhatWasWritten();
    void damagedHeadersStayInside();
};

void TestAceSet::readsWhatWasWritten_data()
{
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("volumes");
    QTest::newRow("one archive") << qint64(0) << "prog.ace" << 1;
    QTest::newRow("volumes from the first") << qint64(20000) << "prog.ace" << 4;
    QTest::newRow("volumes from a later one") << qint64(20000) << "prog.c01" << 4;
}

void TestAceSet::readsWhatWasWritten()
{
    QFETCH(qint64, volumeSize);
    QFETCH(QString, given);
    QFETCH(int, volumes);
    QTemporaryDir dir;
    QString error;
    QVERIFY2(test::writeAceSet(dir.path(), QStringLiteral("prog"), kMembers, volumeSize, 10, &error),
             qPrintable(error));
    const AceSet set = readAceSet(dir.filePath(given));
    QVERIFY(!set.damage);
    QCOMPARE(set.missingVolume, QString());
    QCOMPARE(set.volumes.size(), volumes);
    QCOMPARE(QFileInfo(set.volumes.first()).fileName(), QStringLiteral("prog.ace"));
    QCOMPARE(set.multiVolume, volumeSize > 0);
    QCOMPARE(set.members.size(), 3);
    QCOMPARE(set.members[0].name, QStringLiteral("setup.exe"));
    QCOMPARE(set.members[0].size, 50000);
    QCOMPARE(set.members[0].crc, crcOf(test::patternBytes(50000, 1)));
    QVERIFY(set.members[1].directory);
    QCOMPARE(set.members[2].name, QStringLiteral("data\\game.dat"));
    QCOMPARE(set.members[2].crc, crcOf(test::patternBytes(12000, 7)));
    // The stored parts, read back from their volumes, are the file.
    QByteArray joined;
    for (const AcePart &part : set.members[0].parts) {
        QFile f(set.volumes[part.volume]);
        QVERIFY(f.open(QIODevice::ReadOnly) && f.seek(part.offset));
        joined += f.read(part.size);
    }
    QCOMPARE(joined, test::patternBytes(50000, 1));
    QCOMPARE(set.members[0].parts.size() > 1, volumeSize > 0);
}

void TestAceSet::damagedHeadersStayInside()
{
    QTemporaryDir dir;
    const auto written = test::writeAceSet(dir.path(), QStringLiteral("prog"), kMembers, 20000, 10);
    QVERIFY(written);
    QList<QByteArray> originals;
    for (const QString &v : *written) {
        QFile f(v);
        QVERIFY(f.open(QIODevice::ReadOnly));
        originals << f.readAll();
    }
    QRandomGenerator rng(20261208);
    int faults = 0;
    for (int round = 0; round < 3000; ++round) {
        // One volume changed: a few bytes in its headers' reach, or cut short.
        const int v = int(rng.bounded(qsizetype(originals.size())));
        QByteArray bytes = originals[v];
        if (round % 5 == 0) {
            bytes.truncate(int(rng.bounded(bytes.size())));
        } else {
            for (int k = 0, n = 1 + int(rng.bounded(4)); k < n; ++k)
                bytes[int(rng.bounded(std::min<qsizetype>(bytes.size(), 200)))] = char(rng.bounded(256));
        }
        QFile f(written->at(v));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
        f.close();
        const AceSet set = readAceSet(written->first());
        faults += set.damage || !set.missingVolume.isEmpty();
        for (const AceMember &m : set.members)
            for (const AcePart &p : m.parts) {
                QVERIFY(p.volume >= 0 && p.volume < set.volumes.size());
                QVERIFY(p.offset >= 0 && p.size >= 0);
                QVERIFY(p.offset + p.size <= QFileInfo(set.volumes[p.volume]).size());
            }
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(originals[v]) == originals[v].size());
    }
    // Nearly every change is caught by a header CRC or a size check.
    QVERIFY2(faults > 2000, qPrintable(QString::number(faults)));
}

QTEST_GUILESS_MAIN(TestAceSet)
#include "tst_aceset.moc"
