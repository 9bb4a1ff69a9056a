#pragma once
// The welcome dialog of the first start: "Configure" goes on to the
// configuration, "Exit" (or Escape) ends the program. It reads and writes nothing.
#include <QDialog>

class QPushButton;

namespace linkmoot {

class WelcomeDialog : public QDialog {
    Q_OBJECT
public:
    explicit WelcomeDialog(const QIcon& icon, QWidget* parent = nullptr);

    QPushButton* configureButton() const { return configure; }
    QPushButton* exitButton() const { return exit; }

private:
    QPushButton* configure;
    QPushButton* exit;
};

}  // namespace linkmoot
