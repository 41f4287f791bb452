// Build helper: renders an SVG into a PNG of the given size (the logos of the viewer).
// usage: svgtopng IN.svg OUT.png WIDTH HEIGHT
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: svgtopng IN.svg OUT.png WIDTH HEIGHT\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "svgtopng: cannot read %s\n", argv[1]);
        return 1;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    if (width < 1 || height < 1) {
        std::fprintf(stderr, "svgtopng: bad size\n");
        return 2;
    }
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "svgtopng: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
