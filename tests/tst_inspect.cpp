// Release notes and the zip test run against a scripted window, on archives the tests make:
// what the viewer shows, which names the archives get, the error report's bytes, and what the
// commands leave available.
#include "inspect/archivecontents.h"
#include "inspect/releasenotes.h"
#include "inspect/ziptest.h"
#include "platform/cp437.h"
#include "support/commandworld.h"
#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

using namespace zelv;
using test::ZipEntry;

namespace {

const QByteArray kDescription = "\xc9\xcd\xcd\xbb\n\xba\x01 Prog 1.0 \x02\xba\n\xc8\xcd\xcd\xbc\n";

struct Inspect : test::CommandWorld {
    Inspect()
    {
        world.makeFolder(world.onDrive(u'c', QStringLiteral("files")));
        window.setListPath(QStringLiteral("c:\\files"));
        window.setTreePath(QStringLiteral("c:\\files"));
    }
    QString archive(const QString &name) const { return world.onDrive(u'c', QStringLiteral("files/") + name); }
    bool makeZip(const QString &name, const QList<ZipEntry> &entries)
    {
        const bool ok = test::writeZip(archive(name), entries);
        window.refreshList();
        return ok;
    }
    void select(const QStringList &names)
    {
        window.refreshList();
        for (int i = 0; i < window.listCount(); ++i)
            window.setListSelected(i, names.contains(window.listItem(i)));
    }
    QStringList filesIn(const QString &relative) const
    {
        return QDir(world.onDrive(u'c', relative)).entryList(QDir::Files, QDir::Name);
    }
    // notepad.exe stands in for the note viewer: it writes down each start.
    QString useArgdumpAsNotepad()
    {
        world.installTestTool(QStringLiteral("argdump"), QStringLiteral("notepad.exe"));
        const QString log = world.root() + QStringLiteral("/notepad-runs.txt");
        qputenv("ZELV_ARGDUMP_FILE", QFile::encodeName(log));
        return log;
    }
    // The viewer runs on its own; the world is not removed under it while it writes its log.
    static void waitForTheViewer(const QString &log) { QTRY_VERIFY(test::readBytes(log).endsWith("end\n")); }
};

// A description member whose deflate stream breaks at its first byte.
bool breakMember(const QString &path, const QByteArray &name)
{
    const auto layout = test::readLayout(path);
    const auto m = layout ? layout->member(name) : std::nullopt;
    return m && test::patchBytes(path, m->data, QByteArray(1, char(0x07)));
}

} // namespace

class TestInspect : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("ZELV_ARGDUMP_FILE"); }
    void bannerForm();
    void descriptionShown();
    void archiveWithoutNotesShowsTheBanner();
    void brokenArchive_data();
    void brokenArchive();
    void otherKindShowsNothing();
    void nfoFilesOnePerClick();
    void nfoViewerMissingKeepsTheFile();
    void twoBadOfThree();
    void reportThatCannotBeWrittenSaysWhy();
    void olderBadFileIsReplaced();
    void nothingSelected();
    void otherKindTestsNothing();
    void escapeEndsTheRun();
    void escapeBetweenSmallArchives();
    void contentsOfTheSelection_data();
    void contentsOfTheSelection();
};

void TestInspect::bannerForm()
{
    const QString banner = DizBanner();
    QVERIFY(banner.startsWith(QStringLiteral("\r\n\r\n\r\n")));
    QStringList lines = banner.mid(6).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.takeLast(), QString()); // each line ends with a line break
    QCOMPARE(lines.size(), 4);
    for (const QString &line : lines) {
        QCOMPARE(line.size(), 37);
        QCOMPARE(line.left(9), QString(9, u' '));
        const QString art = line.mid(9);
        QVERIFY(!art.trimmed().isEmpty());
        for (QChar ch : art) {
            // Single-line strokes, corners, tees and crosses that code page 437 has, or blanks.
            QVERIFY2(ch == u' ' || (QStringLiteral("─│┌┐└┘├┤┬┴┼").contains(ch) && cp437::encode(ch.unicode())),
                     qPrintable(line));
        }
    }
}

