#include "StatusIcons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Resources compiled into a static library are registered by hand.
static void registerResources() {
    Q_INIT_RESOURCE(linkmoot);
}

namespace linkmoot {

namespace {

QIcon render(const QString& resource) {
    // Pixmaps at fixed sizes instead of the SVG icon engine: no plugin to load
    // at start, and each picture is drawn exactly once.
    static constexpr int kSizes[] = {16, 22, 24, 32, 48};
    QSvgRenderer renderer(resource);
    QIcon icon;
    for (int size : kSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

StatusIcons::StatusIcons()
    : idle((registerResources(), render(QStringLiteral(":/icons/idle.svg")))),
      connected(render(QStringLiteral(":/icons/connected.svg"))),
      disabled(render(QStringLiteral(":/icons/disabled.svg"))),
      voting(render(QStringLiteral(":/icons/voting.svg"))) {}

const QIcon& StatusIcons::icon(StatusIcon which) const {
    switch (which) {
        case StatusIcon::Connected:
            return connected;
        case StatusIcon::Disabled:
            return disabled;
        case StatusIcon::Voting:
            return voting;
        case StatusIcon::Idle:
            break;
    }
    return idle;
}

}  // namespace linkmoot
