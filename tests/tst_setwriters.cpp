#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace zelv::test;

namespace {

constexpr qint64 kVolumeSize = 2048;

// A folder, a member larger than two volumes, an empty one and two small ones.
QList<SetMember> fixtureMembers()
{
    return {SetMember::file("readme.txt", "read me first\r\n"), SetMember::folder("docs"),
            SetMember::file("docs/big.dat", noiseBytes(5000, 7)), SetMember::file("docs/empty.txt", ""),
            SetMember::file("tail.txt", textBytes(300))};
}

struct Run {
    int exitCode = -1; // -1: crashed or did not finish
    QString output;
};

// The tool with input closed, in workDir, stdout and stderr together.
Run run(const QString &program, const QStringList &args, const QString &workDir = QString())
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromLocal8Bit(p.readAll())};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

#define REQUIRE_TOOL(name)                                                                                             \
    if (QStandardPaths::findExecutable(name).isEmpty())                                                                \
        QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(name)));

// Every file under folder with its bytes, every folder as "name/" with none.
QMap<QString, QByteArray> tree(const QString &folder)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isDir())
            out.insert(relative + u'/', QByteArray());
        else
            out.insert(relative, readBytes(path));
    }
    return out;
}

QMap<QString, QByteArray> expectedTree(const QList<SetMember> &members)
{
    QMap<QString, QByteArray> out;
    for (const SetMember &m : members)
        out.insert(QString::fromUtf8(m.name) + (m.directory ? QStringLiteral("/") : QString()), m.data);
    return out;
}

QStringList fileNames(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QFileInfo(p).fileName();
    return out;
}

// lsar prints a time with its offset from UTC: "2024-03-09 10:20:30 +0000".
QDateTime lsarTime(const QString &text)
{
    QDateTime t = QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    t.setTimeZone(QTimeZone::utc());
    const int offset = (text.mid(21, 2).toInt() * 60 + text.mid(23, 2).toInt()) * 60;
    return t.addSecs(text.mid(20, 1) == u"-" ? offset : -offset);
}

QJsonObject lsarJson(const QString &archive)
{
    const Run r = run(QStringLiteral("lsar"), {QStringLiteral("-j"), archive});
    return r.exitCode == 0 ? QJsonDocument::fromJson(r.output.toUtf8()).object() : QJsonObject();
}

// bsdtar reading the volumes one after another from its input, as the program hands them to
// libarchive, zeros after the last one (libarchive's RAR 5 reader looks past a short last
// volume).
Run bsdtarFromVolumes(const QStringList &volumes, const QString &outDir)
{
    QByteArray all;
    for (const QString &v : volumes)
        all += readBytes(v);
    all += QByteArray(65536, '\0');
    QDir().mkpath(outDir);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(outDir);
    p.start(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), QStringLiteral("-")});
    p.write(all);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromLocal8Bit(p.readAll())};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

int byteAt(const QByteArray &b, qsizetype i) { return quint8(b.at(i < 0 ? b.size() + i : i)); }

// The volume marks the tools here pass over, read where the formats put them: the main
// header's flags and number (it opens every volume) and the end block's "more volumes" flag.
void checkVolumeMarks(RarFormat format, VolumeNaming naming, const QStringList &paths)
{
    for (int i = 0; i < paths.size(); ++i) {
        const QByteArray v = readBytes(paths[i]);
        const int more = i + 1 < paths.size() ? 1 : 0;
        if (format == RarFormat::Rar4) {
            const int first = i == 0 ? 0x0100 : 0;
            QCOMPARE(byteAt(v, 10) | byteAt(v, 11) << 8, 0x0001 | first | (naming == VolumeNaming::New ? 0x0010 : 0));
            QCOMPARE(byteAt(v, -7), 0x7b);                   // end block: its type,
            QCOMPARE(byteAt(v, -6), 0x08 | more);            // volume number present,
            QCOMPARE(byteAt(v, -2) | byteAt(v, -1) << 8, i); // the number
        } else {
            QCOMPARE(byteAt(v, 13), 1);                             // main header
            QCOMPARE(byteAt(v, 15), 0x0001 | (i > 0 ? 0x0002 : 0)); // a volume; numbered after the first
            if (i > 0)
                QCOMPARE(byteAt(v, 16), i);
            QCOMPARE(byteAt(v, -3), 5); // end of archive
            QCOMPARE(byteAt(v, -1), more);
        }
    }
}

