// The main window driven as a person would, offscreen, with its questions answered by script.

#include "archive/xceedzip.h"
#include "core/settingsfile.h"
#include "support/scripteddialogs.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"
#include "ui/aboutwindow.h"
#include "ui/folderchooser.h"
#include "ui/form1.h"
#include "ui/form3.h"
#include "ui/layoutrules.h"
#include "ui/widgets/cp437view.h"
#include "ui/widgets/filelist.h"
#include "ui/widgets/foldertree.h"
#include "ui/widgets/keyedtoolbar.h"
#include "ui/widgets/panesplitter.h"
#include "ui/widgets/statuspanel.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <csignal>
#include <sys/stat.h>

using namespace zelv;
using test::ZipEntry;

namespace {

// A part of the window by its name.
template <typename T>
T *part(Form1 &form, const char *name)
{
    T *found = form.findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT_X(found, "part", name);
    return found;
}

// The About window, wherever it is open.
bool findAboutWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<AboutWindow *>(w))
            return true;
    return false;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Scripted boxes that also note the pointer as each box is asked: the main window's own, or one
// set over the whole program.
struct PointerWatchingDialogs : test::ScriptedDialogs {
    const QWidget *window = nullptr;
    QStringList pointers;
    MessageAnswer ask(const MessageRequest &request) override
    {
        if (QApplication::overrideCursor())
            pointers << QStringLiteral("program busy");
        else
            pointers << (window && window->cursor().shape() == Qt::WaitCursor ? QStringLiteral("window busy")
                                                                              : QStringLiteral("default"));
        return ScriptedDialogs::ask(request);
    }
};

struct Fixture {
    test::TestWorld world;
    PointerWatchingDialogs dialogs;
    std::unique_ptr<Form1> form;

    Fixture()
    {
        // The program folder must be on a drive, as it is beside z: -> / in real use.
        world.linkDrive(u'z', world.root());
        world.installHelper(QStringLiteral("killd.pif"));
    }

    Form1 &make()
    {
        form = std::make_unique<Form1>(Form1Context{world.programFolder(), &world.drives(), &dialogs, nullptr});
        dialogs.window = form.get();
        return *form;
    }

    QString ini() const { return world.programFolder() + QStringLiteral("/Zelv32.ini"); }

    void writeSettings(const QString &folder)
    {
        world.writeFile(ini(), "Version=v2.72\r\nState= 0\r\nTop= 300\r\nLeft= 450\r\nHeight= 4500\r\nWidth= 6600\r\n"
                               "Panel1.width= 400\r\nDir=" +
                                   folder.toLatin1() + "\r\n");
    }
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void layoutFigures();
    void questionsKeepTheListInSight_data();
    void questionsKeepTheListInSight();
    void firstRunWritesSettingsAndOpensOnC();
    void normalExitSavesTheWindow();
    void startsOnTheRememberedFolder();
    void savedPlaceOffEveryScreen_data();
    void savedPlaceOffEveryScreen();
    void savedPlaceWithinReachStays_data();
    void savedPlaceWithinReachStays();
    void rememberedFolderGoneStartsOnC();
    void rootProgramFolderIsRefused();
    void secondInstanceHandsOver();
    void noteCopiesAndErrorReportAreCleanedUp();
    void leftoverScan_data();
    void leftoverScan();
    void leftoverRemovedLeavesTheTree();
    void leftoverHelperMissingIsReported();
    void finalStateAfterStartup();
    void fileCommandDoorsAreTheWindows();
    void kindSwitching();
    void clickAvailability_data();
    void clickAvailability();
    void selectAllOnEmptyList();
    void keyboardAndRightButtonOnTheList();
    void contextMenuOnlyWhileInstallIsEnabled();
    void folderChangesFollowTheTree();
    void failingFolderChangeRecoversToC();
    void refreshDropsTheSelection();
    void exitFromTheToolbarSaves();
    void escapeAndZipProgress();
    void releaseNotesFromTheWindow();
    void standardDescriptionShowsWhole();
    void contentsWindow();
    void installByDroppingDisks();
    void folderChooserFollowsItsRule();
    void helpFromEveryDoor();
    void narrowWindowReachesEveryButton();
    void treeListAndPanelAgree_data();
    void treeListAndPanelAgree();
    void unnameableFolderSaysWhy_data();
    void unnameableFolderSaysWhy();
    void brokenDriveCSaysWhy_data();
    void brokenDriveCSaysWhy();
};

void TestForm1::layoutFigures()
{
    const WindowLayout l = layoutForWindow(6000, 4005, designed::toolbar.width, WindowLayout{});
    QCOMPARE(l.splitter.width, 5640.0);
    QCOMPARE(l.splitter.height, 2405.0);
    QCOMPARE(l.kindPanel.top, 3030.0);
    QCOMPARE(l.folderPanel.top, 3030.0);
    QCOMPARE(l.folderPanel.width, 3450.0);
    QCOMPARE(l.frame1.width, 6000.0);
    QCOMPARE(l.logoPanel.left, 4950.0);
    QCOMPARE(l.dragCorner.top, 2915.0);
    QCOMPARE(l.dragCorner.left, 2070.0 + 3450.0 - 20.0);

    // Too narrow for the logo beside the toolbar: it keeps the left edge it had.
    const WindowLayout narrow = layoutForWindow(5400, 4005, designed::toolbar.width, l);
    QCOMPARE(narrow.logoPanel.left, 4950.0);
    QCOMPARE(narrow.splitter.width, 5040.0);
}

void TestForm1::questionsKeepTheListInSight_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("list");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QPoint>("placed");
    // Unless given, the list sits 60 pixels in and 30 down in the window, 200 x 150; the screen
    // is 1024 x 768.
    // clang-format off
    QTest::newRow("room on the right, level with the list") << QRect(100, 50, 400, 300) << QRect() << QSize(300, 120) << QPoint(508, 80);
    QTest::newRow("window at the right edge: on the left") << QRect(600, 50, 400, 300) << QRect() << QSize(300, 120) << QPoint(292, 80);
    QTest::newRow("wide window: below") << QRect(10, 50, 1000, 300) << QRect() << QSize(300, 120) << QPoint(70, 358);
    QTest::newRow("wide and low: above") << QRect(10, 500, 1000, 260) << QRect() << QSize(300, 120) << QPoint(70, 372);
    QTest::newRow("level with the list, kept on screen") << QRect(100, 50, 400, 300) << QRect() << QSize(300, 760) << QPoint(508, 8);
    QTest::newRow("no room beside: the window's middle") << QRect(0, 0, 1024, 768) << QRect() << QSize(300, 120) << QPoint(362, 324);
    QTest::newRow("no room beside, list on the right: over the folders") << QRect(0, 0, 1024, 768) << QRect(180, 40, 830, 680) << QSize(300, 120) << QPoint(0, 324);
    QTest::newRow("no room beside, wide folders: centred over them") << QRect(0, 0, 1024, 768) << QRect(500, 40, 510, 680) << QSize(300, 120) << QPoint(100, 324);
    // clang-format on
}

