#include "artwork.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace zelv {

namespace {

// The sizes each image was rendered in, smallest first, from one look at the resources.
const QHash<QString, QList<int>> &renderings()
{
    static const QHash<QString, QList<int>> sizes = [] {
        QHash<QString, QList<int>> found;
        for (const QString &file : QDir(QStringLiteral(":/icons")).entryList(QDir::Files)) {
            const qsizetype dash = file.lastIndexOf(u'-');
            bool ok = false;
            const int size = file.mid(dash + 1).chopped(4).toInt(&ok); // "NAME-SIZE.png"
            if (dash > 0 && ok && file.endsWith(QStringLiteral(".png")))
                found[file.left(dash)].append(size);
        }
        for (QList<int> &list : found)
            std::sort(list.begin(), list.end());
        return found;
    }();
    return sizes;
}

// Reads only the one file that fits the size asked for, when it is first asked for: decoding
// every rendered size up front would cost more than the rest of the start-up.
class ArtworkEngine : public QIconEngine {
public:
    explicit ArtworkEngine(QString name) : m_name(std::move(name)) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty())
            return QPixmap();
        const quint64 key = (quint64(size.width()) << 32) | (quint64(size.height()) << 8) | quint64(mode);
        if (const auto it = m_cache.constFind(key); it != m_cache.constEnd())
            return *it;
        QPixmap pm = load(std::max(size.width(), size.height()));
        if (pm.isNull())
            return pm;
        if (pm.width() > size.width() || pm.height() > size.height())
            pm = pm.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (mode == QIcon::Disabled) {
            QStyleOption option;
            option.palette = QGuiApplication::palette();
            pm = QApplication::style()->generatedIconPixmap(QIcon::Disabled, pm, &option);
        }
        m_cache.insert(key, pm);
        return pm;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device()->devicePixelRatio();
        QPixmap pm = pixmap(rect.size() * dpr, mode, state);
        pm.setDevicePixelRatio(dpr);
        const QSize shown = pm.deviceIndependentSize().toSize();
        painter->drawPixmap(
            QRect(rect.topLeft() + QPoint((rect.width() - shown.width()) / 2, (rect.height() - shown.height()) / 2),
                  shown),
            pm);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return pixmap(size, mode, state).size();
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int s : renderedSizes())
            sizes.append(QSize(s, s));
        return sizes;
    }

    QIconEngine *clone() const override { return new ArtworkEngine(m_name); }
    QString key() const override { return QStringLiteral("zelvartwork"); }
    bool isNull() override { return renderedSizes().isEmpty(); }

private:
    QList<int> renderedSizes() const { return renderings().value(m_name); }

    QString file(int size) const { return QStringLiteral(":/icons/%1-%2.png").arg(m_name).arg(size); }

    // The smallest rendering at least as large as asked, or the largest there is.
    QPixmap load(int larger)
    {
        const QList<int> sizes = renderedSizes();
        if (sizes.isEmpty())
            return QPixmap();
        int pick = sizes.last();
        for (int s : sizes) {
            if (s >= larger) {
                pick = s;
                break;
            }
        }
        return QPixmap(file(pick));
    }

    QString m_name;
    QHash<quint64, QPixmap> m_cache;
};

} // namespace

QIcon artworkIcon(const QString &name) { return QIcon(new ArtworkEngine(name)); }

} // namespace zelv