// One listing row of "unace v": name, size and whether it goes on from a previous volume.
struct AceRow {
    QString name;
    qint64 size;
    bool continued;
};
QList<AceRow> unaceRows(const QString &output)
{
    static const QRegularExpression row(
        QStringLiteral(R"(^\d\d\.\d\d\.\d\d\|\d\d:\d\d\|(.). *\d+\| *(\d+)\| *\d+%\|.(.*)$)"),
        QRegularExpression::MultilineOption);
    QList<AceRow> out;
    for (const auto &m : row.globalMatch(output))
        out.append({m.captured(3), m.captured(2).toLongLong(), m.captured(1) == u"<"});
    return out;
}

enum class Kind { Rar4, Rar5, Ace };

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(SetMember)
Q_DECLARE_METATYPE(RarFormat)
Q_DECLARE_METATYPE(VolumeNaming)

class TestSetWriters : public QObject {
    Q_OBJECT
private slots:
    void rarSets_data();
    void rarSets();
    void names_data();
    void names();
    void aceSets_data();
    void aceSets();
    void aceVersion20();
    void volumeTooSmall();
    void packedRar5_data();
    void packedRar5();
};

void TestSetWriters::rarSets_data()
{
    QTest::addColumn<RarFormat>("format");
    QTest::addColumn<VolumeNaming>("naming");
    QTest::addColumn<int>("digits");
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<QStringList>("volumes");
    const QStringList old{"prog.rar", "prog.r00", "prog.r01"};
    const QStringList new1{"prog.part1.rar", "prog.part2.rar", "prog.part3.rar"};
    const QStringList new2{"prog.part01.rar", "prog.part02.rar", "prog.part03.rar"};
    for (auto [format, tag] : {std::pair{RarFormat::Rar4, "rar4"}, std::pair{RarFormat::Rar5, "rar5"}}) {
        const QByteArray t(tag);
        QTest::newRow(t + " single") << format << VolumeNaming::Old << 1 << qint64(0) << QStringList{"prog.rar"};
        QTest::newRow(t + " old names") << format << VolumeNaming::Old << 1 << kVolumeSize << old;
        QTest::newRow(t + " partN") << format << VolumeNaming::New << 1 << kVolumeSize << new1;
        QTest::newRow(t + " part0N") << format << VolumeNaming::New << 2 << kVolumeSize << new2;
    }
}

void TestSetWriters::rarSets()
{
    REQUIRE_TOOL("unar");
    REQUIRE_TOOL("lsar");
    QFETCH(RarFormat, format);
    QFETCH(VolumeNaming, naming);
    QFETCH(int, digits);
    QFETCH(qint64, volumeSize);
    QFETCH(QStringList, volumes);
    QTemporaryDir dir;
    const QList<SetMember> members = fixtureMembers();
    QString error;
    const auto paths = writeRarSet(dir.filePath("set"), "prog", format, naming, members, volumeSize, &error, digits);
    QVERIFY2(paths, qPrintable(error));
    QCOMPARE(fileNames(*paths), volumes);
    for (const QString &p : *paths)
        QVERIFY(volumeSize == 0 || QFileInfo(p).size() <= volumeSize);
    if (volumeSize)
        checkVolumeMarks(format, naming, *paths);
    if (QTest::currentTestFailed())
        return;

    QString first = paths->first();
    if (format == RarFormat::Rar5 && naming == VolumeNaming::Old) {
        // unar finds RAR 5 volumes only by a number before ".rar"; the volumes do not depend
        // on their names, so it reads them under part names.
        for (int i = 0; i < paths->size(); ++i)
            QVERIFY(QFile::link(paths->at(i), dir.filePath(QStringLiteral("linked.part%1.rar").arg(i + 1))));
        first = dir.filePath("linked.part1.rar");
    }

    const QJsonObject listing = lsarJson(first);
    QCOMPARE(listing["lsarProperties"]["XADVolumes"].toArray().size(), volumes.size());
    const QJsonArray entries = listing["lsarContents"].toArray();
    QCOMPARE(entries.size(), members.size());
    for (int i = 0; i < members.size(); ++i) {
        const QJsonObject e = entries[i].toObject();
        const SetMember &m = members[i];
        QCOMPARE(e["XADFileName"].toString(), QString::fromUtf8(m.name));
        QCOMPARE(e["XADIsDirectory"].toInt(), m.directory ? 1 : 0);
        QCOMPARE(e["XADFileSize"].toInteger(), m.data.size());
        const QDateTime listed = lsarTime(e["XADLastModificationDate"].toString()).toUTC();
        if (format == RarFormat::Rar4) // unar reads the DOS time, local by the format, as UTC
            QCOMPARE(QDateTime(listed.date(), listed.time()), m.mtime);
        else
            QCOMPARE(listed, m.mtime);
        if (m.name == "docs/big.dat") {
            const QJsonArray parts =
                format == RarFormat::Rar4 ? e["XADSolidObject"][0]["Parts"].toArray() : e["RAR5InputParts"].toArray();
            QCOMPARE(parts.size(), volumeSize ? 3 : 1);
        }
    }

    const Run unar = run("unar", {"-q", "-D", "-o", dir.filePath("out"), first});
    QVERIFY2(unar.exitCode == 0, qPrintable(unar.output));
    QCOMPARE(tree(dir.filePath("out")), expectedTree(members));
}

