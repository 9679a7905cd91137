#include "statuspanel.h"

#include <QMouseEvent>
#include <QPainter>

#include <utility>

#include <algorithm>

namespace zelv {

namespace {

constexpr int kPanelHeight = 16;
constexpr int kTextMargin = 2; // keeps the caption off the bevel

Qt::Alignment alignmentFor(int code)
{
    static const Qt::Alignment horizontal[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    static const Qt::Alignment vertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    return horizontal[code / 3] | vertical[code % 3];
}

} // namespace

StatusPanel::StatusPanel(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setMinimumHeight(kPanelHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void StatusPanel::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

void StatusPanel::setAlignmentCode(int code)
{
    code = std::clamp(code, 0, 8);
    if (code == m_alignment)
        return;
    m_alignment = code;
    update();
}

void StatusPanel::setForeColor(const QColor &color)
{
    if (color == m_foreColor)
        return;
    m_foreColor = color;
    update();
}

void StatusPanel::setFloodType(int type)
{
    if (type == m_floodType)
        return;
    m_floodType = type;
    update();
}

void StatusPanel::setFloodPercent(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == m_floodPercent)
        return;
    m_floodPercent = percent;
    if (m_floodType == 1)
        update();
}

void StatusPanel::setFont3D(int style)
{
    if (style == m_font3D)
        return;
    m_font3D = style;
    update();
}

namespace {

// Where a count at the end ("   12 of 5000") starts, the spaces before it included; -1 when
// the caption ends otherwise. Read from the end by hand, so that the first paint, during
// start-up, compiles no regular expression.
qsizetype countStart(QStringView caption)
{
    // The program writes the count in ASCII digits; spaces are ASCII white space.
    const auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    const auto space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    qsizetype i = caption.size();
    const auto skip = [&](auto is) {
        const qsizetype end = i;
        while (i > 0 && is(caption[i - 1].unicode()))
            --i;
        return i < end;
    };
    if (!skip(digit) || !caption.first(i).endsWith(u" of "))
        return -1;
    i -= 4;
    if (!skip(digit) || !skip(space))
        return -1;
    return i;
}

} // namespace

QString elidedCaption(const QFontMetrics &metrics, const QString &caption, int width)
{
    // A count at the end ("12 of 5000") is never cut: the rest gives way to it.
    const QString shown = metrics.elidedText(caption, Qt::ElideMiddle, width);
    const qsizetype start = countStart(caption);
    if (start < 0 || shown == caption)
        return shown;
    const QString end = caption.mid(start);
    const int room = std::max(0, width - metrics.horizontalAdvance(end));
    return metrics.elidedText(caption.left(start), Qt::ElideRight, room) + end;
}

void StatusPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event); // the bevel

    QPainter painter(this);
    const QRect inner = contentsRect();
    const QRect bar(inner.left(), inner.top(), m_floodType == 1 ? inner.width() * m_floodPercent / 100 : 0,
                    inner.height());
    if (!bar.isEmpty())
        painter.fillRect(bar, palette().color(QPalette::Highlight));

    if (m_caption.isEmpty())
        return;
    const QRect textRect = inner.adjusted(kTextMargin, 0, -kTextMargin, 0);
    const QString shown = elidedCaption(fontMetrics(), m_caption, textRect.width());
    const int align = int(alignmentFor(m_alignment)) | Qt::TextSingleLine;
    painter.setClipRect(inner);
    if (m_font3D == 4) {
        // Engraved: a light copy one pixel down and right reads as the lower edge of a groove.
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), align, shown);
    }
    if (m_floodType != 1) {
        painter.setPen(m_foreColor);
        painter.drawText(textRect, align, shown);
        return;
    }
    // Over the bar, the colour set for it; beside the bar, the panel's own text colour: the
    // caption reads at any percent, 0 included.
    const QRect beside(bar.right() + 1, inner.top(), inner.right() - bar.right(), inner.height());
    for (const auto &[part, color] : {std::pair{bar, m_foreColor}, {beside, palette().color(QPalette::WindowText)}}) {
        if (part.isEmpty())
            continue;
        painter.setClipRect(part);
        painter.setPen(color);
        painter.drawText(textRect, align, shown);
    }
}

void StatusPanel::mousePressEvent(QMouseEvent *event)
{
    emit mousePressed(event->button(), event->globalPosition().toPoint());
    QFrame::mousePressEvent(event);
}

} // namespace zelv
