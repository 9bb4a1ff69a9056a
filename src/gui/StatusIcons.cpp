#include "StatusIcons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <map>
#include <memory>
#include <utility>

// Resources compiled into a static library are registered by hand.
static void registerResources() {
    Q_INIT_RESOURCE(linkmoot);
}

namespace linkmoot {

namespace {

// Reads the picture when it is first drawn, and draws it at each size the
// first time it is asked for and keeps it. Our own engine rather than Qt's SVG
// icon plugin: no plugin is looked up and loaded at start, and nothing is read
// or drawn before a tray, row or window needs it, so the tray icon appears
// sooner (it needs one picture of four).
class SvgIconEngine : public QIconEngine {
public:
    explicit SvgIconEngine(QString resource) : resource(std::move(resource)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const int side = qMax(1, qMin(size.width(), size.height()));
        QPixmap& normal = drawn[side];
        if (normal.isNull()) {
            if (!renderer)
                renderer = std::make_shared<QSvgRenderer>(resource);
            normal = QPixmap(side, side);
            normal.fill(Qt::transparent);
            QPainter painter(&normal);
            renderer->render(&painter);
        }
        if (mode == QIcon::Normal || mode == QIcon::Active)
            return normal;
        QStyleOption option;
        option.palette = QApplication::palette();
        return QApplication::style()->generatedIconPixmap(mode, normal, &option);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QIconEngine* clone() const override {
        auto* copy = new SvgIconEngine(resource);
        copy->renderer = renderer;
        copy->drawn = drawn;
        return copy;
    }

    QString key() const override { return QStringLiteral("linkmoot-svg"); }

private:
    QString resource;
    std::shared_ptr<QSvgRenderer> renderer;  // read at the first drawing
    std::map<int, QPixmap> drawn;
};

QIcon load(const QString& resource) {
    return QIcon(new SvgIconEngine(resource));
}

}  // namespace

StatusIcons::StatusIcons()
    : idle((registerResources(), load(QStringLiteral(":/icons/idle.svg")))),
      connected(load(QStringLiteral(":/icons/connected.svg"))),
      disabled(load(QStringLiteral(":/icons/disabled.svg"))),
      voting(load(QStringLiteral(":/icons/voting.svg"))) {}

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
