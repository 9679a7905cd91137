#include "platform/dosfilesystem.h"
#include "platform/drivetable.h"
#include "support/testworld.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace zelv;

namespace {

QString canonicalOf(const test::TestWorld &world, QChar letter)
{
    const auto d = world.drives().drive(letter);
    return d ? d->canonical : QString();
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDriveTable : public QObject {
    Q_OBJECT
private slots:
    void ensureExistsCreatesTable();
    void ensureExistsLeavesTableAlone();
    void drivesListing();
    void toHost_data();
    void toHost();
    void toHostPrefersExactSpelling();
    void toDos_data();
    void toDos();
    void toDosThroughWholeFileSystemDrive();
    void changedLinksAreSeenAtOnce();
    void roundTrip_data();
    void roundTrip();
    void listing();
    void listMatchingFolders();
    void renameNeverReplaces();
    void resetAttributes();
    void makeDirectory_data();
    void makeDirectory();
    void diskInfo();
};

void TestDriveTable::ensureExistsCreatesTable()
{
    QTemporaryDir root;
    QTemporaryDir home;
    QVERIFY(root.isValid() && home.isValid());
    const QString program = root.path() + QStringLiteral("/not yet made");
    const DriveTable table(program);
    QVERIFY(!QFileInfo::exists(table.devicesFolder()));

    QVERIFY(table.ensureExists(home.path()));
    const QString c = table.devicesFolder() + QStringLiteral("/c:");
    const QString z = table.devicesFolder() + QStringLiteral("/z:");
    QVERIFY(QFileInfo(c).isSymLink());
    QVERIFY(QFileInfo(z).isSymLink());
    QCOMPARE(QFile::symLinkTarget(c), QDir(home.path()).absolutePath());
    QCOMPARE(QFile::symLinkTarget(z), QStringLiteral("/"));

    const QList<Drive> drives = table.drives();
    QCOMPARE(drives.size(), 2);
    QCOMPARE(drives[0].letter, QChar(u'c'));
    QCOMPARE(drives[0].canonical, QFileInfo(home.path()).canonicalFilePath());
    QCOMPARE(drives[1].letter, QChar(u'z'));
    QCOMPARE(drives[1].canonical, QStringLiteral("/"));
}

void TestDriveTable::ensureExistsLeavesTableAlone()
{
    test::TestWorld world;
    world.addDrive(u'e');
    QTemporaryDir otherHome;
    const QString before = world.driveFolder(u'c');
    QVERIFY(world.drives().ensureExists(otherHome.path()));
    QCOMPARE(world.driveFolder(u'c'), before);
    QVERIFY(!world.drives().drive(u'z'));
    QVERIFY(world.drives().drive(u'e'));

    // Something that is not a folder where the table belongs is not overwritten.
    QTemporaryDir root;
    const QString program = root.path() + QStringLiteral("/program");
    QDir().mkpath(program);
    world.writeFile(program + QStringLiteral("/dosdevices"), "not a folder");
    const DriveTable blocked(program);
    const Result<void> made = blocked.ensureExists(otherHome.path());
    QVERIFY(!made);
    QCOMPARE(made.error().text(),
             QStringLiteral("The drive table %1/dosdevices could not be made: Not a directory").arg(program));
    QCOMPARE(contents(program + QStringLiteral("/dosdevices")), QByteArray("not a folder"));
}

void TestDriveTable::drivesListing()
{
    test::TestWorld world;
    const QString devices = world.drives().devicesFolder();
    const QString e = world.addDrive(u'e');
    world.addDrive(u'd');
    world.linkDrive(u'm', world.root() + QStringLiteral("/no such folder"));
    const QString file = world.writeFile(world.root() + QStringLiteral("/plain.txt"), "x");
    world.linkDrive(u'h', file);
    // A plain folder standing in for a drive.
    world.makeFolder(devices + QStringLiteral("/g:"));
    // Names that are no drive.
    world.writeFile(devices + QStringLiteral("/readme.txt"), "x");
    world.writeFile(devices + QStringLiteral("/f:"), "a file, not a folder");
    QFile::link(e, devices + QStringLiteral("/cc:"));
    QFile::link(e, devices + QStringLiteral("/1:"));
    QFile::link(e, devices + QStringLiteral("/k"));
    QFile::link(e, devices + QStringLiteral("/com1"));
    // An upper-case twin of the program's own link does not take its place.
    QFile::link(e, devices + QStringLiteral("/C:"));

    const QList<Drive> drives = world.drives().drives();
    QString letters;
    QString ready;
    for (const Drive &d : drives) {
        letters += d.letter;
        ready += d.ready() ? u'+' : u'-';
    }
    QCOMPARE(letters, QStringLiteral("cdeghm"));
    QCOMPARE(ready, QStringLiteral("++++--"));

    QCOMPARE(drives[0].target, world.root() + QStringLiteral("/drive_c"));
    QCOMPARE(drives[5].target, world.root() + QStringLiteral("/no such folder"));
    QVERIFY(drives[5].canonical.isEmpty());

    QVERIFY(world.drives().drive(u'M'));
    QVERIFY(!world.drives().drive(u'M')->ready());
    QVERIFY(!world.drives().drive(u'q'));
    QVERIFY(!world.drives().drive(u'f'));

    // The table is read afresh: a link added now is seen at once.
    world.addDrive(u'r');
    QVERIFY(world.drives().drive(u'r'));
}

void TestDriveTable::toHost_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("dos");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("relative"); // below drive c's folder

    QTest::newRow("exact") << "c:\\Zelv001\\Sub\\File.TXT" << true << "Zelv001/Sub/File.TXT";
    QTest::newRow("other case") << "c:\\ZELV001\\sub\\file.txt" << true << "Zelv001/Sub/File.TXT";
    QTest::newRow("upper drive, slashes") << "C:/zelv001/SUB/file.TXT" << true << "Zelv001/Sub/File.TXT";
    QTest::newRow("missing tail keeps its case") << "c:\\zelv001\\New\\Deeper.TXT" << true << "Zelv001/New/Deeper.TXT";
    QTest::newRow("missing file in found folder") << "c:\\zelv001\\SUB\\Other.Txt" << true << "Zelv001/Sub/Other.Txt";
    QTest::newRow("dot dot inside") << "c:\\zelv001\\sub\\..\\SUB\\.\\file.txt" << true << "Zelv001/Sub/File.TXT";
    QTest::newRow("dot dot clamped") << "c:\\..\\..\\zelv001" << true << "Zelv001";
    QTest::newRow("dot dot cannot reach the host") << "c:\\zelv001\\..\\..\\..\\etc\\passwd" << true << "etc/passwd";
    QTest::newRow("root") << "c:\\" << true << "";
    QTest::newRow("bare drive") << "C:" << true << "";
    QTest::newRow("no such drive") << "x:\\Zelv001" << false << "";
    QTest::newRow("drive without folder") << "m:\\Zelv001" << false << "";
    QTest::newRow("no drive") << "Zelv001\\Sub" << false << "";
    QTest::newRow("empty") << "" << false << "";
    // clang-format on
}

void TestDriveTable::toHost()
{
    QFETCH(QString, dos);
    QFETCH(bool, found);
    QFETCH(QString, relative);

    test::TestWorld world;
    world.writeFile(world.onDrive(u'c', QStringLiteral("Zelv001/Sub/File.TXT")), "hello");
    world.linkDrive(u'm', world.root() + QStringLiteral("/gone"));

    const auto host = world.drives().toHost(dos);
    QCOMPARE(bool(host), found);
    if (!found)
        return;
    const QString base = canonicalOf(world, u'c');
    QVERIFY(!base.isEmpty());
    QCOMPARE(*host, relative.isEmpty() ? base : base + u'/' + relative);

    // The file operations see the same file through any spelling.
    const DosFileSystem fs(world.drives());
    if (relative == QStringLiteral("Zelv001/Sub/File.TXT")) {
        QVERIFY(fs.isFile(dos));
        QCOMPARE(fs.fileSize(dos).valueOr(-1), 5);
    }
}

void TestDriveTable::toHostPrefersExactSpelling()
{
    test::TestWorld world;
    world.makeFolder(world.onDrive(u'c', QStringLiteral("abc")));
    world.makeFolder(world.onDrive(u'c', QStringLiteral("ABC")));
    const QString base = canonicalOf(world, u'c');
    QCOMPARE(world.drives().toHost(u"c:\\abc"), std::optional<QString>(base + QStringLiteral("/abc")));
    QCOMPARE(world.drives().toHost(u"c:\\ABC"), std::optional<QString>(base + QStringLiteral("/ABC")));
    // Neither spelling: one of the two, never a third that does not exist.
    const auto other = world.drives().toHost(u"c:\\Abc");
    QVERIFY(other);
    QVERIFY2(*other == base + QStringLiteral("/abc") || *other == base + QStringLiteral("/ABC"), qPrintable(*other));
}

void TestDriveTable::toDos_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("relative"); // below the world's root
    QTest::addColumn<QString>("dos");      // empty: nothing

