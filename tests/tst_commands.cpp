// Commands run against a scripted window: the steps a person would see, in their order, and
// what each command leaves available.
#include "core/commandcontext.h"
#include "core/settingsfile.h"
#include "housekeeping/tempdirs.h"
#include "inspect/viewerplacement.h"
#include "install/installdirs.h"
#include "support/commandworld.h"
#include "ui/shell/shellcommands.h"
#include "ui/shell/startup.h"

#include <QFileInfo>
#include <QTest>

using namespace zelv;

namespace {

// The command world with the helpers the commands here start.
struct Commands : test::CommandWorld {
    Commands() { world.installHelper(QStringLiteral("killd.pif")); }

    // Every file command's doors at once, as the scripted window holds them.
    void enableAll()
    {
        window.setCommandsEnabled(
            {FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test, FileCommand::Delete}, true);
    }
    QStringList enabledDoors() const { return window.enabledDoors(); }
};

// The main window's start-up side over the scripted surface: the settings go to plain values,
// the folders to the surface, and what start-up does with the window is written to its log.
class StartupSide : public StartupWindow {
public:
    explicit StartupSide(test::ScriptedSurface &surface) : m_surface(surface) {}

    int windowState() const override { return 0; }
    bool setWindowState(int) override { return true; }
    double windowTop() const override { return rect.top; }
    double windowLeft() const override { return rect.left; }
    double windowHeight() const override { return rect.height; }
    double windowWidth() const override { return rect.width; }
    void setWindowTop(double twips) override { rect.top = twips; }
    void setWindowLeft(double twips) override { rect.left = twips; }
    void setWindowHeight(double twips) override { rect.height = twips; }
    void setWindowWidth(double twips) override { rect.width = twips; }
    double screenHeight() const override { return 9000; }
    double screenWidth() const override { return 12000; }
    void showWindowNow() override {}
    int paneWidth() const override { return 2000; }
    void setPaneWidth(int) override {}
    QString listFolder() const override { return m_surface.listPath(); }
    bool setListFolder(const QString &dosFolder) override { return m_surface.setListPath(dosFolder); }
    bool setTreeFolder(const QString &dosFolder) override { return m_surface.setTreePath(dosFolder); }
    std::optional<bool> folderExists(const QString &dosFolder) const override
    {
        return m_surface.folderExists(dosFolder);
    }

    bool handOverToRunningInstance() override { return anotherRuns; }
    void showAboutWindow() override { m_surface.log(QStringLiteral("about shown")); }
    QString aboutWindowVersion() const override { return QStringLiteral("v2.72"); }
    void closeAboutWindow() override { m_surface.log(QStringLiteral("about closed")); }
    void showMainWindow() override { m_surface.log(QStringLiteral("window shown")); }

    bool anotherRuns = false;
    TwipsRect rect{0, 0, 6000, 4005};

private:
    test::ScriptedSurface &m_surface;
};

} // namespace

Q_DECLARE_METATYPE(StartupOutcome)

Q_DECLARE_METATYPE(ArchiveKind)

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void startUp_data();
    void startUp();
    void leftoverScanOffersEachFolder();
    void kindSwitch_data();
    void kindSwitch();
    void clickAvailability_data();
    void clickAvailability();
    void selectAllOnAnEmptyList();
    void changedFolder();
    void installDirs_data();
    void installDirs();
    void installDirOnADriveThatIsNotReady();
    void viewerPlacement_data();
    void viewerPlacement();
};

void TestCommands::startUp_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("programFolder"); // "as made": the world's; otherwise this DOS path
    QTest::addColumn<bool>("anotherRuns");
    QTest::addColumn<QString>("savedFolder");   // the Dir line of Zelv32.ini; empty: no file
    QTest::addColumn<StartupOutcome>("outcome");
    QTest::addColumn<QString>("box");           // the one box shown, if any
    QTest::addColumn<QString>("listFolder");    // where the list ends; empty: never set

    QTest::newRow("program folder on no drive") << "" << false << "" << StartupOutcome::Refused
        << "Zelvant32 can NOT be run from a folder that is on no drive" << "";
    QTest::newRow("program folder a drive's root") << "c:\\" << false << "" << StartupOutcome::Refused
        << "Zelvant32 can NOT be run from a root directory" << "";
    QTest::newRow("another instance runs") << "as made" << true << "" << StartupOutcome::HandedOver << "" << "";
    QTest::newRow("first run: drive c") << "as made" << false << "" << StartupOutcome::Completed << "" << "C:\\";
    QTest::newRow("the remembered folder") << "as made" << false << "C:\\Games" << StartupOutcome::Completed
        << "" << "C:\\Games";
    QTest::newRow("the remembered folder gone: drive c") << "as made" << false << "C:\\Gone"
        << StartupOutcome::Completed << "" << "c:\\";
    // clang-format on
}

