// The install command against a scripted window, with the real helpers and the real zip
// engine, on releases the tests make: zip disks holding a RAR, ARJ or ACE set or plain files,
// the free-space edge, zip errors, a failing helper, the ARJ refusal and the direct RAR and ACE
// installs, each with the window's state afterwards.
#include "install/installpipeline.h"
#include "support/commandworld.h"
#include "support/rawzip.h"
#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

#include <zlib.h>

using namespace zelv;
using test::SetMember;
using test::ZipEntry;

namespace {

const QByteArray kSetup = test::patternBytes(30000, 5);
const QByteArray kData = test::patternBytes(50000, 9);

struct Install : test::CommandWorld {
    Install()
    {
        for (const char *helper : {"wrar.exe", "warj.pif", "wace.pif", "ace.pif", "killd.pif"})
            world.installHelper(QString::fromLatin1(helper));
        world.makeFolder(source());
        window.setTreePath(QStringLiteral("C:\\Rel"));
        window.setListPath(QStringLiteral("C:\\Rel"));
    }
    QString source() const { return world.onDrive(u'c', QStringLiteral("Rel")); }
    QString onC(const QString &relative) const { return world.onDrive(u'c', relative); }

    // Zip disks named disk1.zip, disk2.zip, ... that share the files between them; the first
    // also holds the release's description.
    void makeDisks(const QList<QPair<QByteArray, QByteArray>> &files, int disks = 2)
    {
        QList<QList<ZipEntry>> entries(disks);
        entries[0] << ZipEntry::file("FILE_ID.DIZ", "Prog 1.0 release") << ZipEntry::file("prog.nfo", "notes");
        for (int i = 0; i < files.size(); ++i)
            entries[i % disks] << ZipEntry::file(files[i].first, files[i].second, ZipEntry::Method::Store);
        for (int d = 0; d < disks; ++d)
            QVERIFY(test::writeZip(source() + QStringLiteral("/disk%1.zip").arg(d + 1), entries[d]));
        selectAll();
    }
    void selectAll()
    {
        window.setListPattern(QStringLiteral("*.zip"));
        for (int i = 0; i < window.listCount(); ++i)
            window.setListSelected(i, true);
    }
    // The volumes of a set written into a scratch folder, as (name, bytes) pairs.
    static QList<QPair<QByteArray, QByteArray>> volumes(const QStringList &paths)
    {
        QList<QPair<QByteArray, QByteArray>> out;
        for (const QString &p : paths)
            out.append({QFileInfo(p).fileName().toUtf8(), test::readBytes(p)});
        return out;
    }
    // As in the real window, a move of the tree shows the new folder in the folder panel, so
    // what the install says there has to come after its last move.
    void panelFollowsTheTree()
    {
        window.onTreeMoved = [this] {
            window.setFolderPanelLook(FolderPanelLook::Folder);
            window.setFolderPanelCaption(window.treePath().toLower());
        };
    }
    void checkEndState()
    {
        QCOMPARE(window.pressedKind(), std::optional(ArchiveKind::Zip));
        QCOMPARE(window.listPattern(), QStringLiteral("*.zip"));
        QCOMPARE(window.kindPanelCaption(), QStringLiteral("*.zip"));
        QCOMPARE(window.treePath().toLower(), QStringLiteral("c:\\rel"));
        QVERIFY(window.selectedNames().isEmpty());
        QVERIFY(!window.viewer().isVisible());
        QVERIFY(!window.commandEnabled(FileCommand::Install, Doors::Both));
        // The .nfo copies the description step left in the program folder are gone.
        QCOMPARE(QDir(world.programFolder()).entryList({QStringLiteral("*.nfo")}, QDir::Files), QStringList());
    }
};

QList<SetMember> setMembers() { return {SetMember::file("setup.exe", kSetup), SetMember::file("data.bin", kData)}; }

} // namespace

Q_DECLARE_METATYPE(ArchiveKind)

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void innerSets_data();
    void innerSets();
    void failingHelperKeepsTheFirstDirectory();
    void failedOrCancelledInstallSaysSo_data();
    void failedOrCancelledInstallSaysSo();
    void freeSpace_data();
    void freeSpace();
    void zipErrors_data();
    void zipErrors();
    void arjIsRefused();
    void directSets_data();
    void directSets();
    void takenNamesAreSkipped();
    void folderThatCannotBeMade_data();
    void folderThatCannotBeMade();
    void droppedFiles();
    void setupAnsweredYes();
    void zipStageCaptions();
    void nothingSelected();
    void badDiskNamedBySfv_data();
    void badDiskNamedBySfv();
    void sfvCheckKeepsTheWindowAnswering();
};

