#include "form1.h"

#include "aboutwindow.h"
#include "archive/xceedzip.h"
#include "core/singleinstance.h"
#include "install/xceedzipcomponent.h"
#include "messageboxdialogs.h"
#include "platform/dospath.h"
#include "widgets/artwork.h"
#include "widgets/dragcorner.h"
#include "widgets/filelist.h"
#include "widgets/foldertree.h"
#include "widgets/keyedtoolbar.h"
#include "widgets/logopanel.h"
#include "widgets/panesplitter.h"
#include "widgets/statuspanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace zelv {

namespace {

// The window's outer size as the classic frame had it around the same client area: a caption
// and a menu bar above, thin borders around. The resize rules were made for that frame, so the
// parts keep their margins whatever this desktop's frame and menu bar measure.
constexpr double kClassicFrameWidth = 120;
constexpr double kClassicFrameHeight = 675;

// Within what a window system can place: a saved figure may be anything.
int pixels(double twips)
{
    const double p = twips / kTwipsPerPixel;
    return std::isfinite(p) ? int(std::lround(std::clamp(p, -1e6, 1e6))) : 0;
}

} // namespace

Form1::Form1(const Form1Context &context, QWidget *parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_files(*context.drives)
    , m_runner(*context.drives)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zelvant32"));
    setWindowIcon(artworkIcon(QStringLiteral("app")));
    setAcceptDrops(true);

    if (context.dialogs) {
        m_dialogs = context.dialogs;
    } else {
        auto boxes = std::make_unique<MessageBoxDialogs>(this, context.drives);
        m_boxes = boxes.get();
        m_ownDialogs = std::move(boxes);
        m_dialogs = m_ownDialogs.get();
    }
    if (context.diskInfo) {
        m_diskInfo = context.diskInfo;
    } else {
        m_ownDiskInfo = std::make_unique<DriveDiskInfo>(*context.drives);
        m_diskInfo = m_ownDiskInfo.get();
    }
    m_programFolderDos = context.drives->toDos(context.programFolder).value_or(QString());

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("client"));
    setCentralWidget(central);

    Frame1 = new QFrame(central);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::HLine);
    Frame1->setFrameShadow(QFrame::Sunken);

    GTToolbar1 = new KeyedToolbar(central);
    GTToolbar1->setObjectName(QStringLiteral("GTToolbar1"));

    SSPanel1 = new LogoPanel(QStringLiteral("Vosk"), central);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));

    GTSplitter1 = new PaneSplitter(central);
    GTSplitter1->setObjectName(QStringLiteral("GTSplitter1"));
    ExplorerTree1 = new FolderTree(*context.drives);
    ExplorerTree1->setObjectName(QStringLiteral("ExplorerTree1"));
    GTSplitter1->addPane(ExplorerTree1);
    File1 = new FileList(m_files);
    // The questions are about the listed files: they keep clear of the list.
    if (m_boxes)
        m_boxes->keepInSight(File1);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setPattern(QStringLiteral("*.ZIP"));

    SSPanel2 = new StatusPanel(central);
    SSPanel2->setObjectName(QStringLiteral("SSPanel2"));
    SSPanel3 = new StatusPanel(central);
    SSPanel3->setObjectName(QStringLiteral("SSPanel3"));
    SSPanel3->setAlignmentCode(StatusPanel::kLeftMiddle);

    Picture1 = new DragCorner(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));

    XceedZip1 = new XceedZip(*context.drives, this);
    XceedZip1->setObjectName(QStringLiteral("XceedZip1"));
    XceedZip1->setProgressHandler([this](const ZipProgress &progress) {
        XceedZip1_Status(progress);
        // Escape reaches the window here and sets the abort request.
        QCoreApplication::processEvents();
    });

    m_zip = std::make_unique<XceedZipComponent>(*XceedZip1);
    m_commands.emplace(
        CommandContext{*this, m_state, m_files, m_runner, *m_diskInfo, *m_zip, *m_dialogs, m_programFolderDos});

    buildMenus();

    connect(GTToolbar1, &KeyedToolbar::buttonClicked, this, &Form1::GTToolbar1_ButtonClick);
    connect(ExplorerTree1, &FolderTree::dirChanged, this, &Form1::ExplorerTree1_OnDirChanged);
    connect(File1, &FileList::mouseReleased, this, [this](Qt::MouseButton b) { File1_MouseUp(b); });
    connect(File1, &FileList::mousePressed, this, &Form1::showContextMenu);
    connect(File1, &FileList::entryDoubleClicked, this, &Form1::File1_DblClick);
    connect(File1, &FileList::selectedByKeyboard, this, [this] { File1_MouseUp(Qt::LeftButton); });
    connect(SSPanel1, &LogoPanel::clicked, this, &Form1::SSPanel1_Click);
    connect(SSPanel2, &StatusPanel::mousePressed, this, &Form1::showContextMenu);
    connect(SSPanel3, &StatusPanel::mousePressed, this, &Form1::showContextMenu);

    // The designed window: 6000 by 4005 twips.
    resize(pixels(designed::windowWidth), pixels(designed::windowHeight));
}

