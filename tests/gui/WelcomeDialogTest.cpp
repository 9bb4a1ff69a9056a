// The welcome dialog: its title and texts, no close box, Configure as the
// default button, Exit and Escape as the way out.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "StatusIcons.h"
#include "WelcomeDialog.h"

using namespace linkmoot;

class WelcomeDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsTheWelcomeWithoutACloseBox() {
        StatusIcons icons;
        WelcomeDialog dialog(icons.icon(StatusIcon::Idle));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Welcome to the Linkmoot!"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(dialog.configureButton()->text(), QStringLiteral("Configure"));
        QCOMPARE(dialog.exitButton()->text(), QStringLiteral("Exit"));
        QVERIFY(dialog.configureButton()->isDefault());

        QStringList texts;
        bool picture = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->pixmap().isNull())
                picture = true;
            if (!label->text().isEmpty())
                texts << label->text();
        }
        QVERIFY(picture);
        QCOMPARE(texts.size(), 6);
        QVERIFY(texts.first().startsWith(QStringLiteral("Welcome to the Linkmoot!\n\n")));
        QCOMPARE(
            texts.last(),
            QStringLiteral("Please take a moment now to configure this instance of the Linkmoot."));
    }

    void configureAcceptsExitAndEscapeReject() {
        StatusIcons icons;
        {
            WelcomeDialog dialog(icons.icon(StatusIcon::Idle));
            dialog.show();
            dialog.configureButton()->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        {
            WelcomeDialog dialog(icons.icon(StatusIcon::Idle));
            dialog.show();
            dialog.exitButton()->click();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        {
            WelcomeDialog dialog(icons.icon(StatusIcon::Idle));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
    }
};

QTEST_MAIN(WelcomeDialogTest)
#include "WelcomeDialogTest.moc"
