#include "cp437view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace zelv {

namespace {

constexpr int kMinZoom = -5;
constexpr int kMaxZoom = 10;
constexpr double kBasePointSize = 11;

// Which of a box-drawing character's four arms it has: 0 none, 1 single, 2 double.
struct Arms {
    int up = 0, down = 0, left = 0, right = 0;
};

std::optional<Arms> armsOf(char16_t c)
{
    switch (c) {
    case u'─':
        return Arms{0, 0, 1, 1};
    case u'│':
        return Arms{1, 1, 0, 0};
    case u'┌':
        return Arms{0, 1, 0, 1};
    case u'┐':
        return Arms{0, 1, 1, 0};
    case u'└':
        return Arms{1, 0, 0, 1};
    case u'┘':
        return Arms{1, 0, 1, 0};
    case u'├':
        return Arms{1, 1, 0, 1};
    case u'┤':
        return Arms{1, 1, 1, 0};
    case u'┬':
        return Arms{0, 1, 1, 1};
    case u'┴':
        return Arms{1, 0, 1, 1};
    case u'┼':
        return Arms{1, 1, 1, 1};
    case u'═':
        return Arms{0, 0, 2, 2};
    case u'║':
        return Arms{2, 2, 0, 0};
    case u'╒':
        return Arms{0, 1, 0, 2};
    case u'╓':
        return Arms{0, 2, 0, 1};
    case u'╔':
        return Arms{0, 2, 0, 2};
    case u'╕':
        return Arms{0, 1, 2, 0};
    case u'╖':
        return Arms{0, 2, 1, 0};
    case u'╗':
        return Arms{0, 2, 2, 0};
    case u'╘':
        return Arms{1, 0, 0, 2};
    case u'╙':
        return Arms{2, 0, 0, 1};
    case u'╚':
        return Arms{2, 0, 0, 2};
    case u'╛':
        return Arms{1, 0, 2, 0};
    case u'╜':
        return Arms{2, 0, 1, 0};
    case u'╝':
        return Arms{2, 0, 2, 0};
    case u'╞':
        return Arms{1, 1, 0, 2};
    case u'╟':
        return Arms{2, 2, 0, 1};
    case u'╠':
        return Arms{2, 2, 0, 2};
    case u'╡':
        return Arms{1, 1, 2, 0};
    case u'╢':
        return Arms{2, 2, 1, 0};
    case u'╣':
        return Arms{2, 2, 2, 0};
    case u'╤':
        return Arms{0, 1, 2, 2};
    case u'╥':
        return Arms{0, 2, 1, 1};
    case u'╦':
        return Arms{0, 2, 2, 2};
    case u'╧':
        return Arms{1, 0, 2, 2};
    case u'╨':
        return Arms{2, 0, 1, 1};
    case u'╩':
        return Arms{2, 0, 2, 2};
    case u'╪':
        return Arms{1, 1, 2, 2};
    case u'╫':
        return Arms{2, 2, 1, 1};
    case u'╬':
        return Arms{2, 2, 2, 2};
    default:
        return std::nullopt;
    }
}

// One arm of a box-drawing character along one axis, drawn as filled strips. `along` runs from
// the cell's centre to its edge; `across` is the other axis. Double arms are two rails; where a
// double arm meets double arms across it, each rail stops at the rail it meets (inside) or runs
// past the centre to the far one (outside), so corners, tees and crosses close.
struct ArmPainter {
    QPainter &p;
    QColor color;
    int lw; // stroke width
    int d;  // distance of a double line's rails from the centre line
    bool horizontal;
    int centreAlong, centreAcross, edge; // edge: the cell edge the arm reaches, exclusive

    void strip(int from, int to, int across) const
    {
        const int a = std::min(from, to), b = std::max(from, to);
        const int at = across - lw / 2;
        if (horizontal)
            p.fillRect(QRect(a, at, b - a, lw), color);
        else
            p.fillRect(QRect(at, a, lw, b - a), color);
    }

    // sign: -1 towards the top or left, +1 towards the bottom or right.
    void draw(int weight, int sign, int doubleBefore, int doubleAfter) const
    {
        // How far past the centre a stroke must reach to cover the one across it, whose strip
        // starts lw / 2 before its centre line: no further, or a corner would stick out.
        const int overlap = sign < 0 ? lw - lw / 2 : lw / 2;
        const bool crossedBothSides = doubleBefore == 2 && doubleAfter == 2;
        const bool crossedOneSide = (doubleBefore == 2) != (doubleAfter == 2);
        if (weight == 1) {
            int end = centreAlong - sign * overlap;
            if (crossedBothSides)
                end = centreAlong + sign * d - sign * overlap;
            else if (crossedOneSide)
                end = centreAlong - sign * d - sign * overlap;
            strip(end, edge, centreAcross);
            return;
        }
        for (int side : {-1, 1}) {
            const int across = centreAcross + side * d;
            int end = centreAlong - sign * overlap;
            if (doubleBefore == 2 || doubleAfter == 2) {
                const bool inside = (side < 0 ? doubleBefore : doubleAfter) == 2;
                end = centreAlong + (inside ? sign * d : -sign * d) - sign * overlap;
            }
            strip(end, edge, across);
        }
    }
};

} // namespace