void TestForm1::questionsKeepTheListInSight()
{
    QFETCH(QRect, window);
    QFETCH(QRect, list);
    QFETCH(QSize, box);
    QFETCH(QPoint, placed);
    const QRect screen(0, 0, 1024, 768);
    if (list.isNull())
        list = QRect(window.left() + 60, window.top() + 30, 200, 150);
    QCOMPARE(placeBeside(window, list, box, screen), placed);
    QVERIFY(screen.contains(QRect(placed, box)));
    const QRect hidden = QRect(placed, box).intersected(list);
    QVERIFY(hidden.isEmpty() || hidden.width() < box.width()); // never wholly over the list
}

void TestForm1::firstRunWritesSettingsAndOpensOnC()
{
    Fixture f;
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    QVERIFY(form.isVisible());
    const auto lines = readTextLines(f.ini());
    QVERIFY(lines);
    QCOMPARE(lines->size(), 8);
    QCOMPARE(lines->at(0), QStringLiteral("Version="));
    QCOMPARE(lines->at(1), QStringLiteral("State= 0"));
    const double screenH = form.screenHeight();
    const double screenW = form.screenWidth();
    QCOMPARE(lines->at(2), QStringLiteral("Top=") + formatSettingsNumber((screenH - 4005) / 2 + 1300));
    QCOMPARE(lines->at(3), QStringLiteral("Left=") + formatSettingsNumber((screenW - 6000) / 2));
    QCOMPARE(lines->at(4), QStringLiteral("Height= 4005"));
    QCOMPARE(lines->at(5), QStringLiteral("Width= 6000"));
    QCOMPARE(lines->at(6), QStringLiteral("Panel1.width= 375"));
    QCOMPARE(lines->at(7), QStringLiteral("Dir=C:\\"));
    QCOMPARE(form.treePath(), QStringLiteral("C:\\"));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\"));
    QVERIFY(f.dialogs.shown().isEmpty());
}

void TestForm1::normalExitSavesTheWindow()
{
    Fixture f;
    f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Games/New")));
    Form1 &form = f.make();
    form.Form_Load();
    QVERIFY(form.setTreePath(QStringLiteral("c:\\games\\new")));
    part<PaneSplitter>(form, "GTSplitter1")->setFirstPaneWidth(420);
    form.close();
    QByteArray expected = "Version=v2.72\r\nState= 0\r\nTop=" + formatSettingsNumber(form.windowTop()).toLatin1() +
                          "\r\nLeft=" + formatSettingsNumber(form.windowLeft()).toLatin1() +
                          "\r\nHeight=" + formatSettingsNumber(form.windowHeight()).toLatin1() +
                          "\r\nWidth=" + formatSettingsNumber(form.windowWidth()).toLatin1() +
                          "\r\nPanel1.width= 420\r\nDir=C:\\Games\\New\r\n";
    QCOMPARE(readAll(f.ini()), expected);
}

void TestForm1::startsOnTheRememberedFolder()
{
    Fixture f;
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("dl/b.zip")), "PK");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("dl/A.ZIP")), "PK");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("dl/c.rar")), "Rar!");
    f.writeSettings(QStringLiteral("C:\\dl"));
    Form1 &form = f.make();
    form.Form_Load();
    QCOMPARE(form.listPath(), QStringLiteral("C:\\dl"));
    QCOMPARE(form.treePath(), QStringLiteral("C:\\dl"));
    QCOMPARE(form.listCount(), 2);
    QCOMPARE(form.listItem(0), QStringLiteral("A.ZIP"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral("c:\\dl"));
    QCOMPARE(form.paneWidth(), 400);
    QCOMPARE(form.windowWidth(), 6600.0);
}

void TestForm1::savedPlaceOffEveryScreen_data()
{
    QTest::addColumn<QByteArray>("place"); // Top, Left, Height, Width in twips
    QTest::newRow("huge") << QByteArray(
        "Top= 99999999999999\r\nLeft= 99999999999999\r\nHeight= 99999999999999\r\nWidth= 99999999999999");
    QTest::newRow("negative") << QByteArray("Top=-9000000\r\nLeft=-9000000\r\nHeight=-4500\r\nWidth=-6600");
    QTest::newRow("none") << QByteArray("Top= 0\r\nLeft= 0\r\nHeight= 0\r\nWidth= 0");
    QTest::newRow("past the right") << QByteArray("Top= 300\r\nLeft= 900000\r\nHeight= 4500\r\nWidth= 6600");
    QTest::newRow("title bar above") << QByteArray("Top=-1500\r\nLeft= 450\r\nHeight= 4500\r\nWidth= 6600");
}

void TestForm1::savedPlaceWithinReachStays_data()
{
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("left");
    QTest::newRow("off the corner") << -45.0 << -60.0;
    QTest::newRow("partly off the left") << 300.0 << -1500.0;
    QTest::newRow("on the screen") << 300.0 << 450.0;
}

// A window that can still be taken by its title bar opens where it was saved.
void TestForm1::savedPlaceWithinReachStays()
{
    QFETCH(double, top);
    QFETCH(double, left);
    Fixture f;
    f.world.writeFile(f.ini(), "Version=v2.72\r\nState= 0\r\nTop=" + formatSettingsNumber(top).toLatin1() +
                                   "\r\nLeft=" + formatSettingsNumber(left).toLatin1() +
                                   "\r\nHeight= 4500\r\nWidth= 6600\r\nPanel1.width= 400\r\nDir=C:\\\r\n");
    Form1 &form = f.make();
    form.Form_Load();
    QTest::qWait(700); // past the second look the window takes once framed
    // Within the frame's width: a platform may count a place off the screen from the window
    // inside the frame.
    const double frame = (form.geometry().left() - form.frameGeometry().left()) * 15.0;
    QVERIFY2(std::abs(form.windowTop() - top) <= frame && std::abs(form.windowLeft() - left) <= frame,
             qPrintable(QStringLiteral("at %1, %2").arg(form.windowTop()).arg(form.windowLeft())));
}

// A saved place and size that no screen shows is brought back: the window lies on the screen's
// free area, no larger than it and large enough to use.
void TestForm1::savedPlaceOffEveryScreen()
{
    QFETCH(QByteArray, place);
    Fixture f;
    f.world.writeFile(f.ini(), "Version=v2.72\r\nState= 0\r\n" + place + "\r\nPanel1.width= 400\r\nDir=C:\\\r\n");
    Form1 &form = f.make();
    form.Form_Load();
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = form.frameGeometry();
    QVERIFY2(room.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4 is off %5x%6")
                                                  .arg(frame.x())
                                                  .arg(frame.y())
                                                  .arg(frame.width())
                                                  .arg(frame.height())
                                                  .arg(room.width())
                                                  .arg(room.height())));
    QVERIFY(frame.width() >= std::min(320, room.width()) && frame.height() >= std::min(240, room.height()));
}