Form1::~Form1()
{
    setBusyCursor(false);
    if (Form4)
        delete Form4.data();
}

void Form1::buildMenus()
{
    struct Item {
        const char *name;
        const char *caption;
        QKeySequence shortcut;
        void (Form1::*handler)();
    };
    const auto addItems = [this](QMenu *menu, std::initializer_list<Item> items) {
        for (const Item &item : items) {
            QAction *action = nullptr;
            if (QByteArray(item.caption) == "-") {
                action = menu->addSeparator();
            } else {
                action = menu->addAction(QString::fromLatin1(item.caption));
                action->setShortcut(item.shortcut);
                connect(action, &QAction::triggered, this, item.handler);
            }
            action->setObjectName(QString::fromLatin1(item.name));
            // Items are found by name: one name, one item.
            Q_ASSERT_X(!m_menuItems.contains(action->objectName()), "buildMenus", item.name);
            m_menuItems.insert(action->objectName(), action);
        }
    };

    popup = menuBar()->addMenu(QStringLiteral("&File"));
    popup->setObjectName(QStringLiteral("popup"));
    // Ctrl+I and Ctrl+T run install and test even while their items are disabled, so their keys
    // belong to the window; the items only show them.
    addItems(popup, {{"install", "&Install files...\tCtrl+I", {}, &Form1::install_Click},
                     {"test", "&Test files...\tCtrl+T", {}, &Form1::test_Click},
                     {"dead1", "-", {}, nullptr},
                     {"Diz", "Display di&z", QKeySequence(Qt::CTRL | Qt::Key_Z), &Form1::Diz_Click},
                     {"dnfo", "Display &nfo", QKeySequence(Qt::CTRL | Qt::Key_N), &Form1::dnfo_Click},
                     {"members", "&Contents...", QKeySequence(Qt::Key_F3), &Form1::members_Click},
                     {"installed", "&Open install folder", QKeySequence(Qt::CTRL | Qt::Key_O), &Form1::installed_Click},
                     {"dead25", "-", {}, nullptr},
                     {"refresh", "&Refresh files...", QKeySequence(Qt::CTRL | Qt::Key_R), &Form1::refresh_Click},
                     {"dead24", "-", {}, nullptr},
                     {"delete", "&Delete files...", QKeySequence(Qt::CTRL | Qt::Key_D), &Form1::delete_Click},
                     {"dead23", "-", {}, nullptr},
                     {"exit0", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), &Form1::exit0_Click}});

    options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("options"));
    addItems(options, {{"temp", "Tem&porary drive...", QKeySequence(Qt::CTRL | Qt::Key_P), &Form1::temp_Click},
                       {"dtemp", "De&lete temp. dir's...", QKeySequence(Qt::CTRL | Qt::Key_L), &Form1::dtemp_Click}});

    help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("help"));
    addItems(help, {{"contents", "&Help Contents...", QKeySequence(Qt::CTRL | Qt::Key_H), &Form1::contents_Click},
                    {"search", "Help &Index...", {}, &Form1::search_Click},
                    {"dead2", "-", {}, nullptr},
                    {"web", "&Web page...", QKeySequence(Qt::CTRL | Qt::Key_W), &Form1::web_Click},
                    {"mail", "&E-mail...", QKeySequence(Qt::CTRL | Qt::Key_E), &Form1::mail_Click},
                    {"dead3", "-", {}, nullptr},
                    {"about", "&About...", QKeySequence(Qt::CTRL | Qt::Key_A), &Form1::about_Click}});

    // The window's own keys, wherever the focus is inside it.
    const auto windowKey = [this](QKeySequence key, auto handler) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    windowKey(QKeySequence(Qt::Key_Escape), [this] { Form_KeyDown(27); });
    windowKey(QKeySequence(Qt::Key_F1), [this] { Form_KeyDown(112); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { Form_KeyPress(19); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_T), [this] { Form_KeyPress(20); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_I), [this] { Form_KeyPress(9); });
}