    QTest::newRow("drive root") << "drive_c" << "C:\\";
    QTest::newRow("file on c") << "drive_c/other/x.txt" << "C:\\other\\x.txt";
    QTest::newRow("inner drive wins") << "drive_c/inner/x.txt" << "D:\\x.txt";
    QTest::newRow("inner drive root") << "drive_c/inner" << "D:\\";
    QTest::newRow("inner drive, deeper") << "drive_c/inner/Sub Dir/x.txt" << "D:\\Sub Dir\\x.txt";
    QTest::newRow("name sharing a prefix") << "drive_c/inner2/x.txt" << "C:\\inner2\\x.txt";
    QTest::newRow("cleaned first") << "drive_c/a/../inner/./x.txt" << "D:\\x.txt";
    QTest::newRow("trailing slash") << "drive_c/other/" << "C:\\other";
    QTest::newRow("sibling sharing a prefix") << "drive_cx/x.txt" << "";
    QTest::newRow("outside every drive") << "elsewhere/x.txt" << "";
    // A link outside every drive into a drive: shown where it really is.
    QTest::newRow("through a link") << "alias/f.txt" << "D:\\deep\\f.txt";
    // clang-format on
}

void TestDriveTable::toDos()
{
    QFETCH(QString, relative);
    QFETCH(QString, dos);

    test::TestWorld world;
    const QString c = world.driveFolder(u'c');
    world.makeFolder(c + QStringLiteral("/inner"));
    world.linkDrive(u'd', c + QStringLiteral("/inner"));
    world.writeFile(c + QStringLiteral("/inner/deep/f.txt"), "x");
    world.writeFile(world.root() + QStringLiteral("/drive_cx/x.txt"), "x");
    QVERIFY(QFile::link(c + QStringLiteral("/inner/deep"), world.root() + QStringLiteral("/alias")));

    const auto got = world.drives().toDos(world.root() + u'/' + relative);
    if (dos.isEmpty())
        QVERIFY2(!got, qPrintable(got.value_or(QString())));
    else
        QCOMPARE(got, std::optional<QString>(dos));
    QVERIFY(!world.drives().toDos(QString()));
}

