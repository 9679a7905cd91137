// The ACE reader against real archives of every packing (stored, ACE 1.0, ACE 2.0, solid) and
// the original files they hold, and against sets the tests write.
#include "archive/acereader.h"
#include "support/setwriters.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace zelv;

namespace {

QString sharedAceArchives() { return QDir(QStringLiteral(ZELV_SOURCE_DIR "/../shared/testdata/ace")).absolutePath(); }

struct Unpacked {
    QString fault;
    QMap<QString, QByteArray> files; // by name, '\' between parts
};

Unpacked unpackAll(const AceSet &set)
{
    Unpacked out;
    AceReader reader(set);
    for (int i = 0; i < set.members.size() && out.fault.isEmpty(); ++i) {
        QByteArray data;
        out.fault = reader.unpack(i, [&](const char *p, qsizetype n) {
            data.append(p, n);
            return true;
        });
        if (!set.members[i].directory)
            out.files.insert(set.members[i].name, data);
    }
    return out;
}

} // namespace

class TestAceReader : public QObject {
    Q_OBJECT
private slots:
    void realArchives_data();
    void realArchives();
};

void TestAceReader::realArchives_data()
{
    QTest::addColumn<QString>("archive");
    for (const char *name :
         {"Ace.store.ace", "Ace.method1.ace", "Ace.method1-solid.ace", "Ace.method2.ace", "Ace.method2-solid.ace"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAceReader::realArchives()
{
    QFETCH(QString, archive);
    const QString folder = sharedAceArchives();
    if (!QFileInfo::exists(folder + u'/' + archive))
        QSKIP("the shared ACE test archives are not here (../shared/testdata/ace)");
    const AceSet set = readAceSet(folder + u'/' + archive);
    QCOMPARE(set.fault, QString());
    const Unpacked got = unpackAll(set);
    QCOMPARE(got.fault, QString());
    QCOMPARE(got.files.value(QStringLiteral("exe\\test.exe")),
             test::readBytes(folder + QStringLiteral("/original/exe/test.exe")));
    QCOMPARE(got.files.value(QStringLiteral("jpg\\test.jpg")),
             test::readBytes(folder + QStringLiteral("/original/jpg/test.jpg")));
    QByteArray text = test::readBytes(folder + QStringLiteral("/original/тест.txt"));
    text.replace("\n", "\r\n");
    QCOMPARE(got.files.size(), 3);
    bool found = false;
    for (auto it = got.files.cbegin(); it != got.files.cend(); ++it)
        found = found || (!it.key().contains(u'\\') && it.value() == text);
    QVERIFY(found);
}

QTEST_GUILESS_MAIN(TestAceReader)
#include "tst_acereader.moc"
