// The About window: its outline, its storm, what closes it, its thunder, and how the main window
// opens it. Offscreen and, on most machines that run the tests, without a sound device.

#include "support/scripteddialogs.h"
#include "support/testworld.h"
#include "ui/aboutwindow.h"
#include "ui/form1.h"
#include "ui/widgets/logopanel.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLibrary>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QtEndian>

using namespace zelv;

namespace {

// The About windows on screen; a closed one waiting for its deletion is not.
QList<AboutWindow *> openAboutWindows()
{
    QList<AboutWindow *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *about = qobject_cast<AboutWindow *>(w); about && about->isVisible())
            found << about;
    return found;
}

// The timer's own tick, as if its time were up.
void tick(QTimer *timer)
{
    QTimerEvent event(timer->timerId());
    QCoreApplication::sendEvent(timer, &event);
}

// The main window over a world of its own, started as the program starts it.
struct MainWindow {
    test::TestWorld world;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;

    MainWindow()
    {
        world.linkDrive(u'z', world.root()); // the program folder must be on a drive
        form = std::make_unique<Form1>(Form1Context{world.programFolder(), &world.drives(), &dialogs, nullptr});
        form->Form_Load();
    }
};

QString builtThunder() { return test::TestWorld::builtProgramFolder() + QStringLiteral("/thunder.wav"); }

} // namespace

class TestAboutWindow : public QObject {
    Q_OBJECT
private slots:
    void closesWhenItsTimeIsUp();
    void closesOnAClick_data();
    void closesOnAClick();
    void outlineFollowsThePicture();
    void stormPlaysWhileEnabled();
    void thunderIsShortMonoPcm();
    void thunderPlayerLoadsOnlyWhenPlayed();
    void aboutAgain_data();
    void aboutAgain();
    void stormShownFromTheLogo_data();
    void stormShownFromTheLogo();
    void thunderFromTheProgramFolder_data();
    void thunderFromTheProgramFolder();
};

void TestAboutWindow::closesWhenItsTimeIsUp()
{
    QPointer<AboutWindow> about = new AboutWindow();
    QVERIFY(about->isVisible());
    QTimer *timer = about->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->isActive() && timer->isSingleShot());
    QCOMPARE(timer->interval(), 6000);
    tick(timer);
    QVERIFY(!about->isVisible());
    QTRY_VERIFY(about.isNull());
}

void TestAboutWindow::closesOnAClick_data()
{
    QTest::addColumn<QString>("part"); // nothing: the picture itself
    QTest::newRow("picture") << QString();
    QTest::newRow("storm") << QStringLiteral("AniIcon1");
    QTest::newRow("Label1") << QStringLiteral("Label1");
    QTest::newRow("Label2") << QStringLiteral("Label2");
    QTest::newRow("version") << QStringLiteral("Label3");
}

void TestAboutWindow::closesOnAClick()
{
    QFETCH(QString, part);
    QPointer<AboutWindow> about = new AboutWindow();
    about->AniIcon1->show();
    QWidget *target = part.isEmpty() ? about.data() : about->findChild<QWidget *>(part);
    QVERIFY(target && target->isVisible());
    // The picture is clicked on the name, where no part lies over it.
    const QPoint at = part.isEmpty() ? QPoint(110, 125) : target->rect().center();
    if (part.isEmpty())
        QCOMPARE(about->childAt(at), nullptr);
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
    QTRY_VERIFY(about.isNull());
}

void TestAboutWindow::outlineFollowsThePicture()
{
    AboutWindow about;
    const QRegion mask = about.mask();
    const QRect r = about.rect();
    for (QPoint corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
        QVERIFY(!mask.contains(corner));
    QVERIFY(mask.contains(r.center()));
    // Head to tail and flipper to flipper: the outline is the whole picture's, at its scale.
    QVERIFY(mask.boundingRect().width() > r.width() * 85 / 100);
    QVERIFY(mask.boundingRect().height() > r.height() * 75 / 100);
    // Nothing written on the turtle is cut off by its outline.
    for (QWidget *part : {static_cast<QWidget *>(about.AniIcon1), static_cast<QWidget *>(about.Label1),
                          static_cast<QWidget *>(about.Label2), static_cast<QWidget *>(about.Label3)})
        QCOMPARE(mask.intersected(part->geometry()), QRegion(part->geometry()));
    QCOMPARE(about.Label3->text(), QStringLiteral("v2.72"));
}

void TestAboutWindow::stormPlaysWhileEnabled()
{
    AboutWindow about;
    AnimatedIcon *storm = about.AniIcon1;
    QVERIFY(storm->isHidden()); // until the logo asks for it
    QVERIFY(storm->isEnabled());
    storm->show();
    const QImage first = storm->grab().toImage();
    QTRY_VERIFY_WITH_TIMEOUT(storm->grab().toImage() != first, 3000);

    // Disabled it rests on its first frame, drawn as it is and not greyed.
    storm->setEnabled(false);
    QCOMPARE(storm->currentFrame(), 0);
    QCOMPARE(storm->grab().toImage(), first);
    QTest::qWait(300);
    QCOMPARE(storm->currentFrame(), 0);

    storm->setEnabled(true);
    QTRY_VERIFY(storm->currentFrame() != 0);
}

void TestAboutWindow::thunderIsShortMonoPcm()
{
    QFile file(builtThunder());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    QVERIFY(wav.size() < 200 * 1024);
    QCOMPARE(wav.left(4), QByteArray("RIFF"));
    QCOMPARE(wav.mid(8, 4), QByteArray("WAVE"));
    const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
    QCOMPARE(qsizetype(u32(4)), wav.size() - 8);

    QByteArray format;
    QByteArray samples;
    for (qsizetype at = 12; at + 8 <= wav.size(); at += 8 + ((u32(at + 4) + 1) & ~1u)) {
        const QByteArray body = wav.mid(at + 8, u32(at + 4));
        if (wav.mid(at, 4) == "fmt ")
            format = body;
        else if (wav.mid(at, 4) == "data")
            samples = body;
    }
    QVERIFY(format.size() >= 16);
    const auto field = [&](int at) { return int(qFromLittleEndian<quint16>(format.constData() + at)); };
    QCOMPARE(field(0), 1); // PCM
    QCOMPARE(field(2), 1); // mono
    QCOMPARE(qFromLittleEndian<quint32>(format.constData() + 4), 22050u);
    QCOMPARE(field(14), 16);
    const double seconds = samples.size() / (22050.0 * 2);
    QVERIFY2(seconds >= 2 && seconds <= 4, qPrintable(QString::number(seconds)));
    int peak = 0;
    for (qsizetype i = 0; i + 1 < samples.size(); i += 2)
        peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(samples.constData() + i))));
    QVERIFY(peak > 16000); // a rumble, not silence
}