void TestInspect::descriptionShown()
{
    Inspect t;
    QVERIFY(
        t.makeZip(QStringLiteral("Prog.zip"), {ZipEntry::file("FILE_ID.DIZ", kDescription),
                                               ZipEntry::file("prog.nfo", "info"), ZipEntry::file("setup.exe", "MZ")}));
    QVERIFY(t.makeZip(QStringLiteral("prog2.zip"), {ZipEntry::file("other.diz", "second disk")}));
    // Notes an earlier display left behind go first.
    t.world.writeFile(t.inProgramFolder(QStringLiteral("old.nfo")), "old");
    t.world.writeFile(t.inProgramFolder(QStringLiteral("old.diz")), "old");
    t.select({QStringLiteral("Prog.zip"), QStringLiteral("prog2.zip")});

    ShowArchiveDiz(t.context);
    QCOMPARE(t.state.NameCount, 2);
    QCOMPARE(t.state.NameList.mid(1, 2), QStringList({"Prog.zip", "prog2.zip"}));
    QCOMPARE(t.state.FirstArchivePath, QStringLiteral("c:\\files\\Prog.zip"));
    // Only the first archive's notes.
    QCOMPARE(QDir(t.world.programFolder())
                 .entryList({QStringLiteral("*.diz"), QStringLiteral("*.nfo"), QStringLiteral("*.DIZ")}, QDir::Files),
             QStringList({"FILE_ID.DIZ", "prog.nfo"}));
    test::ScriptedViewer &viewer = t.window.scriptedViewer();
    QVERIFY(viewer.isVisible() && viewer.focused);
    QCOMPARE(viewer.text(), QStringLiteral("╔══╗\r\n║☺ Prog 1.0 ☻║\r\n╚══╝\r\n"));
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 7", "dnfo"}));
    QCOMPARE(t.window.kindPanelCaption(), QStringLiteral("*.zip"));
    QCOMPARE(t.window.folderPanelLook(), FolderPanelLook::Progress);
    QCOMPARE(t.window.folderPanelPercent(), 0);
    QVERIFY(t.window.steps.contains(QStringLiteral("kind panel prog.zip ")));
}

void TestInspect::archiveWithoutNotesShowsTheBanner()
{
    Inspect t;
    QVERIFY(t.makeZip(QStringLiteral("a.zip"), {ZipEntry::file("setup.exe", "MZ")}));
    t.select({QStringLiteral("a.zip")});
    t.window.setCommandsEnabled({FileCommand::Nfo}, true);
    ShowArchiveDiz(t.context);
    QVERIFY(t.window.scriptedViewer().isVisible());
    QCOMPARE(t.window.scriptedViewer().text(), DizBanner());
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 7", "dnfo"})); // as it was
    QCOMPARE(t.window.kindPanelCaption(), QStringLiteral("*.zip"));
}

void TestInspect::brokenArchive_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<qint64>("freeBytes");
    QTest::addColumn<bool>("renamed");
    QTest::addColumn<bool>("badIsAFolder"); // a read-only folder stands under the .bad name

    QTest::newRow("not a zip") << 110 << qint64(1'000'000) << true << false;
    QTest::newRow("broken description") << 200 << qint64(3) << true << false;
    QTest::newRow("a full drive keeps the name") << 110 << qint64(2) << false << false;
    QTest::newRow("a folder under the name is left alone") << 110 << qint64(1'000'000) << false << true;
}

