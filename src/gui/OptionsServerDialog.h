#pragma once
// The server options: port, guard time, reconnect and shutdown minutes, always
// connected, the connection to dial with the dial-up service that offers it,
// and who may vote: the allowed networks and the shared secret.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ConfigDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;

namespace linkmoot {

class OptionsServerDialog : public ConfigDialog {
    Q_OBJECT
public:
    /// Asks for the connections a dial-up service value (`Server`/`Dialer`)
    /// offers; they reach the callback once, at once or later from any thread.
    using EntryLister =
        std::function<void(const std::string& dialer, DialService::EntriesCallback done)>;

    OptionsServerDialog(Settings settings, EntryLister entries, QWidget* parent = nullptr);

    QWidget* control(int controlId) const override;
    QLineEdit* portField() const { return port; }
    QLineEdit* guardTimeField() const { return guardTime; }
    QCheckBox* reconnectBox() const { return reconnect; }
    QLineEdit* reconnectField() const { return reconnectMinutes; }
    QCheckBox* shutdownBox() const { return shutdown; }
    QLineEdit* shutdownField() const { return shutdownMinutes; }
    QCheckBox* alwaysConnectedBox() const { return alwaysConnected; }
    QCheckBox* retryBackoffBox() const { return retryBackoff; }
    QComboBox* dialerList() const { return dialer; }
    QComboBox* connectionList() const { return connection; }
    QLineEdit* userNameField() const { return userName; }
    QLineEdit* passwordField() const { return password; }
    QCheckBox* webPageBox() const { return webPage; }
    QLineEdit* webPortField() const { return webPort; }
    QLineEdit* allowedNetworksField() const { return allowedNetworks; }
    QLineEdit* secretField() const { return secret; }
    QPushButton* generateButton() const { return generate; }
    /// True while the chosen service's list has not arrived.
    bool readingEntries() const { return pendingEntries != nullptr; }

protected:
    StoreResult store() override;

private:
    /// Reads the settings into the form and shows it; asks for the connections.
    void showForm();
    /// A list on its way from a service's thread. Shared with the callback,
    /// so an answer after the dialog has gone lands nowhere harmful.
    struct EntriesAnswer {
        std::mutex mutex;
        std::optional<std::vector<DialEntry>> entries;
    };

    void requestEntries(bool keepStoredChoice);
    void takeEntries();
    void showConnections();
    void onDialerChosen();

    ServerOptionsForm form;
    EntryLister entries;
    std::shared_ptr<EntriesAnswer> pendingEntries;
    QTimer* entriesTimer;
    QLineEdit* port;
    QLineEdit* guardTime;
    QCheckBox* reconnect;
    QLineEdit* reconnectMinutes;
    QCheckBox* shutdown;
    QLineEdit* shutdownMinutes;
    QCheckBox* alwaysConnected;
    QCheckBox* retryBackoff;
    QComboBox* dialer;
    QComboBox* connection;
    QLineEdit* userName;
    QLineEdit* password;
    QCheckBox* webPage;
    QLineEdit* webPort;
    QLineEdit* allowedNetworks;
    QLineEdit* secret;
    QPushButton* generate;
};

}  // namespace linkmoot
