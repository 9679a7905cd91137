#include "support/testworld.h"
#include "ui/widgets/foldertree.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace zelv;

namespace {

QStringList childNames(const QAbstractItemModel *model, const QModelIndex &parent)
{
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row)
        names << model->index(row, 0, parent).data().toString();
    return names;
}

QModelIndex childNamed(const QAbstractItemModel *model, const QModelIndex &parent, const QString &name)
{
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex child = model->index(row, 0, parent);
        if (child.data().toString() == name)
            return child;
    }
    return QModelIndex();
}

// The item of a path given as labels from the drive down ("C:", "Games", "New").
QModelIndex itemAt(const QAbstractItemModel *model, const QStringList &labels)
{
    QModelIndex at;
    for (const QString &label : labels) {
        at = childNamed(model, at, label);
        if (!at.isValid())
            break;
    }
    return at;
}

void showAndWait(FolderTree &tree)
{
    tree.resize(300, 400);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
}

} // namespace

class TestFolderTree : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void drivesFromTheTable();
    void foldersListedWhenOpened();
    void setPath_data();
    void setPath();
    void setPathRefuses_data();
    void setPathRefuses();
    void dirChangedOncePerChange();
    void folderMadeAfterListing();
    void reopeningShowsChanges();
    void clickChangesFolder();
    void openFoldersFollowTheDisk();
    void reloadDrives();
    void drivesFollowTheTable();
    void columnFitsTheLongestName();
    void quittingStopsWatching(); // quits the application: stays last

private:
    test::TestWorld m_world;
};

void TestFolderTree::initTestCase()
{
    for (const char *folder : {"Games/New/Deep", "Games/Old", "tree/beta", "tree/Alpha/inner", "tree/.hidden", "Leaf"})
        m_world.makeFolder(m_world.onDrive(u'c', QString::fromLatin1(folder)));
    m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("tree/file.txt")), "x");
    m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("Games/readme.txt")), "x");
    QVERIFY(QFile::link(m_world.onDrive(u'c', QStringLiteral("Games/Old")),
                        m_world.onDrive(u'c', QStringLiteral("tree/linked"))));
    QVERIFY(QFile::link(m_world.onDrive(u'c', QStringLiteral("tree/file.txt")),
                        m_world.onDrive(u'c', QStringLiteral("tree/filelink"))));
    m_world.makeFolder(m_world.addDrive(u'd') + QStringLiteral("/Stuff"));
}

void TestFolderTree::drivesFromTheTable()
{
    test::TestWorld world;
    const QString dFolder = world.addDrive(u'd');
    world.makeFolder(dFolder + QStringLiteral("/inside"));
    world.linkDrive(u'e', world.root() + QStringLiteral("/not there"));
    FolderTree tree(world.drives());
    const QAbstractItemModel *model = tree.model();
    QCOMPARE(childNames(model, QModelIndex()), QStringList({"C:", "D:", "E:"}));
    QCOMPARE(model->index(1, 0).data(Qt::ToolTipRole).toString(), dFolder);
    QCOMPARE(tree.path(), QString());

    const QModelIndex e = model->index(2, 0);
    QVERIFY(!model->hasChildren(e));
    tree.expand(e);
    QCOMPARE(model->rowCount(e), 0);
    QVERIFY(!tree.setPath(QStringLiteral("e:\\")));

    const QModelIndex d = model->index(1, 0);
    QVERIFY(model->hasChildren(d));
    tree.expand(d);
    QCOMPARE(childNames(model, d), QStringList{"inside"});
}

void TestFolderTree::foldersListedWhenOpened()
{
    FolderTree tree(m_world.drives());
    const QAbstractItemModel *model = tree.model();
    QVERIFY(tree.setPath(QStringLiteral("c:\\tree")));
    const QModelIndex treeItem = tree.currentIndex();
    // Not read until it is opened, but shown as something that can be opened.
    QVERIFY(model->hasChildren(treeItem));
    QCOMPARE(model->rowCount(treeItem), 0);

    tree.expand(treeItem);
    // Folders only, hidden ones not seen, a link to a folder counts, order ignores case.
    QCOMPARE(childNames(model, treeItem), QStringList({"Alpha", "beta", "linked"}));
    const QModelIndex alpha = childNamed(model, treeItem, QStringLiteral("Alpha"));
    QVERIFY(model->hasChildren(alpha));
    QCOMPARE(model->rowCount(alpha), 0);

    // A folder without sub-folders has nothing to open, before it is read and after.
    const QModelIndex beta = childNamed(model, treeItem, QStringLiteral("beta"));
    QVERIFY(!model->hasChildren(beta));
    tree.expand(beta);
    QVERIFY(!model->hasChildren(beta));
    // One made there since is seen when the tree reads its folder again.
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("tree/beta/new")));
    QVERIFY(!model->hasChildren(beta));
    tree.refreshFolder(QStringLiteral("c:\\tree\\beta"));
    QVERIFY(model->hasChildren(beta));
    QDir(m_world.onDrive(u'c', QStringLiteral("tree/beta/new"))).removeRecursively();
}

