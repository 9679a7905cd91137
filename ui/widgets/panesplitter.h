// Two panes side by side with a draggable bar between them. The first pane's width is kept in
// thousandths of the splitter's width, a whole number the splitter both reports and accepts,
// so that it survives any window size.
#pragma once

#include <QSplitter>

namespace zelv {

class PaneSplitter : public QSplitter {
    Q_OBJECT
public:
    static constexpr int kBarWidth = 4;
    static constexpr int kDefaultFirstPane = 375;
    static constexpr int kMinimumFirstPane = 150;
    static constexpr int kMaximumFirstPane = 1000 - kMinimumFirstPane; // the second pane keeps room too

    explicit PaneSplitter(QWidget *parent = nullptr);

    // Puts a widget into the next pane; false when both panes are taken.
    bool addPane(QWidget *widget);

    int firstPaneWidth() const { return m_firstPane; }
    // Clamped to the minimum and maximum.
    void setFirstPaneWidth(int thousandths);

signals:
    // The user moved the bar; the panes' geometries in the splitter's coordinates.
    void panesResized(const QRect &pane1, const QRect &pane2);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyFirstPane();

    int m_firstPane = kDefaultFirstPane;
};

} // namespace zelv
