#include "module/orva_initialization.h"

#include "ui/message.h"

#include <tmid.h>

#include <QString>

orva_initialization *orva_initialization::object()
{
    static orva_initialization *instance = new orva_initialization;
    return instance;
}

int orva_initialization::init()
{
    const QString title = QStringLiteral("Ошибка");
    int code = orva_init(0);
    if (code != ORVA_OK) {
        message::critical(nullptr, title,
                          QStringLiteral("Ошибка при инициализации liborva:%1.").arg(code));
        return -1;
    }
    code = tmid_init();
    if (code != TMID_OK) {
        message::critical(nullptr, title,
                          QStringLiteral("Ошибка при инициализации libtmid: %1.").arg(code));
        return -1;
    }
    code = orva_open_device(0, &m_handle, 0);
    if (code != ORVA_OK) {
        message::critical(nullptr, title, QStringLiteral("Устройство не найдено. Ошибка:%1.").arg(code));
        return -1;
    }
    orva_log_open(m_handle, 100);
    m_initialised = 1;
    return 0;
}

void orva_initialization::exit()
{
    if (m_initialised != 1)
        return;
    orva_log_close(m_handle);
    orva_close_device(m_handle);
    tmid_exit();
    orva_exit(0);
    m_handle = nullptr;
    m_initialised = 0;
}
