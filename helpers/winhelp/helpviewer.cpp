#include "helpviewer.h"

#include "ui/widgets/wholeonscreen.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zelv {

namespace {

constexpr int kTopicRole = Qt::UserRole;

// Up and Down in a find box move through the list below it, as in the index of any help viewer.
class ListKeys : public QObject {
public:
    ListKeys(QListWidget *list, QObject *parent) : QObject(parent), m_list(list) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_PageUp && key != Qt::Key_PageDown)
            return false;
        const int step = key == Qt::Key_Up ? -1 : key == Qt::Key_Down ? 1 : key == Qt::Key_PageUp ? -10 : 10;
        const int row = std::clamp(m_list->currentRow() + step, 0, std::max(0, m_list->count() - 1));
        if (m_list->count() > 0)
            m_list->setCurrentRow(row);
        return true;
    }

private:
    QListWidget *m_list;
};

QWidget *findPane(QLineEdit *find, const QString &caption, QWidget *extra, QListWidget *list)
{
    auto *pane = new QWidget;
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(6, 6, 6, 6);
    auto *label = new QLabel(caption);
    label->setBuddy(find);
    layout->addWidget(label);
    auto *row = new QHBoxLayout;
    row->addWidget(find);
    if (extra)
        row->addWidget(extra);
    layout->addLayout(row);
    layout->addWidget(list, 1);
    find->installEventFilter(new ListKeys(list, find));
    return pane;
}

} // namespace

HelpViewer::HelpViewer(std::optional<HelpFile> file, const QString &failure, QWidget *parent)
    : QMainWindow(parent)
    , m_file(std::move(file))
{
    setWindowTitle(QStringLiteral("Zelvant32 Help"));
    setObjectName(QStringLiteral("HelpViewer"));

    m_contents = new QTreeWidget;
    m_contents->setObjectName(QStringLiteral("contents"));
    m_contents->setHeaderHidden(true);

    m_indexFind = new QLineEdit;
    m_indexFind->setObjectName(QStringLiteral("indexFind"));
    m_indexFind->setClearButtonEnabled(true);
    m_indexList = new QListWidget;
    m_indexList->setObjectName(QStringLiteral("indexList"));

    m_searchText = new QLineEdit;
    m_searchText->setObjectName(QStringLiteral("searchText"));
    m_searchText->setClearButtonEnabled(true);
    auto *searchButton = new QPushButton(QStringLiteral("&Search"));
    m_searchResults = new QListWidget;
    m_searchResults->setObjectName(QStringLiteral("searchResults"));

    m_tabs = new QTabWidget;
    m_tabs->addTab(m_contents, QStringLiteral("&Contents"));
    m_tabs->addTab(findPane(m_indexFind, QStringLiteral("&Type the first letters of a word:"), nullptr, m_indexList),
                   QStringLiteral("&Index"));
    m_tabs->addTab(
        findPane(m_searchText, QStringLiteral("Topics that hold all of these &words:"), searchButton, m_searchResults),
        QStringLiteral("Sea&rch"));

    m_page = new QTextBrowser;
    m_page->setObjectName(QStringLiteral("page"));
    m_page->setOpenLinks(false);
    QFont pageFont = m_page->font();
    pageFont.setPointSizeF(pageFont.pointSizeF() * 1.1);
    m_page->setFont(pageFont);

    auto *splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_page);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({330, 610});
    setCentralWidget(splitter);

    QToolBar *bar = addToolBar(QStringLiteral("Navigation"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(QStringLiteral("Contents"), this, &HelpViewer::showContents);
    bar->addAction(QStringLiteral("Index"), this, &HelpViewer::showIndex);
    m_backAction = bar->addAction(QStringLiteral("< Back"), this, &HelpViewer::goBack);
    m_backAction->setShortcut(QKeySequence::Back);
    m_forwardAction = bar->addAction(QStringLiteral("Forward >"), this, &HelpViewer::goForward);
    m_forwardAction->setShortcut(QKeySequence::Forward);
    auto *close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_tabs->setCurrentIndex(int(Tab::Search));
        m_searchText->setFocus();
        m_searchText->selectAll();
    });

    connect(m_page, &QTextBrowser::anchorClicked, this, &HelpViewer::followLink);
    connect(m_contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { showTopic(item->data(0, kTopicRole).toInt()); });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { showTopic(item->data(0, kTopicRole).toInt()); });
    connect(m_indexFind, &QLineEdit::textEdited, this, &HelpViewer::findInIndex);
    connect(m_indexFind, &QLineEdit::returnPressed, this, &HelpViewer::openIndexEntry);
    connect(m_indexList, &QListWidget::itemActivated, this, &HelpViewer::openIndexEntry);
    connect(m_indexList, &QListWidget::itemClicked, this, &HelpViewer::openIndexEntry);
    connect(m_searchText, &QLineEdit::returnPressed, this, [this] { searchFor(m_searchText->text()); });
    connect(searchButton, &QPushButton::clicked, this, [this] { searchFor(m_searchText->text()); });
    connect(m_searchResults, &QListWidget::itemActivated, this, &HelpViewer::openSearchResult);
    connect(m_searchResults, &QListWidget::itemClicked, this, &HelpViewer::openSearchResult);

    if (!m_file) {
        m_page->setPlainText(failure);
        m_tabs->setEnabled(false);
    } else {
        QTreeWidgetItem *parentItem = nullptr;
        const QList<HelpTopic> &topics = m_file->topics();
        for (int t = 0; t < topics.size(); ++t) {
            const bool nested = topics[t].level > 1 && parentItem;
            auto *item = nested ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_contents);
            item->setText(0, topics[t].title);
            item->setData(0, kTopicRole, t);
            if (!nested)
                parentItem = item;
        }
        m_contents->expandAll();

        // A keyword that leads to several topics names each of them.
        const QList<HelpIndexEntry> &index = m_file->index();
        for (qsizetype i = 0; i < index.size(); ++i) {
            const auto same = [&](qsizetype j) {
                return j >= 0 && j < index.size() &&
                       index[j].keyword.compare(index[i].keyword, Qt::CaseInsensitive) == 0;
            };
            QString text = index[i].keyword;
            if (same(i - 1) || same(i + 1))
                text += QStringLiteral(" \u2014 ") + topics[index[i].topic].title;
            auto *item = new QListWidgetItem(text, m_indexList);
            item->setToolTip(text);
            item->setData(kTopicRole, index[i].topic);
        }
        display(0);
    }
    updateHistoryActions();
    resize(940, 640);
    new WholeOnScreen(this);
}

