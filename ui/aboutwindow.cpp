#include "aboutwindow.h"

#include "core/version.h"
#include "widgets/artwork.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLibrary>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace zelv {

namespace {

// Where the parts sit on the picture, in its own pixels.
constexpr QRect kStormPlace{156, 54, 40, 40};    // on the upper plates, above the name
constexpr QRect kVersionPlace{144, 152, 64, 22}; // the light plate below the name
constexpr QRect kLine1Place{111, 176, 130, 15};
constexpr QRect kLine2Place{121, 191, 110, 15};

// The turtle's outline colour, under the picture: its soft edge blends into it.
const QColor kOutline(0x24, 0x30, 0x1a);
// The version in the name's brown on its light plate; the lines below it light on the shell.
const QColor kInk(0x4a, 0x2a, 0x0e);
const QColor kPale(0xf6, 0xe6, 0xb8);

// The storm: a quiet sky, then a double flash and its afterglow.
constexpr int kStormSequence[] = {0, 0, 0, 0, 0, 0, 1, 2, 3, 2, 3, 4, 4};
constexpr int kStormFrameMs = 90;

// Labels close the window when clicked, like the window itself.
class ClosingLabel : public QLabel {
public:
    ClosingLabel(const QRect &place, const QColor &colour, QWidget *parent) : QLabel(parent)
    {
        setGeometry(place);
        setAlignment(Qt::AlignCenter);
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, colour);
        setPalette(pal);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        event->accept();
        window()->close();
    }
};

} // namespace

AboutWindow::AboutWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_picture(artworkIcon(QStringLiteral("about")))
{
    setObjectName(QStringLiteral("Form4"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Zelvant32"));
    setFixedSize(kPictureSize);
    // The window is the turtle: what is transparent in the picture is outside the window.
    setMask(opaqueRegion(m_picture.pixmap(kPictureSize, 1.0).toImage()));

    AniIcon1 = new AnimatedIcon(this);
    AniIcon1->setObjectName(QStringLiteral("AniIcon1"));
    AniIcon1->setGeometry(kStormPlace);
    QList<QIcon> storm;
    for (int frame : kStormSequence)
        storm.append(artworkIcon(QStringLiteral("storm%1").arg(frame)));
    AniIcon1->setFrames(storm, kStormFrameMs);
    AniIcon1->setEnabled(false);
    AniIcon1->setVisible(false);
    connect(AniIcon1, &AnimatedIcon::clicked, this, &QWidget::close);

    Label3 = new ClosingLabel(kVersionPlace, kInk, this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setText(QString::fromLatin1(kVersionText));
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    Label1 = new ClosingLabel(kLine1Place, kPale, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new ClosingLabel(kLine2Place, kPale, this);
    Label2->setObjectName(QStringLiteral("Label2"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setTimerType(Qt::PreciseTimer); // a coarse timer may be off by a twentieth either way
    Timer1->setInterval(kCloseAfterMs);
    connect(Timer1, &QTimer::timeout, this, &QWidget::close);
    Timer1->start();

    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    show();
    repaint();
    AniIcon1->setEnabled(true);
}

AboutWindow *AboutWindow::load(QPointer<AboutWindow> &window)
{
    if (!window || window->isHidden())
        window = new AboutWindow();
    return window;
}

void AboutWindow::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    close();
}

void AboutWindow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), kOutline);
    m_picture.paint(&p, rect());
}

AboutThunder::AboutThunder(const QString &hostProgramFolder, QObject *parent)
    : QObject(parent)
    , m_file(hostProgramFolder + u'/' + QLatin1String(kFileName))
{}

void AboutThunder::play()
{
    if (!QFileInfo(m_file).isFile())
        return;
    // The player lies beside the running program; without it the thunder stays silent.
    static QLibrary module(QCoreApplication::applicationDirPath() + QStringLiteral("/thunder.so"));
    using Play = bool (*)(const QString *);
    if (const auto playFile = reinterpret_cast<Play>(module.resolve("zelv_thunder_play")))
        playFile(&m_file);
}

} // namespace zelv