void TestDriveTable::toDosThroughWholeFileSystemDrive()
{
    test::TestWorld world;
    world.linkDrive(u'z', QStringLiteral("/"));
    // Only read through z:.
    QCOMPARE(world.drives().toDos(QStringLiteral("/")), std::optional<QString>(QStringLiteral("Z:\\")));
    QCOMPARE(world.drives().toDos(QStringLiteral("/usr/bin")), std::optional<QString>(QStringLiteral("Z:\\usr\\bin")));
    QCOMPARE(world.drives().toHost(u"z:\\USR\\Bin"), std::optional<QString>(QStringLiteral("/usr/bin")));
    // The world's own drive is the longer prefix.
    QCOMPARE(world.drives().toDos(world.onDrive(u'c', QStringLiteral("x"))),
             std::optional<QString>(QStringLiteral("C:\\x")));
}

void TestDriveTable::changedLinksAreSeenAtOnce()
{
    // The table is kept between look-ups; a drive added, pointed elsewhere or removed by a
    // person counts from the next look-up on.
    test::TestWorld world;
    const QString first = world.makeFolder(world.root() + QStringLiteral("/first"));
    const QString second = world.makeFolder(world.root() + QStringLiteral("/second"));
    world.writeFile(second + QStringLiteral("/only-here.txt"), "x");
    QVERIFY(world.drives().drive(u'c'));
    QCOMPARE(world.drives().drive(u'e'), std::nullopt);

    world.linkDrive(u'e', first);
    QCOMPARE(world.drives().toDos(first + QStringLiteral("/a.txt")), std::optional<QString>("E:\\a.txt"));
    const QString link = world.drives().devicesFolder() + QStringLiteral("/e:");
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(second, link));
    QCOMPARE(world.drives().toHost(u"e:\\only-here.txt"),
             std::optional<QString>(second + QStringLiteral("/only-here.txt")));
    QVERIFY(QFile::remove(link));
    QCOMPARE(world.drives().drive(u'e'), std::nullopt);
}

