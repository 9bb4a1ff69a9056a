#include "PageCodeWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "PageCode.h"
#include "platform/QrEncoder.h"

namespace linkmoot {

namespace {

constexpr int kQuietZone = 4;
constexpr int kModulePixels = 6;

QPixmap picture(const QrModules& code) {
    const int side = (code.size + 2 * kQuietZone) * kModulePixels;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    for (int y = 0; y < code.size; y++) {
        for (int x = 0; x < code.size; x++) {
            if (code.at(x, y)) {
                painter.fillRect((x + kQuietZone) * kModulePixels, (y + kQuietZone) * kModulePixels,
                                 kModulePixels, kModulePixels, Qt::black);
            }
        }
    }
    return pixmap;
}

}  // namespace

PageCodeWindow::PageCodeWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Linkmoot: the page for phones"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("Scan the code with the phone's camera to open the page that connects it "
                       "to the line."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    list = new QVBoxLayout;
    layout->addLayout(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
}

void PageCodeWindow::showAddresses(const std::vector<std::string>& addresses) {
    delete holder;
    holder = new QWidget(this);
    auto* column = new QVBoxLayout(holder);
    codes = 0;
    for (const std::string& address : addresses) {
        QrModules code;
        std::string error;
        const QString text = QString::fromStdString(address);
        if (qrcode::encode(address, code, error)) {
            auto* image = new QLabel(holder);
            image->setPixmap(picture(code));
            image->setAlignment(Qt::AlignHCenter);
            image->setAccessibleName(QStringLiteral("QR code of ") + text);
            column->addWidget(image);
            codes++;
        } else {
            column->addWidget(
                new QLabel(QStringLiteral("No code: ") + QString::fromStdString(error), holder));
        }
        auto* label = new QLabel(text, holder);
        label->setAlignment(Qt::AlignHCenter);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        column->addWidget(label);
    }
    list->addWidget(holder);
    adjustSize();
    show();
    raise();
    activateWindow();
}

}  // namespace linkmoot
