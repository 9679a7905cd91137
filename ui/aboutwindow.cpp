#include "aboutwindow.h"

#include "core/version.h"
#include "widgets/artwork.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace zelv {

namespace {

// Labels close the window when clicked, like the window itself.
class ClosingLabel : public QLabel {
public:
    using QLabel::QLabel;

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
{
    setObjectName(QStringLiteral("Form4"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Zelvant32"));
    setFixedSize(300, 200);

    auto *title = new ClosingLabel(QStringLiteral("Zelvant32"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);

    Label3 = new ClosingLabel(QString::fromLatin1(kVersionText), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label1 = new ClosingLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new ClosingLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));

    auto *layout = new QVBoxLayout(this);
    layout->addStretch(3);
    layout->addWidget(title);
    layout->addWidget(Label3);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addStretch(1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(kCloseAfterMs);
    connect(Timer1, &QTimer::timeout, this, &QWidget::close);
    Timer1->start();
}

void AboutWindow::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    close();
}

void AboutWindow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    p.setPen(palette().mid().color());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawPixmap(QRect(width() / 2 - 36, 16, 72, 72), artworkIcon(QStringLiteral("app")).pixmap(72, 72));
}

} // namespace zelv