void TestDriveTable::roundTrip_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("dos");
    QTest::addColumn<QString>("back");

    QTest::newRow("existing, other case") << "c:\\zelv001\\sub\\file.txt" << "C:\\Zelv001\\Sub\\File.TXT";
    QTest::newRow("not existing") << "c:\\New Folder\\x.TXT" << "C:\\New Folder\\x.TXT";
    QTest::newRow("root") << "c:\\" << "C:\\";
    QTest::newRow("second drive") << "e:\\My Downloads\\prog.rar" << "E:\\My Downloads\\prog.rar";
    // clang-format on
}

void TestDriveTable::roundTrip()
{
    QFETCH(QString, dos);
    QFETCH(QString, back);
    test::TestWorld world;
    world.addDrive(u'e');
    world.writeFile(world.onDrive(u'c', QStringLiteral("Zelv001/Sub/File.TXT")), "x");
    const auto host = world.drives().toHost(dos);
    QVERIFY(host);
    QCOMPARE(world.drives().toDos(*host), std::optional<QString>(back));
}

void TestDriveTable::listing()
{
    test::TestWorld world;
    for (const char *name : {"x.RAR", "x.r00", "x.reg", "x.zip", ".x.rar"})
        world.writeFile(world.onDrive(u'c', QStringLiteral("dl/") + QLatin1String(name)), "x");
    world.makeFolder(world.onDrive(u'c', QStringLiteral("dl/dir.rar")));
    const DosFileSystem fs(world.drives());

    const QStringList files{"x.r00", "x.RAR", "x.reg"};
    const QStringList any{"dir.rar", "x.r00", "x.RAR", "x.reg"};
    QCOMPARE(fs.list(u"c:\\dl", u"*.R??", hostfs::EntryKind::Files), files);
    QCOMPARE(fs.list(u"C:\\DL\\", u"*.R??", hostfs::EntryKind::Files), files);
    QCOMPARE(fs.list(u"c:\\dl", u"*.R??", hostfs::EntryKind::Any), any);
    QCOMPARE(fs.listMatching(u"c:\\Dl\\*.R??", hostfs::EntryKind::Files), files);
    QCOMPARE(fs.list(u"c:\\dl", u"*.*", hostfs::EntryKind::Files), (QStringList{"x.r00", "x.RAR", "x.reg", "x.zip"}));
    QCOMPARE(fs.list(u"c:\\dl", u"*.zip;*.rar", hostfs::EntryKind::Files), (QStringList{"x.RAR", "x.zip"}));

    // A link to a file is a file; a link to a folder is not.
    QVERIFY(
        QFile::link(world.onDrive(u'c', QStringLiteral("dl/x.zip")), world.onDrive(u'c', QStringLiteral("dl/y.r01"))));
    QVERIFY(QFile::link(world.onDrive(u'c', QStringLiteral("dl/dir.rar")),
                        world.onDrive(u'c', QStringLiteral("dl/z.r02"))));
    QCOMPARE(fs.list(u"c:\\dl", u"*.R??", hostfs::EntryKind::Files), (QStringList{"x.r00", "x.RAR", "x.reg", "y.r01"}));
    QCOMPARE(fs.list(u"c:\\dl", u"*", hostfs::EntryKind::Directories), (QStringList{"dir.rar", "z.r02"}));

    QVERIFY(fs.list(u"c:\\dl", u"", hostfs::EntryKind::Any).isEmpty());
    QVERIFY(fs.list(u"c:\\missing", u"*", hostfs::EntryKind::Any).isEmpty());
    QVERIFY(fs.list(u"q:\\dl", u"*", hostfs::EntryKind::Any).isEmpty());
}

