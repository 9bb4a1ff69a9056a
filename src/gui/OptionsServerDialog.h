#pragma once
// The server options: port, guard time, reconnect and shutdown minutes, always
// connected, the connection to dial with the dial-up service that offers it,
// and who may vote: the allowed networks and the shared secret.
#include <functional>
#include <string>
#include <vector>

#include "ConfigDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace linkmoot {

class OptionsServerDialog : public ConfigDialog {
    Q_OBJECT
public:
    /// The connection names a dial-up service value (`Server`/`Dialer`) offers.
    using EntryLister = std::function<std::vector<std::string>(const std::string& dialer)>;

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

protected:
    StoreResult store() override;

private:
    void showConnections();
    void onDialerChosen();

    ServerOptionsForm form;
    EntryLister entries;
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