void TestInspect::brokenArchive()
{
    QFETCH(int, code);
    QFETCH(qint64, freeBytes);
    QFETCH(bool, renamed);
    QFETCH(bool, badIsAFolder);

    Inspect t;
    t.disks.bytes = freeBytes;
    const QString path = t.archive(QStringLiteral("ABC.zip"));
    if (code == 110) {
        t.world.writeFile(path, "not a zip at all");
    } else {
        QVERIFY(t.makeZip(QStringLiteral("ABC.zip"), {ZipEntry::file("file_id.diz", test::textBytes(5000))}));
        QVERIFY(breakMember(path, "file_id.diz"));
    }
    if (badIsAFolder) {
        t.world.makeFolder(path + QStringLiteral(".bad"));
        QVERIFY(QFile::setPermissions(path + QStringLiteral(".bad"), QFile::ReadOwner | QFile::ExeOwner));
    } else {
        t.world.writeFile(path + QStringLiteral(".bad"), "an older broken copy");
    }
    t.select({QStringLiteral("ABC.zip")});

    ShowArchiveDiz(t.context);
    QCOMPARE(t.state.FirstArchivePath, QStringLiteral("c:\\files\\abc.zip"));
    QCOMPARE(t.window.scriptedViewer().text(),
             QStringLiteral("\r\n\r\n\r\n\r\n# %1 - Zip CRC error - c:\\files\\abc.zip").arg(code));
    QVERIFY(t.window.scriptedViewer().isVisible());
    QCOMPARE(t.filesIn(QStringLiteral("files")), renamed || badIsAFolder
                                                     ? QStringList{renamed ? "ABC.zip.bad" : "ABC.zip"}
                                                     : QStringList({"ABC.zip", "ABC.zip.bad"}));
    if (renamed)
        QVERIFY(test::readBytes(path + QStringLiteral(".bad")) != "an older broken copy");
    if (badIsAFolder) {
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QCOMPARE(QFileInfo(path + QStringLiteral(".bad")).permissions() & owner, QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(t.dialogs.shownTexts(),
                 QStringList{"c:\\files\\ABC.zip keeps its name: c:\\files\\ABC.zip.bad is a folder"});
    }
    QCOMPARE(t.window.kindPanelCaption(), QStringLiteral("*.zip"));
}

void TestInspect::otherKindShowsNothing()
{
    Inspect t;
    QVERIFY(t.makeZip(QStringLiteral("a.zip"), {ZipEntry::file("file_id.diz", "x")}));
    t.select({QStringLiteral("a.zip")});
    t.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install}, true);
    t.window.pressOnly(ArchiveKind::Rar);
    ShowArchiveDiz(t.context);
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 9", "install"}));
    QVERIFY(!t.window.scriptedViewer().isVisible());
    QCOMPARE(QDir(t.world.programFolder()).entryList({QStringLiteral("*.diz")}, QDir::Files), QStringList());
}

void TestInspect::nfoFilesOnePerClick()
{
    Inspect t;
    t.world.installHelper(QStringLiteral("notepad.exe"));
    const QString report = t.world.root() + QStringLiteral("/shown.txt");
    qputenv("ZELV_NOTEPAD_REPORT", QFile::encodeName(report));
    qputenv("ZELV_NOTEPAD_QUIT", "1");
    const QByteArray first = "\xdb\xdb\xb2\xb1\xb0 first release note\r\n" + QByteArray(200000, '\xc4') + "\nend\n";
    QVERIFY(t.makeZip(QStringLiteral("a.zip"), {ZipEntry::file("file_id.diz", "d"), ZipEntry::file("a.nfo", first),
                                                ZipEntry::file("b.nfo", "second")}));
    t.select({QStringLiteral("a.zip")});
    ShowArchiveDiz(t.context);
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 7", "dnfo"}));

    // The note is removed as soon as the viewer has it; the viewer shows all of it all the same.
    ShowNextNfo(t.context);
    QVERIFY(!QFileInfo::exists(t.inProgramFolder(QStringLiteral("a.nfo"))));
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 7", "dnfo"}));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(report).size() > 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(test::readBytes(report)),
                              QStringLiteral("a.nfo\n") + cp437::decodeNotes(first), 5000);

    QFile::remove(report);
    ShowNextNfo(t.context);
    QVERIFY(!QFileInfo::exists(t.inProgramFolder(QStringLiteral("b.nfo"))));
    QCOMPARE(t.window.enabledDoors(), QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(test::readBytes(report)), QStringLiteral("b.nfo\nsecond"), 20000);

    // Nothing left: the command only takes itself away.
    t.window.setCommandsEnabled({FileCommand::Nfo}, true);
    ShowNextNfo(t.context);
    QCOMPARE(t.window.enabledDoors(), QStringList());
    qunsetenv("ZELV_NOTEPAD_REPORT");
    qunsetenv("ZELV_NOTEPAD_QUIT");
}