void TestAboutWindow::aboutAgain_data()
{
    QTest::addColumn<bool>("closedBetween");
    QTest::newRow("while open") << false;
    QTest::newRow("after closing") << true;
}

void TestAboutWindow::aboutAgain()
{
    QFETCH(bool, closedBetween);
    MainWindow main;
    main.form->about_Click();
    QPointer<AboutWindow> first = openAboutWindows().value(0);
    QVERIFY(first);
    QTest::qWait(300);
    const int left = first->Timer1->remainingTime();
    QVERIFY(left <= 5750);
    if (closedBetween)
        first->close(); // its deletion is still pending when the command comes

    main.form->about_Click();
    const QList<AboutWindow *> open = openAboutWindows();
    QCOMPARE(open.size(), 1);
    if (closedBetween) {
        QVERIFY(open.first() != first.data());
        const int fresh = open.first()->Timer1->remainingTime();
        QVERIFY2(fresh > 5800 && fresh <= 6000, qPrintable(QString::number(fresh)));
        QTRY_VERIFY(first.isNull());
    } else {
        QCOMPARE(open.first(), first.data());
        QVERIFY(first->Timer1->remainingTime() <= left);
    }
}

void TestAboutWindow::stormShownFromTheLogo_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("stormShown");
    QTest::newRow("menu") << QStringList{"menu"} << false;
    QTest::newRow("logo") << QStringList{"logo"} << true;
    QTest::newRow("logo while open") << QStringList{"menu", "logo"} << true;
    QTest::newRow("menu after logo") << QStringList{"logo", "menu"} << true;
}

void TestAboutWindow::stormShownFromTheLogo()
{
    QFETCH(QStringList, clicks);
    QFETCH(bool, stormShown);
    MainWindow main;
    auto *logo = main.form->findChild<LogoPanel *>(QStringLiteral("SSPanel1"));
    QVERIFY(logo);
    for (const QString &click : clicks) {
        if (click == QStringLiteral("logo"))
            QTest::mouseClick(logo, Qt::LeftButton);
        else
            main.form->about_Click();
    }
    const QList<AboutWindow *> open = openAboutWindows();
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first()->AniIcon1->isVisible(), stormShown);
    QVERIFY(open.first()->AniIcon1->isEnabled());
}

void TestAboutWindow::thunderFromTheProgramFolder_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("present") << true;
    QTest::newRow("missing") << false;
}

void TestAboutWindow::thunderFromTheProgramFolder()
{
    QFETCH(bool, present);
    MainWindow main;
    const QString thunder = main.world.programFolder() + QStringLiteral("/thunder.wav");
    if (present)
        QVERIFY(QFile::copy(builtThunder(), thunder));

    // The command comes back with the window open while the thunder rolls on in the
    // background, whether the file is there or not.
    main.form->about_Click();
    auto *player = main.form->findChild<AboutThunder *>();
    QVERIFY(player);
    QCOMPARE(player->file(), thunder);
    QCOMPARE(openAboutWindows().size(), 1);
    QVERIFY(main.dialogs.shown().isEmpty());
}

void TestAboutWindow::thunderPlayerLoadsOnlyWhenPlayed()
{
    // The player is a module beside the program with the entry the window resolves, and the
    // program itself does not load the audio libraries at its start.
    QLibrary module(test::TestWorld::builtProgramFolder() + QStringLiteral("/thunder.so"));
    QVERIFY2(module.resolve("zelv_thunder_play"), qPrintable(module.errorString()));
    const QByteArray needed = test::dynamicSection(QStringLiteral("Zelv32"));
    if (needed.isEmpty())
        QSKIP("readelf is not at hand");
    QVERIFY(needed.contains("libQt6Widgets"));
    QVERIFY(!needed.contains("Multimedia"));
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
