// BrowseDialog1: the modal folder chooser over the program's drives, as the folder tree shows
// them, with a prompt, a status line and an OK button that the caller's rule keeps up to date
// as the selection moves.
#pragma once

#include "platform/dialogs.h"
#include "platform/drivetable.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelv {

class FolderTree;

class FolderChooser : public QDialog {
    Q_OBJECT
public:
    FolderChooser(const DriveTable &drives, const QString &prompt,
                  std::function<ChooserStatus(const QString &path)> onSelectionChanged, QWidget *parent = nullptr);

    QString selectedPath() const;
    QString statusLine() const;
    bool okEnabled() const;
    // Moves the selection, as a click would.
    bool select(const QString &dosFolder);

private:
    void BrowseDialog1_SelectionChanged();

    std::function<ChooserStatus(const QString &)> m_rule;
    FolderTree *m_tree;
    QLabel *m_status;
    QPushButton *m_ok;
};

} // namespace zelv
