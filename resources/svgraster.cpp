// Build step: renders an SVG of the program's artwork to PNG files at fixed pixel sizes, so
// that the program loads small images instead of parsing SVG at every start.
//
//   svgraster IN.svg OUTDIR NAME SIZE...   writes OUTDIR/NAME-SIZE.png, larger side SIZE
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
        const QString out = QStringLiteral("%1/%2-%3.png")
                                .arg(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]))
                                .arg(size);
        // Stored without compression, and kept so in the program's resources: a start then
        // reads the pixels as they lie instead of inflating them.
        if (!image.save(out, "PNG", 100)) {
            fprintf(stderr, "svgraster: cannot write %s\n", qPrintable(out));
            return 1;
        }
    }
    return 0;
}