void TestInstall::innerSets_data()
{
    QTest::addColumn<QString>("kind"); // what the zip disks hold
    QTest::addColumn<QString>("finalDir");
    QTest::addColumn<bool>("setup"); // a setup.exe comes with the files
    // clang-format off
    QTest::newRow("a RAR set") << "rar" << "c:\\Zelv002" << true;
    QTest::newRow("an ACE set") << "ace" << "c:\\Zelv002" << true;
    QTest::newRow("an ARJ set, one run per volume") << "arj" << "c:\\Zelv002" << true;
    QTest::newRow("a RAR and an ARJ set: only the RAR set") << "rar+arj" << "c:\\Zelv002" << true;
    QTest::newRow(".000 files that are not RAR: the ARJ test runs on them") << "fake000+arj" << "c:\\Zelv002" << true;
    QTest::newRow("plain files") << "plain" << "c:\\Zelv001" << true;
    QTest::newRow("a RAR set without a setup program") << "rar" << "c:\\Zelv002" << false;
    QTest::newRow("plain files without a setup program") << "plain" << "c:\\Zelv001" << false;
    // clang-format on
}

void TestInstall::innerSets()
{
    QFETCH(QString, kind);
    QFETCH(QString, finalDir);
    QFETCH(bool, setup);
    const bool inner = kind != u"plain";
    Install t;
    t.panelFollowsTheTree();
    QTemporaryDir scratch;
    QList<QPair<QByteArray, QByteArray>> files;
    if (kind.contains(u"rar")) {
        QList<SetMember> members = setMembers();
        if (!setup)
            members.removeFirst();
        const auto v = test::writeRarSet(scratch.path(), QStringLiteral("prog"), test::RarFormat::Rar4,
                                         test::VolumeNaming::Old, members, 30000);
        QVERIFY(v);
        files << Install::volumes(*v);
    }
    if (kind == u"ace") {
        const auto v = test::writeAceSet(scratch.path(), QStringLiteral("prog"), setMembers(), 30000);
        QVERIFY(v);
        files << Install::volumes(*v);
    }
    if (kind.contains(u"arj")) {
        if (QStandardPaths::findExecutable(QStringLiteral("arj")).isEmpty())
            QSKIP("arj is not installed");
        t.world.writeFile(scratch.filePath(QStringLiteral("in/setup.exe")), kSetup);
        t.world.writeFile(scratch.filePath(QStringLiteral("in/data.bin")), kData);
        QProcess arj;
        arj.setWorkingDirectory(scratch.filePath(QStringLiteral("in")));
        arj.setStandardInputFile(QProcess::nullDevice());
        arj.start(QStringLiteral("arj"),
                  {QStringLiteral("a"), QStringLiteral("-v30k"), QStringLiteral("-m0"), QStringLiteral("-y"),
                   QStringLiteral("../prog.arj"), QStringLiteral("setup.exe"), QStringLiteral("data.bin")});
        QVERIFY(arj.waitForFinished(60000));
        files << Install::volumes({scratch.filePath(QStringLiteral("prog.arj")),
                                   scratch.filePath(QStringLiteral("prog.a01")),
                                   scratch.filePath(QStringLiteral("prog.a02"))});
    }
    if (kind.contains(u"fake000"))
        files << QPair<QByteArray, QByteArray>{"notes.000", "not a volume"};
    if (kind == u"plain" && setup)
        files << QPair<QByteArray, QByteArray>{"setup.exe", kSetup};
    if (kind == u"plain")
        files << QPair<QByteArray, QByteArray>{"data.bin", kData};
    t.makeDisks(files);
    t.dialogs.queueAnswers({MessageAnswer::No});

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(), setup ? QStringList{QStringLiteral("   Run Setup.exe?   ")} : QStringList());
    if (setup) {
        QVERIFY(
            t.window.steps.contains(QStringLiteral("folder panel Found ") + finalDir + QStringLiteral("\\Setup.exe")));
        QCOMPARE(test::readBytes(t.onC(finalDir.mid(3)) + QStringLiteral("/setup.exe")), kSetup);
    } else {
        // Where it went stands after the way back to the source folder.
        QCOMPARE(t.window.folderPanelCaption(), QStringLiteral("Installed to: ") + finalDir);
    }
    // The view moves to the files only for a set that came out of the disks.
    QCOMPARE(t.window.steps.contains(QStringLiteral("pattern *.*")), inner && setup);
    QCOMPARE(t.state.LastInstallDir, finalDir);
    const QString final = t.onC(finalDir.mid(3));
    QCOMPARE(test::readBytes(final + QStringLiteral("/data.bin")), kData);
    if (inner) {
        QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001"))));
        // The first disk's description files came along.
        QCOMPARE(test::readBytes(final + QStringLiteral("/FILE_ID.DIZ")), QByteArray("Prog 1.0 release"));
        QVERIFY(QFileInfo::exists(final + QStringLiteral("/prog.nfo")));
    }
    t.checkEndState();
}