void TestDriveTable::listMatchingFolders()
{
    test::TestWorld world;
    for (const char *folder : {"Zelv001", "zelv002", "Zelv0001", "Zelv1", "Other"})
        world.makeFolder(world.onDrive(u'c', QLatin1String(folder)));
    world.writeFile(world.onDrive(u'c', QStringLiteral("Zelv0ab")), "x");
    world.writeFile(world.onDrive(u'c', QStringLiteral("Zelv0ab.txt")), "x");
    const DosFileSystem fs(world.drives());
    QCOMPARE(fs.listMatching(u"c:\\Zelv0??", hostfs::EntryKind::Any), (QStringList{"Zelv001", "zelv002", "Zelv0ab"}));
    QCOMPARE(fs.listMatching(u"c:\\Zelv0??", hostfs::EntryKind::Files), QStringList{"Zelv0ab"});
    QVERIFY(fs.listMatching(u"Zelv0??", hostfs::EntryKind::Any).isEmpty());
}

void TestDriveTable::renameNeverReplaces()
{
    test::TestWorld world;
    world.writeFile(world.onDrive(u'c', QStringLiteral("dl/a.txt")), "A");
    world.writeFile(world.onDrive(u'c', QStringLiteral("dl/Report.txt")), "R");
    world.makeFolder(world.onDrive(u'c', QStringLiteral("dl/Folder")));
    const DosFileSystem fs(world.drives());

    for (const char16_t *target :
         {u"c:\\dl\\Report.txt", u"c:\\dl\\REPORT.TXT", u"c:\\DL\\report.txt", u"c:\\dl\\folder"}) {
        QVERIFY2(!fs.rename(u"c:\\dl\\a.txt", QStringView(target)), qPrintable(QStringView(target).toString()));
        QCOMPARE(contents(world.onDrive(u'c', QStringLiteral("dl/a.txt"))), QByteArray("A"));
        QCOMPARE(contents(world.onDrive(u'c', QStringLiteral("dl/Report.txt"))), QByteArray("R"));
    }
    const Result<void> missing = fs.rename(u"c:\\dl\\missing.txt", u"c:\\dl\\b.txt");
    QVERIFY(!missing);
    QCOMPARE(missing.error().text(),
             QStringLiteral("c:\\dl\\missing.txt could not be renamed to c:\\dl\\b.txt: No such file or directory"));
    QVERIFY(!fs.rename(u"c:\\dl\\a.txt", u"q:\\b.txt"));

    // A new name keeps the case it is given.
    QVERIFY(fs.rename(u"C:\\DL\\A.TXT", u"c:\\dl\\New.TXT"));
    QCOMPARE(contents(world.onDrive(u'c', QStringLiteral("dl/New.TXT"))), QByteArray("A"));
    QVERIFY(!QFileInfo::exists(world.onDrive(u'c', QStringLiteral("dl/a.txt"))));
    QCOMPARE(fs.list(u"c:\\dl", u"*", hostfs::EntryKind::Any), (QStringList{"Folder", "New.TXT", "Report.txt"}));
}

