#include "archive/xceedzip.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

using namespace zelv;
using test::ZipEntry;

namespace {

struct StatusRecord {
    QString fileName;
    qint64 size = 0;
    qint64 processed = 0;
    int completion = 0;
};

// Everything the component reports during one operation.
struct StatusLog {
    explicit StatusLog(XceedZip &zip)
    {
        zip.setProgressHandler([this](const ZipProgress &p) {
            records.append({p.fileName, p.size, p.processed, p.completion});
        });
    }
    QList<StatusRecord> records;
};

} // namespace

class TestXceedZip : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void dosPaths_data();
    void dosPaths();
    void settingsReachTheEngine_data();
    void settingsReachTheEngine();
    void progress_data();
    void progress();
    void abort_data();
    void abort();

private:
    // One large archive for the whole run: a member of zeros that takes long enough to
    // inflate for several progress reports and an abort in between.
    test::TestWorld m_world;
    QString m_bigDos = QStringLiteral("c:\\dl\\big.zip");
    static constexpr quint64 kBigSize = 2ull << 30;

    static bool writeSmall(const test::TestWorld &w, const QString &relative)
    {
        QString error;
        const bool ok = test::writeZip(w.onDrive(u'c', relative),
                                       {ZipEntry::file("readme.txt", "read me"), ZipEntry::file("docs/a.nfo", "info"),
                                        ZipEntry::file("docs/b.txt", test::textBytes(20000))},
                                       &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    }
};

void TestXceedZip::initTestCase()
{
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("dl")));
    QString error;
    QVERIFY2(test::writeZipOfZeros(m_world.onDrive(u'c', QStringLiteral("dl/big.zip")), "zeros.bin", kBigSize, &error),
             qPrintable(error));
    QVERIFY(writeSmall(m_world, QStringLiteral("dl/small.zip")));
}

void TestXceedZip::dosPaths_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("written"); // relative to c:, empty when nothing is

    QTest::newRow("destination made when missing") << "c:\\dl\\a.zip" << "c:\\Zelv001" << 0 << "Zelv001/docs/a.nfo";
    QTest::newRow("letter case of the DOS path ignored")
        << "C:\\DL\\A.ZIP" << "C:\\Zelv001" << 0 << "Zelv001/docs/a.nfo";
    QTest::newRow("existing folder in another case") << "c:\\dl\\a.zip" << "c:\\DL\\sub" << 0 << "dl/sub/docs/a.nfo";
    QTest::newRow("archive on no drive") << "q:\\dl\\a.zip" << "c:\\Zelv001" << int(ZipCannotOpen) << "";
    QTest::newRow("archive missing") << "c:\\dl\\none.zip" << "c:\\Zelv001" << int(ZipCannotOpen) << "";
    QTest::newRow("destination on no drive") << "c:\\dl\\a.zip" << "q:\\Zelv001" << int(ZipCannotWrite) << "";
    // clang-format on
}

void TestXceedZip::dosPaths()
{
    QFETCH(QString, archive);
    QFETCH(QString, destination);
    QFETCH(int, code);
    QFETCH(QString, written);

    test::TestWorld w;
    QVERIFY(writeSmall(w, QStringLiteral("dl/a.zip")));
    XceedZip zip(w.drives());
    zip.setZipFilename(archive);
    zip.setUnzipToFolder(destination);
    zip.setFilesToProcess(QString());
    QCOMPARE(int(zip.extract(0)), code);
    if (!written.isEmpty())
        QCOMPARE(test::readBytes(w.onDrive(u'c', written)), QByteArray("info"));
    else
        QVERIFY(!QFileInfo::exists(w.onDrive(u'c', QStringLiteral("Zelv001"))));
    QVERIFY(!zip.busy());
}

void TestXceedZip::settingsReachTheEngine_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("masks");
    QTest::addColumn<bool>("skipIfExisting");
    QTest::addColumn<QByteArray>("readme");
    QTest::addColumn<bool>("nfoWritten");

    QTest::newRow("all, overwrite") << "*.*" << false << QByteArray("read me") << true;
    QTest::newRow("all, keep existing") << "" << true << QByteArray("mine") << true;
    QTest::newRow("masks") << "*.TXT\rnothing.*" << false << QByteArray("read me") << false;
    // clang-format on
}

