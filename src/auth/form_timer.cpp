#include "auth/form_timer.h"

namespace {
bool g_manual = false;
}

form_timer::form_timer(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &form_timer::timeout);
}

void form_timer::start(int interval_ms)
{
    m_interval = interval_ms;
    m_active = true;
    if (g_manual)
        m_timer.stop();
    else
        m_timer.start(interval_ms);
}

void form_timer::stop()
{
    m_active = false;
    m_timer.stop();
}

void form_timer::set_manual(bool manual)
{
    g_manual = manual;
}

bool form_timer::fire()
{
    if (!m_active)
        return false;
    emit timeout();
    return true;
}