void TestFolderTree::setPath_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("deep, lower case") << "c:\\games\\new\\deep" << "C:\\Games\\New\\Deep";
    QTest::newRow("trailing backslash") << "C:\\GAMES\\" << "C:\\Games";
    QTest::newRow("drive alone") << "c:" << "C:\\";
    QTest::newRow("root") << "d:\\" << "D:\\";
    QTest::newRow("other drive") << "d:\\stuff" << "D:\\Stuff";
    QTest::newRow("through a link") << "c:\\tree\\LINKED" << "C:\\tree\\linked";
    QTest::newRow("dot dot") << "c:\\games\\old\\..\\new" << "C:\\Games\\New";
    // clang-format on
}

void TestFolderTree::setPath()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    FolderTree tree(m_world.drives());
    showAndWait(tree);
    QVERIFY(tree.setPath(given));
    QCOMPARE(tree.path(), expected);

    const QModelIndex current = tree.currentIndex();
    QVERIFY(tree.selectionModel()->isSelected(current));
    for (QModelIndex up = current.parent(); up.isValid(); up = up.parent())
        QVERIFY(tree.isExpanded(up));
    QVERIFY(tree.viewport()->rect().intersects(tree.visualRect(current)));
}

void TestFolderTree::setPathRefuses_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("given");
    QTest::newRow("missing folder") << "c:\\games\\nowhere";
    QTest::newRow("missing in the middle") << "c:\\nowhere\\new";
    QTest::newRow("a file") << "c:\\games\\readme.txt";
    QTest::newRow("a link to a file") << "c:\\tree\\filelink";
    QTest::newRow("hidden folder") << "c:\\tree\\.hidden";
    QTest::newRow("no such drive") << "q:\\";
    QTest::newRow("no drive") << "games";
    QTest::newRow("empty") << "";
    // clang-format on
}

void TestFolderTree::setPathRefuses()
{
    QFETCH(QString, given);
    FolderTree tree(m_world.drives());
    QVERIFY(tree.setPath(QStringLiteral("c:\\games\\old")));
    QSignalSpy changed(&tree, &FolderTree::dirChanged);
    QVERIFY(!tree.setPath(given));
    QCOMPARE(tree.path(), QStringLiteral("C:\\Games\\Old"));
    QCOMPARE(changed.size(), 0);
}

void TestFolderTree::dirChangedOncePerChange()
{
    FolderTree tree(m_world.drives());
    showAndWait(tree);
    QSignalSpy changed(&tree, &FolderTree::dirChanged);
    QVERIFY(tree.setPath(QStringLiteral("c:\\games")));
    QCOMPARE(changed.size(), 1);
    QVERIFY(tree.setPath(QStringLiteral("C:\\GAMES\\")));
    QCOMPARE(changed.size(), 1);
    QVERIFY(tree.setPath(QStringLiteral("c:\\games\\new\\deep")));
    QCOMPARE(changed.size(), 2);
    QVERIFY(tree.setPath(QStringLiteral("c:")));
    QCOMPARE(changed.size(), 3);
    QCOMPARE(tree.path(), QStringLiteral("C:\\"));

    // The keyboard moves the current folder too.
    tree.setFocus();
    QVERIFY(tree.setPath(QStringLiteral("c:\\games\\new")));
    QCOMPARE(changed.size(), 4);
    QTest::keyClick(tree.viewport(), Qt::Key_Down);
    QCOMPARE(tree.path(), QStringLiteral("C:\\Games\\New\\Deep"));
    QCOMPARE(changed.size(), 5);
}