void TestInstall::failingHelperKeepsTheFirstDirectory()
{
    Install t;
    QTemporaryDir scratch;
    const auto v = test::writeRarSet(scratch.path(), QStringLiteral("prog"), test::RarFormat::Rar4,
                                     test::VolumeNaming::Old, setMembers(), 30000);
    QVERIFY(v && v->size() >= 3);
    QStringList kept = *v;
    kept.removeAt(1); // prog.r00 is missing from the disks
    t.makeDisks(Install::volumes(kept));
    t.panelFollowsTheTree();

    InstallFiles(t.context);

    // The volume by its name on the disks, not where the install put it for a while.
    QCOMPARE(t.dialogs.shownTexts(),
             QStringList{QStringLiteral("Volume prog.r00 is missing from the 2 zip disks selected")});
    QVERIFY(t.window.steps.filter(QStringLiteral("folder panel Installed to:")).isEmpty());
    // What the disks held stays for the person; no setup is offered from the second directory.
    QVERIFY(QFileInfo::exists(t.onC(QStringLiteral("Zelv001/prog.rar"))));
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv002"))));
    QCOMPARE(t.window.folderPanelCaption(), QStringLiteral("Install failed"));
    t.checkEndState();
}

void TestInstall::failedOrCancelledInstallSaysSo_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("said"); // how the one message box ends; empty: none
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("left"); // the install directories that stay
    QTest::newRow("a set straight from its folder, a volume missing") << "set"
                                                                      << "wrar.exe: Missing volume C:\\Rel\\prog.r00"
                                                                      << "Install failed" << QStringList();
    QTest::newRow("a disk's member too large to write")
        << "write"
        << "Zip write error - # 300\nc:\\Zelv001 cannot be written: File too large"
        << "Install failed" << QStringList{"Zelv001"};
    QTest::newRow("Escape on the second disk: what the first gave stays")
        << "escape"
        << ""
        << "Install cancelled" << QStringList{"Zelv001"};
}

// An install that fails or is cancelled says so in the folder panel, never "Installed to:"
// or "To:", not even while the helper runs; what the disks gave stays, an empty directory goes.
void TestInstall::failedOrCancelledInstallSaysSo()
{
    QFETCH(QString, what);
    QFETCH(QString, said);
    QFETCH(QString, caption);
    QFETCH(QStringList, left);
    Install t;
    t.panelFollowsTheTree();
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &before); });
    if (what == u"set") {
        const auto v = test::writeRarSet(t.source(), QStringLiteral("prog"), test::RarFormat::Rar4,
                                         test::VolumeNaming::Old, setMembers(), 30000);
        QVERIFY(v && QFile::remove(v->at(1)));
        t.window.pressOnly(ArchiveKind::Rar);
        t.window.setListPattern(archiveKindInfo(ArchiveKind::Rar).listingFilter);
    } else {
        t.makeDisks({{"setup.exe", kSetup}, {"data.bin", test::patternBytes(4 << 20, 3)}});
    }
    if (what == u"write") {
        // Files of at most 20,000 bytes: setup.exe cannot be written, whoever runs the test.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit small{20000, before.rlim_max};
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    if (what == u"escape") // as the second disk is extracted
        t.zip.setProgressHandler([&t](const ZipProgress &) {
            if (t.window.kindPanelCaption().contains(QStringLiteral("2 of 2")))
                t.zip.setAbort(true);
        });

    InstallFiles(t.context);

    const QStringList texts = t.dialogs.shownTexts();
    QVERIFY2(texts.size() == (said.isEmpty() ? 0 : 1), qPrintable(texts.join(u'|')));
    if (!said.isEmpty())
        QVERIFY2(texts.first().endsWith(said), qPrintable(texts.first()));
    QCOMPARE(t.window.folderPanelCaption(), caption);
    QVERIFY(t.window.steps.filter(QStringLiteral("folder panel Installed to:")).isEmpty());
    QCOMPARE(QDir(t.onC(QString())).entryList({QStringLiteral("Zelv0*")}, QDir::AllEntries), left);
    if (what == u"escape")
        QCOMPARE(test::readBytes(t.onC(QStringLiteral("Zelv001/setup.exe"))), kSetup);
}

