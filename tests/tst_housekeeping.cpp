// Housekeeping against a scripted window with the real killd.pif: the leftover scans of both
// commands with their answers and the view they restore, the temporary-drive chooser's rule and
// its Cancel, and deleting selected files, links and vanished files included.
#include "housekeeping/deletefiles.h"
#include "housekeeping/tempdrive.h"
#include "support/commandworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace zelv;

namespace {

struct House : test::CommandWorld {
    House()
    {
        world.installHelper(QStringLiteral("killd.pif"));
        world.makeFolder(onC(QStringLiteral("games")));
        window.setTreePath(QStringLiteral("c:\\games"));
        window.setListPath(QStringLiteral("c:\\games"));
    }
    QString onC(const QString &relative) const { return world.onDrive(u'c', relative); }
    void select(const QStringList &names)
    {
        window.refreshList();
        for (int i = 0; i < window.listCount(); ++i)
            window.setListSelected(i, names.contains(window.listItem(i)));
    }
};

QList<MessageAnswer> answersOf(const QString &letters)
{
    QList<MessageAnswer> out;
    for (QChar c : letters)
        out << (c == u'Y' ? MessageAnswer::Yes : c == u'N' ? MessageAnswer::No : MessageAnswer::Cancel);
    return out;
}

} // namespace

class TestHousekeeping : public QObject {
    Q_OBJECT
private slots:
    void scanFromTheMenu_data();
    void scanFromTheMenu();
    void rootFolderRestoredAsTwoCharacters();
    void chooserRule_data();
    void chooserRule();
    void chooseTempDrive_data();
    void chooseTempDrive();
    void deleteSelected_data();
    void deleteSelected();
    void deleteCancelledTouchesNothing();
};

void TestHousekeeping::scanFromTheMenu_data()
{
    QTest::addColumn<QString>("answers"); // Y, N, C for each box
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("boxes");
    QTest::newRow("yes, no, yes") << "YNY" << QStringList{"Zelv002"} << 3;
    QTest::newRow("cancel first") << "C" << QStringList{"Zelv001", "Zelv002", "Zelv003"} << 1;
}

void TestHousekeeping::scanFromTheMenu()
{
    QFETCH(QString, answers);
    QFETCH(QStringList, left);
    QFETCH(int, boxes);
    House h;
    for (const char *name : {"Zelv001", "Zelv002", "Zelv003"})
        h.world.writeFile(h.onC(QStringLiteral("%1/file.txt").arg(QLatin1String(name))), "x");
    for (MessageAnswer a : answersOf(answers))
        h.dialogs.queueAnswers({a});
    h.window.setCommandsEnabled({FileCommand::Install, FileCommand::Test}, true);

    DeleteTempDirs(h.context);

    QCOMPARE(h.dialogs.shown().size(), boxes);
    QCOMPARE(h.dialogs.shownTexts().first(),
             QStringLiteral("Found temporary directory\n\nc:\\Zelv001 . . . . .Delete?"));
    QCOMPARE(QDir(h.onC(QString())).entryList({QStringLiteral("Zelv*")}, QDir::Dirs), left);
    // The view is back on the tree's folder with the zip pattern, the selection commands off.
    QCOMPARE(h.window.treePath(), QStringLiteral("c:\\games"));
    QCOMPARE(h.window.listPath().toLower(), QStringLiteral("c:\\games"));
    QCOMPARE(h.window.listPattern(), QStringLiteral("*.zip"));
    QCOMPARE(h.window.kindPanelCaption(), QStringLiteral("*.zip"));
    QVERIFY(!h.window.commandEnabled(FileCommand::Install, Doors::Both));
    QVERIFY(!h.window.commandEnabled(FileCommand::Test, Doors::Both));
}

