#include "programstyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyleOption>

namespace zelv {

namespace {

// Two arrows side by side (or one above the other), drawn by the program's style when shown.
class OverflowArrows : public QIconEngine {
public:
    explicit OverflowArrows(bool horizontal) : m_horizontal(horizontal) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        QStyleOption option;
        option.palette.setCurrentColorGroup(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active);
        option.state = mode == QIcon::Disabled ? QStyle::State_None : QStyle::State_Enabled;
        const QStyle::PrimitiveElement arrow =
            m_horizontal ? QStyle::PE_IndicatorArrowRight : QStyle::PE_IndicatorArrowDown;
        const int half = (m_horizontal ? rect.width() : rect.height()) / 2;
        for (int i = 0; i < 2; ++i) {
            option.rect = m_horizontal ? QRect(rect.x() + i * half, rect.y(), half, rect.height())
                                       : QRect(rect.x(), rect.y() + i * half, rect.width(), half);
            QApplication::style()->drawPrimitive(arrow, &option, painter);
        }
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pm;
    }

    QIconEngine *clone() const override { return new OverflowArrows(m_horizontal); }

private:
    bool m_horizontal;
};

} // namespace

ProgramStyle::ProgramStyle() = default;

QIcon ProgramStyle::standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const
{
    if (icon == SP_ToolBarHorizontalExtensionButton || icon == SP_ToolBarVerticalExtensionButton)
        return QIcon(new OverflowArrows(icon == SP_ToolBarHorizontalExtensionButton));
    return QProxyStyle::standardIcon(icon, option, widget);
}

} // namespace zelv