void TestSetWriters::names_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<SetMember>("member");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("listed"); // as lsar or "unace v" reads the stored name
    const auto r4 = Kind::Rar4, r5 = Kind::Rar5, ace = Kind::Ace;
    const SetMember nested = SetMember::file("a/b/c.txt", "x");
    QTest::newRow("rar4 folders") << r4 << nested << QByteArray("a\\b\\c.txt") << "a/b/c.txt";
    QTest::newRow("rar5 folders") << r5 << nested << QByteArray("a/b/c.txt") << "a/b/c.txt";
    QTest::newRow("ace folders") << ace << nested << QByteArray("a\\b\\c.txt") << "a/b/c.txt";
    QTest::newRow("rar4 folder entry") << r4 << SetMember::folder("a/b/") << QByteArray("a\\b") << "a/b";
    QTest::newRow("rar4 ..\\x") << r4 << SetMember::rawFile("..\\x", "x") << QByteArray("..\\x") << "../x";
    QTest::newRow("rar4 C:\\x") << r4 << SetMember::rawFile("C:\\x", "x") << QByteArray("C:\\x") << "C:/x";
    QTest::newRow("rar4 ../x") << r4 << SetMember::rawFile("../x", "x") << QByteArray("../x") << "../x";
    QTest::newRow("rar5 ../x") << r5 << SetMember::rawFile("../x", "x") << QByteArray("../x") << "../x";
    QTest::newRow("rar5 /abs") << r5 << SetMember::rawFile("/abs", "x") << QByteArray("/abs") << "/abs";
    // In RAR 5 a backslash is part of the name, not a separator.
    QTest::newRow("rar5 ..\\x") << r5 << SetMember::rawFile("..\\x", "x") << QByteArray("..\\x") << "..\\x";
    QTest::newRow("ace ..\\x") << ace << SetMember::rawFile("..\\x", "x") << QByteArray("..\\x") << "../x";
    QTest::newRow("ace C:\\x") << ace << SetMember::rawFile("C:\\x", "x") << QByteArray("C:\\x") << "C:/x";
    QTest::newRow("ace /abs") << ace << SetMember::rawFile("/abs", "x") << QByteArray("/abs")
                              << "abs"; // unace drops the root
}

