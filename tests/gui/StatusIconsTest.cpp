// The status pictures: each comes at the size asked for, from a stored size or
// scaled from the nearest one (every stored file is read once here), the four
// differ, and a disabled look is derived rather than left blank.
#include <QApplication>
#include <QImage>
#include <QtTest>

#include "StatusIcons.h"

using namespace linkmoot;

namespace {

// Pixels that are not fully transparent: something was drawn.
int paintedPixels(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int painted = 0;
    for (int y = 0; y < image.height(); y++) {
        for (int x = 0; x < image.width(); x++)
            painted += qAlpha(image.pixel(x, y)) != 0 ? 1 : 0;
    }
    return painted;
}

}  // namespace

class StatusIconsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachPictureIsDrawnAtTheSizeAskedFor() {
        StatusIcons icons;
        for (StatusIcon which :
             {StatusIcon::Idle, StatusIcon::Connected, StatusIcon::Disabled, StatusIcon::Voting}) {
            // 20 from the 22 file, 200 from the largest (128).
            for (int side : {16, 20, 24, 32, 48, 64, 200}) {
                const QPixmap pixmap = icons.icon(which).pixmap(side, side);
                QCOMPARE(pixmap.size(), QSize(side, side));
                QVERIFY2(paintedPixels(pixmap) > side, "an empty picture");
            }
        }
    }

    void theFourPicturesDifferAndStayTheSameObjects() {
        StatusIcons icons;
        QSet<QByteArray> seen;
        for (StatusIcon which :
             {StatusIcon::Idle, StatusIcon::Connected, StatusIcon::Disabled, StatusIcon::Voting}) {
            const QImage image = icons.icon(which).pixmap(22, 22).toImage();
            seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                   static_cast<int>(image.sizeInBytes())));
            QCOMPARE(icons.key(which), icons.icon(which).cacheKey());
        }
        QCOMPARE(seen.size(), 4);
    }

    void aDisabledLookIsDerived() {
        StatusIcons icons;
        const QIcon& icon = icons.icon(StatusIcon::Connected);
        const QImage normal = icon.pixmap(22, 22).toImage();
        const QImage greyed = icon.pixmap(QSize(22, 22), QIcon::Disabled).toImage();
        QVERIFY(paintedPixels(QPixmap::fromImage(greyed)) > 0);
        QVERIFY(normal != greyed);
    }
};

QTEST_MAIN(StatusIconsTest)
#include "StatusIconsTest.moc"
