#include "foldertree.h"

#include "artwork.h"

#include "platform/dospath.h"
#include "platform/hostfs.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QIcon>
#include <QMouseEvent>
#include <QPalette>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace zelv {

namespace {

// The order hostfs lists names in: ignoring case, then exact, so that merges agree with it.
bool nameLess(const QString &a, const QString &b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QString childHost(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace

// Drives at the top, folders below, each folder read only when it is opened or a path leads
// through it.
class FolderTreeModel : public QAbstractItemModel {
public:
    struct Node {
        Node *parent = nullptr;
        int row = 0;
        QString name;   // "C:" for a drive, the name as on disk for a folder
        QString host;   // the host folder
        QChar letter;   // the drive's letter, lower case
        QString target; // drives only: the folder the link names
        bool listed = false;
        bool unseen = false; // listed since the branch was last opened
        // Before it is listed: whether it holds a folder, found out when first asked.
        mutable std::optional<bool> holdsFolders;
        std::vector<std::unique_ptr<Node>> children;

        bool isDrive() const { return parent == nullptr; }
    };

    explicit FolderTreeModel(QObject *parent)
        : QAbstractItemModel(parent)
        , m_driveIcon(artworkIcon(QStringLiteral("drive")))
        , m_folderIcon(artworkIcon(QStringLiteral("folder")))
    {}

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override
    {
        if (column != 0 || row < 0)
            return QModelIndex();
        const auto &list = childrenOf(parent);
        if (row >= int(list.size()))
            return QModelIndex();
        return createIndex(row, 0, list[row].get());
    }

    QModelIndex parent(const QModelIndex &child) const override
    {
        const Node *node = nodeOf(child);
        if (!node || !node->parent)
            return QModelIndex();
        return indexOf(node->parent);
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        if (parent.column() > 0)
            return 0;
        return int(childrenOf(parent).size());
    }

    int columnCount(const QModelIndex & = QModelIndex()) const override { return 1; }

    // A folder not yet read shows its arrow when it holds a folder. The view asks only for the
    // rows it shows, and each folder is looked into once, up to its first sub-folder.
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override
    {
        const Node *node = nodeOf(parent);
        if (!node)
            return !m_drives.empty();
        if (node->listed)
            return !node->children.empty();
        if (!node->holdsFolders)
            node->holdsFolders = hostfs::hasSubfolder(node->host);
        return *node->holdsFolders;
    }

    bool canFetchMore(const QModelIndex &parent) const override
    {
        const Node *node = nodeOf(parent);
        return node && !node->listed;
    }

    void fetchMore(const QModelIndex &parent) override
    {
        if (Node *node = nodeOf(parent); node && !node->listed)
            list(node);
    }

    // The tree's header is hidden, but a column sized to its contents still asks the header's
    // size, which the header measures in a bold font: a font engine of its own, loaded at
    // start-up for nothing.
    QVariant headerData(int, Qt::Orientation, int role) const override
    {
        return role == Qt::SizeHintRole ? QVariant(QSize(0, 0)) : QVariant();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const Node *node = nodeOf(index);
        if (!node)
            return QVariant();
        switch (role) {
        case Qt::DisplayRole:
            return node->name;
        case Qt::DecorationRole:
            return node->isDrive() ? m_driveIcon : m_folderIcon;
        case Qt::ToolTipRole:
            if (node->isDrive())
                return node->target;
            if (const QString why = nameProblem(node); !why.isEmpty())
                return why;
            return QVariant();
        case Qt::ForegroundRole:
            if (!node->isDrive() && !nameProblem(node).isEmpty())
                return QPalette().brush(QPalette::Disabled, QPalette::Text);
            return QVariant();
        default:
            return QVariant();
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }

    Node *nodeOf(const QModelIndex &index) const
    {
        return index.isValid() ? static_cast<Node *>(index.internalPointer()) : nullptr;
    }

    QModelIndex indexOf(const Node *node) const
    {
        return node ? createIndex(node->row, 0, const_cast<Node *>(node)) : QModelIndex();
    }

    // Why a folder's own name cannot be part of a DOS path; empty when it can.
    static QString nameProblem(const Node *node)
    {
        if (node->name.contains(u'\\'))
            return QStringLiteral("its name holds a backslash");
        // Bytes that are not UTF-8 were read as U+FFFD; the name so spelled names nothing.
        if (node->name.contains(QChar::ReplacementCharacter) && !hostfs::exists(node->host))
            return QStringLiteral("its name is not valid UTF-8");
        return QString();
    }

    static QString dosPath(const Node *node)
    {
        QStringList names;
        for (; node && !node->isDrive(); node = node->parent)
            names.prepend(node->name);
        if (!node)
            return QString();
        return node->name + u'\\' + names.join(u'\\');
    }

    Node *drive(QChar letter) const
    {
        letter = letter.toLower();
        for (const auto &d : m_drives)
            if (d->letter == letter)
                return d.get();
        return nullptr;
    }

    // The child spelled exactly so, else one spelled the same ignoring case.
    static Node *child(const Node *node, const QString &name)
    {
        Node *folded = nullptr;
        for (const auto &c : node->children) {
            if (c->name == name)
                return c.get();
            if (!folded && c->name.compare(name, Qt::CaseInsensitive) == 0)
                folded = c.get();
        }
        return folded;
    }

    // Reads a folder again and merges what changed, so that open branches and the current
    // folder stay where they are.
    void relist(Node *node)
    {
        if (!node->listed) {
            list(node);
            return;
        }
        if (node->host.isEmpty())
            return; // a drive that is not ready
        const QStringList names = subFolders(node->host);
        const QModelIndex parentIndex = indexOf(node);
        node->unseen = true;
        // Folders not yet read are looked into again when next shown.
        for (const auto &c : node->children)
            if (!c->listed && c->holdsFolders) {
                c->holdsFolders.reset();
                notifyChildlessness(c.get());
            }

        for (int i = int(node->children.size()) - 1; i >= 0; --i) {
            if (std::binary_search(names.begin(), names.end(), node->children[i]->name, nameLess))
                continue;
            beginRemoveRows(parentIndex, i, i);
            node->children.erase(node->children.begin() + i);
            renumber(node, i);
            endRemoveRows();
        }
        for (const QString &name : names) {
            auto &list = node->children;
            const auto at = std::lower_bound(list.begin(), list.end(), name,
                                             [](const auto &c, const QString &n) { return nameLess(c->name, n); });
            if (at != list.end() && (*at)->name == name)
                continue;
            const int row = int(at - list.begin());
            beginInsertRows(parentIndex, row, row);
            list.insert(at, makeFolder(node, name));
            renumber(node, row);
            endInsertRows();
        }
        if (node->children.empty())
            notifyChildlessness(node);
    }

    // The listed folders whose host folder is host, on every drive that reaches it.
    QList<Node *> listedNodesAt(const QString &host) const
    {
        QList<Node *> found;
        for (const auto &d : m_drives) {
            if (d->host.isEmpty())
                continue;
            const QString prefix = childHost(d->host, QString());
            if (host != d->host && !host.startsWith(prefix))
                continue;
            Node *node = d.get();
            const QStringList names = host == d->host ? QStringList() : host.mid(prefix.size()).split(u'/');
            for (const QString &name : names) {
                const auto at = std::find_if(node->children.begin(), node->children.end(),
                                             [&](const auto &c) { return c->name == name; });
                node = at == node->children.end() ? nullptr : at->get();
                if (!node)
                    break;
            }
            if (node && node->listed)
                found.append(node);
        }
        return found;
    }

    // Brings the drives in line with the drive table: gone or re-pointed drives leave,
    // new ones arrive; drives that stay keep their open branches.
    void setDrives(const QList<Drive> &drives)
    {
        for (int i = int(m_drives.size()) - 1; i >= 0; --i) {
            const Node *d = m_drives[i].get();
            const bool kept = std::any_of(drives.begin(), drives.end(), [d](const Drive &n) {
                return n.letter == d->letter && n.target == d->target && n.canonical == d->host;
            });
            if (kept)
                continue;
            beginRemoveRows(QModelIndex(), i, i);
            m_drives.erase(m_drives.begin() + i);
            renumberDrives(i);
            endRemoveRows();
        }
        for (const Drive &d : drives) {
            const auto at = std::lower_bound(m_drives.begin(), m_drives.end(), d.letter,
                                             [](const auto &n, QChar l) { return n->letter < l; });
            if (at != m_drives.end() && (*at)->letter == d.letter)
                continue;
            const int row = int(at - m_drives.begin());
            auto node = std::make_unique<Node>();
            node->name = QString(d.letter.toUpper()) + u':';
            node->host = d.canonical;
            node->letter = d.letter;
            node->target = d.target;
            // A drive whose folder is missing is shown, with nothing in it.
            node->listed = !d.ready();
            beginInsertRows(QModelIndex(), row, row);
            m_drives.insert(at, std::move(node));
            renumberDrives(row);
            endInsertRows();
        }
    }

private:
    const std::vector<std::unique_ptr<Node>> &childrenOf(const QModelIndex &parent) const
    {
        const Node *node = nodeOf(parent);
        return node ? node->children : m_drives;
    }

    static QStringList subFolders(const QString &host)
    {
        return hostfs::listNames(host, hostfs::EntryKind::Directories);
    }

    static std::unique_ptr<Node> makeFolder(Node *parent, const QString &name)
    {
        auto node = std::make_unique<Node>();
        node->parent = parent;
        node->name = name;
        node->host = childHost(parent->host, name);
        return node;
    }

    static void renumber(Node *node, int from)
    {
        for (int i = from; i < int(node->children.size()); ++i)
            node->children[i]->row = i;
    }

    void renumberDrives(int from)
    {
        for (int i = from; i < int(m_drives.size()); ++i)
            m_drives[i]->row = i;
    }

    void list(Node *node)
    {
        const QStringList names = subFolders(node->host);
        node->listed = true;
        node->unseen = true;
        if (names.isEmpty()) {
            notifyChildlessness(node);
            return;
        }
        beginInsertRows(indexOf(node), 0, int(names.size()) - 1);
        node->children.reserve(names.size());
        for (const QString &name : names)
            node->children.push_back(makeFolder(node, name));
        renumber(node, 0);
        endInsertRows();
    }

    // The view asks again whether the item has children and drops its arrow.
    void notifyChildlessness(Node *node)
    {
        const QModelIndex index = indexOf(node);
        emit dataChanged(index, index);
    }

    std::vector<std::unique_ptr<Node>> m_drives;
    QIcon m_driveIcon;
    QIcon m_folderIcon;
};

namespace {

// Reads a folder again. One read while its branch is open counts as seen: closing and opening
// it again reads it again. One read while closed is shown as it is when opened next.
void relist(FolderTreeModel *model, const QTreeView *view, FolderTreeModel::Node *node)
{
    model->relist(node);
    node->unseen = !view->isExpanded(model->indexOf(node));
}

} // namespace

FolderTree::FolderTree(const DriveTable &drives, QWidget *parent)
    : QTreeView(parent)
    , m_drives(drives)
    , m_model(new FolderTreeModel(this))
    , m_watcher(new QFileSystemWatcher(this))
    , m_settle(new QTimer(this))
{
    m_model->setDrives(m_drives.drives());
    setModel(m_model);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { currentFolderMoved(); });
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        auto *node = m_model->nodeOf(index);
        if (!node)
            return;
        // An open folder follows what others make or remove in it while it stays open.
        if (!node->host.isEmpty())
            m_watcher->addPath(node->host);
        // Opening a branch read long ago shows what has been made or removed since.
        if (node->unseen)
            node->unseen = false;
        else
            keepCurrentThrough([&] { relist(m_model, this, node); });
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        if (auto *node = m_model->nodeOf(index); node && !node->host.isEmpty())
            m_watcher->removePath(node->host);
    });
    // A busy folder changes many times a second; its changes are taken together.
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &host) {
        m_changedHosts.insert(host);
        m_settle->start();
    });
    connect(m_settle, &QTimer::timeout, this, [this] {
        const QSet<QString> hosts = std::exchange(m_changedHosts, {});
        for (const QString &host : hosts)
            host == m_drives.devicesFolder() ? reloadDrives() : relistHost(host);
    });
    // A drive linked in or taken out while the program runs shows at once, as in the chooser.
    m_watcher->addPath(m_drives.devicesFolder());
    // Quitting, the tree lets go of its watches at once: the kernel frees them while the rest
    // of the program closes, where letting go at the end made the process wait up to 15 ms.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (const QStringList watched = m_watcher->directories(); !watched.isEmpty())
            m_watcher->removePaths(watched);
    });
}