void TestSetWriters::names()
{
    QFETCH(Kind, kind);
    QFETCH(SetMember, member);
    QFETCH(QByteArray, stored);
    QFETCH(QString, listed);
    REQUIRE_TOOL(QString::fromLatin1(kind == Kind::Ace ? "unace" : "lsar"));
    QTemporaryDir dir;
    const auto format = kind == Kind::Rar4 ? RarFormat::Rar4 : RarFormat::Rar5;
    const auto paths = kind == Kind::Ace ? writeAceSet(dir.path(), "names", {member}, 0)
                                         : writeRarSet(dir.path(), "names", format, VolumeNaming::Old, {member}, 0);
    QVERIFY(paths);
    QVERIFY(readBytes(paths->first()).contains(stored));
    QStringList names;
    if (kind == Kind::Ace) {
        for (const AceRow &row : unaceRows(run("unace", {"v", "-y", paths->first()}).output))
            names << row.name;
    } else {
        for (const QJsonValue &entry : lsarJson(paths->first())["lsarContents"].toArray())
            names << entry["XADFileName"].toString();
    }
    QCOMPARE(names, QStringList{listed});
}

void TestSetWriters::aceSets_data()
{
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<QStringList>("volumes");
    QTest::newRow("single") << qint64(0) << QStringList{"prog.ace"};
    QTest::newRow("volumes") << kVolumeSize << QStringList{"prog.ace", "prog.c00", "prog.c01"};
}

void TestSetWriters::aceSets()
{
    REQUIRE_TOOL("unace");
    QFETCH(qint64, volumeSize);
    QFETCH(QStringList, volumes);
    QTemporaryDir dir;
    const QList<SetMember> members = fixtureMembers();
    QString error;
    const auto paths = writeAceSet(dir.filePath("set"), "prog", members, volumeSize, 10, &error);
    QVERIFY2(paths, qPrintable(error));
    QCOMPARE(fileNames(*paths), volumes);
    for (int i = 0; i < paths->size(); ++i) {
        const QByteArray v = readBytes(paths->at(i));
        QCOMPARE(bool(byteAt(v, 6) & 0x08), volumeSize > 0); // flag 0x0800: a volume set
        QCOMPARE(byteAt(v, 17), i);                          // volume number
    }

    // Without -y unace asks before every further volume.
    const Run list = run("unace", {"v", "-y", paths->first()});
    QVERIFY2(list.exitCode == 0, qPrintable(list.output));
    QCOMPARE(list.output.count(QStringLiteral("Processing archive:")), volumes.size());
    const QList<AceRow> rows = unaceRows(list.output);
    QCOMPARE(rows.size(), members.size());
    for (int i = 0; i < members.size(); ++i) {
        QCOMPARE(rows[i].name, QString::fromUtf8(members[i].name));
        QCOMPARE(rows[i].size, members[i].data.size());
        // A split member's row shows its last header, which goes on from a previous volume.
        QCOMPARE(rows[i].continued, volumeSize > 0 && members[i].name == "docs/big.dat");
    }

    QVERIFY(QDir().mkpath(dir.filePath("out")));
    const Run extract = run("unace", {"x", "-y", paths->first()}, dir.filePath("out"));
    QVERIFY2(extract.exitCode == 0 && !extract.output.contains("CRC-check error"), qPrintable(extract.output));
    QCOMPARE(tree(dir.filePath("out")), expectedTree(members));
}

void TestSetWriters::aceVersion20()
{
    REQUIRE_TOOL("unace");
    QTemporaryDir dir;
    const QList<SetMember> members = fixtureMembers();
    const auto paths = writeAceSet(dir.filePath("set"), "prog", members, 0, 20);
    QVERIFY(paths);
    const QByteArray bytes = readBytes(paths->first());
    QCOMPARE(int(bytes[14]), 20);     // version needed to extract
    QVERIFY(quint8(bytes[6]) & 0x01); // flag 0x0100: the 2.0 format

    // What unace 1.2 does with it: it reads neither the version nor the flag, and refuses a
    // member only for a compression method it does not know. Stored members come out whole.
    QVERIFY(QDir().mkpath(dir.filePath("out")));
    const Run extract = run("unace", {"x", "-y", paths->first()}, dir.filePath("out"));
    QCOMPARE(extract.exitCode, 0);
    QCOMPARE(tree(dir.filePath("out")), expectedTree(members));
}

