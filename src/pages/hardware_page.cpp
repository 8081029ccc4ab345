#include "pages/hardware_page.h"

#include "ui_hardware_page.h"

#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "pages/hardware_table_model.h"
#include "ui/message.h"

#include <QAction>
#include <QHeaderView>
#include <QSignalBlocker>

namespace {

const QString kTitle = QStringLiteral("Конфигурация оборудования");

hw_holder &holder()
{
    return ic_holders::object().hw;
}

} // namespace

hardware_page::hardware_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::hardware_page>())
{
    ui->setupUi(this);
    connect(this, &hardware_page::hw_check_boxes_state_change, this, &hardware_page::set_save_hw_act_enable);
    for (QTableView *view : table_views())
        view->horizontalHeader()->setStretchLastSection(true);
}

hardware_page::~hardware_page()
{
    drop_models();
}

void hardware_page::drop_models()
{
    // The models point into the holders' inventories.
    ui->hw_bios_hash_table->setModel(nullptr);
    m_bios_hash.reset();
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        class_view(c)->setModel(nullptr);
        m_models[c].reset();
    }
}

bool hardware_page::needs_recount() const
{
    return !holder().stored() && holder().current();
}

const hw_info *hardware_page::stored() const
{
    return holder().stored();
}

const hw_info *hardware_page::current() const
{
    return holder().current();
}

void hardware_page::set_actions(QAction *save, QAction *recount)
{
    m_save = save;
    m_recount = recount;
    m_save->setEnabled(false);
}

hardware_table_model *hardware_page::model(uint32_t hw_class) const
{
    return hw_class < HW_CLASS_COUNT ? m_models[hw_class].get() : nullptr;
}

QCheckBox *hardware_page::class_checkbox(uint32_t hw_class) const
{
    QCheckBox *boxes[HW_CLASS_COUNT] = {ui->hw_cpu_checkbox, ui->hw_bios_checkbox, ui->hw_memory_checkbox,
                                        ui->hw_media_checkbox, ui->hw_pci_checkbox, ui->hw_usb_checkbox,
                                        ui->hw_monitor_checkbox};
    return hw_class < HW_CLASS_COUNT ? boxes[hw_class] : nullptr;
}

QTableView *hardware_page::class_view(uint32_t hw_class) const
{
    QTableView *views[HW_CLASS_COUNT] = {ui->hw_cpu_table, ui->hw_bios_table, ui->hw_memory_table,
                                         ui->hw_media_table, ui->hw_pci_table, ui->hw_usb_table,
                                         ui->hw_monitor_table};
    return hw_class < HW_CLASS_COUNT ? views[hw_class] : nullptr;
}

QList<QTableView *> hardware_page::table_views() const
{
    return {ui->hw_cpu_table, ui->hw_bios_table, ui->hw_bios_hash_table, ui->hw_memory_table,
            ui->hw_media_table, ui->hw_usb_table, ui->hw_pci_table, ui->hw_monitor_table};
}

bool hardware_page::set_hw_models(orva_handle_t handle)
{
    m_handle = handle;
    hw_holder &hw = holder();
    if (!hw.diff()) {
        ic_data_area area(handle);
        if (!hw.stored())
            hw.load_stored(area);
        if (!hw.current())
            hw.scan_current();
        hw.compare();
    }
    if (!hw.stored() || !hw.current()) {
        drop_models();
        m_generation = hw.generation();
        return false;
    }
    build_models();
    return true;
}

void hardware_page::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The holders were filled again (a check ran) since the models were
    // built: the inventories they showed are gone.
    if (m_handle && m_generation != holder().generation()) {
        m_init = false;
        set_hw_models(m_handle);
    }
}

void hardware_page::build_models()
{
    drop_models();
    hw_info *stored = holder().stored();
    hw_info *current = holder().current();
    m_generation = holder().generation();
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        m_models[c] = std::make_unique<hardware_table_model>(stored, current, c);
        class_view(c)->setModel(m_models[c].get());
        QCheckBox *box = class_checkbox(c);
        if (m_init) {
            m_models[c]->set_device_type_check_state(box->checkState());
        } else {
            // Loading is not an edit: the save action stays as it is.
            const QSignalBlocker quiet(box);
            box->setChecked(m_models[c]->get_device_type_check_state() == Qt::Checked);
        }
        connect(m_models[c].get(), &hardware_table_model::setCheckBoxHW, box, &QCheckBox::setChecked);
        connect(box, &QCheckBox::stateChanged, m_models[c].get(), &hardware_table_model::setAllDeviceChecked);
        connect(m_models[c].get(), &hardware_table_model::checks_changed, this, &hardware_page::set_save_hw_act_enable);
    }
    m_bios_hash = std::make_unique<bios_hash_table_model>(stored, current, HW_CLASS_BIOS);
    ui->hw_bios_hash_table->setModel(m_bios_hash.get());
    connect(m_bios_hash.get(), &bios_hash_table_model::checks_changed, this, &hardware_page::set_save_hw_act_enable);
    for (QTableView *view : table_views())
        view->resizeColumnsToContents();
}

void hardware_page::class_state_changed(uint32_t hw_class, int state)
{
    if (m_models[hw_class])
        m_models[hw_class]->set_device_type_check_state(state);
    emit hw_check_boxes_state_change();
}

void hardware_page::on_hw_cpu_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_CPU, state); }
void hardware_page::on_hw_bios_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_BIOS, state); }
void hardware_page::on_hw_memory_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_MEMORY, state); }
void hardware_page::on_hw_media_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_MEDIA, state); }
void hardware_page::on_hw_pci_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_PCI, state); }
void hardware_page::on_hw_usb_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_USB, state); }
void hardware_page::on_hw_monitor_checkbox_stateChanged(int state) { class_state_changed(HW_CLASS_MONITOR, state); }

void hardware_page::toggle_hw_control()
{
    const hw_info *stored = holder().stored();
    bool any_checked = false;
    for (uint32_t c = 0; stored && c < HW_CLASS_COUNT; ++c)
        any_checked = any_checked || stored->flags[c] == HW_CLASS_CHECKED;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
        class_checkbox(c)->setChecked(!any_checked);
}

void hardware_page::upd_hw_info()
{
    // The models point into the inventories about to be replaced.
    drop_models();
    if (holder().adopt_current() != HW_OK) {
        if (holder().stored() && holder().current())
            build_models();
        message::critical(this, kTitle, QStringLiteral("Ошибка получения списка оборудования."));
        return;
    }
    m_init = true;
    build_models();
    set_save_hw_act_enable();
    emit hw_info_has_been_updated();
    if (m_recount)
        m_recount->setEnabled(false);
    message::information(this, kTitle,
                         QStringLiteral("Список оборудования был обновлен.\nНеобходимо сохранить список оборудования."));
}

void hardware_page::save_hw_info()
{
    ic_data_area area(m_handle);
    if (holder().save(area) != 0) {
        // The edits stay in memory and can be saved again.
        message::critical(this, kTitle, QStringLiteral("Ошибка сохранения конфигурации аппаратуры."));
        return;
    }
    orva_fun_log::object()->append_log_record(LOG_HW_LIST_CHANGE, LOG_OK, nullptr, QString());
    message::information(this, kTitle, QStringLiteral("Конфигурация успешно сохранена."));
    if (m_save)
        m_save->setEnabled(false);
}

void hardware_page::set_save_hw_act_enable()
{
    if (m_save)
        m_save->setEnabled(true);
}