void TestCommands::startUp()
{
    QFETCH(QString, programFolder);
    QFETCH(bool, anotherRuns);
    QFETCH(QString, savedFolder);
    QFETCH(StartupOutcome, outcome);
    QFETCH(QString, box);
    QFETCH(QString, listFolder);

    Commands c;
    if (programFolder != u"as made")
        c.context.programFolder = programFolder;
    c.world.makeFolder(c.world.onDrive(u'c', QStringLiteral("Games")));
    c.world.writeFile(c.world.onDrive(u'c', QStringLiteral("Games/a.zip")), "PK");
    // What an earlier run left in the program folder.
    for (const char *name : {"file_id.diz", "prog.nfo", "errors.txt"})
        c.world.writeFile(c.inProgramFolder(QString::fromLatin1(name)), "x");
    const QString ini = c.inProgramFolder(QStringLiteral("Zelv32.ini"));
    if (!savedFolder.isEmpty()) {
        SettingsRecord saved;
        saved.version = QStringLiteral("v2.72");
        saved.height = 4005;
        saved.width = 6000;
        saved.folder = savedFolder;
        QVERIFY(writeSettingsFile(ini, saved));
    }
    StartupSide side(c.window);
    side.anotherRuns = anotherRuns;

    QCOMPARE(StartUp(c.context, side), outcome);

    QCOMPARE(c.dialogs.shownTexts(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(c.window.listPath(), listFolder);
    const bool completed = outcome == StartupOutcome::Completed;
    QCOMPARE(c.window.steps.contains(QStringLiteral("window shown")), completed);
    QCOMPARE(QFileInfo::exists(ini), completed || !savedFolder.isEmpty());
    for (const char *name : {"file_id.diz", "prog.nfo", "errors.txt"})
        QCOMPARE(QFileInfo::exists(c.inProgramFolder(QString::fromLatin1(name))), !completed);
    if (!completed)
        return;
    QCOMPARE(c.window.treePath(), listFolder);
    QCOMPARE(c.window.listPattern(), QStringLiteral("*.zip"));
    QCOMPARE(c.window.kindPanelCaption(), QStringLiteral("*.zip"));
    QCOMPARE(c.window.pressedKind(), std::optional(ArchiveKind::Zip));
    QCOMPARE(c.enabledDoors(), QStringList());
    QCOMPARE(c.state.TempDrive, QStringLiteral("c"));
    QCOMPARE(c.state.VersionText, QStringLiteral("v2.72"));
    // The About window is gone before the window shows.
    QVERIFY(c.window.steps.indexOf(QStringLiteral("about closed")) <
            c.window.steps.indexOf(QStringLiteral("window shown")));
}

void TestCommands::leftoverScanOffersEachFolder()
{
    Commands c;
    c.world.makeFolder(c.world.onDrive(u'c', QStringLiteral("Zelv001")));
    c.world.writeFile(c.world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe")), "MZ");
    c.world.makeFolder(c.world.onDrive(u'c', QStringLiteral("Zelv003")));
    c.dialogs.queueAnswers({MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::Cancel});

    QVERIFY(ScanLeftoverTempDirs(c.context, QStringLiteral("c"))); // ended with Cancel
    const QStringList questions{"Found temporary directory\n\nc:\\Zelv001 . . . . .Delete?",
                                "Found temporary directory\n\nc:\\Zelv002 . . . . .Delete?",
                                "Found temporary directory\n\nc:\\Zelv003 . . . . .Delete?"};
    QCOMPARE(c.dialogs.shownTexts(), questions);
    QVERIFY(!QFileInfo::exists(c.world.onDrive(u'c', QStringLiteral("Zelv001"))));
    QVERIFY(QFileInfo::exists(c.world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe"))));
    QVERIFY(QFileInfo::exists(c.world.onDrive(u'c', QStringLiteral("Zelv003"))));
    // The list shows the folder last offered, every file in it.
    QCOMPARE(c.window.listPath(), QStringLiteral("c:\\Zelv003"));
    QCOMPARE(c.window.treePath(), QStringLiteral("c:\\Zelv003"));
    QCOMPARE(c.window.listPattern(), QStringLiteral("*.*"));
    QCOMPARE(c.window.kindPanelCaption(), QStringLiteral("*.*"));
}

void TestCommands::kindSwitch_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("enabled");

    const QStringList all{"button 6", "Diz", "button 7", "dnfo", "button 9", "install", "button 10", "test", "delete"};
    QTest::newRow("zip leaves the commands") << ArchiveKind::Zip << "*.ZIP" << "*.zip" << all;
    QTest::newRow("rar takes them") << ArchiveKind::Rar << "*.R??;*.0??" << "*.rar" << QStringList{"delete"};
    QTest::newRow("arj takes them") << ArchiveKind::Arj << "*.A??;*.0??" << "*.arj" << QStringList{"delete"};
    QTest::newRow("ace takes them") << ArchiveKind::Ace << "*.ACE;*.C??" << "*.ace" << QStringList{"delete"};
    // clang-format on
}

void TestCommands::kindSwitch()
{
    QFETCH(ArchiveKind, kind);
    QFETCH(QString, pattern);
    QFETCH(QString, caption);
    QFETCH(QStringList, enabled);

    Commands c;
    c.enableAll();
    SwitchKind(c.context, kind);
    QCOMPARE(c.window.listPattern(), pattern);
    QCOMPARE(c.window.kindPanelCaption(), caption);
    QCOMPARE(c.window.kindPanelAlignment(), KindPanelAlignment::Centred);
    QCOMPARE(c.enabledDoors(), enabled);
    QCOMPARE(c.window.unknownDoors(), QStringList());
}

void TestCommands::clickAvailability_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<std::optional<ArchiveKind>>("pressed");
    QTest::addColumn<QStringList>("enabled");

    QTest::newRow("zip") << std::optional(ArchiveKind::Zip)
                         << QStringList{"button 6", "Diz", "button 9", "install", "button 10", "test", "delete"};
    QTest::newRow("none pressed, as zip") << std::optional<ArchiveKind>()
                                          << QStringList{"button 6", "Diz", "button 9", "install", "button 10", "test",
                                                         "delete"};
    QTest::newRow("rar: install only, diz and test buttons taken")
        << std::optional(ArchiveKind::Rar) << QStringList{"Diz", "button 9", "install", "test"};
    QTest::newRow("ace: as rar") << std::optional(ArchiveKind::Ace) << QStringList{"Diz", "button 9", "install", "test"};
    QTest::newRow("arj: nothing changes")
        << std::optional(ArchiveKind::Arj) << QStringList{"button 6", "Diz", "button 10", "test"};
    // clang-format on
}

void TestCommands::clickAvailability()
{
    QFETCH(std::optional<ArchiveKind>, pressed);
    QFETCH(QStringList, enabled);

    Commands c;
    // Diz and test available before the click, nfo never touched by it.
    c.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Test}, true);
    if (pressed)
        c.window.pressOnly(*pressed);
    else
        c.window.setKindPressed(ArchiveKind::Zip, false);
    ApplyClickAvailability(c.context);
    QCOMPARE(c.enabledDoors(), enabled);
}

void TestCommands::selectAllOnAnEmptyList()
{
    Commands c;
    QVERIFY(c.window.setListPath(QStringLiteral("c:\\")));
    QCOMPARE(c.window.listCount(), 0);
    SelectAllFiles(c.context);
    QCOMPARE(c.enabledDoors(), QStringList({"button 6", "Diz", "button 9", "install", "button 10", "test"}));
}

void TestCommands::changedFolder()
{
    Commands c;
    c.world.writeFile(c.world.onDrive(u'c', QStringLiteral("Games/a.zip")), "PK");
    QVERIFY(c.window.setTreePath(QStringLiteral("c:\\Games")));
    ShowChangedFolder(c.context);
    QCOMPARE(c.window.listPath(), QStringLiteral("c:\\Games"));
    QCOMPARE(c.window.folderPanelCaption(), QStringLiteral("c:\\games"));
    QCOMPARE(c.window.folderPanelLook(), FolderPanelLook::Folder);

    // Gone behind the program's back: the list stays where it was and the tree goes back to it.
    c.world.makeFolder(c.world.onDrive(u'c', QStringLiteral("Games/Old")));
    QVERIFY(c.window.setTreePath(QStringLiteral("c:\\Games\\Old")));
    QVERIFY(QDir(c.world.onDrive(u'c', QStringLiteral("Games/Old"))).removeRecursively());
    ShowChangedFolder(c.context);
    QCOMPARE(c.window.listPath(), QStringLiteral("c:\\Games"));
    QCOMPARE(c.window.treePath(), QStringLiteral("c:\\Games"));
    QCOMPARE(c.window.listCount(), 1);
    QVERIFY(!c.window.closed);

    // With the list's folder gone as well, both go back to c:\.
    QVERIFY(QDir(c.world.onDrive(u'c', QStringLiteral("Games"))).removeRecursively());
    ShowChangedFolder(c.context);
    QCOMPARE(c.window.treePath(), QStringLiteral("c:\\"));
    QCOMPARE(c.window.listPath(), QStringLiteral("c:\\"));
    QVERIFY(!c.window.closed);
}

void TestCommands::installDirs_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none taken: never Zelv000") << QStringList() << 1 << "c:\\Zelv001";
    QTest::newRow("first missing, second there") << QStringList{"Zelv002"} << 1 << "c:\\Zelv001";
    QTest::newRow("a plain file counts as taken") << QStringList{"Zelv001:file"} << 1 << "c:\\Zelv002";
    QTest::newRow("the counter goes on from where it is") << QStringList{"Zelv001", "Zelv003"} << 2 << "c:\\Zelv002";
    QTest::newRow("names ignore letter case") << QStringList{"ZELV001"} << 1 << "c:\\Zelv002";
    QStringList many;
    for (int i = 1; i <= 999; ++i)
        many << QStringLiteral("Zelv%1").arg(i, 3, 10, QLatin1Char('0'));
    QTest::newRow("after 999, four digits") << many << 1 << "c:\\Zelv1000";
    // clang-format on
}