void TestSetWriters::volumeTooSmall()
{
    QTemporaryDir dir;
    const QList<SetMember> members = fixtureMembers();
    QString rar4, rar5, ace;
    QVERIFY(!writeRarSet(dir.path(), "a", RarFormat::Rar4, VolumeNaming::Old, members, 40, &rar4));
    QVERIFY(!writeRarSet(dir.path(), "b", RarFormat::Rar5, VolumeNaming::New, members, 40, &rar5));
    QVERIFY(!writeAceSet(dir.path(), "c", members, 40, 10, &ace));
    QVERIFY(!rar4.isEmpty() && !rar5.isEmpty() && !ace.isEmpty());
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestSetWriters::packedRar5_data()
{
    QTest::addColumn<bool>("solid");
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<int>("blockInput");
    QTest::addColumn<int>("dictionaryShift");
    // Small blocks put many block heads near where volumes end; a window of 512 KiB is
    // smaller than the text member.
    QTest::newRow("one archive") << false << qint64(0) << (1 << 15) << 5;
    QTest::newRow("volumes, small blocks") << false << qint64(20011) << 2048 << 5;
    QTest::newRow("solid volumes, small blocks") << true << qint64(20011) << 2048 << 5;
    QTest::newRow("solid, one archive") << true << qint64(0) << (1 << 15) << 5;
    QTest::newRow("a window smaller than a member") << false << qint64(20011) << (1 << 15) << 2;
}

// Packed members come out of both unar and libarchive as they went in, and are packed.
void TestSetWriters::packedRar5()
{
    REQUIRE_TOOL("unar");
    REQUIRE_TOOL("lsar");
    REQUIRE_TOOL("bsdtar");
    QFETCH(bool, solid);
    QFETCH(qint64, volumeSize);
    QFETCH(int, blockInput);
    QFETCH(int, dictionaryShift);
    // unar starts the window over at a folder: it comes first. The last member repeats the
    // first one's start, far back in a solid window.
    const QList<SetMember> members{
        SetMember::folder("docs"), SetMember::packed("text.txt", textBytes(dictionaryShift < 5 ? 1300000 : 300000)),
        SetMember::packed("noise.bin", noiseBytes(50000, 3)), SetMember::packed("empty.txt", ""),
        SetMember::packed("docs/again.txt", textBytes(100000), 1)};
    QTemporaryDir dir;
    QString error;
    const RarPacking packing{dictionaryShift, solid, blockInput};
    const auto paths = writeRarSet(dir.filePath("set"), "prog", RarFormat::Rar5, VolumeNaming::New, members, volumeSize,
                                   &error, 2, packing);
    QVERIFY2(paths, qPrintable(error));
    QVERIFY(volumeSize == 0 || paths->size() > 3);
    qint64 total = 0;
    for (const QString &p : *paths)
        total += QFileInfo(p).size();
    qint64 unpacked = 0;
    for (const SetMember &m : members)
        unpacked += m.data.size();
    QVERIFY(total < unpacked / 3); // the text shrinks to a fraction

    const QJsonArray entries = lsarJson(paths->first())["lsarContents"].toArray();
    QCOMPARE(entries.size(), members.size());
    QCOMPARE(entries[1]["XADCompressionName"].toString(), QStringLiteral("Normal v5.0 (0)"));
    QCOMPARE(entries[4]["XADCompressionName"].toString(), QStringLiteral("Fastest v5.0 (0)"));
    QCOMPARE(entries[4]["XADIsSolid"].toInt(), solid ? 1 : 0);
    QCOMPARE(entries[1]["RAR5DictionarySize"].toInteger(), qint64(0x20000) << dictionaryShift);

    const Run unar = run("unar", {"-q", "-D", "-o", dir.filePath("unar"), paths->first()});
    QVERIFY2(unar.exitCode == 0, qPrintable(unar.output));
    QCOMPARE(tree(dir.filePath("unar")), expectedTree(members));
    const Run bsdtar = bsdtarFromVolumes(*paths, dir.filePath("bsdtar"));
    QVERIFY2(bsdtar.exitCode == 0, qPrintable(bsdtar.output));
    QCOMPARE(tree(dir.filePath("bsdtar")), expectedTree(members));
}

QTEST_GUILESS_MAIN(TestSetWriters)
#include "tst_setwriters.moc"
