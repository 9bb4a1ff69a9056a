#pragma once
// The client options: the server's address and port, Wake-on-LAN, voting at
// start, the shared secret and the notifications.
#include "ConfigDialog.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace linkmoot {

class OptionsClientDialog : public ConfigDialog {
    Q_OBJECT
public:
    OptionsClientDialog(Settings settings, QWidget* parent = nullptr);

    QWidget* control(int controlId) const override;
    QLineEdit* serverField() const { return server; }
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
    ClientOptionsForm form;
    QLineEdit* server;
    QLineEdit* port;
    QCheckBox* wakeOnLan;
    QLineEdit* mac;
    QCheckBox* autoVote;
    QLineEdit* secret;
    QPushButton* generate;
    QCheckBox* notify;
};

}  // namespace linkmoot
