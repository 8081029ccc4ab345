#include <QtTest>
class event_log_test : public QObject { Q_OBJECT };
QTEST_MAIN(event_log_test)
#include "event_log_test.moc"