void TestDriveTable::resetAttributes()
{
    test::TestWorld world;
    const QString file = world.writeFile(world.onDrive(u'c', QStringLiteral("ro/Locked.txt")), "x");
    const QString folder = world.makeFolder(world.onDrive(u'c', QStringLiteral("ro/Closed")));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const DosFileSystem fs(world.drives());

    QVERIFY(fs.resetAttributes(u"c:\\ro\\locked.txt"));
    QVERIFY(QFile::permissions(file) & QFileDevice::WriteOwner);
    QVERIFY(QFile::permissions(file) & QFileDevice::ReadOwner);
    QVERIFY(fs.resetAttributes(u"c:\\ro\\closed"));
    QVERIFY(QFile::permissions(folder) & QFileDevice::WriteOwner);
    QVERIFY(QFile::permissions(folder) & QFileDevice::ExeOwner);
    // Removing works on the file once it is writable again.
    QVERIFY(fs.removeFile(u"c:\\RO\\LOCKED.TXT"));
    QVERIFY(!QFileInfo::exists(file));

    const Result<void> reset = fs.resetAttributes(u"c:\\ro\\missing.txt");
    QVERIFY(!reset);
    QCOMPARE(reset.error().text(),
             QStringLiteral("The attributes of c:\\ro\\missing.txt cannot be reset: No such file or directory"));
    const Result<void> removed = fs.removeFile(u"c:\\ro\\closed");
    QVERIFY(!removed);
    QCOMPARE(removed.error().text(), QStringLiteral("c:\\ro\\closed could not be deleted: Is a directory"));
    QVERIFY(QFileInfo(folder).isDir());
}

void TestDriveTable::makeDirectory_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("dos");
    QTest::addColumn<QString>("made");  // the new folder as the table shows it; empty: refused
    QTest::addColumn<QString>("error"); // what a person would read when refused

    QTest::newRow("c:") << "c:" << "" << "c: could not be created: File exists";
    QTest::newRow("c:\\") << "c:\\" << "" << "c:\\ could not be created: File exists";
    QTest::newRow("C:\\.") << "C:\\." << "" << "C:\\. could not be created: File exists";
    QTest::newRow("c:\\sub\\..") << "c:\\sub\\.." << "" << "c:\\sub\\.. could not be created: File exists";
    QTest::newRow("existing") << "c:\\EXISTING" << "" << "c:\\EXISTING could not be created: File exists";
    QTest::newRow("no drive") << "q:\\New" << "" << "q:\\New is on no drive";
    QTest::newRow("parent missing") << "c:\\missing\\New" << ""
                                    << "c:\\missing\\New could not be created: No such file or directory";
    QTest::newRow("a file where the parent should be") << "c:\\plain.txt\\New" << ""
                                    << "c:\\plain.txt\\New could not be created: Not a directory";
    QTest::newRow("new") << "c:\\New Folder" << "C:\\New Folder" << "";
    QTest::newRow("new in existing, other case") << "c:\\EXISTING\\Zelv001" << "C:\\existing\\Zelv001" << "";
    // clang-format on
}

void TestDriveTable::makeDirectory()
{
    QFETCH(QString, dos);
    QFETCH(QString, made);
    QFETCH(QString, error);
    test::TestWorld world;
    world.makeFolder(world.onDrive(u'c', QStringLiteral("existing")));
    world.writeFile(world.onDrive(u'c', QStringLiteral("plain.txt")), "x");
    const DosFileSystem fs(world.drives());
    const Result<void> result = fs.makeDirectory(dos);
    QCOMPARE(result.ok(), !made.isEmpty());
    if (!made.isEmpty()) {
        QVERIFY(fs.isDirectory(dos));
        QCOMPARE(world.drives().toDos(*fs.hostPath(dos)), std::optional<QString>(made));
    } else {
        QCOMPARE(result.error().text(), error);
    }
}

void TestDriveTable::diskInfo()
{
    test::TestWorld world;
    world.linkDrive(u'm', world.root() + QStringLiteral("/gone"));
    const DriveDiskInfo info(world.drives());
    const std::optional<qint64> c = info.freeBytes(u'c');
    QVERIFY(c);
    QVERIFY(*c > 0);
    // The whole figure, not one cut to 32 bits: it agrees with Qt's own (other writers on the
    // disk may move it a little between the two calls).
    const qint64 qt = QStorageInfo(world.driveFolder(u'c')).bytesAvailable();
    QVERIFY2(qAbs(*c - qt) < (qint64(256) << 20), qPrintable(QStringLiteral("%1 vs %2").arg(*c).arg(qt)));
    QVERIFY(info.freeBytes(u'C'));
    QVERIFY(!info.freeBytes(u'q'));
    QVERIFY(!info.freeBytes(u'm'));
}

QTEST_GUILESS_MAIN(TestDriveTable)
#include "tst_drivetable.moc"