void FolderTree::relistHost(const QString &host)
{
    keepCurrentThrough([&] {
        for (auto *node : m_model->listedNodesAt(host)) {
            relist(m_model, this, node);
        }
    });
}

void FolderTree::refreshFolder(const QString &dosFolder)
{
    const auto resolved = m_drives.resolveDos(dosFolder);
    const auto host = resolved ? m_drives.toHost(*resolved) : std::nullopt;
    if (host)
        relistHost(*host);
}

void FolderTree::keepCurrentThrough(const std::function<void()> &change)
{
    const QString before = path();
    m_quiet = true;
    change();
    // Keep the current folder, or the nearest folder above it that is still there.
    if (!before.isEmpty() && path() != before) {
        for (QString folder = before;; folder = dospath::folderOf(folder)) {
            const QModelIndex target = locate(folder);
            if (target.isValid()) {
                showCurrent(target);
                break;
            }
            if (dospath::isDriveRoot(folder))
                break;
        }
    }
    m_quiet = false;
    if (path() != before) {
        m_reportedPath = path();
        emit dirChanged();
    }
}

FolderTree::~FolderTree() = default;

QString FolderTree::path() const { return FolderTreeModel::dosPath(m_model->nodeOf(currentIndex())); }

QString FolderTree::pathProblem() const
{
    for (const auto *node = m_model->nodeOf(currentIndex()); node && !node->isDrive(); node = node->parent) {
        if (const QString why = FolderTreeModel::nameProblem(node); !why.isEmpty())
            return QStringLiteral("%1 cannot be opened: %2").arg(node->name, why);
    }
    return QString();
}

