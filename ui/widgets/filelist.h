// The file list: the plain files of one folder whose names match a pattern, in name order
// ignoring case, with extended multiple selection.
#pragma once

#include "platform/dosfilesystem.h"

#include <QListView>

#include <optional>

namespace zelv {

class FileListModel;

class FileList : public QListView {
    Q_OBJECT
public:
    explicit FileList(const DosFileSystem &files, QWidget *parent = nullptr);
    ~FileList() override;

    // The folder, a DOS path spelled as on disk ("C:\Games", "C:\" for a root). Setting it reads
    // the folder at once; a folder that cannot be opened returns false and changes nothing.
    bool setPath(const QString &dosFolder);
    QString path() const;

    // One wildcard or several joined by ";". Setting it reads the folder again.
    void setPattern(const QString &pattern);
    QString pattern() const;

    // Reads the folder again; every entry comes back unselected. A folder that has not changed
    // since it was read (its change time well in the past) is not read again.
    void refresh();

    int listCount() const;
    QString list(int index) const; // the name without folder; empty outside the list
    bool selected(int index) const;
    void setSelected(int index, bool selected);
    int listIndex() const; // the current entry, -1 when there is none

signals:
    // A mouse button pressed or released over the list, with the global position.
    void mousePressed(Qt::MouseButton button, const QPoint &globalPos);
    void mouseReleased(Qt::MouseButton button, const QPoint &globalPos);
    void entryDoubleClicked();
    // The selection changed by a key (arrows, Shift+arrows, Space), as a click changes it.
    void selectedByKeyboard();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void reload();

    const DosFileSystem &m_files;
    FileListModel *m_model;
    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
    // The folder as it was when last read: a refresh of an unchanged one costs no reading.
    struct ReadStamp {
        quint64 device = 0, inode = 0;
        qint64 changedNs = -1;
        qint64 readNs = 0;
        bool operator==(const ReadStamp &o) const
        {
            return device == o.device && inode == o.inode && changedNs == o.changedNs;
        }
    };
    std::optional<ReadStamp> stampNow() const;
    std::optional<ReadStamp> m_read;
};

} // namespace zelv