Cp437View::Cp437View(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    applyFont();
}

void Cp437View::applyFont()
{
    // DejaVu Sans Mono has every glyph of code page 437; the fixed font of the desktop stands in.
    m_font = QFont(QStringLiteral("DejaVu Sans Mono"));
    if (!QFontInfo(m_font).fixedPitch())
        m_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setKerning(false);
    m_font.setPointSizeF(kBasePointSize * std::pow(1.1, m_zoom));
    const QFontMetrics metrics(m_font);
    m_cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_cellHeight = std::max(1, metrics.ascent() + metrics.descent());
    m_ascent = metrics.ascent();
    updateScrollBars();
    viewport()->update();
}

void Cp437View::setPlainText(const QString &text)
{
    m_text = text;
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_lines = normal.split(u'\n');
    m_longest = 0;
    for (const QString &line : m_lines)
        m_longest = std::max(m_longest, int(line.size()));
    m_hasSelection = false;
    m_anchor = m_cursor = {};
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void Cp437View::setZoom(int steps)
{
    steps = std::clamp(steps, kMinZoom, kMaxZoom);
    if (steps == m_zoom)
        return;
    m_zoom = steps;
    applyFont();
    emit zoomChanged(m_zoom);
}

QSize Cp437View::sizeForCells(int columns, int lines) const
{
    const int frame = 2 * frameWidth();
    return {columns * m_cellWidth + frame + verticalScrollBar()->sizeHint().width(), lines * m_cellHeight + frame};
}

void Cp437View::updateScrollBars()
{
    const QSize area = viewport()->size();
    verticalScrollBar()->setRange(0, std::max(0, int(m_lines.size()) - area.height() / m_cellHeight));
    verticalScrollBar()->setPageStep(std::max(1, area.height() / m_cellHeight));
    horizontalScrollBar()->setRange(0, std::max(0, m_longest * m_cellWidth - area.width()));
    horizontalScrollBar()->setPageStep(std::max(1, area.width()));
    horizontalScrollBar()->setSingleStep(m_cellWidth);
}

void Cp437View::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

bool Cp437View::selected(int line, int column) const
{
    if (!m_hasSelection)
        return false;
    const Spot from = std::min(m_anchor, m_cursor), to = std::max(m_anchor, m_cursor);
    const Spot here{line, column};
    return !(here < from) && here < to;
}

bool Cp437View::drawLineArt(QPainter &p, const QRect &cell, char16_t c) const
{
    const QColor ink = p.pen().color();
    const int w = cell.width(), h = cell.height();
    switch (c) {
    case u'█':
        p.fillRect(cell, ink);
        return true;
    case u'▀':
        p.fillRect(QRect(cell.left(), cell.top(), w, h / 2), ink);
        return true;
    case u'▄':
        p.fillRect(QRect(cell.left(), cell.top() + h / 2, w, h - h / 2), ink);
        return true;
    case u'▌':
        p.fillRect(QRect(cell.left(), cell.top(), w / 2, h), ink);
        return true;
    case u'▐':
        p.fillRect(QRect(cell.left() + w / 2, cell.top(), w - w / 2, h), ink);
        return true;
    case u'░':
    case u'▒':
    case u'▓': {
        QColor shade = ink;
        shade.setAlphaF(c == u'░' ? 0.25 : c == u'▒' ? 0.5 : 0.75);
        p.fillRect(cell, shade);
        return true;
    }
    default:
        break;
    }
    const auto arms = armsOf(c);
    if (!arms)
        return false;
    const int lw = std::max(1, int(std::lround(h / 14.0)));
    const int d = std::max(lw + 1, std::min(w, h) / 5);
    const int cx = cell.left() + w / 2, cy = cell.top() + h / 2;
    const ArmPainter across{p, ink, lw, d, true, cx, cy, 0};
    if (arms->left) {
        ArmPainter a = across;
        a.edge = cell.left();
        a.draw(arms->left, -1, arms->up, arms->down);
    }
    if (arms->right) {
        ArmPainter a = across;
        a.edge = cell.left() + w;
        a.draw(arms->right, 1, arms->up, arms->down);
    }
    const ArmPainter upright{p, ink, lw, d, false, cy, cx, 0};
    if (arms->up) {
        ArmPainter a = upright;
        a.edge = cell.top();
        a.draw(arms->up, -1, arms->left, arms->right);
    }
    if (arms->down) {
        ArmPainter a = upright;
        a.edge = cell.top() + h;
        a.draw(arms->down, 1, arms->left, arms->right);
    }
    return true;
}

void Cp437View::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.setFont(m_font);
    const QPalette &pal = palette();
    const int first = verticalScrollBar()->value();
    const int x0 = -horizontalScrollBar()->value();
    const int visible = viewport()->height() / m_cellHeight + 1;
    for (int row = 0; row < visible && first + row < m_lines.size(); ++row) {
        const int line = first + row;
        const QString &text = m_lines[line];
        const int y = row * m_cellHeight;
        const int firstColumn = std::max(0, -x0 / m_cellWidth);
        const int lastColumn = std::min(int(text.size()), (viewport()->width() - x0) / m_cellWidth + 1);
        for (int column = firstColumn; column < lastColumn; ++column) {
            const QRect cell(x0 + column * m_cellWidth, y, m_cellWidth, m_cellHeight);
            const bool inSelection = selected(line, column);
            if (inSelection)
                p.fillRect(cell, pal.color(QPalette::Highlight));
            p.setPen(pal.color(inSelection ? QPalette::HighlightedText : QPalette::Text));
            const QChar ch = text[column];
            if (ch == u' ' || drawLineArt(p, cell, ch.unicode()))
                continue;
            p.drawText(cell.left(), y + m_ascent, QString(ch));
        }
        // A selection running past the end of a line takes its line end with it.
        if (selected(line, int(text.size())))
            p.fillRect(QRect(x0 + int(text.size()) * m_cellWidth, y, m_cellWidth, m_cellHeight),
                       pal.color(QPalette::Highlight));
    }
}

