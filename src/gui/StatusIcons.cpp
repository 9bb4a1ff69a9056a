#include "StatusIcons.h"

#include <QApplication>
#include <QFile>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>

// Resources compiled into a static library are registered by hand.
static void registerResources() {
    Q_INIT_RESOURCE(linkmoot);
}

namespace linkmoot {

namespace {

// The sides the build drew each picture at (as <name>-<side>.rgba: bare
// premultiplied RGBA pixels, see RenderIcons.cpp), smallest first.
constexpr int kStoredSides[] = {LINKMOOT_ICON_SIDES};

// The stored side that draws `side` best: the same, else the next larger one
// (scaled down), else the largest (scaled up).
int storedSideFor(int side) {
    for (int stored : kStoredSides) {
        if (stored >= side)
            return stored;
    }
    return kStoredSides[std::size(kStoredSides) - 1];
}

// A stored picture of `side` pixels square; null when the file is missing or
// of another size.
QImage readPixels(const QString& path, int side) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QImage image(side, side, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull() || bytes.size() != image.sizeInBytes())
        return {};
    std::memcpy(image.bits(), bytes.constData(), static_cast<size_t>(bytes.size()));
    return image;
}

// Reads a picture's file at each size the first time it is asked for and
// keeps it. Our own engine rather than Qt's pixmap engine: that one reads
// every file it is given at once, while the tray icon needs one picture of
// four at one size; the pictures were drawn from their SVG files at build
// time, so no SVG library is loaded or run at start, and they are bare pixels,
// so no image reader looks through Qt's image format plugins either.
class StoredIconEngine : public QIconEngine {
public:
    explicit StoredIconEngine(QString name) : name(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const int side = qMax(1, qMin(size.width(), size.height()));
        QPixmap& normal = drawn[side];
        if (normal.isNull())
            normal = read(side);
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
        auto* copy = new StoredIconEngine(name);
        copy->drawn = drawn;
        return copy;
    }

    QString key() const override { return QStringLiteral("linkmoot-stored"); }

private:
    QPixmap read(int side) const {
        const int stored = storedSideFor(side);
        const QImage file =
            readPixels(QStringLiteral(":/icons/%1-%2.rgba").arg(name).arg(stored), stored);
        if (file.isNull()) {
            // Never for a sound build; a blank picture of the size asked for
            // keeps every caller's sizes right.
            QPixmap blank(side, side);
            blank.fill(Qt::transparent);
            return blank;
        }
        if (stored == side)
            return QPixmap::fromImage(file);
        return QPixmap::fromImage(
            file.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }

    QString name;
    std::map<int, QPixmap> drawn;
};

QIcon load(const QString& name) {
    return QIcon(new StoredIconEngine(name));
}

}  // namespace

StatusIcons::StatusIcons()
    : idle((registerResources(), load(QStringLiteral("idle")))),
      connected(load(QStringLiteral("connected"))),
      disabled(load(QStringLiteral("disabled"))),
      voting(load(QStringLiteral("voting"))) {}

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
