#include "module/orva_fun_low_level.h"

#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "module/version.h"

#include <ic/fs/fs_icl_ptr.h>
#include <ic/hd/hd_ptr.h>
#include <ic/hw/hw_ptr.h>
#include <ic/qt/ic_data_area.h>

orva_fun_low_level *orva_fun_low_level::object()
{
    static orva_fun_low_level *instance = new orva_fun_low_level;
    return instance;
}

orva_fun_low_level::orva_fun_low_level()
    : m_init(orva_initialization::object())
{
}

int orva_fun_low_level::initialize_device()
{
    const orva_handle_t handle = m_init->handle();
    if (orva_get_device_state(handle, &m_device_state) != ORVA_OK) {
        m_error_text = QStringLiteral("Ошибка получения состояния устройства.");
        return START_FAILED;
    }
    orva_fun_db *db = orva_fun_db::object();
    switch (m_device_state.state) {
    case ORVA_STATE_NEW:
    case ORVA_STATE_ERASED:
        if (orva_format_database(handle, version::bytes) != ORVA_OK) {
            m_error_text = QStringLiteral("Ошибка форматирования базы пользователей.");
            return START_FAILED;
        }
        if (db->create_default_records() != 0 || initialize_ic() != 0 || initialize_log() != 0)
            return START_FAILED;
        db->set_current_user_name(QString::fromLatin1(db_record::kSupervisor));
        return start_session() == 0 ? START_FORMATTED : START_FAILED;
    case ORVA_STATE_FORMATTED:
        db->set_current_user_name(QString::fromLatin1(db_record::kSupervisor));
        return start_session() == 0 ? START_NO_SUPERVISOR : START_FAILED;
    default:
        return start_session() == 0 ? START_NORMAL : START_FAILED;
    }
}

int orva_fun_low_level::initialize_ic()
{
    // The first reference of a new module: the computer as it is now and an
    // empty file check list. The registry block is left alone.
    ic_data_area area(m_init->handle());
    const QString write_failed = QStringLiteral("Ошибка записи в память контроллера.");
    hw_info *hw = nullptr;
    if (hw_info_get_current(&hw) != HW_OK) {
        m_error_text = QStringLiteral("Ошибка получения списка оборудования.");
        return -1;
    }
    const ic_hw::info_ptr hw_owned(hw);
    if (area.save_hw_info_to_device(hw) != 0) {
        m_error_text = write_failed;
        return -1;
    }
    hd_info *hd = nullptr;
    if (hd_info_get_current(&hd) != 0) {
        m_error_text = QStringLiteral("Ошибка получения списка дисков.");
        return -1;
    }
    const ic_hd::info_ptr hd_owned(hd);
    if (area.save_hd_info_to_device(hd) != 0) {
        m_error_text = write_failed;
        return -1;
    }
    fs_icl *icl = nullptr;
    if (fs_icl_create(&icl) != 0) {
        m_error_text = QStringLiteral("Ошибка создания списка контроля целостности.");
        return -1;
    }
    const ic_fs::icl_ptr icl_owned(icl);
    if (area.save_fs_info_to_device(icl, QList<fs_vmdk_image>()) != 0) {
        m_error_text = write_failed;
        return -1;
    }
    return 0;
}

int orva_fun_low_level::initialize_log()
{
    return orva_fun_log::object()->clear_log();
}

int orva_fun_low_level::start_session()
{
    return orva_fun_log::object()->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString());
}

int orva_fun_low_level::log_in(const orva_tmid &tmid, const orva_xid_t &xid)
{
    if (m_logged_in)
        return -1;
    const int code = orva_login(m_init->handle(), &tmid, &xid);
    if (code == ORVA_OK)
        m_logged_in = 1;
    return code;
}

int orva_fun_low_level::log_out()
{
    if (!m_logged_in)
        return -1;
    if (!m_log_out_required)
        return 0;
    const int code = orva_logout(m_init->handle());
    // The module may have ended the session itself (nobody logged on).
    if (code == ORVA_OK || code == ORVA_E_BAD_PASSWORD || code == ORVA_E_NO_SESSION)
        m_logged_in = 0;
    return code;
}
