#include "pages/hardware_page.h"

#include "ui_hardware_page.h"

#include "ic/qt/ic_data_area.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "pages/hardware_table_model.h"
#include "ui/message.h"

#include <QAction>
#include <QHeaderView>
#include <QSignalBlocker>

#include <cstdlib>

namespace {

const QString kTitle = QStringLiteral("Конфигурация оборудования");

// A copy of an inventory through its byte image (check flags included).
ic_hw::info_ptr copy_of(const hw_info *info)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (hw_info_write_to_mem(info, &data, &size) != HW_OK)
        return nullptr;
    hw_info *copy = nullptr;
    const int rc = hw_info_read_from_mem(data, size, &copy);
    std::free(data);
    return ic_hw::info_ptr(rc == HW_OK ? copy : nullptr);
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
    // The models point into the inventories: they go first.
    m_bios_hash.reset();
    for (auto &m : m_models)
        m.reset();
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
    if (!m_stored) {
        hw_info *stored = nullptr;
        if (ic_data_area(handle).read_hw_info_from_device(&stored) == 0)
            m_stored.reset(stored);
    }
    if (!m_current) {
        hw_info *current = nullptr;
        if (hw_info_get_current(&current) == HW_OK)
            m_current.reset(current);
    }
    if (!m_stored || !m_current)
        return false;
    build_models();
    return true;
}

void hardware_page::build_models()
{
    m_bios_hash.reset();
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        class_view(c)->setModel(nullptr);
        m_models[c].reset();
    }
    ui->hw_bios_hash_table->setModel(nullptr);

    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c) {
        m_models[c] = std::make_unique<hardware_table_model>(m_stored.get(), m_current.get(), c);
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
    m_bios_hash = std::make_unique<bios_hash_table_model>(m_stored.get(), m_current.get(), HW_CLASS_BIOS);
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
    bool any_checked = false;
    for (uint32_t c = 0; m_stored && c < HW_CLASS_COUNT; ++c)
        any_checked = any_checked || m_stored->flags[c] == HW_CLASS_CHECKED;
    for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
        class_checkbox(c)->setChecked(!any_checked);
}

void hardware_page::upd_hw_info()
{
    if (!m_current) {
        hw_info *current = nullptr;
        if (hw_info_get_current(&current) != HW_OK) {
            message::critical(this, kTitle, QStringLiteral("Ошибка получения списка оборудования."));
            return;
        }
        m_current.reset(current);
    }
    // Stored and current are the same scan, held twice: comparing an
    // inventory with itself would mark its own devices as matched.
    ic_hw::info_ptr copy = copy_of(m_current.get());
    if (!copy) {
        message::critical(this, kTitle, QStringLiteral("Ошибка получения списка оборудования."));
        return;
    }
    m_bios_hash.reset();
    for (auto &m : m_models)
        m.reset();
    m_stored = std::move(m_current);
    m_current = std::move(copy);
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
    if (!m_stored || ic_data_area(m_handle).save_hw_info_to_device(m_stored.get()) != 0) {
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
