#include "GuiFrontEnd.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "Linkmoot.h"
#include "OptionsClientDialog.h"
#include "OptionsModeDialog.h"
#include "OptionsServerDialog.h"
#include "PageCodeWindow.h"
#include "Strings.h"
#include "TrayIcon.h"
#include "WelcomeDialog.h"

namespace linkmoot {

GuiFrontEnd::GuiFrontEnd() : mainFrame(std::make_unique<MainFrame>()) {}

void driveCommands(MainFrame& frame, Linkmoot& app) {
    QObject::connect(&frame, &MainFrame::commandChosen, &frame,
                     [&app](int commandId) { app.onCommand(commandId); });
}

GuiFrontEnd::~GuiFrontEnd() = default;

bool GuiFrontEnd::showWelcomeDialog() {
    WelcomeDialog dialog(mainFrame->statusIcons().icon(StatusIcon::Idle), mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showModeDialog(const Settings& settings) {
    OptionsModeDialog dialog(settings, mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showClientOptionsDialog(const Settings& settings, const ServerLister& servers) {
    OptionsClientDialog dialog(settings, servers, mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::showServerOptionsDialog(const Settings& settings, const EntryLister& entries) {
    OptionsServerDialog dialog(settings, entries, mainFrame.get());
    return dialog.exec() == QDialog::Accepted;
}

bool GuiFrontEnd::askYesNo(int stringId) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(loadString(StringId::Caption)),
                    QString::fromUtf8(loadString(stringId)), QMessageBox::Yes | QMessageBox::No,
                    mainFrame.get());
    return box.exec() == QMessageBox::Yes;
}

void GuiFrontEnd::refreshViews(const std::shared_ptr<const StatusSnapshot>& status) {
    mainFrame->refresh(*status);
}

void GuiFrontEnd::showStatusWindow() {
    mainFrame->showStatus();
}

void GuiFrontEnd::showUsageWindow(std::function<UsageWindowFigures()> figures) {
    if (!figures) {
        if (usage)
            usage->setSource(nullptr);
        return;
    }
    if (!usage)
        usage = std::make_unique<UsageWindow>();
    usage->setSource(std::move(figures));
    usage->show();
    usage->raise();
    usage->activateWindow();
}

void GuiFrontEnd::hideStatusWindow() {
    mainFrame->hideStatus();
}

void GuiFrontEnd::openDocument(const std::string& pathOrAddress) {
    const QString text = QString::fromStdString(pathOrAddress);
    const QUrl url = text.contains(QStringLiteral("://")) ? QUrl(text) : QUrl::fromLocalFile(text);
    QDesktopServices::openUrl(url);
}

void GuiFrontEnd::notify(const std::string& text) {
    QSystemTrayIcon& icon = mainFrame->trayIcon().icon();
    if (icon.isVisible())
        icon.showMessage(QStringLiteral("Linkmoot"), QString::fromStdString(text));
}

void GuiFrontEnd::showPageCode(const std::vector<std::string>& addresses) {
    // A window of its own, not owned by the hidden main window: it stays
    // beside the tray while the phone scans.
    if (!pageCode)
        pageCode = std::make_unique<PageCodeWindow>();
    pageCode->showAddresses(addresses);
}

void GuiFrontEnd::quit() {
    quitting = true;
    mainFrame->closeForGood();
    // Leaves every running loop, nested dialogs included.
    QCoreApplication::quit();
}

}  // namespace linkmoot
