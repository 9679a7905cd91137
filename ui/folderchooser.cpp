#include "folderchooser.h"

#include "widgets/foldertree.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelv {

FolderChooser::FolderChooser(const DriveTable &drives, const QString &prompt,
                             std::function<ChooserStatus(const QString &path)> onSelectionChanged, QWidget *parent)
    : QDialog(parent)
    , m_rule(std::move(onSelectionChanged))
{
    setObjectName(QStringLiteral("BrowseDialog1"));
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setModal(true);
    auto *label = new QLabel(prompt);
    m_tree = new FolderTree(drives);
    m_tree->setMinimumSize(320, 260);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("status"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_tree, &FolderTree::dirChanged, this, &FolderChooser::BrowseDialog1_SelectionChanged);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_tree);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    // Nothing chosen at first: the focus starts on the buttons, so that the tree does not make
    // its first drive current by itself.
    buttons->button(QDialogButtonBox::Cancel)->setFocus();
    m_tree->setCurrentIndex(QModelIndex());
    BrowseDialog1_SelectionChanged(); // no path yet
}

QString FolderChooser::selectedPath() const { return m_tree->path(); }
QString FolderChooser::statusLine() const { return m_status->text(); }
bool FolderChooser::okEnabled() const { return m_ok->isEnabled(); }
bool FolderChooser::select(const QString &dosFolder) { return m_tree->setPath(dosFolder); }

void FolderChooser::BrowseDialog1_SelectionChanged()
{
    const ChooserStatus status = m_rule ? m_rule(selectedPath()) : ChooserStatus{true, QString()};
    m_ok->setEnabled(status.okEnabled);
    m_status->setText(status.statusLine);
}

} // namespace zelv
