#include "filelist.h"

#include <QAbstractListModel>
#include <QFile>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include <ctime>
#include <sys/stat.h>

namespace zelv {

// The names and nothing else: a folder of a hundred thousand files must show at once, so the
// model neither stats the files nor asks for icons.
class FileListModel : public QAbstractListModel {
public:
    explicit FileListModel(QObject *parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_names.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_names.size())
            return QVariant();
        return m_names.at(index.row());
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    }

    const QStringList &names() const { return m_names; }

    // A reset drops the selection and the current entry along with the old rows.
    void setNames(QStringList names)
    {
        beginResetModel();
        m_names = std::move(names);
        endResetModel();
    }

private:
    QStringList m_names;
};

FileList::FileList(const DosFileSystem &files, QWidget *parent)
    : QListView(parent)
    , m_files(files)
    , m_model(new FileListModel(this))
{
    setModel(m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(false);
}

FileList::~FileList() = default;

bool FileList::setPath(const QString &dosFolder)
{
    const auto resolved = m_files.drives().resolveDos(dosFolder);
    if (!resolved)
        return false;
    Result<QStringList> names = m_files.readFolder(*resolved, m_pattern, hostfs::EntryKind::Files);
    if (!names)
        return false;
    m_path = *resolved;
    m_model->setNames(std::move(*names));
    m_read = std::nullopt; // the stamp would be taken after the reading: no refresh trusts it
    return true;
}

QString FileList::path() const { return m_path; }

void FileList::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    reload();
}

QString FileList::pattern() const { return m_pattern; }

std::optional<FileList::ReadStamp> FileList::stampNow() const
{
    const auto host = m_path.isEmpty() ? std::nullopt : m_files.hostPath(m_path);
    struct stat st;
    if (!host || stat(QFile::encodeName(*host).constData(), &st) != 0)
        return std::nullopt;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return ReadStamp{quint64(st.st_dev), quint64(st.st_ino),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     qint64(now.tv_sec) * 1000000000 + now.tv_nsec};
}

void FileList::refresh()
{
    // Unchanged since it was read, and read well after its last change (a change within the
    // same tick of a coarse clock would not show): the entries are as they were; only the
    // selection goes, as a reading would take it.
    const auto now = stampNow();
    constexpr qint64 kSecond = 1000000000;
    if (now && m_read && *now == *m_read && m_read->readNs - m_read->changedNs > kSecond) {
        selectionModel()->clear();
        scrollToTop();
        return;
    }
    reload();
}

void FileList::reload()
{
    // A folder that has gone away simply lists nothing.
    QStringList names;
    m_read = stampNow();
    if (!m_path.isEmpty())
        names = m_files.list(m_path, m_pattern, hostfs::EntryKind::Files);
    m_model->setNames(std::move(names));
}

int FileList::listCount() const { return m_model->rowCount(); }

QString FileList::list(int index) const
{
    const QStringList &names = m_model->names();
    return index >= 0 && index < names.size() ? names.at(index) : QString();
}

bool FileList::selected(int index) const
{
    if (index < 0 || index >= listCount())
        return false;
    return selectionModel()->isSelected(m_model->index(index));
}

void FileList::setSelected(int index, bool selected)
{
    if (index < 0 || index >= listCount())
        return;
    selectionModel()->select(m_model->index(index),
                             selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

int FileList::listIndex() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void FileList::mousePressEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    const QPoint globalPos = event->globalPosition().toPoint();
    // Only the left button selects: the right one opens the menu over the selection as it is.
    if (button == Qt::LeftButton)
        QListView::mousePressEvent(event);
    else
        event->accept();
    emit mousePressed(button, globalPos);
}

void FileList::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    const QPoint globalPos = event->globalPosition().toPoint();
    if (button == Qt::LeftButton)
        QListView::mouseReleaseEvent(event);
    else
        event->accept();
    emit mouseReleased(button, globalPos);
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    const QItemSelection before = selectionModel()->selection();
    QListView::keyPressEvent(event);
    if (selectionModel()->selection() != before)
        emit selectedByKeyboard();
}

void FileList::mouseDoubleClickEvent(QMouseEvent *event)
{
    const bool overEntry = indexAt(event->position().toPoint()).isValid();
    QListView::mouseDoubleClickEvent(event);
    if (overEntry)
        emit entryDoubleClicked();
}

} // namespace zelv