HelpViewer::Tab HelpViewer::currentTab() const { return Tab(m_tabs->currentIndex()); }

QString HelpViewer::pageText() const { return m_page->toPlainText(); }

void HelpViewer::showContents()
{
    m_tabs->setCurrentIndex(int(Tab::Contents));
    if (m_file)
        showTopic(0);
}

void HelpViewer::showIndex()
{
    m_tabs->setCurrentIndex(int(Tab::Index));
    m_indexFind->setFocus();
    m_indexFind->selectAll();
}

void HelpViewer::showTopic(int topic)
{
    if (!m_file || topic < 0 || topic >= m_file->topics().size() || topic == m_current)
        return;
    if (m_current >= 0)
        m_back.append(m_current);
    m_forward.clear();
    display(topic);
}

void HelpViewer::display(int topic)
{
    m_current = topic;
    m_page->setMarkdown(HelpFile::pageMarkdown(m_file->topics()[topic]));
    // The contents follow the topic shown, however it was reached.
    QTreeWidgetItemIterator it(m_contents);
    for (; *it; ++it) {
        if ((*it)->data(0, kTopicRole).toInt() == topic) {
            m_contents->setCurrentItem(*it);
            break;
        }
    }
    updateHistoryActions();
}

void HelpViewer::updateHistoryActions()
{
    m_backAction->setEnabled(canGoBack());
    m_forwardAction->setEnabled(canGoForward());
}

void HelpViewer::goBack()
{
    if (m_back.isEmpty())
        return;
    m_forward.append(m_current);
    display(m_back.takeLast());
}

void HelpViewer::goForward()
{
    if (m_forward.isEmpty())
        return;
    m_back.append(m_current);
    display(m_forward.takeLast());
}

void HelpViewer::followLink(const QUrl &url)
{
    if (url.scheme().isEmpty() && url.path().isEmpty() && m_file) {
        showTopic(m_file->topicById(url.fragment()));
        return;
    }
    if (url.scheme() == u"http" || url.scheme() == u"https" || url.scheme() == u"mailto")
        QDesktopServices::openUrl(url);
}

void HelpViewer::findInIndex(const QString &text)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty() || !m_file)
        return;
    // The first keyword that starts with the text, or else the one it would sort before.
    const QList<HelpIndexEntry> &index = m_file->index();
    int row = -1;
    for (int i = 0; i < index.size(); ++i) {
        if (index[i].keyword.startsWith(wanted, Qt::CaseInsensitive)) {
            row = i;
            break;
        }
        if (row < 0 && index[i].keyword.compare(wanted, Qt::CaseInsensitive) > 0)
            row = i;
    }
    if (row < 0)
        row = int(index.size()) - 1;
    m_indexList->setCurrentRow(row);
    m_indexList->scrollToItem(m_indexList->currentItem(), QAbstractItemView::PositionAtTop);
}

void HelpViewer::openIndexEntry()
{
    if (QListWidgetItem *item = m_indexList->currentItem())
        showTopic(item->data(kTopicRole).toInt());
}

int HelpViewer::searchFor(const QString &query)
{
    m_tabs->setCurrentIndex(int(Tab::Search));
    m_searchText->setText(query);
    m_searchResults->clear();
    if (!m_file)
        return 0;
    const QList<int> found = m_file->search(query);
    for (int t : found) {
        auto *item = new QListWidgetItem(m_file->topics()[t].title, m_searchResults);
        item->setData(kTopicRole, t);
    }
    if (found.isEmpty())
        new QListWidgetItem(QStringLiteral("No topic holds all of these words."), m_searchResults);
    else
        m_searchResults->setCurrentRow(0);
    return int(found.size());
}

void HelpViewer::openSearchResult()
{
    QListWidgetItem *item = m_searchResults->currentItem();
    if (!item || !item->data(kTopicRole).isValid())
        return;
    showTopic(item->data(kTopicRole).toInt());
    // The first place that holds a word of the search, marked.
    const QStringList words =
        m_searchText->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (!words.isEmpty()) {
        m_page->moveCursor(QTextCursor::Start);
        m_page->find(words.first());
    }
}

} // namespace zelv
