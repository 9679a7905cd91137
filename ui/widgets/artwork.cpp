#include "artwork.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QResource>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zelv {

namespace {

// The sizes each image was rendered in, smallest first, as the build rendered them.
const QHash<QString, QList<int>> &renderings()
{
    static const QHash<QString, QList<int>> sizes = [] {
        struct Rendering {
            const char16_t *name;
            int sizes[8]; // the places not used are 0
        };
        static const Rendering table[] = {
#include "artworksizes.inc"
        };
        QHash<QString, QList<int>> found;
        for (const Rendering &r : table) {
            QList<int> list;
            for (int size : r.sizes)
                if (size > 0)
                    list.append(size);
            std::sort(list.begin(), list.end());
            found.insert(QString::fromUtf16(r.name), list);
        }
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

    QString file(int size) const { return QStringLiteral(":/icons/%1-%2.argb").arg(m_name).arg(size); }

    // The rendering as it lies in the resources: its size, then its premultiplied pixels.
    QPixmap read(int size) const
    {
        const QResource resource(file(size));
        quint32 header[2];
        if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression ||
            resource.size() < qint64(sizeof header))
            return QPixmap();
        std::memcpy(header, resource.data(), sizeof header);
        const qint64 bytes = qint64(header[0]) * header[1] * 4;
        if (header[0] == 0 || header[0] > 4096 || header[1] > 4096 || resource.size() != qint64(sizeof header) + bytes)
            return QPixmap();
        const QImage pixels(resource.data() + sizeof header, int(header[0]), int(header[1]), int(header[0]) * 4,
                            QImage::Format_ARGB32_Premultiplied);
        return QPixmap::fromImage(pixels); // a copy: the image only borrows the resource's bytes
    }

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
        return read(pick);
    }

    QString m_name;
    QHash<quint64, QPixmap> m_cache;
};

} // namespace

QIcon artworkIcon(const QString &name) { return QIcon(new ArtworkEngine(name)); }

QRegion opaqueRegion(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width();
    // Each row's runs of kept pixels, as the region's rectangles.
    std::vector<QRect> rects;
    bool seeThrough = false;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width;) {
            // Four pixels at a time where all four are wholly transparent, or wholly opaque.
            const int clear = x;
            while (x + 4 <= width && ((row[x] | row[x + 1] | row[x + 2] | row[x + 3]) >> 24) == 0)
                x += 4;
            while (x < width && qAlpha(row[x]) == 0)
                ++x;
            seeThrough = seeThrough || x > clear;
            if (x == width)
                break;
            const int from = x;
            for (;;) {
                while (x + 4 <= width && ((row[x] & row[x + 1] & row[x + 2] & row[x + 3]) >> 24) == 0xff)
                    x += 4;
                if (x == width || qAlpha(row[x]) == 0)
                    break;
                ++x;
            }
            rects.emplace_back(from, y, x - from, 1);
        }
    }
    // Without a pixel wholly transparent, the mask is there only if some are partly so.
    for (int y = 0; !seeThrough && y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        seeThrough = std::any_of(row, row + width, [](QRgb pixel) { return qAlpha(pixel) != 255; });
    }
    QRegion region;
    if (seeThrough)
        region.setRects(rects.data(), int(rects.size()));
    return region;
}

} // namespace zelv
