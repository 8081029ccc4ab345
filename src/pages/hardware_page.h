// The hardware page: the stored hardware inventory next to the current one
// (those of the program's reference holders: what the boot-time check
// compared), class by class; the check flags of classes, devices and
// parameters; the recount (a fresh scan becomes the stored inventory) and
// the saving of the stored inventory into the module.
#ifndef ORVA_PAGES_HARDWARE_PAGE_H
#define ORVA_PAGES_HARDWARE_PAGE_H

#include <ic/hw/hw_info.h>

#include <orva.h>

#include <QList>
#include <QWidget>

#include <memory>

class QAction;
class QCheckBox;
class QTableView;
class bios_hash_table_model;
class hardware_table_model;

namespace Ui {
class hardware_page;
}

class hardware_page : public QWidget {
    Q_OBJECT

public:
    explicit hardware_page(QWidget *parent = nullptr);
    ~hardware_page() override;

    // The page's save and recount actions (enabled and disabled here).
    void set_actions(QAction *save, QAction *recount);

    // Set after a recount: the class check boxes are copied into the stored
    // inventory when the models are built.
    bool get_hw_init_flag() const { return m_init; }
    void set_hw_init_flag(bool init) { m_init = init; }

    // Nothing could be read from the module but the computer was scanned:
    // only a recount gives the page something to approve.
    bool needs_recount() const;

    const hw_info *stored() const;
    const hw_info *current() const;
    hardware_table_model *model(uint32_t hw_class) const;
    bios_hash_table_model *bios_hash_model() const { return m_bios_hash.get(); }
    QCheckBox *class_checkbox(uint32_t hw_class) const;
    // Processor, BIOS, BIOS digests, memory, media, USB, PCI, monitor.
    QList<QTableView *> table_views() const;

    // Unless the holders have compared them already (the boot-time check
    // did), reads the stored inventory and scans the current one; builds the
    // models. False when either is missing (the page stays without models).
    bool set_hw_models(orva_handle_t handle);

signals:
    // A class check box changed.
    void hw_check_boxes_state_change();
    void hw_info_has_been_updated();

public slots:
    // Clears every class check box when one class is checked, else ticks all.
    void toggle_hw_control();
    // Recount.
    void upd_hw_info();
    void save_hw_info();
    void set_save_hw_act_enable();

    void on_hw_cpu_checkbox_stateChanged(int state);
    void on_hw_bios_checkbox_stateChanged(int state);
    void on_hw_memory_checkbox_stateChanged(int state);
    void on_hw_media_checkbox_stateChanged(int state);
    void on_hw_pci_checkbox_stateChanged(int state);
    void on_hw_usb_checkbox_stateChanged(int state);
    void on_hw_monitor_checkbox_stateChanged(int state);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build_models();
    void drop_models();
    void class_state_changed(uint32_t hw_class, int state);
    QTableView *class_view(uint32_t hw_class) const;

    std::unique_ptr<Ui::hardware_page> ui;
    orva_handle_t m_handle = nullptr;
    bool m_init = false;
    // The holders' generation the models were built over.
    unsigned m_generation = 0;
    std::unique_ptr<hardware_table_model> m_models[HW_CLASS_COUNT];
    std::unique_ptr<bios_hash_table_model> m_bios_hash;
    QAction *m_save = nullptr;
    QAction *m_recount = nullptr;
};

#endif
