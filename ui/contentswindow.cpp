#include "contentswindow.h"

#include "widgets/wholeonscreen.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zelv {

namespace {

enum Column { Name, Size, Packed, Date, Method, Volumes, Archive };

QString bytes(qint64 n) { return QLocale().toString(n); }

} // namespace

ContentsWindow::ContentsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Contents"));
    m_problems = new QLabel(this);
    m_problems->setObjectName(QStringLiteral("problems"));
    m_problems->setWordWrap(true);
    m_members = new QTreeWidget(this);
    m_members->setObjectName(QStringLiteral("members"));
    m_members->setRootIsDecorated(false);
    m_members->setUniformRowHeights(true);
    m_members->setSortingEnabled(false);
    m_members->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Packed"),
                                QStringLiteral("Date"), QStringLiteral("Method"), QStringLiteral("Volumes"),
                                QStringLiteral("Archive")});
    m_members->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_totals = new QLabel(this);
    m_totals->setObjectName(QStringLiteral("totals"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_problems);
    layout->addWidget(m_members, 1);
    layout->addWidget(m_totals);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    resize(640, 400);
    new WholeOnScreen(this);
}

void ContentsWindow::show(const ArchiveContents &contents)
{
    setWindowTitle(QStringLiteral("Contents of %1").arg(contents.title));
    m_problems->setText(contents.problems.join(u'\n'));
    m_problems->setVisible(!contents.problems.isEmpty());
    m_members->clear();
    bool anyVolumes = false, severalArchives = false;
    QList<QTreeWidgetItem *> rows;
    for (const ContentsEntry &e : contents.entries) {
        auto *row = new QTreeWidgetItem;
        row->setText(Name, e.name);
        if (!e.folder) {
            row->setText(Size, bytes(e.size));
            row->setText(Packed, bytes(e.packed));
        }
        for (const int right : {int(Size), int(Packed)})
            row->setTextAlignment(right, Qt::AlignRight | Qt::AlignVCenter);
        if (e.time.isValid())
            row->setText(Date, QLocale().toString(e.time, QLocale::ShortFormat));
        row->setText(Method, e.method);
        row->setText(Volumes, e.volumes);
        row->setText(Archive, e.archive);
        anyVolumes = anyVolumes || !e.volumes.isEmpty();
        severalArchives = severalArchives || e.archive != contents.entries.first().archive;
        rows << row;
    }
    m_members->addTopLevelItems(rows);
    m_members->setColumnHidden(Volumes, !anyVolumes);
    m_members->setColumnHidden(Archive, !severalArchives);
    QString totals = QStringLiteral("%1 file(s), %2 bytes (%3 packed)")
                         .arg(contents.files)
                         .arg(bytes(contents.size), bytes(contents.packed));
    if (contents.freeRoom)
        totals += QStringLiteral("; %1 bytes free on drive %2:").arg(bytes(*contents.freeRoom), contents.tempDrive);
    if (contents.freeRoom && *contents.freeRoom < contents.size)
        totals += QStringLiteral(", too little to install them");
    m_totals->setText(totals);
    QWidget::show();
    raise();
    activateWindow();
}

} // namespace zelv
