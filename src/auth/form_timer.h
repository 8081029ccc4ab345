// A repeating event-loop timer of a form. Tests switch every form timer to
// manual mode and deliver the ticks themselves, so that count-downs of
// seconds run without waiting.
#ifndef ORVA_AUTH_FORM_TIMER_H
#define ORVA_AUTH_FORM_TIMER_H

#include <QObject>
#include <QTimer>

class form_timer : public QObject {
    Q_OBJECT

public:
    explicit form_timer(QObject *parent = nullptr);

    // Starts (or restarts) the timer with this interval in milliseconds.
    void start(int interval_ms);
    void stop();
    bool is_active() const { return m_active; }
    int interval() const { return m_interval; }

    // Manual mode: started timers never fire on their own, only through
    // fire(). Applies to timers started afterwards.
    static void set_manual(bool manual);

    // One tick as if the interval had passed; false (and no tick) when the
    // timer is stopped.
    bool fire();

signals:
    void timeout();

private:
    QTimer m_timer;
    int m_interval = 0;
    bool m_active = false;
};

#endif