// The free space is held against what the disks' directories declare their files unpack to,
// not against the disks' own lengths: a small disk may unpack to far more. A disk whose
// directory cannot be read counts by its length, and its extraction says what is wrong.
void TestInstall::freeSpace_data()
{
    QTest::addColumn<bool>("zipOfNoZip"); // the second disk is no zip archive
    QTest::addColumn<int>("spare");       // free bytes beyond what the disks declare
    QTest::addColumn<QString>("shown");   // empty: installed
    const QString noRoom = QStringLiteral("Not enough free space on c drive to install");
    QTest::newRow("exactly what the disks declare") << false << 0 << QString();
    QTest::newRow("a byte short of what they declare") << false << -1 << noRoom;
    QTest::newRow("a disk that is no zip counts by its length")
        << true << 0 << "Zip structure error - # 110\nc:\\rel\\disk2.zip";
    QTest::newRow("a byte short of that length") << true << -1 << noRoom;
}

void TestInstall::freeSpace()
{
    QFETCH(bool, zipOfNoZip);
    QFETCH(int, spare);
    QFETCH(QString, shown);
    Install t;
    // Two megabytes of zeros deflate to a few kilobytes.
    const QByteArray zeros(2 << 20, '\0');
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/disk1.zip"),
                           {ZipEntry::file("readme.txt", "hello", ZipEntry::Method::Store),
                            ZipEntry::file("zeros.bin", zeros), ZipEntry::folder("empty")}));
    QVERIFY(QFileInfo(t.source() + QStringLiteral("/disk1.zip")).size() < zeros.size() / 100);
    qint64 declared = 5 + zeros.size();
    if (zipOfNoZip) {
        t.world.writeFile(t.source() + QStringLiteral("/disk2.zip"), QByteArray(3000, 'x'));
        declared += 3000;
    }
    t.selectAll();
    t.disks.bytes = declared + spare;

    InstallFiles(t.context);

    QCOMPARE(QFileInfo::exists(t.onC(QStringLiteral("Zelv001/readme.txt"))),
             shown != u"Not enough free space on c drive to install");
    QCOMPARE(t.dialogs.shownTexts(), shown.isEmpty() ? QStringList() : QStringList{shown});
    t.checkEndState();
}

void TestInstall::zipErrors_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("CRC") << "crc"
                         << "Zip CRC error - # 100\nc:\\rel\\Disk2.zip";
    QTest::newRow("structure") << "cut"
                               << "Zip structure error - # 110\nc:\\rel\\Disk2.zip";
    QTest::newRow("a model larger than a decoder may take")
        << "memory"
        << "Zip CRC error - # 410\nc:\\rel\\Disk2.zip\nDisk2.zip needs 256 MB of memory to extract (its "
           "dictionary); this program allows 128 MB";
}

void TestInstall::zipErrors()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    Install t;
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/Disk1.zip"), {ZipEntry::file("one.txt", "first disk")}));
    const QString second = t.source() + QStringLiteral("/Disk2.zip");
    QVERIFY(test::writeZip(second, {ZipEntry::file("two.bin", kData, ZipEntry::Method::Store)}));
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/Disk3.zip"), {ZipEntry::file("three.txt", "third disk")}));
    if (damage == u"crc") {
        QVERIFY(test::flipByte(second, 20000));
    } else if (damage == u"memory") {
        // PPMd asking for a model of 256 MB in its first two bytes.
        test::RawMember m = test::RawMember::stored("two.bin", kData);
        m.method = 98;
        m.data = QByteArray::fromHex("f50f") + m.data;
        test::RawZip zip;
        zip.addMember(m);
        zip.addEntriesForMembers();
        QVERIFY(test::writeFileBytes(second, zip.finish()));
    } else {
        QVERIFY(test::cutFile(second, 1000));
    }
    t.selectAll();

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(), QStringList{message});
    // What the first disk gave stays; the third disk was never opened.
    QVERIFY(QFileInfo::exists(t.onC(QStringLiteral("Zelv001/one.txt"))));
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001/three.txt"))));
    t.checkEndState();
    QCOMPARE(t.window.treePath(), QStringLiteral("c:\\rel"));
}