void Form1::buildToolbar()
{
    struct Entry {
        KeyedToolbar::Style style;
        const char *key;
        const char *tip;
    };
    // The kind buttons first, as the kinds' table names them.
    for (const ArchiveKind kind : kAllArchiveKinds) {
        const ArchiveKindInfo &info = archiveKindInfo(kind);
        GTToolbar1->setToolTipText(GTToolbar1->addEntry(KeyedToolbar::Group, info.key), info.tooltip);
    }
    static const Entry entries[] = {
        {KeyedToolbar::Separator, nullptr, nullptr},
        {KeyedToolbar::Plain, "diz", "Diz"},
        {KeyedToolbar::Plain, "nfo", "NFO"},
        {KeyedToolbar::Separator, nullptr, nullptr},
        {KeyedToolbar::Plain, "install", "Install"},
        {KeyedToolbar::Plain, "test", "Test"},
        {KeyedToolbar::Separator, nullptr, nullptr},
        {KeyedToolbar::Plain, "help", "Help"},
        {KeyedToolbar::Plain, "web", "Visit Web page"},
        {KeyedToolbar::Plain, "email", "Email Vosk"},
        {KeyedToolbar::Separator, nullptr, nullptr},
        {KeyedToolbar::Plain, "exit", "Exit"},
    };
    for (const Entry &e : entries) {
        if (e.style == KeyedToolbar::Separator) {
            GTToolbar1->addEntry(KeyedToolbar::Separator);
            continue;
        }
        const int position = GTToolbar1->addEntry(e.style, QString::fromLatin1(e.key));
        GTToolbar1->setToolTipText(position, QString::fromLatin1(e.tip));
    }
    setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false,
                       Doors::Toolbar);
    Form_Resize();
}

// ---- Layout ------------------------------------------------------------------------------

void Form1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
    applyOnceFramed();
}

void Form1::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    applyOnceFramed();
}

