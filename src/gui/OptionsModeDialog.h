#pragma once
// The mode dialog: client or server for this computer.
#include "ConfigDialog.h"

class QRadioButton;

namespace linkmoot {

class OptionsModeDialog : public ConfigDialog {
    Q_OBJECT
public:
    /// Loads the form from the tree; neither button is on for an unknown mode.
    OptionsModeDialog(Settings settings, QWidget* parent = nullptr);

    QWidget* control(int controlId) const override;
    QRadioButton* clientButton() const { return clientRadio; }
    QRadioButton* serverButton() const { return serverRadio; }

protected:
    StoreResult store() override;

private:
    ModeForm form;
    QRadioButton* clientRadio;
    QRadioButton* serverRadio;
};

}  // namespace linkmoot
