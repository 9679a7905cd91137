// A read-only view for release notes drawn in code page 437: a grid of equal cells, one per
// character, lines at the font's own height. Box-drawing lines and block elements are drawn
// into their cells rather than taken from the font, so that boxes and shades join without a gap
// at any size; every other glyph comes from a monospaced font that has them all.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QPoint>
#include <QStringList>

namespace zelv {

class Cp437View : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit Cp437View(QWidget *parent = nullptr);

    // Lines separated by "\r\n" or "\n"; toPlainText() gives back exactly what was set.
    void setPlainText(const QString &text);
    QString toPlainText() const { return m_text; }

    // 0 is the normal size; each step is about a tenth more or less, within -5 to 10.
    void setZoom(int steps);
    int zoom() const { return m_zoom; }

    // Finds text ignoring letter case, from the selection on, wrapping at the end; selects and
    // shows it. False when it is nowhere.
    bool find(const QString &needle, bool backwards = false);
    QString selectedText() const;
    void selectAll();
    void copy() const;

    QSize cellSize() const { return {m_cellWidth, m_cellHeight}; }
    QSize sizeForCells(int columns, int lines) const;

signals:
    void zoomChanged(int steps);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // A place in the text: line and column.
    struct Spot {
        int line = 0;
        int column = 0;
        bool operator<(const Spot &o) const { return line != o.line ? line < o.line : column < o.column; }
        bool operator==(const Spot &o) const = default;
    };

    void applyFont();
    void updateScrollBars();
    Spot spotAt(const QPoint &viewportPos) const;
    void ensureVisible(const Spot &spot);
    bool selected(int line, int column) const;

    QString m_text;
    QStringList m_lines;
    int m_longest = 0;
    int m_zoom = 0;
    QFont m_font;
    int m_cellWidth = 8;
    int m_cellHeight = 16;
    int m_ascent = 12;
    Spot m_anchor;
    Spot m_cursor;
    bool m_hasSelection = false;
};

} // namespace zelv
