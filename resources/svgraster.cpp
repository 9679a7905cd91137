// Build step: renders an SVG of the program's artwork to PNG files at fixed pixel sizes, so
// that the program loads small images instead of parsing SVG at every start.
//
//   svgraster IN.svg OUTDIR NAME SIZE...   writes OUTDIR/NAME-SIZE.png and .argb, larger side SIZE
//
// NAME-SIZE.argb: the width and the height as 32-bit numbers, then the premultiplied ARGB pixels
// as 32-bit words, row after row; all in this machine's byte order.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 5) {
        fprintf(stderr, "usage: svgraster IN.svg OUTDIR NAME SIZE...\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        fprintf(stderr, "svgraster: %s is not a valid SVG file\n", argv[1]);
        return 1;
    }
    const QSizeF box = svg.viewBoxF().size();
    for (int i = 4; i < argc; ++i) {
        const int size = atoi(argv[i]);
        if (size <= 0) {
            fprintf(stderr, "svgraster: bad size %s\n", argv[i]);
            return 2;
        }
        const double scale = size / std::max(box.width(), box.height());
        QImage image(int(std::lround(box.width() * scale)), int(std::lround(box.height() * scale)),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString stem =
            QStringLiteral("%1/%2-%3").arg(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])).arg(size);
        // The PNG for the desktop's icon theme; the raw pixels for the program's resources,
        // which a start uses as they lie, with nothing to decode.
        if (!image.save(stem + QStringLiteral(".png"))) {
            fprintf(stderr, "svgraster: cannot write %s.png\n", qPrintable(stem));
            return 1;
        }
        QFile raw(stem + QStringLiteral(".argb"));
        const quint32 header[2] = {quint32(image.width()), quint32(image.height())};
        if (!raw.open(QIODevice::WriteOnly) ||
            raw.write(reinterpret_cast<const char *>(header), sizeof header) != qint64(sizeof header) ||
            raw.write(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes()) != image.sizeInBytes()) {
            fprintf(stderr, "svgraster: cannot write %s.argb\n", qPrintable(stem));
            return 1;
        }
    }
    return 0;
}
