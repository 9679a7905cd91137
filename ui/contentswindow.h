// The Contents window: the members of the selected archives or volume set, with their sizes,
// packed sizes, dates, methods and, for a set, the volumes each lies in; the totals and the
// room on the temporary drive below. A window of its own beside the main window.
#pragma once

#include "core/archivecontents.h"

#include <QWidget>

class QLabel;
class QTreeWidget;

namespace zelv {

class ContentsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ContentsWindow(QWidget *parent = nullptr);
    void show(const ArchiveContents &contents);

private:
    QLabel *m_problems;
    QTreeWidget *m_members;
    QLabel *m_totals;
};

} // namespace zelv
