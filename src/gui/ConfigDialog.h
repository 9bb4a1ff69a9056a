#pragma once
// Base of the mode and options dialogs: OK stores the form field by field; a
// refused field gets its message in an error box, then the focus (with its
// text selected) and the dialog stays open.
#include <QDialog>

#include "DialogForms.h"

class QDialogButtonBox;

namespace linkmoot {

class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    /// The control of a form's control id (DialogForms.h), or null.
    virtual QWidget* control(int controlId) const = 0;

    /// Stores; closes with OK unless a field is refused.
    void accept() override;

protected:
    ConfigDialog(Settings settings, QWidget* parent);
    /// OK and Cancel, wired to accept() and reject().
    QDialogButtonBox* makeButtons();
    /// Copies the controls into the form and stores it.
    virtual StoreResult store() = 0;

    Settings settings;

private:
    void refuse(const StoreResult& result);
};

}  // namespace linkmoot