void FolderTree::currentFolderMoved()
{
    const QString now = path();
    if (now == m_reportedPath)
        return;
    m_reportedPath = now;
    if (!m_quiet)
        emit dirChanged();
}

QModelIndex FolderTree::locate(const QString &dosFolder)
{
    const auto resolved = m_drives.resolveDos(dosFolder);
    if (!resolved)
        return QModelIndex();
    const auto host = m_drives.toHost(*resolved);
    if (!host || !hostfs::isDirectory(*host))
        return QModelIndex();
    const auto parts = dospath::components(*resolved);
    if (!parts)
        return QModelIndex();

    const QChar letter = resolved->at(0);
    FolderTreeModel::Node *node = m_model->drive(letter);
    if (!node || node->host.isEmpty()) {
        // A drive linked in since the table was last read.
        m_model->setDrives(m_drives.drives());
        node = m_model->drive(letter);
        if (!node || node->host.isEmpty())
            return QModelIndex();
    }
    for (const QString &part : *parts) {
        // Each folder on the way is read again, so that folders made or removed since (an
        // install's directories) show as they are.
        relist(m_model, this, node);
        FolderTreeModel::Node *next = FolderTreeModel::child(node, part);
        if (!next)
            return QModelIndex();
        node = next;
    }
    // The folder itself too, when it has been read: the program may just have made or removed
    // a folder in it (a leftover of an install), and it shows what is there at once.
    if (node->listed)
        relist(m_model, this, node);
    return m_model->indexOf(node);
}

