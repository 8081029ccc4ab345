#include <QtTest>
class message_test : public QObject { Q_OBJECT };
QTEST_MAIN(message_test)
#include "message_test.moc"
