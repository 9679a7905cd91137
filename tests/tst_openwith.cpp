// "Open with Zelvant32": files given at start, or handed to the running window by a later start,
// through the real window offscreen.
#include "support/scripteddialogs.h"
#include "support/testworld.h"
#include "ui/form1.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace zelv;

namespace {

struct Fixture {
    test::TestWorld world;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;
    QString downloads;
    Fixture()
    {
        world.linkDrive(u'z', world.root());
        world.installHelper(QStringLiteral("killd.pif"));
        downloads = world.makeFolder(world.onDrive(u'c', QStringLiteral("Downloads")));
        for (const char *name :
             {"a.rar", "a.r00", "b.rar", "Game.ARJ", "x.ace", "x.c00", "a.zip", "b.zip", "readme.nfo"})
            world.writeFile(downloads + u'/' + QLatin1String(name), "data");
    }
    Form1 &start(const QStringList &names)
    {
        QStringList files;
        for (const QString &name : names)
            files.append(downloads + u'/' + name);
        form = std::make_unique<Form1>(Form1Context{world.programFolder(), &world.drives(), &dialogs, nullptr});
        form->setGivenFiles(files);
        return *form;
    }
};

} // namespace

class TestOpenWith : public QObject {
    Q_OBJECT
private slots:
    void startsAtTheFilesWithTheirKind_data();
    void startsAtTheFilesWithTheirKind();
    void fileOnNoDriveIsNamed();
    void refusedProgramFolderOpensNothing();
    void laterStartHandsTheFilesOver();
    void handedOverFilesWaitForACommand();
};

void TestOpenWith::startsAtTheFilesWithTheirKind_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<QStringList>("selected");
    QTest::newRow("rar volumes") << QStringList{"a.r00", "a.rar"} << ArchiveKind::Rar << QStringList{"a.r00", "a.rar"};
    QTest::newRow("arj") << QStringList{"Game.ARJ"} << ArchiveKind::Arj << QStringList{"Game.ARJ"};
    // ARJ lists *.A?? too; the archive's own extension decides.
    QTest::newRow("ace") << QStringList{"x.ace", "x.c00"} << ArchiveKind::Ace << QStringList{"x.ace", "x.c00"};
    QTest::newRow("ace volume") << QStringList{"x.c00"} << ArchiveKind::Ace << QStringList{"x.c00"};
    QTest::newRow("zip") << QStringList{"b.zip"} << ArchiveKind::Zip << QStringList{"b.zip"};
    // A release note keeps the kind; the list cannot show it, so nothing is selected.
    QTest::newRow("note") << QStringList{"readme.nfo"} << ArchiveKind::Zip << QStringList{};
}

void TestOpenWith::startsAtTheFilesWithTheirKind()
{
    QFETCH(QStringList, given);
    QFETCH(ArchiveKind, kind);
    QFETCH(QStringList, selected);
    Fixture f;
    Form1 &form = f.start(given);
    QCOMPARE(form.Form_Load(), StartupOutcome::Completed);
    QCOMPARE(form.listPath().toLower(), QStringLiteral("c:\\downloads"));
    QCOMPARE(form.treePath().toLower(), QStringLiteral("c:\\downloads"));
    QCOMPARE(form.pressedKind(), std::optional(kind));
    if (!selected.isEmpty())
        QCOMPARE(form.listPattern(), archiveKindInfo(kind).listingFilter);
    QCOMPARE(form.selectedNames(), selected);
    QVERIFY(f.dialogs.shown().isEmpty());
}

void TestOpenWith::fileOnNoDriveIsNamed()
{
    Fixture f;
    QTemporaryDir outside;
    const QString stray = outside.path() + QStringLiteral("/stray.zip");
    QFile(stray).open(QIODevice::WriteOnly);
    f.form = std::make_unique<Form1>(Form1Context{f.world.programFolder(), &f.world.drives(), &f.dialogs, nullptr});
    f.form->setGivenFiles({stray, f.downloads + QStringLiteral("/b.rar")});
    QCOMPARE(f.form->Form_Load(), StartupOutcome::Completed);
    QCOMPARE(f.dialogs.shown().size(), 1);
    QVERIFY(f.dialogs.shown().first().text.contains(stray));
    // The files on a drive are still opened.
    QCOMPARE(f.form->listPath().toLower(), QStringLiteral("c:\\downloads"));
    QCOMPARE(f.form->selectedNames(), QStringList{"b.rar"});
}

void TestOpenWith::refusedProgramFolderOpensNothing()
{
    Fixture f;
    const QString why = f.world.programFolder() + QStringLiteral(" can be written by other users");
    f.form =
        std::make_unique<Form1>(Form1Context{f.world.programFolder(), &f.world.drives(), &f.dialogs, nullptr, why});
    f.form->setGivenFiles({f.downloads + QStringLiteral("/b.rar")});
    QCOMPARE(f.form->Form_Load(), StartupOutcome::Refused);
    QCOMPARE(f.dialogs.shown().size(), 1);
    QCOMPARE(f.dialogs.shown().first().title, QStringLiteral("Error"));
    QCOMPARE(f.dialogs.shown().first().text, why);
    QVERIFY(!f.form->isVisible());
}

void TestOpenWith::laterStartHandsTheFilesOver()
{
    Fixture f;
    Form1 &first = f.start({});
    QCOMPARE(first.Form_Load(), StartupOutcome::Completed);
    QCOMPARE(first.listPath().toLower(), QStringLiteral("c:\\"));
    first.showMinimized();

    // The later start is the real program file, run from the same program folder, as the file
    // manager runs it: relative names from its own working folder.
    QProcess second;
    QVERIFY(f.world.startProgram(
        second, {QStringLiteral("x.ace"), QStringLiteral("file://") + f.downloads + QStringLiteral("/x.c00")},
        f.downloads));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(second.exitCode(), 0);

    QTRY_COMPARE(first.listPath().toLower(), QStringLiteral("c:\\downloads"));
    QTRY_VERIFY(!first.isMinimized());
    QCOMPARE(first.pressedKind(), std::optional(ArchiveKind::Ace));
    QCOMPARE(first.selectedNames(), (QStringList{"x.ace", "x.c00"}));
}

void TestOpenWith::handedOverFilesWaitForACommand()
{
    Fixture f;
    Form1 &first = f.start({});
    QCOMPARE(first.Form_Load(), StartupOutcome::Completed);
    // A command at work: its list is not moved under it.
    first.setBusyCursor(true);
    QProcess second;
    QVERIFY(f.world.startProgram(second, {f.downloads + QStringLiteral("/Game.ARJ")}));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(second.exitCode(), 0);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(first.listPath().toLower(), QStringLiteral("c:\\"));
    QCOMPARE(first.pressedKind(), std::optional(ArchiveKind::Zip));

    first.setBusyCursor(false);
    QTRY_COMPARE(first.listPath().toLower(), QStringLiteral("c:\\downloads"));
    QCOMPARE(first.pressedKind(), std::optional(ArchiveKind::Arj));
    QCOMPARE(first.selectedNames(), QStringList{"Game.ARJ"});
}

QTEST_MAIN(TestOpenWith)
#include "tst_openwith.moc"