void Form1::applyOnceFramed()
{
    // A desktop frames a window some time after it is shown, which shows here as the frame
    // growing beyond the window.
    if (m_frameApplied || !isVisible() || frameGeometry().size() == geometry().size())
        return;
    m_frameApplied = true;
    m_outerSizeApplied = false;
    applyOuterSize();
    placeOnScreen();
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form1::Form_Resize()
{
    if (isMinimized())
        return;
    QWidget *client = centralWidget();
    const double W = client->width() * kTwipsPerPixel + kClassicFrameWidth;
    const double H = client->height() * kTwipsPerPixel + kClassicFrameHeight;

    // The toolbar is as wide as its buttons, or as the window allows: the buttons it has no
    // room for are reached through its menu at the end. The rules count at least its designed
    // width.
    const QRect toolbar = designed::toolbar.toPixels();
    const int buttonsWidth = GTToolbar1->sizeHint().width();
    const int room = std::max(2 * KeyedToolbar::kButtonSize, client->width() - toolbar.left());
    GTToolbar1->setGeometry(QRect(toolbar.topLeft(), QSize(std::min(buttonsWidth, room), toolbar.height())));
    const double toolbarWidth = std::max(designed::toolbar.width, buttonsWidth * kTwipsPerPixel);

    m_layout = layoutForWindow(W, H, toolbarWidth, m_layout);
    Frame1->setGeometry(m_layout.frame1.toPixels());
    GTSplitter1->setGeometry(m_layout.splitter.toPixels());
    SSPanel2->setGeometry(m_layout.kindPanel.toPixels());
    SSPanel3->setGeometry(m_layout.folderPanel.toPixels());

    // The logo panel is left out where it would cover the toolbar.
    const QRect logo = m_layout.logoPanel.toPixels();
    SSPanel1->setGeometry(logo);
    SSPanel1->setVisible(logo.left() >= GTToolbar1->geometry().right());

    // The drag corner stays inside the client area.
    QRect corner = m_layout.dragCorner.toPixels();
    corner.setWidth(std::max(0, std::min(corner.width(), client->width() - corner.left())));
    corner.setHeight(std::max(0, std::min(corner.height(), client->height() - corner.top())));
    Picture1->setGeometry(corner);
}

// ---- Window placement in twips ---------------------------------------------------------------

int Form1::windowState() const
{
    if (isMinimized())
        return 1;
    if (isMaximized())
        return 2;
    return 0;
}

bool Form1::setWindowState(int state)
{
    switch (state) {
    case 0:
        QMainWindow::setWindowState(QMainWindow::windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        return true;
    case 1:
        QMainWindow::setWindowState((QMainWindow::windowState() & ~Qt::WindowMaximized) | Qt::WindowMinimized);
        return true;
    case 2:
        QMainWindow::setWindowState((QMainWindow::windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        return true;
    default:
        return false;
    }
}

double Form1::windowTop() const { return frameGeometry().y() * kTwipsPerPixel; }
double Form1::windowLeft() const { return frameGeometry().x() * kTwipsPerPixel; }
double Form1::windowHeight() const { return frameGeometry().height() * kTwipsPerPixel; }
double Form1::windowWidth() const { return frameGeometry().width() * kTwipsPerPixel; }

void Form1::setWindowTop(double twips) { move(frameGeometry().x(), pixels(twips)); }
void Form1::setWindowLeft(double twips) { move(pixels(twips), frameGeometry().y()); }

void Form1::setWindowHeight(double twips)
{
    m_outerHeight = twips;
    m_outerSizeApplied = false;
    applyOuterSize();
}

void Form1::setWindowWidth(double twips)
{
    m_outerWidth = twips;
    m_outerSizeApplied = false;
    applyOuterSize();
}

void Form1::applyOuterSize()
{
    if (m_outerSizeApplied || isMaximized() || isMinimized())
        return;
    const int extraWidth = frameGeometry().width() - width();
    const int extraHeight = frameGeometry().height() - height();
    resize(std::max(1, pixels(m_outerWidth) - extraWidth), std::max(1, pixels(m_outerHeight) - extraHeight));
    // Once shown, the frame is known and the size is final.
    m_outerSizeApplied = isVisible();
}

void Form1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    applyOuterSize();
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // Some desktops add the frame only after the window has first appeared.
    QTimer::singleShot(0, this, [this] {
        m_outerSizeApplied = false;
        applyOuterSize();
        placeOnScreen();
    });
    // Where the desktop put the framed window in the end is known only a while later.
    QTimer::singleShot(500, this, &Form1::placeOnScreen);
}

double Form1::screenHeight() const
{
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry().height() * kTwipsPerPixel : 0;
}

double Form1::screenWidth() const
{
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry().width() * kTwipsPerPixel : 0;
}

void Form1::showWindowNow() { show(); }

void Form1::keepOnScreen()
{
    m_wholeOnScreen = true;
    placeOnScreen();
}

void Form1::keepWithinReach()
{
    m_wholeOnScreen = false;
    placeOnScreen();
}

namespace {

// A window one can take hold of: most of it on the screens, and enough of its title bar on one
// of them to drag it by.
bool withinReach(const QRect &whole, int titleHeight)
{
    const QRect titleBar(whole.topLeft(), QSize(whole.width(), titleHeight));
    qint64 seen = 0;
    bool titleSeen = false;
    for (const QScreen *s : QGuiApplication::screens()) {
        const QRect part = s->availableGeometry().intersected(whole);
        seen += qint64(part.width()) * part.height();
        const QRect title = s->availableGeometry().intersected(titleBar);
        titleSeen = titleSeen || (2 * title.height() >= titleHeight && title.width() >= std::min(64, whole.width()));
    }
    return titleSeen && 2 * seen > qint64(whole.width()) * whole.height();
}

} // namespace

void Form1::placeOnScreen()
{
    if (isMaximized() || isMinimized())
        return;
    QScreen *home = QGuiApplication::screenAt(frameGeometry().center());
    if (!home)
        home = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!home)
        return;
    const QRect room = home->availableGeometry();
    // No larger than the screen's free area (with room for a frame the desktop may add only
    // later), no smaller than a window one can take hold of.
    const QSize least(std::min(320, room.width()), std::min(240, room.height()));
    QSize size = frameGeometry().size();
    if (size.width() > room.width() || size.height() > room.height())
        size = size.boundedTo(room.size() * 0.9);
    size = size.expandedTo(least);
    if (size != frameGeometry().size()) {
        m_outerWidth = size.width() * kTwipsPerPixel;
        m_outerHeight = size.height() * kTwipsPerPixel;
        m_outerSizeApplied = false;
        applyOuterSize();
    }
    // Whole on one screen's free area, else moved onto this one's. The window itself is
    // counted with its frame: at a fractional scale Qt may misplace the frame by a few pixels.
    const QRect whole = frameGeometry().united(geometry());
    if (m_wholeOnScreen) {
        for (const QScreen *s : QGuiApplication::screens())
            if (s->availableGeometry().contains(whole))
                return;
    } else {
        // The title bar is in the frame above the window, or where the frame will be; some
        // desktops report a thin frame even so.
        const int frameTop = geometry().top() - frameGeometry().top();
        if (withinReach(whole, std::max(frameTop, 24)))
            return;
    }
    // In the middle: what the desktop adds around it later still fits.
    const int dx = room.left() + std::max(0, (room.width() - whole.width()) / 2) - whole.x();
    const int dy = room.top() + std::max(0, (room.height() - whole.height()) / 2) - whole.y();
    move(frameGeometry().topLeft() + QPoint(dx, dy));
}
int Form1::paneWidth() const { return GTSplitter1->firstPaneWidth(); }
void Form1::setPaneWidth(int width) { GTSplitter1->setFirstPaneWidth(width); }

} // namespace zelv
