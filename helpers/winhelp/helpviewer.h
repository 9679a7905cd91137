// The help viewer's window: the topic on the right, and on the left the contents, the index
// with type-to-find and the search in the topics' text. Links between topics, back and forward.
#pragma once

#include "helpfile.h"

#include <QMainWindow>
#include <optional>

class QAction;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

namespace zelv {

class HelpViewer : public QMainWindow {
    Q_OBJECT
public:
    // Without a help file the window shows why in one line.
    HelpViewer(std::optional<HelpFile> file, const QString &failure, QWidget *parent = nullptr);

    void showContents();
    void showIndex();
    void showTopic(int topic);

    enum class Tab { Contents, Index, Search };
    Tab currentTab() const;
    int currentTopic() const { return m_current; }
    const HelpFile *helpFile() const { return m_file ? &*m_file : nullptr; }
    QString pageText() const;

    // Type-to-find in the index: the first keyword starting with the text is selected.
    void findInIndex(const QString &text);
    // The search tab: the topics holding every word; returns how many.
    int searchFor(const QString &query);

    bool canGoBack() const { return !m_back.isEmpty(); }
    bool canGoForward() const { return !m_forward.isEmpty(); }
    void goBack();
    void goForward();

    // A link clicked in the topic: another topic, or a web or mail address for the desktop.
    void followLink(const QUrl &url);

private:
    void display(int topic);
    void updateHistoryActions();
    void openIndexEntry();
    void openSearchResult();

    std::optional<HelpFile> m_file;
    int m_current = -1;
    QList<int> m_back;
    QList<int> m_forward;

    QTabWidget *m_tabs;
    QTreeWidget *m_contents;
    QLineEdit *m_indexFind;
    QListWidget *m_indexList;
    QLineEdit *m_searchText;
    QListWidget *m_searchResults;
    QTextBrowser *m_page;
    QAction *m_backAction;
    QAction *m_forwardAction;
};

} // namespace zelv