void TestInspect::nfoViewerMissingKeepsTheFile()
{
    Inspect t;
    t.world.writeFile(t.inProgramFolder(QStringLiteral("a.nfo")), "note");
    ShowNextNfo(t.context);
    QVERIFY(QFileInfo::exists(t.inProgramFolder(QStringLiteral("a.nfo"))));
    QCOMPARE(t.dialogs.shown().size(), 1);
    QCOMPARE(t.dialogs.shown().first().title, QStringLiteral("Zelvant32 Error"));
}

void TestInspect::twoBadOfThree()
{
    Inspect t;
    const QString log = t.useArgdumpAsNotepad();
    QVERIFY(t.makeZip(QStringLiteral("a.zip"), {ZipEntry::file("file_id.diz", "fine"), ZipEntry::file("x", "x")}));
    t.world.writeFile(t.archive(QStringLiteral("B.ZIP")), "not a zip");
    QVERIFY(t.makeZip(QStringLiteral("c.zip"),
                      {ZipEntry::file("data.bin", test::noiseBytes(3000), ZipEntry::Method::Store)}));
    const auto layout = test::readLayout(t.archive(QStringLiteral("c.zip")));
    QVERIFY(layout && test::flipByte(t.archive(QStringLiteral("c.zip")), layout->member("data.bin")->data + 10));
    t.window.refreshList();
    for (int i = 0; i < t.window.listCount(); ++i)
        t.window.setListSelected(i, true);

    TestZipArchives(t.context);
    QCOMPARE(t.state.NameList.mid(1, 3), QStringList({"a.zip", "b.zip", "c.zip"}));
    QCOMPARE(t.filesIn(QStringLiteral("files")), QStringList({"a.zip", "b.zip.bad", "c.zip.bad"}));
    QCOMPARE(test::readBytes(t.inProgramFolder(QStringLiteral("errors.txt"))),
             QByteArray("# 110 - c:\\files\\b.zip\r\n# 100 - c:\\files\\c.zip\r\n"));
    QCOMPARE(t.window.folderPanelCaption(), QStringLiteral(" Found 2 zip error(s)"));
    QCOMPARE(t.window.folderPanelLook(), FolderPanelLook::Idle);
    QCOMPARE(t.window.kindPanelCaption(), QStringLiteral("*.zip"));
    QVERIFY(t.window.steps.contains(QStringLiteral("kind panel  b.zip    2 of 3")));
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 9", "install", "button 10", "test"}));
    QCOMPARE(QFileInfo::exists(t.inProgramFolder(QStringLiteral("file_id.diz"))), true); // the first stage's
    // The report opens in the note viewer, in front.
    QTRY_VERIFY(QFileInfo::exists(log));
    QTRY_COMPARE(test::readBytes(log), "run " + QFile::encodeName(t.inProgramFolder(QStringLiteral("notepad.exe"))) +
                                           " hint=1\n" + QFile::encodeName(t.context.programFolder) +
                                           "\\errors.txt\nend\n");
}

void TestInspect::reportThatCannotBeWrittenSaysWhy()
{
    Inspect t;
    const QString log = t.useArgdumpAsNotepad();
    // A folder where the report belongs stops the write for every user, root included.
    t.world.makeFolder(t.inProgramFolder(QStringLiteral("errors.txt")));
    t.world.writeFile(t.archive(QStringLiteral("B.ZIP")), "not a zip");
    t.select({QStringLiteral("B.ZIP")});

    TestZipArchives(t.context);

    QVERIFY(!t.dialogs.shownTexts().isEmpty());
    const QString text = t.dialogs.shownTexts().first();
    const QString sentence = QStringLiteral("The error report %1 could not be written: ")
                                 .arg(t.context.programFolder + QStringLiteral("\\errors.txt"));
    QVERIFY2(text.startsWith(sentence) && text.size() > sentence.size(), qPrintable(text));
    QVERIFY(QFileInfo(t.inProgramFolder(QStringLiteral("errors.txt"))).isDir());
    // The viewer is still started on what stands there; it is let finish before the world goes.
    QTRY_VERIFY(QFileInfo::exists(log));
}

