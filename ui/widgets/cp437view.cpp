#include "cp437view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace zelv {

namespace {

constexpr int kMinZoom = -5;
constexpr int kMaxZoom = 10;
constexpr double kBasePointSize = 11;

// The arms of U+2500 to U+257F, as up, down, left, right: 0 none, 1 light, 2 double, 3 heavy.
// Dashed lines and arcs have the arms of the line they stand for; diagonals have none.
// clang-format off
constexpr char kArms[128][5] = {
    "0011", "0033", "1100", "3300", "0011", "0033", "1100", "3300", // 2500 ─━│┃┄┅┆┇
    "0011", "0033", "1100", "3300", "0101", "0103", "0301", "0303", // 2508 ┈┉┊┋┌┍┎┏
    "0110", "0130", "0310", "0330", "1001", "1003", "3001", "3003", // 2510 ┐┑┒┓└┕┖┗
    "1010", "1030", "3010", "3030", "1101", "1103", "3101", "1301", // 2518 ┘┙┚┛├┝┞┟
    "3301", "3103", "1303", "3303", "1110", "1130", "3110", "1310", // 2520 ┠┡┢┣┤┥┦┧
    "3310", "3130", "1330", "3330", "0111", "0131", "0113", "0133", // 2528 ┨┩┪┫┬┭┮┯
    "0311", "0331", "0313", "0333", "1011", "1031", "1013", "1033", // 2530 ┰┱┲┳┴┵┶┷
    "3011", "3031", "3013", "3033", "1111", "1131", "1113", "1133", // 2538 ┸┹┺┻┼┽┾┿
    "3111", "1311", "3311", "3131", "3113", "1331", "1313", "3133", // 2540 ╀╁╂╃╄╅╆╇
    "1333", "3331", "3313", "3333", "0011", "0033", "1100", "3300", // 2548 ╈╉╊╋╌╍╎╏
    "0022", "2200", "0102", "0201", "0202", "0120", "0210", "0220", // 2550 ═║╒╓╔╕╖╗
    "1002", "2001", "2002", "1020", "2010", "2020", "1102", "2201", // 2558 ╘╙╚╛╜╝╞╟
    "2202", "1120", "2210", "2220", "0122", "0211", "0222", "1022", // 2560 ╠╡╢╣╤╥╦╧
    "2011", "2022", "1122", "2211", "2222", "0101", "0110", "1010", // 2568 ╨╩╪╫╬╭╮╯
    "1001", "0000", "0000", "0000", "0010", "1000", "0001", "0100", // 2570 ╰╱╲╳╴╵╶╷
    "0030", "3000", "0003", "0300", "0013", "1300", "0031", "3100", // 2578 ╸╹╺╻╼╽╾╿
};
// clang-format on

enum Side { Up, Down, Left, Right };

// How many dashes a dashed line has in one cell; 0 for a solid one.
int dashesOf(char16_t c)
{
    switch (c) {
    case u'┄':
    case u'┅':
    case u'┆':
    case u'┇':
        return 3;
    case u'┈':
    case u'┉':
    case u'┊':
    case u'┋':
        return 4;
    case u'╌':
    case u'╍':
    case u'╎':
    case u'╏':
        return 2;
    default:
        return 0;
    }
}

// Line art in one cell, drawn as filled pixel rectangles so that a line leaving one cell at an
// edge meets the line of the next cell at the same place, whatever the size.
class CellArt {
public:
    CellArt(QPainter &p, const QRect &cell, const QColor &ink) : m_p(p), m_cell(cell), m_ink(ink)
    {
        const int w = cell.width(), h = cell.height();
        m_light = std::max(1, int(std::lround(h / 14.0)));
        m_heavy = 2 * m_light + 1;
        m_gap = std::max(m_light + 1, std::min(w, h) / 5);
        m_cx = cell.left() + w / 2;
        m_cy = cell.top() + h / 2;
    }

    // Parts of the cell in eighths of its width and height; neighbouring parts share edges.
    void fill(int x0, int x1, int y0, int y1, const QColor &colour) const
    {
        const int w = m_cell.width(), h = m_cell.height();
        const int left = m_cell.left() + w * x0 / 8, right = m_cell.left() + w * x1 / 8;
        const int top = m_cell.top() + h * y0 / 8, bottom = m_cell.top() + h * y1 / 8;
        m_p.fillRect(QRect(left, top, right - left, bottom - top), colour);
    }
    void fill(int x0, int x1, int y0, int y1) const { fill(x0, x1, y0, y1, m_ink); }