void TestForm1::rememberedFolderGoneStartsOnC()
{
    Fixture f;
    f.writeSettings(QStringLiteral("C:\\gone"));
    Form1 &form = f.make();
    form.Form_Load();
    QCOMPARE(form.treePath(), QStringLiteral("C:\\"));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\"));

    // A drive that is not in the table at all falls back the same way.
    Fixture g;
    g.writeSettings(QStringLiteral("Q:\\setup"));
    Form1 &other = g.make();
    QCOMPARE(other.Form_Load(), StartupOutcome::Completed);
    QCOMPARE(other.listPath(), QStringLiteral("C:\\"));
}

void TestForm1::rootProgramFolderIsRefused()
{
    Fixture f;
    f.world.linkDrive(u'c', f.world.programFolder());
    f.world.writeFile(f.world.programFolder() + QStringLiteral("/keep.nfo"), "x");
    Form1 &form = f.make();
    QCOMPARE(form.programFolder(), QStringLiteral("C:\\"));
    QCOMPARE(form.Form_Load(), StartupOutcome::Refused);
    QCOMPARE(f.dialogs.shown().size(), 1);
    const MessageRequest &box = f.dialogs.shown().first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Zelvant32 can NOT be run from a root directory"));
    QCOMPARE(box.icon, MessageIcon::Stop);
    QCOMPARE(box.buttons, MessageButtons::Ok);
    QVERIFY(!form.isVisible());
    QVERIFY(!QFileInfo::exists(f.ini()));
    QVERIFY(QFileInfo::exists(f.world.programFolder() + QStringLiteral("/keep.nfo")));
}

void TestForm1::secondInstanceHandsOver()
{
    Fixture f;
    Form1 &first = f.make();
    QCOMPARE(first.Form_Load(), StartupOutcome::Completed);
    first.showMinimized();
    const QByteArray before = readAll(f.ini());
    f.world.writeFile(f.world.programFolder() + QStringLiteral("/keep.nfo"), "x");

    // The second start is the real program file, run from the same program folder.
    QProcess second;
    QVERIFY(f.world.startProgram(second, {}));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_VERIFY(!first.isMinimized());
    QCOMPARE(readAll(f.ini()), before);
    QVERIFY(QFileInfo::exists(f.world.programFolder() + QStringLiteral("/keep.nfo")));
}

void TestForm1::noteCopiesAndErrorReportAreCleanedUp()
{
    Fixture f;
    const QString pf = f.world.programFolder();
    f.world.writeFile(pf + QStringLiteral("/a.diz"), "a");
    f.world.writeFile(pf + QStringLiteral("/file_id.diz"), "b");
    f.world.writeFile(pf + QStringLiteral("/one.nfo"), "c");
    const QString readOnly = f.world.writeFile(pf + QStringLiteral("/TWO.NFO"), "d");
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
    f.world.writeFile(pf + QStringLiteral("/errors.txt"), "e");
    Form1 &form = f.make();
    form.Form_Load();
    QVERIFY(!QFileInfo::exists(pf + QStringLiteral("/a.diz")));
    QVERIFY(QFileInfo::exists(pf + QStringLiteral("/file_id.diz")));
    QVERIFY(!QFileInfo::exists(pf + QStringLiteral("/one.nfo")));
    QVERIFY(!QFileInfo::exists(readOnly));
    QVERIFY(!QFileInfo::exists(pf + QStringLiteral("/errors.txt")));

    // Shutdown takes the next DIZ copy and any NFO copy; the error report stays till next time.
    f.world.writeFile(pf + QStringLiteral("/late.nfo"), "f");
    f.world.writeFile(pf + QStringLiteral("/errors.txt"), "g");
    form.close();
    QVERIFY(!QFileInfo::exists(pf + QStringLiteral("/file_id.diz")));
    QVERIFY(!QFileInfo::exists(pf + QStringLiteral("/late.nfo")));
    QVERIFY(QFileInfo::exists(pf + QStringLiteral("/errors.txt")));
}

void TestForm1::leftoverScan_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QList<MessageAnswer>>("answers");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<int>("boxes");
    using A = MessageAnswer;
    QTest::newRow("yes no yes") << QList<A>{A::Yes, A::No, A::Yes} << QStringList{"Zelv002"} << 3;
    QTest::newRow("cancel first") << QList<A>{A::Cancel} << QStringList{"Zelv001", "Zelv002", "Zelv003"} << 1;
    QTest::newRow("no yes cancel") << QList<A>{A::No, A::Yes, A::Cancel} << QStringList{"Zelv001", "Zelv003"} << 3;
    // clang-format on
}

void TestForm1::leftoverScan()
{
    QFETCH(QList<MessageAnswer>, answers);
    QFETCH(QStringList, remaining);
    QFETCH(int, boxes);
    Fixture f;
    for (const char *name : {"Zelv001", "Zelv002", "Zelv003"})
        f.world.writeFile(f.world.onDrive(u'c', QString::fromLatin1(name) + QStringLiteral("/setup.exe")), "MZ");
    f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("games")));
    f.writeSettings(QStringLiteral("C:\\games"));
    for (MessageAnswer a : answers)
        f.dialogs.queueAnswers({a});
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);

    QCOMPARE(f.dialogs.shown().size(), boxes);
    const MessageRequest &first = f.dialogs.shown().first();
    QCOMPARE(first.title, QStringLiteral("Temporary directory"));
    QCOMPARE(first.text, QStringLiteral("Found temporary directory\n\nc:\\Zelv001 . . . . .Delete?"));
    QCOMPARE(first.buttons, MessageButtons::YesNoCancel);
    QCOMPARE(first.icon, MessageIcon::Question);
    QStringList left;
    for (const char *name : {"Zelv001", "Zelv002", "Zelv003"})
        if (QFileInfo::exists(f.world.onDrive(u'c', QString::fromLatin1(name))))
            left << QString::fromLatin1(name);
    QCOMPARE(left, remaining);
    // The tree lists what is left, nothing more.
    const QAbstractItemModel *model = part<FolderTree>(form, "ExplorerTree1")->model();
    const QModelIndex c = model->index(0, 0);
    QStringList inTree;
    for (int row = 0; row < model->rowCount(c); ++row)
        if (const QString name = model->index(row, 0, c).data().toString(); name.startsWith(u"Zelv"))
            inTree << name;
    QCOMPARE(inTree, remaining);
    // Start-up completes on the remembered folder whatever was answered.
    QCOMPARE(form.listPath(), QStringLiteral("C:\\games"));
    QCOMPARE(form.listPattern(), QStringLiteral("*.zip"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel2")->caption(), QStringLiteral("*.zip"));
}

void TestForm1::leftoverRemovedLeavesTheTree()
{
    // The window ends on c:\ itself, the folder that held the leftover.
    Fixture f;
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("Zelv001/setup.exe")), "MZ");
    f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("games")));
    f.writeSettings(QStringLiteral("C:\\"));
    f.dialogs.queueAnswers({MessageAnswer::Yes});
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    QVERIFY(!QFileInfo::exists(f.world.onDrive(u'c', QStringLiteral("Zelv001"))));
    const QAbstractItemModel *model = part<FolderTree>(form, "ExplorerTree1")->model();
    const QModelIndex c = model->index(0, 0);
    QStringList inTree;
    for (int row = 0; row < model->rowCount(c); ++row)
        inTree << model->index(row, 0, c).data().toString();
    QCOMPARE(inTree, QStringList{"games"});
    QCOMPARE(form.treePath(), QStringLiteral("C:\\"));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\"));
}

