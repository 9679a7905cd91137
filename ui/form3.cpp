#include "form3.h"

#include "layoutrules.h"

#include <QFontDatabase>
#include <QPlainTextEdit>

#include <cmath>

namespace zelv {

namespace {

int pixels(double twips) { return int(std::lround(twips / kTwipsPerPixel)); }

} // namespace

Form3::Form3(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("File_id.diz"));
    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    resize(pixels(5850), pixels(2325));
}

void Form3::setText(const QString &text) { Text1->setPlainText(text); }
QString Form3::text() const { return Text1->toPlainText(); }

void Form3::show(bool takeFocus)
{
    QWidget::show();
    if (takeFocus) {
        raise();
        activateWindow();
    }
}

void Form3::close() { hide(); }
bool Form3::isVisible() const { return QWidget::isVisible(); }

void Form3::place(const TwipsRect &rect)
{
    const int frameWidth = frameGeometry().width() - width();
    const int frameHeight = frameGeometry().height() - height();
    move(pixels(rect.left), pixels(rect.top));
    resize(std::max(1, pixels(rect.width) - frameWidth), std::max(1, pixels(rect.height) - frameHeight));
}

TwipsRect Form3::placement() const
{
    const QRect r = frameGeometry();
    return {r.x() * kTwipsPerPixel, r.y() * kTwipsPerPixel, r.width() * kTwipsPerPixel, r.height() * kTwipsPerPixel};
}

void Form3::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Text1->setGeometry(rect());
}

} // namespace zelv
