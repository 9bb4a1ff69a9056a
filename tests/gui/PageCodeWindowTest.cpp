// The window of the page's codes: one code per address, the address under
// each, drawn again with the addresses of now when shown again.
#include <QLabel>
#include <QtTest>

#include "PageCodeWindow.h"

using namespace linkmoot;

class PageCodeWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void drawsACodeAndTheAddressForEachAddress() {
        PageCodeWindow window;
        window.showAddresses({"http://192.0.2.1:8080/", "http://198.51.100.1:8080/"});
        QVERIFY(window.isVisible());
        QCOMPARE(window.codeCount(), 2);
        QStringList texts;
        for (const QLabel* label : window.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("http://198.51.100.1:8080/")));

        window.showAddresses({"http://192.0.2.1:8080/"});
        QCOMPARE(window.codeCount(), 1);
        for (const QLabel* label : window.findChildren<QLabel*>())
            QVERIFY(label->text() != QStringLiteral("http://198.51.100.1:8080/"));
    }
};

QTEST_MAIN(PageCodeWindowTest)
#include "PageCodeWindowTest.moc"
