// The boot-time integrity check of a logon: started by the post-logon menu,
// it runs the check and sends each report fragment to the menu (info), the
// violations to the event log, and the verdict (finished).
#ifndef ORVA_CHECK_INTEGRITY_CONTROLLER_H
#define ORVA_CHECK_INTEGRITY_CONTROLLER_H

#include "module/meta_types.h"

#include <ic/fs/fs_icl.h>
#include <ic/qt/fs_vmdk_image.h>

#include <orva.h>

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class boot_check;

class IntegrityController : public QObject {
    Q_OBJECT

public:
    explicit IntegrityController(orva_handle_t handle, QObject *parent = nullptr);
    ~IntegrityController() override;

    // The check of the last start() (null before the first).
    const boot_check *check() const { return m_check.get(); }
    const orva_tmid &current_tmid() const { return m_tmid; }

signals:
    void finished(bool ic_result);
    void info(QString &msg);
    void hw_configuration_has_been_changed();
    // The stored and the current-run file check lists, the disk list, the
    // registered images and the file check's result (null when the file
    // section did not run), before finished.
    void send_data(fs_icl *icl, fs_icl *sessionicl, fs_disk_list *disk_list,
                   QList<fs_vmdk_image> *_vmdk_disk_list, fs_icl_check_info *check);
    void hw_check_success();
    void initialize_icl();

public slots:
    void set_current_tmid(orva_tmid tmid);
    // Runs the whole check, then emits finished.
    void start();

private:
    class report;

    orva_handle_t m_handle;
    orva_tmid m_tmid{};
    std::unique_ptr<boot_check> m_check;
};

#endif