void TestXceedZip::settingsReachTheEngine()
{
    QFETCH(QString, masks);
    QFETCH(bool, skipIfExisting);
    QFETCH(QByteArray, readme);
    QFETCH(bool, nfoWritten);

    test::TestWorld w;
    QVERIFY(writeSmall(w, QStringLiteral("dl/a.zip")));
    w.writeFile(w.onDrive(u'c', QStringLiteral("out/readme.txt")), "mine");
    XceedZip zip(w.drives());
    zip.setZipFilename(QStringLiteral("c:\\dl\\a.zip"));
    zip.setUnzipToFolder(QStringLiteral("c:\\out"));
    zip.setFilesToProcess(masks);
    zip.setSkipIfExisting(skipIfExisting);
    QCOMPARE(int(zip.extract(0)), int(ZipDone));
    QCOMPARE(test::readBytes(w.onDrive(u'c', QStringLiteral("out/readme.txt"))), readme);
    QCOMPARE(QFileInfo::exists(w.onDrive(u'c', QStringLiteral("out/docs/a.nfo"))), nfoWritten);
    QVERIFY(QFileInfo::exists(w.onDrive(u'c', QStringLiteral("out/docs/b.txt"))));
}

void TestXceedZip::progress_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("write");
    QTest::newRow("extract") << true;
    QTest::newRow("test") << false;
    // clang-format on
}

void TestXceedZip::progress()
{
    QFETCH(bool, write);

    XceedZip zip(m_world.drives());
    zip.setZipFilename(m_bigDos);
    zip.setUnzipToFolder(QStringLiteral("c:\\progress"));
    StatusLog log(zip);
    QCOMPARE(int(write ? zip.extract(0) : zip.test()), int(ZipDone));

    QVERIFY(!log.records.isEmpty());
    int previous = 0;
    for (const StatusRecord &r : log.records) {
        QVERIFY2(r.completion >= previous, qPrintable(QStringLiteral("%1 after %2").arg(r.completion).arg(previous)));
        QVERIFY(r.completion <= 100);
        previous = r.completion;
    }
    const StatusRecord &last = log.records.last();
    QCOMPARE(last.completion, 100);
    QCOMPARE(last.fileName, QStringLiteral("zeros.bin"));
    QCOMPARE(quint64(last.size), kBigSize);
    QCOMPARE(quint64(last.processed), kBigSize);
    const QString written = m_world.onDrive(u'c', QStringLiteral("progress/zeros.bin"));
    QCOMPARE(QFileInfo::exists(written), write);
    QFile::remove(written);
}

void TestXceedZip::abort_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("fromStatus");
    QTest::newRow("from a Status handler") << true;
    QTest::newRow("from a timer, as a key press would") << false;
    // clang-format on
}

void TestXceedZip::abort()
{
    QFETCH(bool, fromStatus);

    XceedZip zip(m_world.drives());
    zip.setZipFilename(m_bigDos);
    zip.setUnzipToFolder(QStringLiteral("c:\\aborted"));
    int reportsBeforeAbort = 0;
    if (fromStatus) {
        zip.setProgressHandler([&zip, &reportsBeforeAbort](const ZipProgress &) {
            if (!zip.abortRequested())
                ++reportsBeforeAbort;
            zip.setAbort(true);
        });
    } else {
        // Runs at the first chance the window lets events through, as it does at each report.
        zip.setProgressHandler([](const ZipProgress &) { QCoreApplication::processEvents(); });
        QTimer::singleShot(0, &zip, [&zip] { zip.setAbort(true); });
    }
    QCOMPARE(int(zip.extract(0)), int(ZipAborted));
    if (fromStatus)
        QCOMPARE(reportsBeforeAbort, 1);
    // The member stopped half way is removed, not left cut short.
    QVERIFY(!QFileInfo::exists(m_world.onDrive(u'c', QStringLiteral("aborted/zeros.bin"))));

    // The request is never taken back, yet the next operations run to the end.
    QVERIFY(zip.abortRequested());
    zip.setProgressHandler({});
    zip.setZipFilename(QStringLiteral("c:\\dl\\small.zip"));
    QCOMPARE(int(zip.extract(0)), int(ZipDone));
    QCOMPARE(test::readBytes(m_world.onDrive(u'c', QStringLiteral("aborted/readme.txt"))), QByteArray("read me"));
    zip.setAbort(true);
    QCOMPARE(int(zip.test()), int(ZipDone));
}

QTEST_MAIN(TestXceedZip)
#include "tst_xceedzip.moc"