void TestHousekeeping::rootFolderRestoredAsTwoCharacters()
{
    House h;
    h.world.writeFile(h.onC(QStringLiteral("Zelv0ab")), "a plain file named like a leftover");
    h.window.setTreePath(QStringLiteral("c:\\"));
    h.dialogs.queueAnswers({MessageAnswer::No});

    DeleteTempDirs(h.context);

    QCOMPARE(h.dialogs.shownTexts(),
             QStringList{QStringLiteral("Found temporary directory\n\nc:\\Zelv0ab . . . . .Delete?")});
    QCOMPARE(h.window.treePath(), QStringLiteral("c:"));
    QVERIFY(QFileInfo::exists(h.onC(QStringLiteral("Zelv0ab"))));
}

void TestHousekeeping::chooserRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("status");
    QTest::newRow("exactly the threshold") << "d:\\" << qint64(500000) << true << "500,000 Free space";
    QTest::newRow("one byte short") << "d:\\" << qint64(499999) << false << "Not a valid path or not enough free space";
    QTest::newRow("past 32 bits") << "c:\\games" << qint64(5000000000) << true << "5,000,000,000 Free space";
    QTest::newRow("an empty path") << "" << qint64(10000000) << false << "Not a valid path or not enough free space";
}

void TestHousekeeping::chooserRule()
{
    QFETCH(QString, path);
    QFETCH(qint64, free);
    QFETCH(bool, ok);
    QFETCH(QString, status);
    test::FixedDiskInfo disks;
    disks.bytes = free;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const ChooserStatus s = tempDriveStatus(disks, path);
    QCOMPARE(s.okEnabled, ok);
    QCOMPARE(s.statusLine, status);
    disks.bytes = std::nullopt; // a drive that cannot be asked
    QVERIFY(!tempDriveStatus(disks, path).okEnabled);
}

void TestHousekeeping::chooseTempDrive_data()
{
    QTest::addColumn<QString>("chosen"); // empty: Cancel
    QTest::addColumn<QString>("tempDrive");
    QTest::newRow("drive d chosen") << "d:\\Temp"
                                    << "d";
    QTest::newRow("cancel sets c again") << ""
                                         << "c";
}

void TestHousekeeping::chooseTempDrive()
{
    QFETCH(QString, chosen);
    QFETCH(QString, tempDrive);
    House h;
    h.world.addDrive(u'd');
    h.world.makeFolder(h.world.onDrive(u'd', QStringLiteral("Temp")));
    h.world.makeFolder(h.world.onDrive(u'd', QStringLiteral("Zelv005")));
    h.state.TempDrive = QStringLiteral("e");
    h.dialogs.chooserSelections = {QString(), QStringLiteral("d:\\Temp")};
    if (!chosen.isEmpty())
        h.dialogs.chooserAnswer = chosen;
    h.dialogs.queueAnswers({MessageAnswer::No});

    ChooseTempDrive(h.context);

    QCOMPARE(h.dialogs.chooserPrompt, QStringLiteral("Choose drive for temporary files..."));
    QCOMPARE(h.dialogs.chooserStatuses.size(), 2);
    QVERIFY(!h.dialogs.chooserStatuses[0].okEnabled);
    QVERIFY(h.dialogs.chooserStatuses[1].okEnabled);
    QCOMPARE(h.state.TempDrive, tempDrive);
    if (chosen.isEmpty()) {
        QVERIFY(h.dialogs.shown().isEmpty());
        return;
    }
    // The chosen drive was scanned, and the list is back where it was with the zip pattern.
    QCOMPARE(h.dialogs.shownTexts(),
             QStringList{QStringLiteral("Found temporary directory\n\nd:\\Zelv005 . . . . .Delete?")});
    QCOMPARE(h.window.listPath().toLower(), QStringLiteral("c:\\games"));
    QCOMPARE(h.window.listPattern(), QStringLiteral("*.zip"));
}

void TestHousekeeping::deleteSelected_data()
{
    QTest::addColumn<QString>("folder"); // relative to c:, empty for the drive root
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("left");
    // clang-format off
    QTest::newRow("nothing selected") << "games" << QStringList{} << QStringList{"a.zip", "b.zip", "ro.zip", "tofile.zip"};
    QTest::newRow("two of them") << "games" << QStringList{"a.zip", "b.zip"} << QStringList{"ro.zip", "tofile.zip"};
    QTest::newRow("a read-only file") << "games" << QStringList{"ro.zip"} << QStringList{"a.zip", "b.zip", "tofile.zip"};
    QTest::newRow("a link to a file goes, its target stays") << "games" << QStringList{"tofile.zip"} << QStringList{"a.zip", "b.zip", "ro.zip"};
    QTest::newRow("in a drive root") << "" << QStringList{"a.zip"} << QStringList{"b.zip", "ro.zip", "tofile.zip"};
    // clang-format on
}

