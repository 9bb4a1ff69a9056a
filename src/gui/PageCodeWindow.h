#pragma once
// The window a phone's camera reads: a QR code of the web page's address for
// each interface the server meets its LAN on, each with the address under it
// (never the page's password). It stays open beside the tray while the user
// scans; showing it again brings it up with the addresses of now.
#include <QDialog>
#include <string>
#include <vector>

class QVBoxLayout;

namespace linkmoot {

class PageCodeWindow : public QDialog {
    Q_OBJECT
public:
    explicit PageCodeWindow(QWidget* parent = nullptr);
    /// Draws one code per address (a line saying why when one cannot be made).
    void showAddresses(const std::vector<std::string>& addresses);
    /// How many codes are drawn now, for tests.
    int codeCount() const { return codes; }

private:
    QVBoxLayout* list;
    QWidget* holder = nullptr;
    int codes = 0;
};

}  // namespace linkmoot
