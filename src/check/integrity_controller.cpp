#include "check/integrity_controller.h"

#include "check/boot_check.h"
#include "check/check_sink.h"
#include "log/orva_fun_log.h"

#include <ic/qt/orva_fun_fs.h>

#include <QCoreApplication>

// The report goes to the menu, the records to the module's event log.
class IntegrityController::report final : public check_sink {
public:
    explicit report(IntegrityController &controller)
        : m_controller(controller)
    {
    }

    void info(const QString &fragment) override
    {
        QString msg = fragment;
        emit m_controller.info(msg);
    }
    void log_record(uint32_t type, uint32_t result, const void *parameter, const QString &text) override
    {
        orva_fun_log::object()->append_log_record(type, result, parameter, text);
    }
    void file_record(const QString &path, uint32_t check_flags) override
    {
        orva_fun_log::object()->append_log_record_file_check(path, check_flags);
    }
    void hw_configuration_changed() override { emit m_controller.hw_configuration_has_been_changed(); }
    void hw_check_success() override { emit m_controller.hw_check_success(); }
    // The report is painted as it grows.
    void between_sections() override { QCoreApplication::processEvents(); }
    void busy() override { QCoreApplication::processEvents(); }

private:
    IntegrityController &m_controller;
};

IntegrityController::IntegrityController(orva_handle_t handle, QObject *parent)
    : QObject(parent),
      m_handle(handle)
{
}

IntegrityController::~IntegrityController() = default;

void IntegrityController::set_current_tmid(orva_tmid tmid)
{
    m_tmid = tmid;
}

void IntegrityController::start()
{
    m_check = std::make_unique<boot_check>(m_handle);
    report sink(*this);
    const bool passed = m_check->run(sink);
    // The file check's result stays with the file-system object for the
    // administration pages.
    orva_fun_fs *fs = m_check->files_stored() ? orva_fun_fs::object() : nullptr;
    fs_icl_check_info *check = m_check->take_fs_check();
    // The current-run list is built when a page asks orva_fun_fs for it:
    // here it would read every controlled file a second time.
    emit send_data(fs ? fs->icl() : nullptr, nullptr, fs ? fs->disk_list() : nullptr,
                   fs ? &fs->vmdk_images() : nullptr, check);
    if (fs && check)
        fs->set_check_results(check);
    else
        fs_icl_check_info_destroy(check);
    emit finished(passed);
}
