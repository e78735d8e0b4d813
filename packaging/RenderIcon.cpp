// Renders the scalable icon into the PNG sizes of the hicolor theme at build time, so the
// pictures can never drift from the SVG.
//   ombrelo-render-icon SVG SIZE OUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: ombrelo-render-icon SVG SIZE OUT.png\n");
        return 2;
    }
    const int size = std::atoi(argv[2]);
    if (size <= 0) {
        std::fprintf(stderr, "ombrelo-render-icon: bad size '%s'\n", argv[2]);
        return 2;
    }
    // Runs on build machines without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QSvgRenderer renderer{QString::fromLocal8Bit(argv[1])};
    if (!renderer.isValid()) {
        std::fprintf(stderr, "ombrelo-render-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "ombrelo-render-icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
