#include "GuiFrontEnd.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "Linkmoot.h"
#include "OptionsClientDialog.h"
#include "OptionsModeDialog.h"
#include "OptionsServerDialog.h"
#include "Strings.h"
#include "WelcomeDialog.h"

namespace linkmoot {

GuiFrontEnd::GuiFrontEnd(Linkmoot& app) : app(app) {
    app.setFrontEnd(this);
    mainFrame = std::make_unique<MainFrame>(static_cast<FrameHost&>(*this));
    mainFrame->refresh();
}

GuiFrontEnd::~GuiFrontEnd() = default;

bool GuiFrontEnd::showWelcomeDialog() {
    WelcomeDialog dialog(mainFrame->statusIcons().icon(StatusIcon::Idle), mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showModeDialog() {
    OptionsModeDialog dialog(app.getConfigRoot(), mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showClientOptionsDialog() {
    OptionsClientDialog dialog(app.getConfigRoot(), mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showServerOptionsDialog() {
    OptionsServerDialog dialog(
        app.getConfigRoot(), [this](const std::string& dialer) { return app.dialEntries(dialer); },
        mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::askYesNo(int stringId) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(loadString(StringId::Caption)),
                    QString::fromUtf8(loadString(stringId)), QMessageBox::Yes | QMessageBox::No,
                    mainFrame.get());
    return box.exec() == QMessageBox::Yes;
}

void GuiFrontEnd::refreshViews() {
    mainFrame->refresh();
}

void GuiFrontEnd::showStatusWindow() {
    mainFrame->showStatus();
}

void GuiFrontEnd::hideStatusWindow() {
    mainFrame->hideStatus();
}

void GuiFrontEnd::openDocument(const std::string& pathOrAddress) {
    const QString text = QString::fromStdString(pathOrAddress);
    const QUrl url = text.contains(QStringLiteral("://")) ? QUrl(text) : QUrl::fromLocalFile(text);
    QDesktopServices::openUrl(url);
}

void GuiFrontEnd::quit() {
    quitting = true;
    mainFrame->closeForGood();
    // Leaves every running loop, nested dialogs included.
    QCoreApplication::quit();
}

void GuiFrontEnd::tick() {
    app.tick();
}

void GuiFrontEnd::onCommand(int commandId) {
    app.onCommand(commandId);
}

StatusSnapshot GuiFrontEnd::status() {
    return app.status();
}

}  // namespace linkmoot
