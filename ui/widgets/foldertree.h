// The folder tree: the drives of the drive table and their folders, listed as they are opened.
// One folder is current; it is read and set as a DOS path.
#pragma once

#include "platform/drivetable.h"

#include <QSet>
#include <QTreeView>
#include <functional>

class QFileSystemWatcher;
class QTimer;

namespace zelv {

class FolderTreeModel;

class FolderTree : public QTreeView {
    Q_OBJECT
public:
    explicit FolderTree(const DriveTable &drives, QWidget *parent = nullptr);
    ~FolderTree() override;

    // Makes the folder current: opens the branches down to it, selects it and scrolls to it.
    // Returns false and changes nothing when the folder does not exist (or its drive is not
    // ready). A folder created since its parent was listed is found: the parent is listed anew.
    bool setPath(const QString &dosFolder);
    // "C:\" for a drive root, "C:\Games\New" otherwise, spelled as on disk; empty before a
    // folder has been made current.
    QString path() const;
    // Why the current folder cannot be opened by its DOS path, naming it; empty when it can.
    // A name holding a backslash, or bytes that are not UTF-8 (shown as \uFFFD, as the
    // platform layer reads them), cannot be part of a DOS path; such folders show greyed.
    QString pathProblem() const;

    // Reads the drive table again (a drive added or removed while the program runs).
    void reloadDrives();
    // Reads a folder's sub-folders again when the tree has listed them (the program made or
    // removed one). Open folders also follow changes on disk by themselves.
    void refreshFolder(const QString &dosFolder);

signals:
    // The current folder changed, by the user or by setPath.
    void dirChanged();
    void mousePressed(Qt::MouseButton button, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The item of a folder, listing the branches down to it as needed; invalid when there is none.
    QModelIndex locate(const QString &dosFolder);
    void showCurrent(const QModelIndex &target);
    void currentFolderMoved();
    void selectCurrent();
    // Runs a change of the tree's items; the current folder stays, or moves to the nearest
    // folder above it that is still there, and a move is reported once.
    void keepCurrentThrough(const std::function<void()> &change);
    // Reads again every listed folder of the tree whose host folder is host.
    void relistHost(const QString &host);

    const DriveTable &m_drives;
    FolderTreeModel *m_model;
    QFileSystemWatcher *m_watcher;
    QTimer *m_settle;             // waits for a folder's changes to settle
    QSet<QString> m_changedHosts; // open folders changed on disk since the last look
    static constexpr int kSettleMs = 100;
    QString m_reportedPath; // the folder dirChanged last reported
    bool m_quiet = false;   // set while the drives are read again
};

} // namespace zelv
