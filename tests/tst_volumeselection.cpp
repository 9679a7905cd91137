// Finding a volume set in the listed folder: which entries end selected, which volumes come back
// in which order, and where the search stops, for each kind.
#include "install/volumesetselection.h"
#include "support/commandworld.h"

#include <QTest>

using namespace zelv;

namespace {

// A file of the named kind's signature ("rar", "arj", "ace"), or plain text.
QByteArray contentOf(const QString &what)
{
    if (what == u"rar")
        return QByteArray("Rar!\x1a\x07\x00", 7) + QByteArray(40, 'r');
    if (what == u"arj")
        return QByteArray("\x60\xEA", 2) + QByteArray(40, 'a');
    if (what == u"ace")
        return QByteArray(7, '\0') + "**ACE**" + QByteArray(20, 'c');
    if (what == u"lonely60")
        return QByteArray(10, 'x') + char(0x60) + QByteArray(10, 'y');
    return "just text";
}

} // namespace

Q_DECLARE_METATYPE(ArchiveKind)

class TestVolumeSelection : public QObject {
    Q_OBJECT
private slots:
    void select_data();
    void select();
};

void TestVolumeSelection::select_data()
{
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<QStringList>("files");    // name=content, in list order
    QTest::addColumn<QStringList>("selected"); // afterwards
    QTest::addColumn<QStringList>("names");    // the volumes returned, in install order
    QTest::addColumn<bool>("found");
    const auto rar = ArchiveKind::Rar, arj = ArchiveKind::Arj, ace = ArchiveKind::Ace;
    // clang-format off
    QTest::newRow("rar set, first volume last in the list")
        << rar << QStringList{"ABC.R00=rar", "ABC.R01=rar", "ABC.RAR=rar"}
        << QStringList{"ABC.R00", "ABC.R01", "ABC.RAR"} << QStringList{"ABC.RAR", "ABC.R00", "ABC.R01"} << true;
    QTest::newRow("rar set numbered from 000")
        << rar << QStringList{"abc.000=rar", "abc.001=rar"}
        << QStringList{"abc.000", "abc.001"} << QStringList{"abc.000", "abc.001"} << true;
    QTest::newRow("rar: a candidate that is no volume stops it unordered")
        << rar << QStringList{"ABC.R00=rar", "ABC.RAR=rar", "NOTES.REG=text"}
        << QStringList{"ABC.R00", "ABC.RAR"} << QStringList{"ABC.R00", "ABC.RAR"} << true;
    QTest::newRow("rar: the first candidate is no volume")
        << rar << QStringList{"A.R00=text", "B.R00=rar"}
        << QStringList{} << QStringList{} << false;
    QTest::newRow("arj: a candidate that is no volume is passed over")
        << arj << QStringList{"ABC.A00=arj", "ABC.ARJ=arj", "JUNK.A01=text"}
        << QStringList{"ABC.A00", "ABC.ARJ"} << QStringList{"ABC.ARJ", "ABC.A00"} << true;
    QTest::newRow("arj: a 0x60 without 0xEA is no volume")
        << arj << QStringList{"ABC.A00=arj", "ABC.ARJ=arj", "JUNK.A01=lonely60"}
        << QStringList{"ABC.A00", "ABC.ARJ"} << QStringList{"ABC.ARJ", "ABC.A00"} << true;
    QTest::newRow("two rar sets: the last first volume leads, the other one ends the list")
        << rar << QStringList{"A.R00=rar", "A.RAR=rar", "B.R00=rar", "B.RAR=rar"}
        << QStringList{"A.R00", "A.RAR", "B.R00", "B.RAR"} << QStringList{"B.RAR", "A.R00", "B.R00", "A.RAR"} << true;
    QTest::newRow("ace set")
        << ace << QStringList{"GAME.ACE=ace", "GAME.C00=ace", "GAME.C01=ace"}
        << QStringList{"GAME.ACE", "GAME.C00", "GAME.C01"} << QStringList{"GAME.ACE", "GAME.C00", "GAME.C01"} << true;
    QTest::newRow("ace: a candidate that is no volume stops it")
        << ace << QStringList{"GAME.ACE=ace", "GAME.C00=text", "GAME.C01=ace"}
        << QStringList{"GAME.ACE"} << QStringList{"GAME.ACE"} << true;
    // clang-format on
}

void TestVolumeSelection::select()
{
    QFETCH(ArchiveKind, kind);
    QFETCH(QStringList, files);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, names);
    QFETCH(bool, found);
    test::CommandWorld w;
    for (const QString &file : files) {
        const QStringList parts = file.split(u'=');
        w.world.writeFile(w.world.onDrive(u'c', QStringLiteral("rel/") + parts[0]), contentOf(parts[1]));
    }
    QVERIFY(w.window.setTreePath(QStringLiteral("C:\\rel")));
    QVERIFY(w.window.setListPath(QStringLiteral("C:\\rel")));
    w.window.setListPattern(QStringLiteral("*.*"));

    const VolumeSet set = selectVolumeSet(w.context, kind);

    QStringList nowSelected;
    for (int i = 0; i < w.window.listCount(); ++i)
        if (w.window.listSelected(i))
            nowSelected << w.window.listItem(i);
    QCOMPARE(nowSelected, selected);
    QCOMPARE(set.volumes, names);
    QCOMPARE(set.found(), found);
}

QTEST_GUILESS_MAIN(TestVolumeSelection)
#include "tst_volumeselection.moc"