void TestInspect::olderBadFileIsReplaced()
{
    Inspect t;
    const QString log = t.useArgdumpAsNotepad();
    t.world.writeFile(t.archive(QStringLiteral("abc.zip")), "broken");
    const QString old = t.archive(QStringLiteral("abc.zip.bad"));
    t.world.writeFile(old, "older");
    QVERIFY(QFile::setPermissions(old, QFile::ReadOwner));
    t.select({QStringLiteral("abc.zip")});
    TestZipArchives(t.context);
    QCOMPARE(t.filesIn(QStringLiteral("files")), QStringList{"abc.zip.bad"});
    QCOMPARE(test::readBytes(old), QByteArray("broken"));
    t.waitForTheViewer(log);
}

// Nothing selected beside a broken archive: the run says so and leaves everything else alone,
// the doors as they were and the earlier report where it was.
void TestInspect::nothingSelected()
{
    Inspect t;
    t.world.writeFile(t.archive(QStringLiteral("b.zip")), "not a zip");
    t.world.writeFile(t.inProgramFolder(QStringLiteral("errors.txt")), "# 100 - c:\\old.zip\r\n");
    t.select({});
    t.window.setCommandsEnabled({FileCommand::Install, FileCommand::Test}, true);
    t.window.steps.clear();
    TestZipArchives(t.context);
    QCOMPARE(t.window.steps, QStringList{QStringLiteral("folder panel  No archive selected")});
    QCOMPARE(t.filesIn(QStringLiteral("files")), QStringList{"b.zip"});
    QCOMPARE(test::readBytes(t.inProgramFolder(QStringLiteral("errors.txt"))), QByteArray("# 100 - c:\\old.zip\r\n"));
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 9", "install", "button 10", "test"}));
    QVERIFY(t.dialogs.shown().isEmpty());
}

void TestInspect::otherKindTestsNothing()
{
    Inspect t;
    t.world.writeFile(t.inProgramFolder(QStringLiteral("errors.txt")), "x");
    t.window.pressOnly(ArchiveKind::Rar);
    t.window.steps.clear();
    TestZipArchives(t.context);
    QCOMPARE(t.window.steps, QStringList());
    QVERIFY(QFileInfo::exists(t.inProgramFolder(QStringLiteral("errors.txt"))));
}

void TestInspect::escapeEndsTheRun()
{
    Inspect t;
    t.world.writeFile(t.archive(QStringLiteral("a.zip")), "broken, but the run ends before it is judged");
    // Long enough to report progress while it is tested.
    QVERIFY(test::writeZipOfZeros(t.archive(QStringLiteral("b.zip")), "zeros.bin", 400ull << 20));
    t.world.writeFile(t.archive(QStringLiteral("c.zip")), "broken, never reached");
    t.window.refreshList();
    for (int i = 0; i < t.window.listCount(); ++i)
        t.window.setListSelected(i, true);
    // Escape while the second archive is tested.
    t.zip.setProgressHandler([&t](const ZipProgress &) {
        if (t.zip.zipFilename().endsWith(QStringLiteral("b.zip")))
            t.zip.setAbort(true);
    });
    const QString log = t.useArgdumpAsNotepad();
    TestZipArchives(t.context);
    QCOMPARE(t.filesIn(QStringLiteral("files")), QStringList({"a.zip.bad", "b.zip", "c.zip"}));
    QCOMPARE(t.window.folderPanelCaption(),
             QStringLiteral(" Test cancelled: 1 of 3 archive(s) tested, 1 zip error(s)"));
    QCOMPARE(t.window.kindPanelCaption(), QStringLiteral("*.zip"));
    QCOMPARE(t.window.enabledDoors(), QStringList({"button 9", "install", "button 10", "test"}));
    t.waitForTheViewer(log);
}

