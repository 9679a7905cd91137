#include "form3.h"

#include "layoutrules.h"
#include "widgets/cp437view.h"
#include "widgets/wholeonscreen.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <cmath>

namespace zelv {

namespace {

int pixels(double twips) { return int(std::lround(twips / kTwipsPerPixel)); }

} // namespace

Form3::Form3(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("File_id.diz"));

    auto *bar = new QMenuBar(this);
    popup = bar->addMenu(QStringLiteral("&Viewer"));
    popup->setObjectName(QStringLiteral("popup"));
    const auto item = [this](const char *name, const QString &caption, auto handler) {
        QAction *a = popup->addAction(caption, this, handler);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    item("dnfo", QStringLiteral("&Display NFO"), [this] { emit dnfoRequested(); });
    popup->addSeparator()->setObjectName(QStringLiteral("dead1"));
    item("restore", QStringLiteral("&Restore"), [this] { showNormal(); });
    item("minimize", QStringLiteral("M&inimize"), [this] { showMinimized(); });
    item("maximize", QStringLiteral("Ma&ximize"), [this] { maximize_Click(); });
    item("close", QStringLiteral("&Close form"), [this] { close(); });
    popup->addSeparator()->setObjectName(QStringLiteral("dead2"));
    item("help", QStringLiteral("&Help"), [this] { help_Click(); });

    Text1 = new Cp437View(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(bar);
    layout->addWidget(Text1);

    // F1 asks for the program's help here as anywhere in the program.
    auto *f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &Form3::help_Click);

    resize(QSize(pixels(5850), pixels(2325)).expandedTo(descriptionSize()));
    // Where it is placed stays, pulled back only as far as the screen needs.
    new WholeOnScreen(this);
}

QSize Form3::descriptionSize() const
{
    const QSize cell = Text1->cellSize();
    const int frame = 2 * Text1->frameWidth();
    const int bar = layout() && layout()->menuBar() ? layout()->menuBar()->sizeHint().height() : 0;
    // A column and a line to spare, for the view's own margins.
    return {46 * cell.width() + frame, 11 * cell.height() + frame + bar};
}

void Form3::setText(const QString &text) { Text1->setPlainText(text); }
QString Form3::text() const { return Text1->toPlainText(); }

void Form3::show(bool takeFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating, !takeFocus);
    QWidget::show();
    // In front each time it is shown, over the main window, with or without the focus.
    raise();
    if (takeFocus) {
        activateWindow();
        Text1->setFocus();
    }
}

void Form3::close() { hide(); }
bool Form3::isVisible() const { return QWidget::isVisible(); }

void Form3::place(const TwipsRect &rect)
{
    // The desktop's frame, once it has put one around this window; before that, the main
    // window's, which the same desktop made.
    QSize frame = frameGeometry().size() - size();
    if (frame.isNull() && parentWidget())
        frame = parentWidget()->frameGeometry().size() - parentWidget()->size();
    const int frameWidth = frame.width();
    const int frameHeight = frame.height();
    // At least a whole standard description: a taller viewer keeps the place's bottom edge, so
    // that it still ends just above the main window, and stays on the screen.
    const QSize inner = QSize(pixels(rect.width) - frameWidth, pixels(rect.height) - frameHeight)
                            .expandedTo(descriptionSize())
                            .expandedTo(QSize(1, 1));
    int top = pixels(rect.top + rect.height) - inner.height() - frameHeight;
    if (const QScreen *s = screen())
        top = std::max(top, s->availableGeometry().top());
    move(pixels(rect.left), top);
    resize(inner);
    if (QWidget::isVisible())
        keepWholeOnScreen(this);
}

TwipsRect Form3::placement() const
{
    const QRect r = frameGeometry();
    return {r.x() * kTwipsPerPixel, r.y() * kTwipsPerPixel, r.width() * kTwipsPerPixel, r.height() * kTwipsPerPixel};
}

void Form3::maximize_Click()
{
    QCoreApplication::processEvents();
    showMaximized();
}

void Form3::help_Click() { emit helpRequested(); }

void Form3::contextMenuEvent(QContextMenuEvent *event) { popup->popup(event->globalPos()); }

} // namespace zelv