void TestFolderTree::folderMadeAfterListing()
{
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Grow")));
    FolderTree tree(m_world.drives());
    QVERIFY(tree.setPath(QStringLiteral("c:\\grow")));
    tree.expand(tree.currentIndex());
    QCOMPARE(tree.model()->rowCount(tree.currentIndex()), 0);

    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Grow/Later/Still")));
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Made")));
    QVERIFY(tree.setPath(QStringLiteral("c:\\grow\\later\\still")));
    QCOMPARE(tree.path(), QStringLiteral("C:\\Grow\\Later\\Still"));
    QVERIFY(tree.setPath(QStringLiteral("c:\\made")));
    QCOMPARE(tree.path(), QStringLiteral("C:\\Made"));

    // A folder removed behind the tree's back is gone once the tree moves through its parent.
    QVERIFY(QDir(m_world.onDrive(u'c', QStringLiteral("Grow"))).removeRecursively());
    QVERIFY(tree.setPath(QStringLiteral("c:\\made")));
    QVERIFY(!childNames(tree.model(), tree.currentIndex().parent()).contains(QStringLiteral("Grow")));
}

void TestFolderTree::reopeningShowsChanges()
{
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Shifting/b")));
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Shifting/Gone")));
    FolderTree tree(m_world.drives());
    // Checks every index and signal of the merges below.
    QAbstractItemModelTester tester(tree.model());
    QVERIFY(tree.setPath(QStringLiteral("c:\\shifting\\b")));
    const QModelIndex shifting = tree.currentIndex().parent();
    QCOMPARE(childNames(tree.model(), shifting), QStringList({"b", "Gone"}));

    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Shifting/A")));
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Shifting/c")));
    QVERIFY(QDir(m_world.onDrive(u'c', QStringLiteral("Shifting/Gone"))).removeRecursively());
    tree.collapse(shifting);
    tree.expand(shifting);
    QCOMPARE(childNames(tree.model(), shifting), QStringList({"A", "b", "c"}));
    // The current folder is the same item as before.
    QCOMPARE(tree.path(), QStringLiteral("C:\\Shifting\\b"));
    QCOMPARE(tree.currentIndex().data().toString(), QStringLiteral("b"));
}

void TestFolderTree::clickChangesFolder()
{
    FolderTree tree(m_world.drives());
    showAndWait(tree);
    QVERIFY(tree.setPath(QStringLiteral("c:\\games")));
    tree.expand(tree.currentIndex());
    QSignalSpy changed(&tree, &FolderTree::dirChanged);
    QSignalSpy pressed(&tree, &FolderTree::mousePressed);

    const QModelIndex oldItem = itemAt(tree.model(), {"C:", "Games", "Old"});
    QVERIFY(oldItem.isValid());
    const QPoint at = tree.visualRect(oldItem).center();
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(tree.path(), QStringLiteral("C:\\Games\\Old"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(pressed.size(), 1);
    QCOMPARE(pressed[0][0].value<Qt::MouseButton>(), Qt::LeftButton);
    QCOMPARE(pressed[0][1].toPoint(), tree.viewport()->mapToGlobal(at));

    // Clicking the current folder again changes nothing.
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(pressed.size(), 2);
}

void TestFolderTree::openFoldersFollowTheDisk()
{
    // Others make and remove folders in an open folder; the current folder goes and the tree
    // moves to the folder above it, saying so once.
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("watched/stays")));
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("watched/goes/current")));
    FolderTree tree(m_world.drives());
    QVERIFY(tree.setPath(QStringLiteral("c:\\watched\\goes\\current")));
    const QModelIndex watched = tree.currentIndex().parent().parent();
    tree.expand(watched);
    QSignalSpy changed(&tree, &FolderTree::dirChanged);

    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("watched/made")));
    QTRY_COMPARE(childNames(tree.model(), watched), QStringList({"goes", "made", "stays"}));
    QVERIFY(QDir(m_world.onDrive(u'c', QStringLiteral("watched/goes"))).removeRecursively());
    QTRY_COMPARE(childNames(tree.model(), watched), QStringList({"made", "stays"}));
    QCOMPARE(tree.path(), QStringLiteral("C:\\watched"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(tree.selectionModel()->selectedIndexes(), QModelIndexList{tree.currentIndex()});

    // A closed folder is not watched; it shows what changed when opened again.
    tree.collapse(watched);
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("watched/later")));
    QTest::qWait(100);
    QCOMPARE(childNames(tree.model(), watched), QStringList({"made", "stays"}));
    tree.expand(watched);
    QCOMPARE(childNames(tree.model(), watched), QStringList({"later", "made", "stays"}));
    QDir(m_world.onDrive(u'c', QStringLiteral("watched"))).removeRecursively();
}