void TestForm1::leftoverHelperMissingIsReported()
{
    Fixture f;
    QFile::remove(f.world.programFolder() + QStringLiteral("/killd.pif"));
    f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Zelv001")));
    f.dialogs.queueAnswers({MessageAnswer::Yes});
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    QCOMPARE(f.dialogs.shown().size(), 2);
    const MessageRequest &error = f.dialogs.shown().at(1);
    QCOMPARE(error.title, QStringLiteral("Zelvant32 Error"));
    QVERIFY2(error.text.contains(QStringLiteral("killd.pif c:\\Zelv001")), qPrintable(error.text));
    QVERIFY(QFileInfo::exists(f.world.onDrive(u'c', QStringLiteral("Zelv001"))));
}

void TestForm1::fileCommandDoorsAreTheWindows()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    const QHash<FileCommand, QString> keys{{FileCommand::Diz, "diz"},
                                           {FileCommand::Nfo, "nfo"},
                                           {FileCommand::Install, "install"},
                                           {FileCommand::Test, "test"}};
    for (FileCommand c : kAllFileCommands) {
        const FileCommandDoors &doors = doorsOf(c);
        QCOMPARE(doors.command, c);
        QCOMPARE(part<KeyedToolbar>(form, "GTToolbar1")->key(doors.toolbarPosition), keys.value(c));
        QVERIFY2(form.findChild<QAction *>(QString::fromLatin1(doors.menuItem)), doors.menuItem);
        // Each door answers for its command alone.
        form.setCommandsEnabled({c}, true);
        QVERIFY(form.commandEnabled(c, Doors::Menu));
        QCOMPARE(form.commandEnabled(c, Doors::Toolbar), doors.toolbarPosition != 0);
        form.setCommandsEnabled({c}, false);
        QVERIFY(!form.commandEnabled(c, Doors::Menu) && !form.commandEnabled(c, Doors::Toolbar));
    }
}

