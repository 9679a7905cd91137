// The program folder of an installed program: the user's own stand-in, made in a fresh home,
// mended when links were swapped in, and never a way to write into the installed folder.
#include "core/settingsfile.h"
#include "platform/drivetable.h"
#include "platform/programfolder.h"
#include "support/testworld.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zelv;

namespace {

struct Installed {
    QTemporaryDir root;
    QString folder;
    UserFolders user;
    Installed()
    {
        folder = root.path() + QStringLiteral("/usr/lib/zelvant32");
        QDir().mkpath(folder);
        for (const char *name : {"Zelv32", "wrar.exe", "killd.pif", "Zelv32.HLP", "progresswindow.so"})
            write(folder + u'/' + QLatin1String(name), name);
        user.home = root.path() + QStringLiteral("/home");
        user.data = user.home + QStringLiteral("/.local/share");
        user.config = user.home + QStringLiteral("/.config");
        QDir().mkpath(user.home);
    }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QString own(const QString &name = QString()) const
    {
        return user.data + QStringLiteral("/zelvant32") + (name.isEmpty() ? QString() : u'/' + name);
    }
    QString config(const QString &name) const { return user.config + QStringLiteral("/zelvant32/") + name; }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestProgramFolder : public QObject {
    Q_OBJECT
private slots:
    void writableFolderIsItsOwn();
    void freshHomeGetsAProgramFolder();
    void swappedLinksAreMended_data();
    void swappedLinksAreMended();
    void folderInTheWayIsAnError();
    void configBlockedIsAnError();
    void folderOthersCanChangeIsRefused_data();
    void folderOthersCanChangeIsRefused();
    void madeFoldersAreTheUsersAlone();
    void settingsLiveInTheConfigFolder();
    void settingsNeverWrittenThroughALink();
};

void TestProgramFolder::writableFolderIsItsOwn()
{
    Installed i;
    QVERIFY(isWritableFolder(i.folder));
    // Read-only by its bits: installed, for root too.
    QVERIFY(QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther));
    QVERIFY(!isWritableFolder(i.folder));
    QVERIFY(!isWritableFolder(i.root.path() + QStringLiteral("/missing")));
    QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestProgramFolder::freshHomeGetsAProgramFolder()
{
    Installed i;
    // An installed folder that carries a drive table or settings does not lend them to users.
    QDir().mkpath(i.folder + QStringLiteral("/dosdevices"));
    Installed::write(i.folder + QStringLiteral("/Zelv32.ini"), "installed");
    QVERIFY(QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QStringList before = test::entriesBelow(i.folder);

    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    QVERIFY2(made, qPrintable(made ? QString() : made.error().text()));
    QCOMPARE(made->folder, i.own());
    QCOMPARE(made->settingsFile, i.config(QStringLiteral("Zelv32.ini")));
    for (const char *name : {"Zelv32", "wrar.exe", "killd.pif", "Zelv32.HLP", "progresswindow.so"})
        QCOMPARE(QFile::symLinkTarget(i.own(QLatin1String(name))), i.folder + u'/' + QLatin1String(name));
    QVERIFY(!QFileInfo::exists(i.own(QStringLiteral("Zelv32.ini"))));
    QCOMPARE(QFile::symLinkTarget(i.own(QStringLiteral("dosdevices"))), i.config(QStringLiteral("dosdevices")));
    QCOMPARE(QFile::symLinkTarget(i.config(QStringLiteral("dosdevices/c:"))), i.user.home);
    QCOMPARE(QFile::symLinkTarget(i.config(QStringLiteral("dosdevices/z:"))), QStringLiteral("/"));

    // The program folder is on drive c:, and a second start finds everything in place.
    const DriveTable table(made->folder, made->settingsFile);
    QCOMPARE(table.toDos(made->folder), std::optional(QStringLiteral("C:\\.local\\share\\zelvant32")));
    QVERIFY(prepareUserProgramFolder(i.folder, i.user));
    QCOMPARE(test::entriesBelow(i.folder), before);
    QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestProgramFolder::swappedLinksAreMended_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asFile");
    QTest::newRow("helper linked elsewhere") << QStringLiteral("wrar.exe") << false;
    QTest::newRow("helper replaced by a file") << QStringLiteral("wrar.exe") << true;
    QTest::newRow("drive table linked elsewhere") << QStringLiteral("dosdevices") << false;
    QTest::newRow("help file replaced by a file") << QStringLiteral("Zelv32.HLP") << true;
}

void TestProgramFolder::swappedLinksAreMended()
{
    QFETCH(QString, name);
    QFETCH(bool, asFile);
    Installed i;
    QVERIFY(prepareUserProgramFolder(i.folder, i.user));
    const QString elsewhere = i.root.path() + QStringLiteral("/elsewhere");
    QDir().mkpath(elsewhere + QStringLiteral("/sub"));
    Installed::write(elsewhere + QStringLiteral("/victim"), "victim");
    const QString path = i.own(name);
    QVERIFY(QFile::remove(path));
    if (asFile)
        Installed::write(path, "swapped");
    else
        QVERIFY(QFile::link(name == u"dosdevices" ? elsewhere : elsewhere + QStringLiteral("/victim"), path));
    const QString expected = name == u"dosdevices" ? i.config(QStringLiteral("dosdevices")) : i.folder + u'/' + name;

    QVERIFY(prepareUserProgramFolder(i.folder, i.user));
    QCOMPARE(QFile::symLinkTarget(path), expected);
    QCOMPARE(readAll(elsewhere + QStringLiteral("/victim")), QByteArray("victim"));
    QCOMPARE(test::entriesBelow(elsewhere), QStringList({QStringLiteral("sub"), QStringLiteral("victim")}));
    // Nothing of the repair stays behind.
    QCOMPARE(QDir(i.own()).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 6);
}

void TestProgramFolder::folderInTheWayIsAnError()
{
    Installed i;
    QDir().mkpath(i.own(QStringLiteral("wrar.exe/inside")));
    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    QVERIFY(!made);
    QVERIFY(made.error().text().contains(QStringLiteral("wrar.exe could not be linked")));
    QVERIFY(QFileInfo(i.own(QStringLiteral("wrar.exe/inside"))).isDir());
}

void TestProgramFolder::configBlockedIsAnError()
{
    Installed i;
    // A file where the config folder should be: nothing is made through or over it.
    Installed::write(i.user.home + QStringLiteral("/.config"), "a file");
    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    QVERIFY(!made);
    QCOMPARE(readAll(i.user.home + QStringLiteral("/.config")), QByteArray("a file"));
}

void TestProgramFolder::folderOthersCanChangeIsRefused_data()
{
    QTest::addColumn<QString>("folder"); // "own" or "config"
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("why");
    const QString owned = QStringLiteral(" is owned by another user");
    const QString written = QStringLiteral(" can be written by other users");
    QTest::newRow("own: open to everyone") << "own"
                                           << "mode 0777" << written;
    QTest::newRow("own: open to another group") << "own"
                                                << "group 0775" << written;
    // A group of the user's alone, as a umask of 002 leaves new folders, lets nobody else in.
    QTest::newRow("own: open to the user's own group") << "own"
                                                       << "mode 0775" << QString();
    QTest::newRow("own: another user's") << "own"
                                         << "owner" << owned;
    QTest::newRow("own: a link to another user's") << "own"
                                                   << "link" << owned;
    QTest::newRow("config: open to everyone") << "config"
                                              << "mode 0777" << written;
    QTest::newRow("config: a link to another user's") << "config"
                                                      << "link" << owned;
}

void TestProgramFolder::folderOthersCanChangeIsRefused()
{
    QFETCH(QString, folder);
    QFETCH(QString, how);
    QFETCH(QString, why);
    Installed i;
    QVERIFY(prepareUserProgramFolder(i.folder, i.user));
    const QString path = folder == u"own" ? i.own() : i.user.config + QStringLiteral("/zelvant32");
    // What another user put there stays as it is: the program writes nothing into the folder.
    const QString planted = i.root.path() + QStringLiteral("/planted");
    Installed::write(planted, "planted");
    QVERIFY(QFile::remove(i.own(QStringLiteral("wrar.exe"))));
    QVERIFY(QFile::link(planted, i.own(QStringLiteral("wrar.exe"))));
    if (how.startsWith(u"mode") || how.startsWith(u"group")) {
        if (how.startsWith(u"group") && (geteuid() != 0 || chown(QFile::encodeName(path).constData(), -1, 65534) != 0))
            QSKIP("only root can give a folder to another group");
        QVERIFY(chmod(QFile::encodeName(path).constData(), how.mid(how.indexOf(u' ') + 1).toUInt(nullptr, 8)) == 0);
        const group *g = getgrgid(getegid());
        if (why.isEmpty() && !(g && QByteArray(g->gr_name) == getpwuid(geteuid())->pw_name && !g->gr_mem[0]))
            QSKIP("this user has no group of its own");
    } else {
        if (geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QString target = path;
        if (how == u"link") {
            target = i.root.path() + QStringLiteral("/theirs");
            QVERIFY(QDir().rename(path, target));
            QVERIFY(QFile::link(target, path));
        }
        QVERIFY(chown(QFile::encodeName(target).constData(), 65534, 65534) == 0);
    }

    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    if (why.isEmpty()) {
        QVERIFY2(made, qPrintable(made ? QString() : made.error().text()));
        return;
    }
    QVERIFY(!made);
    QCOMPARE(made.error().text(), path + why);
    QCOMPARE(QFile::symLinkTarget(i.own(QStringLiteral("wrar.exe"))), planted);

    // Installed, the program is refused with those words.
    qputenv("XDG_DATA_HOME", QFile::encodeName(i.user.data));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(i.user.config));
    QVERIFY(QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const ProgramFolder resolved = resolveProgramFolder(i.folder);
    QFile::setPermissions(i.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(resolved.refusal, path + why);
    QCOMPARE(resolved.folder, i.folder);
}

void TestProgramFolder::madeFoldersAreTheUsersAlone()
{
    Installed i;
    // Under a umask that leaves new folders open to the group, what the program makes is not.
    const mode_t before = umask(002);
    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    umask(before);
    QVERIFY2(made, qPrintable(made ? QString() : made.error().text()));
    for (const QString &folder : {i.own(), i.config(QString()), i.config(QStringLiteral("dosdevices"))}) {
        struct stat st;
        QVERIFY(stat(QFile::encodeName(folder).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }
}

void TestProgramFolder::settingsLiveInTheConfigFolder()
{
    Installed i;
    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    QVERIFY(made);
    const DriveTable table(made->folder, made->settingsFile);
    for (const char *spelling :
         {"C:\\.local\\share\\zelvant32\\Zelv32.ini", "c:\\.LOCAL\\share\\ZELVANT32\\ZELV32.INI"})
        QCOMPARE(table.toHost(QString::fromLatin1(spelling)), std::optional(made->settingsFile));
    QCOMPARE(table.toHost(u"C:\\.local\\share\\zelvant32\\errors.txt"),
             std::optional(i.own(QStringLiteral("errors.txt"))));
    QCOMPARE(table.toHost(u"C:\\Zelv32.ini"), std::optional(i.user.home + QStringLiteral("/Zelv32.ini")));
    // Without a settings file of its own the table names the ini beside the program.
    QCOMPARE(DriveTable(made->folder).toHost(u"C:\\.local\\share\\zelvant32\\Zelv32.ini"),
             std::optional(i.own(QStringLiteral("Zelv32.ini"))));
}

void TestProgramFolder::settingsNeverWrittenThroughALink()
{
    Installed i;
    const Result<ProgramFolder> made = prepareUserProgramFolder(i.folder, i.user);
    QVERIFY(made);
    // Links swapped in where the settings are and where they are named: neither is written
    // through, and the settings land in the config folder.
    const QString victim = i.root.path() + QStringLiteral("/victim");
    Installed::write(victim, "victim");
    QVERIFY(QFile::link(victim, made->settingsFile));
    QVERIFY(QFile::link(victim, i.own(QStringLiteral("Zelv32.ini"))));
    const DriveTable table(made->folder, made->settingsFile);
    const auto host = table.toHost(u"C:\\.local\\share\\zelvant32\\Zelv32.ini");
    QVERIFY(host);
    SettingsRecord record;
    record.version = QStringLiteral("v2.72");
    record.folder = QStringLiteral("C:\\Games");
    QVERIFY(writeSettingsFile(*host, record));
    QCOMPARE(readAll(victim), QByteArray("victim"));
    QVERIFY(!QFileInfo(made->settingsFile).isSymLink());
    QVERIFY(readAll(made->settingsFile).contains("Dir=C:\\Games"));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