void TestInstall::arjIsRefused()
{
    Install t;
    t.makeDisks({{"readme.txt", "hello"}});
    t.window.pressOnly(ArchiveKind::Arj);

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(),
             QStringList{QStringLiteral("Zelvant32 doesn't install directly from Arj's at this time")});
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001"))));
    QCOMPARE(t.window.pressedKind(), std::optional(ArchiveKind::Zip));
    QCOMPARE(t.window.listPattern(), QStringLiteral("*.zip"));
}

void TestInstall::directSets_data()
{
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("message");
    QTest::newRow("RAR") << ArchiveKind::Rar << true << "";
    QTest::newRow("ACE") << ArchiveKind::Ace << true << "";
    QTest::newRow("RAR-like files that are no RAR") << ArchiveKind::Rar << false << "Thats not a valid .Rar file";
    QTest::newRow("ACE-like files that are no ACE") << ArchiveKind::Ace << false << "Thats not a valid .Ace file";
}

void TestInstall::directSets()
{
    QFETCH(ArchiveKind, kind);
    QFETCH(bool, valid);
    QFETCH(QString, message);
    Install t;
    const bool rar = kind == ArchiveKind::Rar;
    if (valid) {
        const auto v = rar ? test::writeRarSet(t.source(), QStringLiteral("prog"), test::RarFormat::Rar5,
                                               test::VolumeNaming::Old, setMembers(), 30000)
                           : test::writeAceSet(t.source(), QStringLiteral("prog"), setMembers(), 30000);
        QVERIFY(v);
    } else {
        t.world.writeFile(t.source() + (rar ? QStringLiteral("/prog.000") : QStringLiteral("/prog.c00")), "plain");
    }
    t.window.pressOnly(kind);
    t.window.setListPattern(archiveKindInfo(kind).listingFilter);
    t.window.setKindPanel(KindPanelAlignment::Centred, archiveKindInfo(kind).label);
    t.window.setCommandsEnabled({FileCommand::Delete}, true, Doors::Menu);

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
    if (valid) {
        QCOMPARE(test::readBytes(t.onC(QStringLiteral("Zelv001/setup.exe"))), kSetup);
        QCOMPARE(test::readBytes(t.onC(QStringLiteral("Zelv001/data.bin"))), kData);
        QCOMPARE(t.window.folderPanelCaption(), QStringLiteral("Installed to: c:\\Zelv001"));
        QCOMPARE(t.state.LastInstallDir, QStringLiteral("c:\\Zelv001")); // for the file manager
        QCOMPARE(t.window.kindPanelCaption(), rar ? QStringLiteral("*.rar") : QStringLiteral("*.ace"));
    } else {
        QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001"))));
    }
    // The kind stays; the delete item keeps its state; nothing is selected.
    QCOMPARE(t.window.pressedKind(), std::optional(kind));
    QVERIFY(t.window.commandEnabled(FileCommand::Delete, Doors::Menu));
    QVERIFY(t.window.selectedNames().isEmpty());
    QCOMPARE(t.window.treePath(), QStringLiteral("C:\\Rel"));
}

void TestInstall::folderThatCannotBeMade_data()
{
    QTest::addColumn<bool>("inner"); // the set comes inside zip disks, else straight from its folder
    QTest::addColumn<QString>("folder");
    QTest::newRow("a set straight from its folder") << false << "Zelv001";
    QTest::newRow("a set inside zip disks") << true << "Zelv002";
}

