// A build-time tool: draws each status picture from its SVG file as PNG files
// at the sizes trays, rows and windows ask for, so that the tray application
// links no SVG library and draws no SVG while it starts.
//
// Usage: linkmoot-render-icons OUTPUT-FOLDER SIDE,SIDE,... SVG-FILE...
// Writes OUTPUT-FOLDER/<name>-<side>.png for each SVG file <name>.svg.
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
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            renderer.render(&painter);
        }
        const QString target = QStringLiteral("%1/%2-%3.png").arg(folder, name).arg(side);
        // Converted back to plain ARGB so the file stores the colours as drawn.
        if (!image.convertToFormat(QImage::Format_ARGB32).save(target, "PNG")) {
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