// Escape pressed as a small archive's test ends, too soon for the engine to see it, stops the
// run before the next archive.
void TestInspect::escapeBetweenSmallArchives()
{
    Inspect t;
    for (const char *name : {"a.zip", "b.zip", "c.zip"})
        QVERIFY(t.makeZip(QString::fromLatin1(name), {ZipEntry::file("one.txt", "small")}));
    t.window.refreshList();
    for (int i = 0; i < t.window.listCount(); ++i)
        t.window.setListSelected(i, true);
    t.window.setFolderPanelCaption(QStringLiteral("c:\\files"));
    QStringList captionsSeen;
    t.zip.setProgressHandler([&t, &captionsSeen](const ZipProgress &) {
        captionsSeen << t.window.folderPanelCaption();
        if (t.zip.zipFilename().endsWith(QStringLiteral("a.zip")))
            t.zip.setAbort(true);
    });
    TestZipArchives(t.context);
    // The run changes the panel's look, not what it says.
    QVERIFY(!captionsSeen.isEmpty());
    QCOMPARE(QSet<QString>(captionsSeen.begin(), captionsSeen.end()), QSet<QString>{QStringLiteral("c:\\files")});
    QCOMPARE(t.window.folderPanelCaption(),
             QStringLiteral(" Test cancelled: 0 of 3 archive(s) tested, 0 zip error(s)"));
    QCOMPARE(t.filesIn(QStringLiteral("files")), QStringList({"a.zip", "b.zip", "c.zip"}));
}

void TestInspect::contentsOfTheSelection_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("two zip disks and a broken one") << "zip";
    QTest::newRow("a RAR set from a later volume") << "rar";
    QTest::newRow("a RAR 4 archive") << "rar4";
    QTest::newRow("an ARJ archive made by arj") << "arj";
    QTest::newRow("an ACE archive") << "ace";
    QTest::newRow("nothing selected") << "none";
}