void TestInstall::folderThatCannotBeMade()
{
    QFETCH(bool, inner);
    QFETCH(QString, folder);
    Install t;
    QTemporaryDir scratch;
    const auto v = test::writeRarSet(inner ? scratch.path() : t.source(), QStringLiteral("prog"), test::RarFormat::Rar4,
                                     test::VolumeNaming::Old, setMembers(), 30000);
    QVERIFY(v);
    if (inner) {
        t.makeDisks(Install::volumes(*v));
    } else {
        t.window.pressOnly(ArchiveKind::Rar);
        t.window.setListPattern(archiveKindInfo(ArchiveKind::Rar).listingFilter);
    }
    // Another program takes the name once the install has chosen it, before the folder is made;
    // a cause that holds for every user, root included.
    const QString taken = t.onC(folder);
    t.window.onProcessEvents = [&] {
        if (!QFileInfo::exists(taken))
            t.world.writeFile(taken, "taken meanwhile");
    };

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(),
             QStringList{QStringLiteral("c:\\%1 could not be created: File exists").arg(folder)});
    QCOMPARE(test::readBytes(taken), QByteArray("taken meanwhile"));
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv002/setup.exe"))));
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv003"))));
    QCOMPARE(t.window.treePath(), QStringLiteral("C:\\Rel"));
}

void TestInstall::takenNamesAreSkipped()
{
    Install t;
    t.world.writeFile(t.onC(QStringLiteral("Zelv001")), "a plain file takes the name");
    t.world.makeFolder(t.onC(QStringLiteral("Zelv003")));
    QTemporaryDir scratch;
    const auto v = test::writeRarSet(scratch.path(), QStringLiteral("prog"), test::RarFormat::Rar4,
                                     test::VolumeNaming::Old, setMembers(), 30000);
    QVERIFY(v);
    t.makeDisks(Install::volumes(*v));
    t.dialogs.queueAnswers({MessageAnswer::No});

    InstallFiles(t.context);

    // Zelv002 took the zip contents and went; the set went into Zelv004.
    QCOMPARE(t.window.folderPanelCaption(), QStringLiteral("Found c:\\Zelv004\\Setup.exe"));
    QCOMPARE(test::readBytes(t.onC(QStringLiteral("Zelv001"))), QByteArray("a plain file takes the name"));
    QCOMPARE(test::readBytes(t.onC(QStringLiteral("Zelv004/data.bin"))), kData);
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv002"))));
}

void TestInstall::droppedFiles()
{
    // a.zip and b.rar dropped from another folder: the list moves there, only a.zip is
    // selected and installed.
    Install t;
    const QString other = t.onC(QStringLiteral("Other"));
    QVERIFY(test::writeZip(other + QStringLiteral("/a.zip"), {ZipEntry::file("from-a.txt", "a")}));
    QVERIFY(test::writeZip(other + QStringLiteral("/c.zip"), {ZipEntry::file("from-c.txt", "c")}));
    t.world.writeFile(other + QStringLiteral("/b.rar"), "Rar!");
    t.window.setListPattern(QStringLiteral("*.zip"));

    InstallDroppedFiles(t.context, {QStringLiteral("C:\\Other\\a.zip"), QStringLiteral("C:\\Other\\b.rar")});

    QCOMPARE(test::entriesBelow(t.onC(QStringLiteral("Zelv001"))), QStringList{"from-a.txt"});
    QCOMPARE(t.window.treePath(), QStringLiteral("C:\\Other"));
    QVERIFY(t.window.selectedNames().isEmpty());
}

void TestInstall::setupAnsweredYes()
{
    // A Windows setup program without wine: the person is told why it does not start, and the
    // install directory stays.
    if (!QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty())
        QSKIP("wine is installed here; the setup program would really start");
    Install t;
    t.makeDisks({{"setup.exe", "MZ windows program"}}, 1);
    t.dialogs.queueAnswers({MessageAnswer::Yes});

    InstallFiles(t.context);

    const QStringList texts = t.dialogs.shownTexts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[1], QStringLiteral("The command\n\nc:\\Zelv001\\setup.exe\n\ncould not be started: "
                                      "c:\\Zelv001\\setup.exe is a Windows program and wine is not installed"));
    QVERIFY(QFileInfo::exists(t.onC(QStringLiteral("Zelv001/setup.exe"))));
}

