// notepad.exe FILE: shows a text file in a window of its own, titled with the file's name.
//
// FILE is a DOS path, turned into a host path with the drive table beside this program, or a
// host path. Release notes (.nfo, .diz) and anything that is not valid UTF-8 are read as code
// page 437 and drawn as the program's own viewer draws them; valid UTF-8 is read as UTF-8. The
// whole file is read before the window shows, so the file may go as soon as it has been read.
// Select and copy, find (Ctrl+F, F3, Shift+F3), zoom (Ctrl++, Ctrl+-, Ctrl+0); Escape closes.
// Exit code 0, or 1 when the file could not be read.
//
// ZELV_WINDOW_HINT: 1 (or none) shown and activated; 4 shown without taking the focus; 0, which
// would hide the window for ever, is shown like 4.
// For tests: ZELV_NOTEPAD_REPORT names a file that gets the title, a line feed and the text
// shown, once the window is up; with ZELV_NOTEPAD_QUIT set the program then ends.
#include "platform/cp437.h"
#include "platform/drivetable.h"
#include "ui/widgets/cp437view.h"
#include "ui/widgets/wholeonscreen.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

struct Loaded {
    QString title;
    QString text;
    bool ok = false;
};

Loaded load(const QString &argument)
{
    Loaded l;
    QString host = argument;
    if (!argument.startsWith(u'/')) {
        const zelv::DriveTable drives(zelv::DriveTable::runningProgramFolder());
        host = drives.toHost(argument).value_or(QString());
    }
    l.title = QFileInfo(host.isEmpty() ? QString(argument).replace(u'\\', u'/') : host).fileName();
    QFile file(host);
    if (host.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        const QString why = argument.isEmpty() ? QStringLiteral("no file was named")
                            : host.isEmpty()   ? QStringLiteral("it is on no drive")
                                               : file.errorString();
        l.text = QStringLiteral("Cannot read %1: %2").arg(argument, why);
        return l;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    l.ok = true;
    const QString suffix = QFileInfo(host).suffix().toLower();
    if (suffix != u"nfo" && suffix != u"diz") {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(bytes);
        if (!utf8.hasError()) {
            l.text = QString(text).remove(u'\r').replace(u'\n', QStringLiteral("\r\n"));
            return l;
        }
    }
    l.text = zelv::cp437::decodeNotes(bytes);
    return l;
}

class NoteWindow : public QWidget {
public:
    explicit NoteWindow(const Loaded &loaded)
    {
        setWindowTitle(loaded.title);
        m_view = new zelv::Cp437View(this);
        m_view->setPlainText(loaded.text);
        m_find = new QLineEdit(this);
        m_find->setPlaceholderText(QStringLiteral("Find (Enter: next, Shift+Enter: previous)"));
        m_status = new QLabel(this);
        auto *bar = new QWidget(this);
        auto *barLayout = new QHBoxLayout(bar);
        barLayout->setContentsMargins(4, 2, 4, 2);
        barLayout->addWidget(m_find, 1);
        barLayout->addWidget(m_status);
        bar->hide();
        m_bar = bar;
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(m_view, 1);
        layout->addWidget(bar);

        const auto key = [this](QKeySequence sequence, auto action) {
            auto *s = new QShortcut(sequence, this);
            connect(s, &QShortcut::activated, this, action);
        };
        key(QKeySequence::Find, [this] {
            m_bar->show();
            m_find->setFocus();
            m_find->selectAll();
        });
        key(QKeySequence(Qt::Key_F3), [this] { findNext(false); });
        key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { findNext(true); });
        key(QKeySequence::ZoomIn, [this] { m_view->setZoom(m_view->zoom() + 1); });
        key(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { m_view->setZoom(m_view->zoom() + 1); });
        key(QKeySequence::ZoomOut, [this] { m_view->setZoom(m_view->zoom() - 1); });
        key(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { m_view->setZoom(0); });
        key(QKeySequence(Qt::Key_Escape), [this] {
            if (m_bar->isVisible() && m_find->hasFocus()) {
                m_bar->hide();
                m_view->setFocus();
            } else {
                close();
            }
        });
        connect(m_find, &QLineEdit::returnPressed, this,
                [this] { findNext(QApplication::keyboardModifiers() & Qt::ShiftModifier); });

        // About 80 columns by 30 lines, within the screen.
        QSize size = m_view->sizeForCells(80, 30);
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize() * 9 / 10);
        resize(size);
        new zelv::WholeOnScreen(this);
    }

    QString shownText() const { return m_view->toPlainText(); }

private:
    void findNext(bool backwards)
    {
        if (m_find->text().isEmpty()) {
            m_bar->show();
            m_find->setFocus();
            return;
        }
        const bool found = m_view->find(m_find->text(), backwards);
        m_status->setText(found ? QString() : QStringLiteral("Not found"));
    }

    zelv::Cp437View *m_view;
    QWidget *m_bar;
    QLineEdit *m_find;
    QLabel *m_status;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const Loaded loaded = load(args.size() > 1 ? args.mid(1).join(u' ') : QString());
    NoteWindow window(loaded);
    const int hint =
        qEnvironmentVariableIsSet("ZELV_WINDOW_HINT") ? qEnvironmentVariableIntValue("ZELV_WINDOW_HINT") : 1;
    if (hint != 1)
        window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.show();
    if (hint == 1) {
        window.raise();
        window.activateWindow();
    }

    const QString report = qEnvironmentVariable("ZELV_NOTEPAD_REPORT");
    if (!report.isEmpty()) {
        QTimer::singleShot(0, &window, [&] {
            QFile out(report + QStringLiteral(".part"));
            if (out.open(QIODevice::WriteOnly))
                out.write((loaded.title + u'\n' + window.shownText()).toUtf8());
            out.close();
            QFile::remove(report);
            out.rename(report); // whole or not at all, for a reader that polls
            if (qEnvironmentVariableIsSet("ZELV_NOTEPAD_QUIT"))
                window.close();
        });
    }
    const int code = app.exec();
    return loaded.ok ? code : 1;
}