// A drive linked in or taken out while the program runs shows in the tree by itself.
void TestFolderTree::drivesFollowTheTable()
{
    test::TestWorld world;
    FolderTree tree(world.drives());
    QCOMPARE(childNames(tree.model(), QModelIndex()), QStringList{"C:"});
    world.makeFolder(world.addDrive(u'k') + QStringLiteral("/Stick"));
    QTRY_COMPARE(childNames(tree.model(), QModelIndex()), QStringList({"C:", "K:"}));
    QVERIFY(QFile::remove(world.drives().devicesFolder() + QStringLiteral("/k:")));
    QTRY_COMPARE(childNames(tree.model(), QModelIndex()), QStringList{"C:"});
}

void TestFolderTree::reloadDrives()
{
    test::TestWorld world;
    world.makeFolder(world.onDrive(u'c', QStringLiteral("Here/There")));
    FolderTree tree(world.drives());
    QVERIFY(tree.setPath(QStringLiteral("c:\\here\\there")));
    QSignalSpy changed(&tree, &FolderTree::dirChanged);

    world.makeFolder(world.addDrive(u'k') + QStringLiteral("/Stick"));
    QCOMPARE(childNames(tree.model(), QModelIndex()), QStringList{"C:"});
    tree.reloadDrives();
    QCOMPARE(childNames(tree.model(), QModelIndex()), QStringList({"C:", "K:"}));
    QCOMPARE(tree.path(), QStringLiteral("C:\\Here\\There"));
    QVERIFY(tree.isExpanded(tree.currentIndex().parent()));
    QCOMPARE(changed.size(), 0);

    // A drive linked in since is found by setPath without being asked to re-read.
    world.makeFolder(world.addDrive(u'm') + QStringLiteral("/Music"));
    QVERIFY(tree.setPath(QStringLiteral("m:\\music")));
    QCOMPARE(tree.path(), QStringLiteral("M:\\Music"));
    QCOMPARE(changed.size(), 1);

    // The current drive is taken away: the tree moves elsewhere and says so, once.
    QVERIFY(QFile::remove(world.drives().devicesFolder() + QStringLiteral("/m:")));
    tree.reloadDrives();
    QCOMPARE(childNames(tree.model(), QModelIndex()), QStringList({"C:", "K:"}));
    QVERIFY(!tree.path().startsWith(u'M'));
    QCOMPARE(changed.size(), 2);

    // A drive pointed at another folder: its old folders are gone, the new ones show.
    QVERIFY(tree.setPath(QStringLiteral("k:\\stick")));
    world.makeFolder(world.root() + QStringLiteral("/other/Card"));
    world.linkDrive(u'k', world.root() + QStringLiteral("/other"));
    changed.clear();
    tree.reloadDrives();
    QCOMPARE(changed.size(), 1);
    QVERIFY(tree.path() != QStringLiteral("K:\\Stick"));
    QVERIFY(tree.setPath(QStringLiteral("k:\\card")));
    QVERIFY(!tree.setPath(QStringLiteral("k:\\stick")));
}

void TestFolderTree::columnFitsTheLongestName()
{
    // The column is as wide as the names shown need, with its header hidden: a long name, once
    // shown, widens it past the view so that it scrolls, and is not cut short.
    const QString longName = QStringLiteral("A folder whose name is far longer than the tree is wide");
    m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("Leaf/") + longName));
    FolderTree tree(m_world.drives());
    showAndWait(tree);
    const int before = tree.columnWidth(0);
    QVERIFY(before > 0);
    QVERIFY(tree.setPath(QStringLiteral("c:\\Leaf\\") + longName));
    QTRY_VERIFY(tree.columnWidth(0) > before);
    const QRect shown = tree.visualRect(tree.currentIndex());
    QVERIFY2(tree.columnWidth(0) >=
                 shown.x() + tree.horizontalScrollBar()->value() + tree.fontMetrics().horizontalAdvance(longName),
             qPrintable(QString::number(tree.columnWidth(0))));
    QVERIFY(tree.columnWidth(0) > tree.viewport()->width());
}

// Quitting, the tree follows neither the drive table nor its open folders any more.
void TestFolderTree::quittingStopsWatching()
{
    test::TestWorld world;
    world.makeFolder(world.onDrive(u'c', QStringLiteral("open/first")));
    FolderTree tree(world.drives());
    QVERIFY(tree.setPath(QStringLiteral("c:\\open")));
    const QModelIndex open = tree.currentIndex();
    tree.expand(open);
    QCOMPARE(childNames(tree.model(), open), QStringList{"first"});

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    world.makeFolder(world.addDrive(u'k'));
    world.makeFolder(world.onDrive(u'c', QStringLiteral("open/second")));
    QTest::qWait(300);
    QCOMPARE(childNames(tree.model(), QModelIndex()), QStringList{"C:"});
    QCOMPARE(childNames(tree.model(), open), QStringList{"first"});
}

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