bool FolderTree::setPath(const QString &dosFolder)
{
    const QModelIndex target = locate(dosFolder);
    if (!target.isValid())
        return false;
    showCurrent(target);
    return true;
}

void FolderTree::showCurrent(const QModelIndex &target)
{
    for (QModelIndex up = target.parent(); up.isValid(); up = up.parent())
        expand(up);
    // Selected as well: the item may already be current without being selected (focus alone
    // makes the first drive current).
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target);
}

void FolderTree::reloadDrives()
{
    keepCurrentThrough([&] { m_model->setDrives(m_drives.drives()); });
}

void FolderTree::mousePressEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    const QPoint globalPos = event->globalPosition().toPoint();
    QTreeView::mousePressEvent(event);
    selectCurrent();
    emit mousePressed(button, globalPos);
}

void FolderTree::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);
    selectCurrent();
}

void FolderTree::keyPressEvent(QKeyEvent *event)
{
    QTreeView::keyPressEvent(event);
    selectCurrent();
}

void FolderTree::selectCurrent()
{
    // A folder change that could not be shown moves the current folder elsewhere while the
    // view is still handling the click or key; the view then selects what was clicked. The
    // highlight follows the current folder.
    const QModelIndex current = currentIndex();
    if (current.isValid() && (selectionModel()->selectedIndexes() != QModelIndexList{current}))
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
}

} // namespace zelv
