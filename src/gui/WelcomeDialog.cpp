#include "WelcomeDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace linkmoot {

namespace {

constexpr const char* kTexts[] = {
    "Welcome to the Linkmoot!\n\nThis tool helps you to share your RAS connection\n(usually your "
    "Internet modem dial-up) within your LAN.",
    "The Linkmoot server automatically connects if requested by any client, and disconnects again "
    "if no client needs the connection anymore.",
    "The Server automatically checks whether all the clients have revoked their connection vote, "
    "so you don't have the problem that a client closes the connection while another one still "
    "requires it.",
    "The Linkmoot does not rely on application activity to connect, so automatically updating "
    "software like Windows won't cause any unwanted (and maybe expensive) connections.",
    "Instead, you have an easy-to-use Client control to connect manually.",
    "Please take a moment now to configure this instance of the Linkmoot.",
};

}  // namespace

WelcomeDialog::WelcomeDialog(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    // No close box: the choice is Configure or Exit.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Welcome to the Linkmoot!"));
    setModal(true);

    auto* layout = new QHBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(icon.pixmap(32, 32));
    picture->setAlignment(Qt::AlignTop);
    layout->addWidget(picture);

    auto* column = new QVBoxLayout;
    layout->addLayout(column);
    for (const char* text : kTexts) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        column->addWidget(label);
    }

    auto* buttons = new QDialogButtonBox(this);
    configure = buttons->addButton(QStringLiteral("Configure"), QDialogButtonBox::AcceptRole);
    exit = buttons->addButton(QStringLiteral("Exit"), QDialogButtonBox::RejectRole);
    configure->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    setMinimumWidth(460);
}

}  // namespace linkmoot