void TestCommands::installDirs()
{
    QFETCH(QStringList, taken);
    QFETCH(int, from);
    QFETCH(QString, expected);

    Commands c;
    for (const QString &t : taken) {
        if (t.endsWith(QStringLiteral(":file")))
            c.world.writeFile(c.world.onDrive(u'c', t.chopped(5)), "x");
        else
            c.world.makeFolder(c.world.onDrive(u'c', t));
    }
    int counter = from;
    const Result<QString> allocated = AllocateInstallDir(c.files, QStringLiteral("c"), counter);
    QVERIFY(allocated);
    QCOMPARE(*allocated, expected);
    QCOMPARE(InstallDirPath(QStringLiteral("c"), counter), expected);
    QVERIFY(!QFileInfo::exists(c.world.onDrive(u'c', expected.mid(3)))); // nothing made
}

void TestCommands::installDirOnADriveThatIsNotReady()
{
    Commands c;
    c.world.linkDrive(u'e', c.world.root() + QStringLiteral("/no-medium"));
    int counter = 1;
    QVERIFY(!AllocateInstallDir(c.files, QStringLiteral("e"), counter));
    QVERIFY(!AllocateInstallDir(c.files, QStringLiteral("q"), counter));
}

void TestCommands::viewerPlacement_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<double>("top");
    QTest::addColumn<bool>("placed");

    QTest::newRow("room above") << false << 3000.0 << true;
    QTest::newRow("just room above") << false << 2501.0 << true;
    QTest::newRow("2500 below the top is not enough") << false << 2500.0 << false;
    QTest::newRow("maximized") << true << 3000.0 << false;
    // clang-format on
}

void TestCommands::viewerPlacement()
{
    QFETCH(bool, maximized);
    QFETCH(double, top);
    QFETCH(bool, placed);

    Commands c;
    c.window.maximized = maximized;
    c.window.rect = {1200, top, 7000, 5000};
    const TwipsRect before = c.window.viewer().placement();
    PlaceViewer(c.window);
    if (placed)
        QCOMPARE(c.window.viewer().placement(), (TwipsRect{1200, top - 2375, 5850, 2325}));
    else
        QCOMPARE(c.window.viewer().placement(), before);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