void TestForm1::finalStateAfterStartup()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    QCOMPARE(part<KeyedToolbar>(form, "GTToolbar1")->count(), 16);
    QCOMPARE(part<KeyedToolbar>(form, "GTToolbar1")->pressedGroupButton(), int(ZipButton));
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        QVERIFY2(!form.toolbarButtonEnabled(b), qPrintable(QString::number(b)));
    for (int b : {ZipButton, RarButton, ArjButton, AceButton, HelpButton, WebButton, EmailButton, ExitButton})
        QVERIFY(form.toolbarButtonEnabled(b));
    for (const char *item : {"Diz", "install", "test", "delete"})
        QVERIFY2(!form.menuItemEnabled(QString::fromLatin1(item)), item);
    QVERIFY(form.menuItemEnabled(QStringLiteral("dnfo")));
    QCOMPARE(form.state().TempDrive, QStringLiteral("c"));
    QCOMPARE(form.state().VersionText, QStringLiteral("v2.72"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel2")->alignmentCode(), 7);
    QCOMPARE(part<KeyedToolbar>(form, "GTToolbar1")->toolTipText(EmailButton), QStringLiteral("Email Vosk"));
    QVERIFY(!findAboutWindow()); // the splash has closed
}

void TestForm1::kindSwitching()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    // Availability as a click in the list would leave it.
    form.File1_MouseUp(Qt::LeftButton);
    QVERIFY(form.toolbarButtonEnabled(InstallButton));

    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(ZipButton), Qt::LeftButton);
    QVERIFY(form.toolbarButtonEnabled(InstallButton));
    QVERIFY(form.menuItemEnabled(QStringLiteral("test")));

    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(RarButton), Qt::LeftButton);
    QCOMPARE(form.listPattern(), QStringLiteral("*.R??;*.0??"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel2")->caption(), QStringLiteral("*.rar"));
    QCOMPARE(part<KeyedToolbar>(form, "GTToolbar1")->pressedGroupButton(), int(RarButton));
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        QVERIFY(!form.toolbarButtonEnabled(b));
    for (const char *item : {"Diz", "dnfo", "install", "test"})
        QVERIFY(!form.menuItemEnabled(QString::fromLatin1(item)));

    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(AceButton), Qt::LeftButton);
    QCOMPARE(form.listPattern(), QStringLiteral("*.ACE;*.C??"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel2")->caption(), QStringLiteral("*.ace"));
    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(ZipButton), Qt::LeftButton);
    QCOMPARE(form.listPattern(), QStringLiteral("*.ZIP"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel2")->caption(), QStringLiteral("*.zip"));
    QVERIFY(!form.toolbarButtonEnabled(InstallButton)); // zip leaves the commands as they were
}

void TestForm1::clickAvailability_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<int>>("enabledButtons");
    QTest::addColumn<QStringList>("enabledItems");
    // Display nfo stays available from start-up on; only the other kinds' switch disables it.
    QTest::newRow("zip") << int(ZipButton) << QList<int>{DizButton, InstallButton, TestButton}
                         << QStringList{"Diz", "dnfo", "install", "test", "delete"};
    QTest::newRow("rar") << int(RarButton) << QList<int>{InstallButton} << QStringList{"install"};
    QTest::newRow("ace") << int(AceButton) << QList<int>{InstallButton} << QStringList{"install"};
    QTest::newRow("arj") << int(ArjButton) << QList<int>{} << QStringList{};
    // clang-format on
}

void TestForm1::clickAvailability()
{
    QFETCH(int, kind);
    QFETCH(QList<int>, enabledButtons);
    QFETCH(QStringList, enabledItems);
    Fixture f;
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.zip")), "PK");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.rar")), "Rar!");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.arj")), "`\xea");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.ace")), "0123456**ACE**");
    Form1 &form = f.make();
    form.Form_Load();
    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(kind), Qt::LeftButton);
    QVERIFY(form.listCount() >= 1);

    // A right click changes nothing; a left click on the entry applies the kind's rule.
    const QPoint entry =
        part<FileList>(form, "File1")->visualRect(part<FileList>(form, "File1")->model()->index(0, 0)).center();
    QTest::mouseClick(part<FileList>(form, "File1")->viewport(), Qt::RightButton, {}, entry);
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        QVERIFY(!form.toolbarButtonEnabled(b));
    QTest::mouseClick(part<FileList>(form, "File1")->viewport(), Qt::LeftButton, {}, entry);
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        QCOMPARE(form.toolbarButtonEnabled(b), enabledButtons.contains(b));
    for (const char *item : {"Diz", "dnfo", "install", "test", "delete"})
        QCOMPARE(form.menuItemEnabled(QString::fromLatin1(item)), enabledItems.contains(QString::fromLatin1(item)));
}

// Keys select as clicks do, and enable what a click enables; the right button never changes
// the selection, over an entry or over empty space.
void TestForm1::keyboardAndRightButtonOnTheList()
{
    Fixture f;
    for (const char *name : {"a.zip", "b.zip", "c.zip"})
        f.world.writeFile(f.world.onDrive(u'c', QString::fromLatin1(name)), "PK");
    Form1 &form = f.make();
    form.Form_Load();
    auto *list = part<FileList>(form, "File1");
    QCOMPARE(form.listCount(), 3);
    QVERIFY(!form.toolbarButtonEnabled(InstallButton));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(form.selectedNames(), QStringList({"a.zip", "b.zip"}));
    for (int b : {DizButton, InstallButton, TestButton})
        QVERIFY(form.toolbarButtonEnabled(b));

    const QPoint onC = list->visualRect(list->model()->index(2, 0)).center();
    const QPoint below(onC.x(), list->viewport()->height() - 2);
    for (const QPoint &at : {onC, below}) {
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, at);
        part<QMenu>(form, "popup")->close();
        QCOMPARE(form.selectedNames(), QStringList({"a.zip", "b.zip"}));
        QVERIFY(form.toolbarButtonEnabled(InstallButton));
    }
}

void TestForm1::selectAllOnEmptyList()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    QCOMPARE(form.listCount(), 0);
    QTest::keyClick(part<FileList>(form, "File1"), Qt::Key_S, Qt::ControlModifier);
    for (int b : {DizButton, InstallButton, TestButton})
        QVERIFY(form.toolbarButtonEnabled(b));
    QVERIFY(!form.toolbarButtonEnabled(NfoButton));
    for (const char *item : {"Diz", "install", "test"})
        QVERIFY(form.menuItemEnabled(QString::fromLatin1(item)));
    QVERIFY(!form.menuItemEnabled(QStringLiteral("delete")));

    // With files, every entry ends up selected.
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.zip")), "PK");
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("b.zip")), "PK");
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(form.listCount(), 2);
    QVERIFY(form.listSelected(0) && form.listSelected(1));
}

void TestForm1::contextMenuOnlyWhileInstallIsEnabled()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    QTest::mousePress(part<StatusPanel>(form, "SSPanel2"), Qt::RightButton);
    QVERIFY(!part<QMenu>(form, "popup")->isVisible());
    QTest::mousePress(part<FileList>(form, "File1")->viewport(), Qt::RightButton);
    QVERIFY(!part<QMenu>(form, "popup")->isVisible());

    form.setMenuItemEnabled(QStringLiteral("install"), true);
    QTest::mousePress(part<StatusPanel>(form, "SSPanel2"), Qt::LeftButton);
    QVERIFY(!part<QMenu>(form, "popup")->isVisible());
    QTest::mousePress(part<StatusPanel>(form, "SSPanel3"), Qt::RightButton);
    QTRY_VERIFY(part<QMenu>(form, "popup")->isVisible());
    part<QMenu>(form, "popup")->close();
    QTest::mousePress(part<FileList>(form, "File1")->viewport(), Qt::RightButton);
    QTRY_VERIFY(part<QMenu>(form, "popup")->isVisible());
    part<QMenu>(form, "popup")->close();
}

void TestForm1::folderChangesFollowTheTree()
{
    Fixture f;
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("Games/New/x.zip")), "PK");
    const QString doomed = f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Doomed")));
    Form1 &form = f.make();
    form.Form_Load();
    QVERIFY(form.setTreePath(QStringLiteral("C:\\Games\\New")));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\Games\\New"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral("c:\\games\\new"));
    QCOMPARE(form.listCount(), 1);

    // A folder deleted behind the program's back and then chosen in the tree: nothing changes.
    const QAbstractItemModel *model = part<FolderTree>(form, "ExplorerTree1")->model();
    const QModelIndexList hits = model->match(model->index(0, 0), Qt::DisplayRole, QStringLiteral("Doomed"), 1,
                                              Qt::MatchRecursive | Qt::MatchExactly);
    QCOMPARE(hits.size(), 1);
    QDir(doomed).removeRecursively();
    part<FolderTree>(form, "ExplorerTree1")->setCurrentIndex(hits.first());
    QCOMPARE(form.listPath(), QStringLiteral("C:\\Games\\New"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral("c:\\games\\new"));
}

void TestForm1::failingFolderChangeRecoversToC()
{
    Fixture f;
    const QString stick = f.world.addDrive(u'e');
    f.world.makeFolder(stick + QStringLiteral("/setup/disk1"));
    Form1 &form = f.make();
    form.Form_Load();
    QVERIFY(form.setTreePath(QStringLiteral("e:\\setup\\disk1")));
    QVERIFY(form.setTreePath(QStringLiteral("e:\\setup")));
    QCOMPARE(form.listPath(), QStringLiteral("E:\\setup"));

    // The medium is pulled; choosing a folder on it sends the window back to c:\.
    const QAbstractItemModel *model = part<FolderTree>(form, "ExplorerTree1")->model();
    const QModelIndexList hits = model->match(model->index(0, 0), Qt::DisplayRole, QStringLiteral("disk1"), 1,
                                              Qt::MatchRecursive | Qt::MatchExactly);
    QCOMPARE(hits.size(), 1);
    QDir(stick).removeRecursively();
    part<FolderTree>(form, "ExplorerTree1")->setCurrentIndex(hits.first());
    QCOMPARE(form.treePath(), QStringLiteral("C:\\"));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral("c:\\"));
    QVERIFY(form.isVisible());
}

void TestForm1::refreshDropsTheSelection()
{
    Fixture f;
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("a.zip")), "PK");
    Form1 &form = f.make();
    form.Form_Load();
    form.setListSelected(0, true);
    form.File1_MouseUp(Qt::LeftButton);
    QVERIFY(form.menuItemEnabled(QStringLiteral("delete")));
    f.world.writeFile(f.world.onDrive(u'c', QStringLiteral("b.zip")), "PK");
    part<QAction>(form, "refresh")->trigger();
    QCOMPARE(form.listCount(), 2);
    QVERIFY(!form.listSelected(0));
    for (int b : {DizButton, NfoButton, InstallButton, TestButton})
        QVERIFY(!form.toolbarButtonEnabled(b));
    for (const char *item : {"Diz", "dnfo", "install", "test", "delete"})
        QVERIFY(!form.menuItemEnabled(QString::fromLatin1(item)));
}

void TestForm1::exitFromTheToolbarSaves()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    QFile::remove(f.ini());
    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(ExitButton), Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(readTextLines(f.ini())->first(), QStringLiteral("Version=v2.72"));
}

void TestForm1::escapeAndZipProgress()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    QVERIFY(!part<XceedZip>(form, "XceedZip1")->abortRequested());
    QTest::keyClick(part<FileList>(form, "File1"), Qt::Key_Escape);
    QVERIFY(part<XceedZip>(form, "XceedZip1")->abortRequested());

    form.setFolderPanelLook(FolderPanelLook::Progress);
    form.setFolderPanelPercent(0);
    // The component's reports reach the panel: a whole test ends at 100.
    QVERIFY(test::writeZip(f.world.onDrive(u'c', QStringLiteral("dl/a.zip")), {ZipEntry::file("a.txt", "a")}));
    XceedZip *zip = part<XceedZip>(form, "XceedZip1");
    zip->setZipFilename(QStringLiteral("c:\\dl\\a.zip"));
    QCOMPARE(int(zip->test()), int(ZipDone));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->floodPercent(), 100);
}

void TestForm1::releaseNotesFromTheWindow()
{
    // A double click shows the description in the viewer, the "nfo" button opens the note, the
    // "test" button runs the test: the window's doors reach the commands.
    Fixture f;
    f.world.installHelper(QStringLiteral("notepad.exe"));
    const QString shown = f.world.root() + QStringLiteral("/shown.txt");
    qputenv("ZELV_NOTEPAD_REPORT", QFile::encodeName(shown));
    qputenv("ZELV_NOTEPAD_QUIT", "1");
    QVERIFY(test::writeZip(f.world.onDrive(u'c', QStringLiteral("dl/prog.zip")),
                           {ZipEntry::file("file_id.diz", "Prog 1.0\n\xdb\xdb"), ZipEntry::file("prog.nfo", "n")}));
    f.writeSettings(QStringLiteral("C:\\dl"));
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    QCOMPARE(form.listCount(), 1);
    form.setListSelected(0, true);

    emit part<FileList>(form, "File1")->entryDoubleClicked();
    auto *viewer = form.findChild<QWidget *>(QStringLiteral("Form3"));
    if (!viewer)
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == u"Form3")
                viewer = w;
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), QStringLiteral("File_id.diz"));
    QCOMPARE(form.viewer().text(), QStringLiteral("Prog 1.0\r\n██"));
    QVERIFY(form.toolbarButtonEnabled(NfoButton));

    form.GTToolbar1_ButtonClick(NfoButton);
    QTRY_COMPARE_WITH_TIMEOUT(test::readBytes(shown), QByteArray("prog.nfo\nn"), 20000);
    QVERIFY(!form.toolbarButtonEnabled(NfoButton));

    form.GTToolbar1_ButtonClick(TestButton);
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral(" Found 0 zip error(s)"));
    QVERIFY(!viewer->isVisible());
    qunsetenv("ZELV_NOTEPAD_REPORT");
    qunsetenv("ZELV_NOTEPAD_QUIT");
}

// A standard file_id.diz, 45 columns by 10 lines, shows whole in the viewer as it opens, in
// its place above the main window too.
void TestForm1::standardDescriptionShowsWhole()
{
    Fixture f;
    QByteArray diz;
    for (int line = 0; line < 10; ++line)
        diz += QByteArray(45, char('A' + line)) + "\r\n";
    QVERIFY(test::writeZip(f.world.onDrive(u'c', QStringLiteral("dl/prog.zip")), {ZipEntry::file("file_id.diz", diz)}));
    f.world.writeFile(f.ini(), "Version=v2.72\r\nState= 0\r\nTop= 4500\r\nLeft= 450\r\nHeight= 4500\r\nWidth= 6600\r\n"
                               "Panel1.width= 400\r\nDir=C:\\dl\r\n");
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    form.setListSelected(0, true);
    emit part<FileList>(form, "File1")->entryDoubleClicked();
    Cp437View *text = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"Form3")
            text = w->findChild<Cp437View *>(QStringLiteral("Text1"));
    QVERIFY(text && text->isVisible());
    QCOMPARE(text->verticalScrollBar()->maximum(), 0);
    QCOMPARE(text->horizontalScrollBar()->maximum(), 0);
}

// F3 shows the selected archive's members in a window of its own, with the totals.
void TestForm1::contentsWindow()
{
    Fixture f;
    QVERIFY(test::writeZip(f.world.onDrive(u'c', QStringLiteral("dl/prog.zip")),
                           {ZipEntry::file("setup.exe", QByteArray(3000, 's')), ZipEntry::file("readme.txt", "r")}));
    f.writeSettings(QStringLiteral("C:\\dl"));
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    form.setListSelected(0, true);
    // Every item of the menu bar has a name of its own; F3's is the File menu's.
    QStringList names;
    for (const QAction *menu : form.menuBar()->actions())
        for (const QAction *item : menu->menu()->actions())
            names << item->objectName();
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
    QAction *item = nullptr;
    for (QAction *a : part<QMenu>(form, "popup")->actions())
        if (a->objectName() == u"members")
            item = a;
    QVERIFY(item);
    QCOMPARE(item->text(), QStringLiteral("&Contents..."));
    QCOMPARE(item->shortcut(), QKeySequence(Qt::Key_F3));
    QVERIFY(form.menuItemEnabled(QStringLiteral("members")));
    QCOMPARE(part<QMenu>(form, "help")->actions().first()->objectName(), QStringLiteral("contents"));
    item->trigger();
    QWidget *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == u"Contents" && w->isVisible())
            window = w;
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Contents of C:\\dl\\prog.zip"));
    auto *members = window->findChild<QTreeWidget *>(QStringLiteral("members"));
    QVERIFY(members);
    QCOMPARE(members->topLevelItemCount(), 2);
    QCOMPARE(members->topLevelItem(0)->text(0), QStringLiteral("setup.exe"));
    QVERIFY(window->findChild<QLabel *>(QStringLiteral("totals"))->text().startsWith(QStringLiteral("2 file(s), ")));
}

void TestForm1::installByDroppingDisks()
{
    // Zip disks holding a RAR set, dropped on the window with a file of another kind: the disks
    // install, the set goes to the second directory, the setup question is answered No, and the
    // window is back on the folder with the zip kind.
    Fixture f;
    for (const char *helper : {"wrar.exe", "warj.pif", "wace.pif"})
        f.world.installHelper(QString::fromLatin1(helper));
    QTemporaryDir scratch;
    const auto volumes =
        test::writeRarSet(scratch.path(), QStringLiteral("prog"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                          {test::SetMember::file("setup.exe", test::patternBytes(40000, 1)),
                           test::SetMember::file("game.dat", test::patternBytes(60000, 2))},
                          40000);
    QVERIFY(volumes && volumes->size() == 3);
    QList<ZipEntry> disk1{ZipEntry::file("file_id.diz", "Prog 1.0")}, disk2;
    for (int i = 0; i < volumes->size(); ++i)
        (i == 0 ? disk1 : disk2) << ZipEntry::file(QFileInfo(volumes->at(i)).fileName().toUtf8(),
                                                   test::readBytes(volumes->at(i)));
    const QString dl = f.world.onDrive(u'c', QStringLiteral("dl"));
    QVERIFY(test::writeZip(dl + QStringLiteral("/disk1.zip"), disk1));
    QVERIFY(test::writeZip(dl + QStringLiteral("/disk2.zip"), disk2));
    f.world.writeFile(dl + QStringLiteral("/notes.txt"), "not a disk");
    f.writeSettings(QStringLiteral("C:\\"));
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    f.dialogs.queueAnswers({MessageAnswer::No});

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dl + QStringLiteral("/disk1.zip")),
                  QUrl::fromLocalFile(dl + QStringLiteral("/notes.txt")),
                  QUrl::fromLocalFile(dl + QStringLiteral("/disk2.zip"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);

    QCOMPARE(f.dialogs.shownTexts(), QStringList{QStringLiteral("   Run Setup.exe?   ")});
    // The hourglass stands over the main window, not over the box.
    QCOMPARE(f.dialogs.pointers, QStringList{QStringLiteral("window busy")});
    const QString second = f.world.onDrive(u'c', QStringLiteral("Zelv002"));
    QCOMPARE(test::readBytes(second + QStringLiteral("/game.dat")), test::patternBytes(60000, 2));
    QCOMPARE(test::readBytes(second + QStringLiteral("/file_id.diz")), QByteArray("Prog 1.0"));
    QVERIFY(!QFileInfo::exists(f.world.onDrive(u'c', QStringLiteral("Zelv001"))));
    QCOMPARE(form.pressedKind(), std::optional(ArchiveKind::Zip));
    QCOMPARE(form.listPattern(), QStringLiteral("*.zip"));
    QCOMPARE(form.treePath().toLower(), QStringLiteral("c:\\dl"));
    QVERIFY(form.selectedNames().isEmpty());
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), QStringLiteral("c:\\dl"));
    // The install asked for the busy pointer at each stage: the default one is back.
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
}

void TestForm1::folderChooserFollowsItsRule()
{
    // Nothing is chosen when the chooser opens; each selection asks the rule for OK and the
    // status line.
    Fixture f;
    QStringList asked;
    FolderChooser chooser(f.world.drives(), QStringLiteral("Choose drive for temporary files..."),
                          [&asked](const QString &path) {
                              asked << path;
                              return ChooserStatus{!path.isEmpty(), path.isEmpty() ? QStringLiteral("none") : path};
                          });
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QCOMPARE(chooser.selectedPath(), QString());
    QVERIFY(!chooser.okEnabled());
    QCOMPARE(chooser.statusLine(), QStringLiteral("none"));
    QVERIFY(chooser.select(QStringLiteral("c:\\")));
    QVERIFY(chooser.okEnabled());
    QCOMPARE(chooser.statusLine(), QStringLiteral("C:\\"));
    QCOMPARE(asked.last(), QStringLiteral("C:\\"));
}

void TestForm1::helpFromEveryDoor()
{
    // The Help menu, the toolbar and F1 in the text viewer reach one viewer; closing the main
    // window closes it.
    Fixture f;
    f.world.installHelper(QStringLiteral("winhelp.exe"));
    f.world.writeFile(f.world.programFolder() + QStringLiteral("/Zelv32.HLP"),
                      "Zelvant32 help\n== contents | Contents\nkeywords: help\nWelcome.\n");
    const QString report = f.world.root() + QStringLiteral("/winhelp.txt");
    qputenv("ZELV_WINHELP_REPORT", QFile::encodeName(report));
    // A viewer left open by a failing step would hold the test's output open.
    const auto cleanup = qScopeGuard([&] {
        for (const QByteArray &line : test::readBytes(report).split('\n'))
            if (line.contains(" pid="))
                ::kill(line.mid(line.indexOf(" pid=") + 5).toInt(), SIGTERM);
        qunsetenv("ZELV_WINHELP_REPORT");
    });
    const auto said = [&](int line) {
        QList<QByteArray> lines = test::readBytes(report).split('\n');
        return line < lines.size() ? lines[line].left(lines[line].indexOf(" pid=")) : QByteArray();
    };
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);

    part<QAction>(form, "search")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(said(0), QByteArray("index topic=contents tab=index owners=1"), 20000);
    QTest::mouseClick(part<KeyedToolbar>(form, "GTToolbar1")->buttonAt(HelpButton), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(said(1), QByteArray("contents topic=contents tab=contents owners=1"), 20000);
    // F1 in the text viewer asks the help system; in the main window it also starts winhelp.exe,
    // which hands over to the viewer open. (The keys reach the window that is active, which
    // offscreen windows do not decide reliably; the keys' handlers are called as they are.)
    auto *viewer = dynamic_cast<Form3 *>(&form.viewer());
    QVERIFY(viewer);
    viewer->help_Click();
    QTRY_COMPARE_WITH_TIMEOUT(said(2), QByteArray("contents topic=contents tab=contents owners=1"), 20000);
    form.Form_KeyDown(112);
    QTRY_COMPARE_WITH_TIMEOUT(said(4), QByteArray("contents topic=contents tab=contents owners=1"), 20000);
    QCOMPARE(said(3), said(4));
    QTest::qWait(200);
    QCOMPARE(said(5), QByteArray());

    form.close();
    QTRY_VERIFY_WITH_TIMEOUT(test::readBytes(report).contains("closed"), 20000);
    QCOMPARE(test::readBytes(report).count("closed"), 1);
    QVERIFY(f.dialogs.shown().isEmpty());
}

void TestForm1::treeListAndPanelAgree_data()
{
    QTest::addColumn<QString>("broken");
    QTest::addColumn<QString>("settlesOn");
    QTest::newRow("drive pointing nowhere") << "E:"
                                            << "C:\\";
    QTest::newRow("folder gone") << "gone"
                                 << "C:\\Work";
    QTest::newRow("folder unreadable") << "locked"
                                       << "C:\\";
}

void TestForm1::treeListAndPanelAgree()
{
    QFETCH(QString, broken);
    QFETCH(QString, settlesOn);
    if (broken == u"locked" && geteuid() == 0)
        QSKIP("root reads every folder");
    Fixture f;
    f.world.linkDrive(u'e', f.world.root() + QStringLiteral("/nowhere"));
    const QString work = f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Work")));
    f.world.makeFolder(work + QStringLiteral("/gone"));
    f.world.makeFolder(work + QStringLiteral("/locked"));
    f.writeSettings(QStringLiteral("C:\\Work"));
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    form.show();
    QCOMPARE(form.listPath(), QStringLiteral("C:\\Work"));
    auto *tree = part<FolderTree>(form, "ExplorerTree1");
    tree->expand(tree->currentIndex());
    const QModelIndexList hits = tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole, broken, 1,
                                                      Qt::MatchRecursive | Qt::MatchExactly);
    QCOMPARE(hits.size(), 1);
    QDir(work + QStringLiteral("/gone")).removeRecursively();
    QFile::setPermissions(work + QStringLiteral("/locked"), QFileDevice::WriteOwner);
    tree->scrollTo(hits.first());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(hits.first()).center());
    QCoreApplication::processEvents();
    QFile::setPermissions(work + QStringLiteral("/locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QCOMPARE(form.treePath(), settlesOn);
    QCOMPARE(form.listPath(), settlesOn);
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), settlesOn.toLower());
    const QModelIndexList selected = tree->selectionModel()->selectedIndexes();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first(), tree->currentIndex());
}

void TestForm1::brokenDriveCSaysWhy_data()
{
    QTest::addColumn<bool>("fromTheStart");
    QTest::addColumn<QString>("saved");
    QTest::newRow("broken while running") << false << "C:\\Work";
    QTest::newRow("broken from the start") << true << "C:\\Work";
    QTest::newRow("broken from the start, its root saved") << true << "C:\\";
}

void TestForm1::brokenDriveCSaysWhy()
{
    QFETCH(bool, fromTheStart);
    QFETCH(QString, saved);
    Fixture f;
    f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Work")));
    f.writeSettings(saved);
    const QString nowhere = f.world.root() + QStringLiteral("/nowhere");
    if (fromTheStart)
        f.world.linkDrive(u'c', nowhere);
    Form1 &form = f.make();
    form.Form_Load();
    if (!fromTheStart) {
        QCOMPARE(form.listPath(), QStringLiteral("C:\\Work"));
        QVERIFY(f.dialogs.shown().isEmpty());
        f.world.linkDrive(u'c', nowhere);
    }
    // The person picks drive c: in the tree (offscreen, the focus may have picked it already
    // during start-up); nothing can be shown, so the window closes.
    if (form.isVisible()) {
        auto *tree = part<FolderTree>(form, "ExplorerTree1");
        tree->setCurrentIndex(tree->model()->index(0, 0));
    }
    QVERIFY(!form.isVisible());
    QVERIFY2(f.dialogs.shown().size() == 1, qPrintable(f.dialogs.shownTexts().join(u'|')));
    QCOMPARE(f.dialogs.shown()[0].title, QStringLiteral("Zelvant32 Error"));
    QCOMPARE(f.dialogs.shown()[0].text, QStringLiteral("Drive c: (%1) cannot be opened: No such file or directory.\n"
                                                       "Point the link %2/dosdevices/c: at a folder that exists.")
                                            .arg(nowhere, f.world.programFolder()));
    // The settings keep the last folder that could be shown.
    QCOMPARE(readTextLines(f.ini())->last(), QStringLiteral("Dir=") + saved);
}

void TestForm1::narrowWindowReachesEveryButton()
{
    Fixture f;
    Form1 &form = f.make();
    form.Form_Load();
    auto *toolbar = part<KeyedToolbar>(form, "GTToolbar1");
    auto *extension = toolbar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
    QVERIFY(extension);
    QVERIFY(!extension->isVisible());
    form.resize(260, 300);
    QCoreApplication::processEvents();
    // The toolbar stays inside the window; what it has no room for is in its menu.
    QVERIFY(toolbar->geometry().right() < form.centralWidget()->width());
    QTRY_VERIFY(extension->isVisible());
    QVERIFY(!toolbar->buttonAt(ExitButton)->isVisible());
    QCOMPARE(toolbar->buttonAt(ExitButton)->defaultAction()->text(), QStringLiteral("Exit"));
    form.resize(800, 400);
    QTRY_VERIFY(!extension->isVisible());
    QVERIFY(toolbar->buttonAt(ExitButton)->isVisible());
}

void TestForm1::unnameableFolderSaysWhy_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("panel");
    // clang-format off
    QTest::newRow("backslash") << QByteArray("a\\b") << "a\\b" << "a\\b cannot be opened: its name holds a backslash";
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9") << "caf\uFFFD" << "caf\uFFFD cannot be opened: its name is not valid UTF-8";
    // clang-format on
}

void TestForm1::unnameableFolderSaysWhy()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(QString, panel);
    Fixture f;
    const QString work = f.world.makeFolder(f.world.onDrive(u'c', QStringLiteral("Work")));
    const QByteArray made = QFile::encodeName(work) + '/' + name;
    QCOMPARE(::mkdir(made.constData(), 0755), 0);
    // Qt cannot name it to remove it with the scratch folder.
    const auto removeMade = qScopeGuard([&made] { ::rmdir(made.constData()); });
    f.writeSettings(QStringLiteral("C:\\Work"));
    Form1 &form = f.make();
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    auto *tree = part<FolderTree>(form, "ExplorerTree1");
    tree->expand(tree->currentIndex());
    const QModelIndexList hits =
        tree->model()->match(tree->currentIndex(), Qt::DisplayRole, shown, 1, Qt::MatchRecursive | Qt::MatchExactly);
    QCOMPARE(hits.size(), 1);
    QVERIFY(hits.first().data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("its name")));

    tree->setCurrentIndex(hits.first());
    QCOMPARE(form.treePath(), QStringLiteral("C:\\Work"));
    QCOMPARE(form.listPath(), QStringLiteral("C:\\Work"));
    QCOMPARE(part<StatusPanel>(form, "SSPanel3")->caption(), panel);
    QVERIFY(f.dialogs.shown().isEmpty());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