Cp437View::Spot Cp437View::spotAt(const QPoint &pos) const
{
    const int line =
        std::clamp(verticalScrollBar()->value() + pos.y() / m_cellHeight, 0, std::max(0, int(m_lines.size()) - 1));
    const int x = pos.x() + horizontalScrollBar()->value();
    const int column =
        std::clamp((x + m_cellWidth / 2) / m_cellWidth, 0, m_lines.isEmpty() ? 0 : int(m_lines[line].size()));
    return {line, column};
}

void Cp437View::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_cursor = spotAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = m_cursor;
    m_hasSelection = !(m_anchor == m_cursor);
    viewport()->update();
}

void Cp437View::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_cursor = spotAt(event->position().toPoint());
    m_hasSelection = !(m_anchor == m_cursor);
    ensureVisible(m_cursor);
    viewport()->update();
}

void Cp437View::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        verticalScrollBar()->setValue(0);
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void Cp437View::wheelEvent(QWheelEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        setZoom(m_zoom + (event->angleDelta().y() > 0 ? 1 : -1));
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

QString Cp437View::selectedText() const
{
    if (!m_hasSelection)
        return QString();
    const Spot from = std::min(m_anchor, m_cursor), to = std::max(m_anchor, m_cursor);
    QStringList parts;
    for (int line = from.line; line <= to.line && line < m_lines.size(); ++line) {
        const int a = line == from.line ? from.column : 0;
        const int b = line == to.line ? to.column : int(m_lines[line].size());
        parts << m_lines[line].mid(a, b - a);
    }
    return parts.join(QStringLiteral("\r\n"));
}

void Cp437View::selectAll()
{
    if (m_lines.isEmpty())
        return;
    m_anchor = {0, 0};
    m_cursor = {int(m_lines.size()) - 1, int(m_lines.last().size())};
    m_hasSelection = !(m_anchor == m_cursor);
    viewport()->update();
}

void Cp437View::copy() const
{
    if (m_hasSelection)
        QApplication::clipboard()->setText(selectedText());
}

void Cp437View::ensureVisible(const Spot &spot)
{
    QScrollBar *v = verticalScrollBar();
    const int rows = std::max(1, viewport()->height() / m_cellHeight);
    if (spot.line < v->value())
        v->setValue(spot.line);
    else if (spot.line >= v->value() + rows)
        v->setValue(spot.line - rows + 1);
    QScrollBar *hb = horizontalScrollBar();
    const int x = spot.column * m_cellWidth;
    if (x < hb->value())
        hb->setValue(x);
    else if (x + m_cellWidth > hb->value() + viewport()->width())
        hb->setValue(x + m_cellWidth - viewport()->width());
}

bool Cp437View::find(const QString &needle, bool backwards)
{
    if (needle.isEmpty() || m_lines.isEmpty())
        return false;
    const int count = int(m_lines.size());
    // From just after the selection going forwards, from just before it going backwards.
    const Spot from = m_hasSelection ? std::min(m_anchor, m_cursor) : Spot{};
    const Spot to = m_hasSelection ? std::max(m_anchor, m_cursor) : Spot{};
    for (int step = 0; step <= count; ++step) {
        const int line = backwards ? ((from.line - step) % count + count) % count : (to.line + step) % count;
        const QString &text = m_lines[line];
        qsizetype at = -1;
        if (backwards) {
            // Ending before the selection on its own line; anywhere once the search came round.
            const qsizetype lastStart = step == 0 ? from.column - needle.size() : text.size() - needle.size();
            if (lastStart >= 0)
                at = text.lastIndexOf(needle, lastStart, Qt::CaseInsensitive);
        } else {
            at = text.indexOf(needle, step == 0 ? to.column : 0, Qt::CaseInsensitive);
        }
        if (at >= 0) {
            m_anchor = {line, int(at)};
            m_cursor = {line, int(at + needle.size())};
            m_hasSelection = true;
            ensureVisible(m_anchor);
            viewport()->update();
            return true;
        }
    }
    return false;
}

} // namespace zelv
