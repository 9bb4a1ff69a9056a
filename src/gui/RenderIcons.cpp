// A build-time tool: draws each status picture from its SVG file at the sizes
// trays, rows and windows ask for, so that the tray application links no SVG
// library and draws no SVG while it starts. The pictures are stored as bare
// pixels (premultiplied RGBA, one byte each, row by row, no header), which the
// program copies into an image: reading PNG files would go through Qt's image
// reader, which looks through (and loads) every image format plugin at the
// first picture. The resource compiler compresses them.
//
// Usage: linkmoot-render-icons OUTPUT-FOLDER SIDE,SIDE,... SVG-FILE...
// Writes OUTPUT-FOLDER/<name>-<side>.rgba for each SVG file <name>.svg.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>
#include <cstdio>
#include <vector>

namespace {

std::vector<int> parseSides(const QString& text) {
    std::vector<int> sides;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int side = part.toInt(&ok);
        if (!ok || side < 1 || side > 1024)
            return {};
        sides.push_back(side);
    }
    return sides;
}

bool render(const QString& svg, const QString& folder, const std::vector<int>& sides) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "linkmoot-render-icons: cannot read %s\n", qPrintable(svg));
        return false;
    }
    const QString name = QFileInfo(svg).completeBaseName();
    for (int side : sides) {
        QImage image(side, side, QImage::Format_RGBA8888_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            renderer.render(&painter);
        }
        const QString target = QStringLiteral("%1/%2-%3.rgba").arg(folder, name).arg(side);
        QFile file(target);
        // Rows of 4-byte pixels have no padding, so the bits are the file.
        const auto bytes = static_cast<qint64>(image.sizeInBytes());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(image.constBits()), bytes) != bytes ||
            !file.flush()) {
            std::fprintf(stderr, "linkmoot-render-icons: cannot write %s\n", qPrintable(target));
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // No display needed: the pictures are drawn into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    const std::vector<int> sides = args.size() > 2 ? parseSides(args[2]) : std::vector<int>{};
    if (args.size() < 4 || sides.empty()) {
        std::fprintf(stderr,
                     "usage: linkmoot-render-icons OUTPUT-FOLDER SIDE,SIDE,... SVG-FILE...\n");
        return 2;
    }
    for (qsizetype i = 3; i < args.size(); i++) {
        if (!render(args[i], args[1], sides))
            return 1;
    }
    return 0;
}