// Contents lists what the selection holds without extracting anything: each zip member with
// its sizes, date and method, each member of a set with the volumes its pieces lie in, the
// totals, and the room on the temporary drive; an archive that cannot be read is named.
void TestInspect::contentsOfTheSelection()
{
    QFETCH(QString, kind);
    Inspect t;
    t.disks.bytes = 123456;
    if (kind == u"zip") {
        QVERIFY(t.makeZip(QStringLiteral("a.zip"),
                          {ZipEntry::folder("data/"), ZipEntry::file("data/x.txt", QByteArray(5000, 'x'))}));
        QVERIFY(t.makeZip(QStringLiteral("b.zip"), {ZipEntry::file("y.bin", "yy", ZipEntry::Method::Store)}));
        t.world.writeFile(t.archive(QStringLiteral("c.zip")), "not a zip");
        t.select({QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("c.zip")});
    } else if (kind == u"rar") {
        const auto v = test::writeRarSet(t.world.onDrive(u'c', QStringLiteral("files")), QStringLiteral("prog"),
                                         test::RarFormat::Rar5, test::VolumeNaming::New,
                                         {test::SetMember::file("setup.exe", test::patternBytes(70000, 3))}, 30000);
        QVERIFY(v && v->size() == 3);
        t.window.pressOnly(ArchiveKind::Rar);
        t.window.setListPattern(QStringLiteral("*.rar"));
        t.select({QStringLiteral("prog.part2.rar")});
    } else if (kind != u"none") {
        // A file in a folder, dated; the archive keeps its own separator between the parts.
        const QString files = t.world.onDrive(u'c', QStringLiteral("files"));
        const QList<test::SetMember> members{test::SetMember::file("data/game.dat", test::patternBytes(2000, 9))};
        if (kind == u"rar4")
            QVERIFY(test::writeRarSet(files, QStringLiteral("prog"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                                      members, 0));
        if (kind == u"ace")
            QVERIFY(test::writeAceSet(files, QStringLiteral("prog"), members, 0));
        if (kind == u"arj") {
            if (QStandardPaths::findExecutable(QStringLiteral("arj")).isEmpty())
                QSKIP("arj is not installed (scripts/install-deps installs it)");
            t.world.writeFile(files + QStringLiteral("/in/data/game.dat"), test::patternBytes(2000, 9));
            QFile dated(files + QStringLiteral("/in/data/game.dat"));
            QVERIFY(dated.open(QIODevice::ReadWrite) &&
                    dated.setFileTime(test::SetMember().mtime, QFileDevice::FileModificationTime));
            dated.close();
            QProcess arj;
            arj.setWorkingDirectory(files + QStringLiteral("/in"));
            arj.start(QStringLiteral("arj"), {QStringLiteral("a"), QStringLiteral("-y"), QStringLiteral("../prog.arj"),
                                              QStringLiteral("data/game.dat")});
            QVERIFY(arj.waitForFinished(60000) && arj.exitCode() == 0);
        }
        const ArchiveKind pressed = kind == u"arj"   ? ArchiveKind::Arj
                                    : kind == u"ace" ? ArchiveKind::Ace
                                                     : ArchiveKind::Rar;
        t.window.pressOnly(pressed);
        t.window.setListPattern(QStringLiteral("*.") + kind.left(3));
        t.select({QStringLiteral("prog.") + kind.left(3)});
    }
    const QStringList before = test::entriesBelow(t.world.root());

    ShowArchiveContents(t.context);

    QCOMPARE(test::entriesBelow(t.world.root()), before); // nothing extracted, nothing written
    if (kind == u"none") {
        QCOMPARE(t.dialogs.shownTexts(),
                 QStringList{"Select the archives, or a volume of the set, to see what they hold"});
        QVERIFY(!t.window.shownContents);
        return;
    }
    QVERIFY(t.window.shownContents);
    const ArchiveContents &c = *t.window.shownContents;
    QCOMPARE(c.freeRoom, std::optional<qint64>(123456));
    QCOMPARE(c.tempDrive, QStringLiteral("c"));
    QStringList rows;
    for (const ContentsEntry &e : c.entries)
        rows << QStringLiteral("%1|%2|%3|%4|%5").arg(e.archive, e.name).arg(e.size).arg(e.method, e.volumes);
    if (kind == u"zip") {
        QCOMPARE(c.title, QStringLiteral("c:\\files\\a.zip, b.zip"));
        QCOMPARE(rows,
                 QStringList({"a.zip|data\\|0|Stored|", "a.zip|data\\x.txt|5000|Deflated|", "b.zip|y.bin|2|Stored|"}));
        QCOMPARE(c.files, 2);
        QCOMPARE(c.size, 5002);
        QVERIFY(c.packed < 5000 && c.entries[1].time.isValid());
        QCOMPARE(c.problems,
                 QStringList{"c:\\files\\c.zip cannot be read as a zip archive: too short for an end record"});
    } else if (kind == u"rar") {
        QCOMPARE(c.title, QStringLiteral("c:\\files\\prog.part1.rar"));
        QCOMPARE(rows,
                 QStringList{"prog.part1.rar|setup.exe|70000|Stored|prog.part1.rar, prog.part2.rar, prog.part3.rar"});
        QCOMPARE(c.packed, 70000);
        QCOMPARE(c.problems, QStringList());
    }
    // Every member dated as its headers say, named with '\' between its parts.
    if (kind != u"zip" && kind != u"rar") {
        QCOMPARE(c.problems, QStringList());
        QCOMPARE(c.entries.size(), 1);
        QCOMPARE(c.entries[0].name, QStringLiteral("data\\game.dat"));
    }
    for (const ContentsEntry &e : c.entries)
        if (kind != u"zip")
            QCOMPARE(e.time, test::SetMember().mtime);
}

QTEST_MAIN(TestInspect)
#include "tst_inspect.moc"