void TestHousekeeping::deleteSelected()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, left);
    House h;
    const QString host = h.onC(folder);
    const QString dos = folder.isEmpty() ? QStringLiteral("c:\\") : QStringLiteral("c:\\") + folder;
    for (const char *name : {"a.zip", "b.zip", "ro.zip"})
        h.world.writeFile(host + u'/' + QLatin1String(name), "zip");
    QFile::setPermissions(host + QStringLiteral("/ro.zip"), QFile::ReadOwner);
    const QString outside = h.world.writeFile(h.world.root() + QStringLiteral("/outside.zip"), "keep");
    QVERIFY(QFile::link(outside, host + QStringLiteral("/tofile.zip")));
    h.window.setListPath(dos);
    h.window.setListPattern(QStringLiteral("*.zip"));
    h.select(selected);
    h.window.setCommandsEnabled({FileCommand::Delete}, true);
    h.dialogs.queueAnswers({MessageAnswer::Ok});

    DeleteSelectedFiles(h.context);

    const MessageRequest box{QStringLiteral("Zelvant32"), QStringLiteral("Delete all files selected?"),
                             MessageIcon::Exclamation, MessageButtons::OkCancel, false};
    QCOMPARE(h.dialogs.shown(), QList<MessageRequest>{box});
    QStringList now;
    for (int i = 0; i < h.window.listCount(); ++i)
        now << h.window.listItem(i);
    QCOMPARE(now, left);
    QVERIFY(h.window.selectedNames().isEmpty());
    QCOMPARE(test::readBytes(outside), QByteArray("keep"));
    QVERIFY(!h.window.commandEnabled(FileCommand::Delete, Doors::Menu));
    QVERIFY(!h.window.viewer().isVisible());
}

void TestHousekeeping::deleteCancelledTouchesNothing()
{
    House h;
    h.world.writeFile(h.onC(QStringLiteral("games/a.zip")), "zip");
    h.world.writeFile(h.onC(QStringLiteral("games/gone.zip")), "zip");
    h.world.makeFolder(h.onC(QStringLiteral("games/folder.zip")));
    h.window.setListPattern(QStringLiteral("*.zip"));
    h.select({QStringLiteral("a.zip"), QStringLiteral("gone.zip")});
    h.window.setCommandsEnabled({FileCommand::Delete}, true, Doors::Menu);
    h.dialogs.queueAnswers({MessageAnswer::Cancel});

    DeleteSelectedFiles(h.context);

    QVERIFY(QFileInfo::exists(h.onC(QStringLiteral("games/a.zip"))));
    QCOMPARE(h.window.selectedNames(), QStringList({"a.zip", "gone.zip"}));
    QVERIFY(h.window.commandEnabled(FileCommand::Delete, Doors::Menu));

    // Then OK, with one file gone meanwhile: passed over without a word.
    QVERIFY(QFile::remove(h.onC(QStringLiteral("games/gone.zip"))));
    h.dialogs.queueAnswers({MessageAnswer::Ok});
    DeleteSelectedFiles(h.context);
    QVERIFY(!QFileInfo::exists(h.onC(QStringLiteral("games/a.zip"))));
    QCOMPARE(h.dialogs.shown().size(), 2);
    // A folder is never deleted by this command, whatever its name.
    QVERIFY(removePlainFile(h.onC(QStringLiteral("games/folder.zip"))) == false);
    QVERIFY(QFileInfo(h.onC(QStringLiteral("games/folder.zip"))).isDir());
}

QTEST_GUILESS_MAIN(TestHousekeeping)
#include "tst_housekeeping.moc"
