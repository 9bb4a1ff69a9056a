#pragma once
// The client options: the server's address and port (typed, "auto", or
// chosen from the servers found on the LAN, which the list shows as they
// come), Wake-on-LAN, voting at start, the shared secret and the notifications.
#include "ConfigDialog.h"
#include "FrontEnd.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace linkmoot {

class OptionsClientDialog : public ConfigDialog {
    Q_OBJECT
public:
    OptionsClientDialog(Settings settings, FrontEnd::ServerLister servers = {},
                        QWidget* parent = nullptr);

    QWidget* control(int controlId) const override;
    /// The server's text as typed (the combo box's edit field).
    QLineEdit* serverField() const;
    QComboBox* serverChoice() const { return server; }
    /// Fills the list from the lister again (a timer does it while open).
    void refreshServers();
    QLineEdit* portField() const { return port; }
    QCheckBox* wakeOnLanBox() const { return wakeOnLan; }
    QLineEdit* macField() const { return mac; }
    QCheckBox* autoVoteBox() const { return autoVote; }
    QLineEdit* secretField() const { return secret; }
    QPushButton* generateButton() const { return generate; }
    QCheckBox* notifyBox() const { return notify; }

protected:
    StoreResult store() override;

private:
    /// The buttons, the check box and the server list's choice and refresh.
    void connectControls();
    ClientOptionsForm form;
    FrontEnd::ServerLister lister;
    std::vector<FoundServer> shown;
    QComboBox* server;
    QLineEdit* port;
    QCheckBox* wakeOnLan;
    QLineEdit* mac;
    QCheckBox* autoVote;
    QLineEdit* secret;
    QPushButton* generate;
    QCheckBox* notify;
};

}  // namespace linkmoot