void TestInstall::zipStageCaptions()
{
    Install t;
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/A.ZIP"), {ZipEntry::file("a.txt", "a")}));
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/b.zip"), {ZipEntry::file("b.txt", "b")}));
    QVERIFY(test::writeZip(t.source() + QStringLiteral("/c.zip"), {}));
    t.selectAll();

    InstallFiles(t.context);

    // Each archive in lower case with its number; an archive with nothing in it is passed over.
    const QStringList captions = t.window.steps.filter(QStringLiteral(" of 3"));
    QCOMPARE(captions, QStringList({"kind panel  a.zip    1 of 3", "kind panel  b.zip    2 of 3",
                                    "kind panel  c.zip    3 of 3"}));
    QCOMPARE(test::entriesBelow(t.onC(QStringLiteral("Zelv001"))), QStringList({"a.txt", "b.txt"}));
    QCOMPARE(t.dialogs.shownTexts(), QStringList());
}

// Nothing selected installs nothing, says so in the panel alone and leaves the rest as it was.
void TestInstall::nothingSelected()
{
    Install t;
    t.makeDisks({{"setup.exe", kSetup}});
    for (int i = 0; i < t.window.listCount(); ++i)
        t.window.setListSelected(i, false);
    t.window.steps.clear();
    const QStringList doors = t.window.enabledDoors();

    InstallFiles(t.context);

    QCOMPARE(t.window.steps, QStringList{QStringLiteral("folder panel  No archive selected")});
    QCOMPARE(t.window.folderPanelCaption(), QStringLiteral(" No archive selected"));
    QCOMPARE(t.dialogs.shownTexts(), QStringList());
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001"))));
    QCOMPARE(t.window.enabledDoors(), doors);
}

void TestInstall::badDiskNamedBySfv_data()
{
    QTest::addColumn<QString>("disk"); // what becomes of disk2.zip
    QTest::addColumn<QString>("said");
    QTest::newRow("its bytes changed") << "changed"
                                       << "disk2.zip does not match its CRC in release.sfv";
    // Reading a process's memory at address 0 fails, whoever runs the test.
    QTest::newRow("it cannot be read") << "unreadable"
                                       << "disk2.zip could not be read: Input/output error";
}

// The release's .sfv disagrees with a disk, or the disk cannot be read to tell: said for what it
// is, naming the disk and the .sfv, and nothing is extracted.
void TestInstall::badDiskNamedBySfv()
{
    QFETCH(QString, disk);
    QFETCH(QString, said);
    Install t;
    t.makeDisks({{"setup.exe", kSetup}, {"data.bin", kData}});
    const QString second = t.source() + QStringLiteral("/disk2.zip");
    const QByteArray good = test::readBytes(second);
    const auto crc = [](const QByteArray &b) {
        return QByteArray::number(quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size()))), 16)
            .rightJustified(8, '0');
    };
    t.world.writeFile(t.source() + QStringLiteral("/release.sfv"),
                      "disk1.zip " + crc(test::readBytes(t.source() + QStringLiteral("/disk1.zip"))) +
                          "\r\ndisk2.zip " + crc(good) + "\r\n");
    if (disk == u"changed") {
        QVERIFY(test::flipByte(second, 40));
    } else {
        QVERIFY(QFile::remove(second));
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), second));
    }
    t.selectAll();

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(), QStringList{said});
    QCOMPARE(t.dialogs.shown().first().title, QStringLiteral("Zelvant32 Error"));
    QVERIFY(!QFileInfo::exists(t.onC(QStringLiteral("Zelv001"))));
    t.checkEndState();
}

// The disks' CRCs are read while the window goes on answering: a 2 GiB disk (sparse) keeps
// it answering many times over before the check tells what it found.
void TestInstall::sfvCheckKeepsTheWindowAnswering()
{
    Install t;
    t.makeDisks({{"setup.exe", kSetup}, {"data.bin", kData}});
    const QString second = t.source() + QStringLiteral("/disk2.zip");
    QVERIFY(QFile::resize(second, qint64(2) << 30));
    t.world.writeFile(t.source() + QStringLiteral("/release.sfv"), "disk2.zip 12345678\r\n");
    int answered = 0;
    t.window.onProcessEvents = [&] {
        if (t.dialogs.shownTexts().isEmpty())
            ++answered;
    };
    t.selectAll();

    InstallFiles(t.context);

    QCOMPARE(t.dialogs.shownTexts(), QStringList{QStringLiteral("disk2.zip does not match its CRC in release.sfv")});
    QVERIFY2(answered >= 3, qPrintable(QString::number(answered)));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
