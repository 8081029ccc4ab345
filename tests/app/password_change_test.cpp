#include <QtTest>

class password_change_test : public QObject {
    Q_OBJECT
private slots:
    void nothing_yet() {}
};

QTEST_APPLESS_MAIN(password_change_test)
#include "password_change_test.moc"