    void lines(const char *arms, int dashes) const
    {
        for (Side side : {Left, Right, Up, Down})
            if (const int weight = arms[side] - '0')
                arm(arms, side, weight, dashes);
    }

    // Rounded corners: a quarter curve between the centre lines of the two arms.
    void arc(const char *arms) const
    {
        const bool up = arms[Up] != '0', left = arms[Left] != '0';
        const QPointF centre = strokeCentre();
        const qreal r = std::min({centre.x() - m_cell.left(), m_cell.left() + m_cell.width() - centre.x(),
                                  centre.y() - m_cell.top(), m_cell.top() + m_cell.height() - centre.y()});
        QPainterPath path(QPointF(centre.x(), up ? m_cell.top() : m_cell.top() + m_cell.height()));
        path.lineTo(centre.x(), centre.y() + (up ? -r : r));
        path.quadTo(centre, QPointF(centre.x() + (left ? -r : r), centre.y()));
        path.lineTo(left ? m_cell.left() : m_cell.left() + m_cell.width(), centre.y());
        stroke(path);
    }

    void diagonals(bool rising, bool falling) const
    {
        const QRectF r(m_cell);
        QPainterPath path;
        if (rising) {
            path.moveTo(r.bottomLeft());
            path.lineTo(r.topRight());
        }
        if (falling) {
            path.moveTo(r.topLeft());
            path.lineTo(r.bottomRight());
        }
        stroke(path);
    }

private:
    int width(int weight) const { return weight == 3 ? m_heavy : m_light; }

    // Where an arm running towards `sign` (-1 up or left, +1 down or right) ends so that it
    // covers a stroke across it, `strokeWidth` wide and centred on `at`, and goes no further.
    static int stopAt(int at, int strokeWidth, int sign)
    {
        const int start = at - strokeWidth / 2;
        return sign < 0 ? start + strokeWidth : start;
    }

    void arm(const char *arms, Side side, int weight, int dashes) const
    {
        const bool horizontal = side == Left || side == Right;
        const int sign = side == Up || side == Left ? -1 : 1;
        const int centre = horizontal ? m_cx : m_cy;
        const int across = horizontal ? m_cy : m_cx;
        const int edge = horizontal ? (sign < 0 ? m_cell.left() : m_cell.left() + m_cell.width())
                                    : (sign < 0 ? m_cell.top() : m_cell.top() + m_cell.height());
        const int before = arms[horizontal ? Up : Left] - '0';
        const int after = arms[horizontal ? Down : Right] - '0';
        const bool straight = arms[horizontal ? (sign < 0 ? Right : Left) : (sign < 0 ? Down : Up)] != '0';

        if (dashes) {
            dashed(horizontal, across, width(weight), dashes);
            return;
        }
        if (weight == 2) {
            // Two rails. Where double lines cross, each rail stops at the rail it meets inside the
            // corner and runs on to the far one outside it, so corners, tees and crosses close.
            for (int rail : {-1, 1}) {
                int end = stopAt(centre, m_light, sign);
                if (before == 2 || after == 2) {
                    const bool inside = (rail < 0 ? before : after) == 2;
                    end = stopAt(centre + (inside ? sign : -sign) * m_gap, m_light, sign);
                }
                strip(horizontal, end, edge, across + rail * m_gap, m_light);
            }
            return;
        }
        int end;
        if (before == 2 && after == 2 && !straight)
            end = stopAt(centre + sign * m_gap, m_light, sign); // a tee: up to the near rail
        else if ((before == 2) != (after == 2))
            end = stopAt(centre - sign * m_gap, m_light, sign); // a stem the rails leave from
        else if (before || after)
            end = stopAt(centre, std::max(before ? width(before) : 0, after ? width(after) : 0), sign);
        else
            end = stopAt(centre, width(weight), sign);
        strip(horizontal, end, edge, across, width(weight));
    }

    void strip(bool horizontal, int from, int to, int across, int strokeWidth) const
    {
        const int a = std::min(from, to), b = std::max(from, to);
        const int at = across - strokeWidth / 2;
        if (horizontal)
            m_p.fillRect(QRect(a, at, b - a, strokeWidth), m_ink);
        else
            m_p.fillRect(QRect(at, a, strokeWidth, b - a), m_ink);
    }

