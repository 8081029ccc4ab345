// The identification/authentication block handed to the operating system.
#include "module/orva_fun_db.h"

#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_device_info.h"
#include "module/orva_fun_low_level.h"
#include "ui/message.h"

#include <algorithm>
#include <cstring>

void orva_fun_db::set_selected_user_pr_key(const uint8_t key[ORVA_PRIVATE_KEY_SIZE])
{
    std::memcpy(m_selected_user_key, key, sizeof m_selected_user_key);
}

void orva_fun_db::wipe_ia_data()
{
    explicit_bzero(&m_ia, sizeof m_ia);
    explicit_bzero(m_selected_user_key, sizeof m_selected_user_key);
}

int orva_fun_db::get_iadata()
{
    const std::optional<orva_db_record> record = get_current_record();
    if (!record)
        return -1;
    std::memcpy(m_ia.name, record->name, sizeof m_ia.name);
    m_ia.tmid = record->tmid;
    m_ia_mask = record->ia_mask;
    m_ia.os_flags = 0;
    if (m_start_nirun == 1 && record->admin) {
        m_ia.os_flags = kIaOsStartNirun;
        orva_fun_log::object()->append_log_record(LOG_NIRUN_OFF, LOG_OK, nullptr, QString());
    }
    return 0;
}

int orva_fun_db::set_iadata()
{
    if (orva_iares_get_ws_private_key(handle(), m_ia.ws_key) != ORVA_OK)
        std::memset(m_ia.ws_key, 0, sizeof m_ia.ws_key);
    // Without the current user's record nothing of the user may reach the
    // operating system: an empty mask clears every part.
    if (get_iadata() != 0)
        m_ia_mask = 0;

    const int mask = m_ia_mask;
    if (!(mask & db_record::IA_TMID))
        std::memset(&m_ia.tmid, 0, sizeof m_ia.tmid);
    if (!(mask & db_record::IA_WS_KEY))
        std::memset(m_ia.ws_key, 0, sizeof m_ia.ws_key);
    if (!(mask & db_record::IA_USER_KEY))
        std::memset(m_ia.user_key, 0, sizeof m_ia.user_key);
    if (!(mask & db_record::IA_NAME))
        std::memset(m_ia.name, 0, sizeof m_ia.name);
    if (!(mask & db_record::IA_PASSWORD))
        std::memset(m_ia.password, 0, sizeof m_ia.password);
    if (!(mask & db_record::IA_OS_FLAGS))
        m_ia.os_flags &= kIaOsStartNirun;
    if (!(mask & db_record::IA_USER_NUMBER))
        m_ia.user_number = 0;
    if (!(mask & db_record::IA_ACCESS_LEVEL))
        m_ia.access_level = 0;

    orva_fun_low_level::object()->setIsLogOutRequired(!(mask & db_record::IA_ACCESS_LEVEL));

    const int code = orva_save_ia_data(handle(), &m_ia);
    // Stored or not, the password and the keys leave this process's memory.
    wipe_ia_data();
    if (code != ORVA_OK) {
        message::critical(nullptr, QStringLiteral("Ошибка"),
                          QStringLiteral("Не удалось сохранить данные И/А: %1.").arg(code));
        return code;
    }
    return 0;
}

void orva_fun_db::update_ia_data(const orva_db_record &record, const QString &password)
{
    if (db_record::name(record.name) != m_current_user_name)
        return;
    QByteArray bytes = password.toLatin1();
    std::memset(m_ia.password, 0, sizeof m_ia.password);
    if (OrvaDeviceInfo().getOrvaDevClass() == ORVA_DEV_CLASS_1) {
        // Length byte, then at most 12 characters.
        const size_t length = std::min<size_t>(static_cast<size_t>(bytes.size()), sizeof m_ia.password - 1);
        m_ia.password[0] = static_cast<uint8_t>(length);
        std::memcpy(m_ia.password + 1, bytes.constData(), length);
    } else {
        const size_t length = std::min<size_t>(static_cast<size_t>(bytes.size()), sizeof m_ia.password);
        std::memcpy(m_ia.password, bytes.constData(), length);
    }
    explicit_bzero(bytes.data(), static_cast<size_t>(bytes.size()));
    std::memcpy(m_ia.user_key, m_selected_user_key, sizeof m_ia.user_key);
}
