#pragma once
// Drives modal windows from inside their own event loop: every few
// milliseconds it looks at the active modal window and hands it to the script
// (once per window). Message boxes are recorded and answered on their own.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

namespace linkmoot::testing {

class ModalDriver : public QObject {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QWidget* focusBefore;  ///< the focus widget of the box's parent when it opened
    };

    /// Called for each new modal window that is not a message box.
    std::function<void(QWidget*)> onWindow;
    /// The button that answers each message box.
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::vector<Box> boxes;

    ModalDriver() {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &ModalDriver::look);
        timer.start();
    }

private:
    void look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        for (const QPointer<QWidget>& known : seen) {
            if (known == modal)
                return;
        }
        seen.emplace_back(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QWidget* parent = box->parentWidget();
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                             parent ? parent->focusWidget() : nullptr});
            if (QAbstractButton* button = box->button(answer))
                button->click();
            return;
        }
        // Outside this timer's call, so the driver still answers a message box
        // that the script's actions open.
        QMetaObject::invokeMethod(
            this,
            [this, window = QPointer<QWidget>(modal)] {
                if (window && onWindow)
                    onWindow(window);
            },
            Qt::QueuedConnection);
    }

    QTimer timer;
    std::vector<QPointer<QWidget>> seen;
};

}  // namespace linkmoot::testing