    // Dashes centred in equal slots, so that the gaps stay even from one cell to the next.
    void dashed(bool horizontal, int across, int strokeWidth, int dashes) const
    {
        const int start = horizontal ? m_cell.left() : m_cell.top();
        const int length = horizontal ? m_cell.width() : m_cell.height();
        const int gap = std::max(1, length / (dashes * 3));
        for (int i = 0; i < dashes; ++i) {
            const int a = start + length * i / dashes + gap / 2;
            const int b = start + length * (i + 1) / dashes - (gap - gap / 2);
            if (b > a)
                strip(horizontal, a, b, across, strokeWidth);
        }
    }

    // The middle of a light stroke, for curves drawn with a pen over the same pixels.
    QPointF strokeCentre() const
    {
        const qreal offset = m_light / 2.0 - m_light / 2;
        return {m_cx + offset, m_cy + offset};
    }

    void stroke(const QPainterPath &path) const
    {
        m_p.save();
        m_p.setRenderHint(QPainter::Antialiasing);
        m_p.setBrush(Qt::NoBrush);
        m_p.setPen(QPen(m_ink, m_light, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        m_p.drawPath(path);
        m_p.restore();
    }

    QPainter &m_p;
    QRect m_cell;
    QColor m_ink;
    int m_light; // a light stroke's width
    int m_heavy; // a heavy stroke's width
    int m_gap;   // distance of a double line's rails from its centre line
    int m_cx, m_cy;
};

// Draws box-drawing and block characters into their cell; false for any other character.
bool drawLineArt(QPainter &p, const QRect &cell, char16_t c, const QColor &ink)
{
    if (c < 0x2500 || c > 0x259F)
        return false;
    const CellArt art(p, cell, ink);
    if (c < 0x2580) {
        const char *arms = kArms[c - 0x2500];
        if (c >= u'╭' && c <= u'╰')
            art.arc(arms);
        else if (c >= u'╱' && c <= u'╳')
            art.diagonals(c != u'╲', c != u'╱');
        else
            art.lines(arms, dashesOf(c));
        return true;
    }
    if (c >= u'░' && c <= u'▓') {
        // Shades as the ink at a quarter, half and three quarters over the paper.
        QColor shade = ink;
        shade.setAlphaF(c == u'░' ? 0.25 : c == u'▒' ? 0.5 : 0.75);
        art.fill(0, 8, 0, 8, shade);
    } else if (c == u'▀') {
        art.fill(0, 8, 0, 4);
    } else if (c <= u'█') {
        art.fill(0, 8, 8 - (c - 0x2580), 8); // ▁ to █: the lower eighths
    } else if (c <= u'▏') {
        art.fill(0, 0x2590 - c, 0, 8); // ▉ to ▏: the left eighths
    } else if (c == u'▐') {
        art.fill(4, 8, 0, 8);
    } else if (c == u'▔') {
        art.fill(0, 8, 0, 1);
    } else if (c == u'▕') {
        art.fill(7, 8, 0, 8);
    } else {
        // ▖ to ▟: quadrants, as upper left 1, upper right 2, lower left 4, lower right 8.
        static constexpr int kQuadrants[10] = {4, 8, 1, 1 | 4 | 8, 1 | 8, 1 | 2 | 4, 1 | 2 | 8, 2, 2 | 4, 2 | 4 | 8};
        const int q = kQuadrants[c - 0x2596];
        if (q & 1)
            art.fill(0, 4, 0, 4);
        if (q & 2)
            art.fill(4, 8, 0, 4);
        if (q & 4)
            art.fill(0, 4, 4, 8);
        if (q & 8)
            art.fill(4, 8, 4, 8);
    }
    return true;
}

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
    const QString family = QStringLiteral("DejaVu Sans Mono");
    m_font = QFontDatabase::hasFamily(family) ? QFont(family) : QFontDatabase::systemFont(QFontDatabase::FixedFont);
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
            if (ch == u' ' || drawLineArt(p, cell, ch.unicode(), p.pen().color()))
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

void Cp437View::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    // A desktop with a selection clipboard pastes what was last selected with the mouse.
    QClipboard *clipboard = QApplication::clipboard();
    if (m_hasSelection && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
    event->accept();
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
