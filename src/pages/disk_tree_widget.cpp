#include "pages/disk_tree_widget.h"

#include "ic/qt/ic_data_area.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "ui/message.h"

#include <QFont>
#include <QSignalBlocker>

#include <cstdlib>

namespace {

const QString kDisksTitle = QStringLiteral("Диски");
const QString kControlTitle = QStringLiteral("Контроль Дисков");

QString hash_text(const uint8_t (&hash)[HD_HASH_SIZE])
{
    QString text;
    for (uint8_t b : hash)
        text += QString::asprintf("%2.2X", b);
    return text;
}

// The stored partition tables: null when none are stored; *unreadable when
// a block is there but cannot be parsed.
ic_hd::info_ptr read_stored(orva_handle_t handle, bool *unreadable)
{
    *unreadable = false;
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> payload =
        ic_data_area(handle).read_hw_hd_block_from_device(&size, ic_data_area::HD_BLOCK);
    if (!payload)
        return nullptr;
    hd_info *info = nullptr;
    if (hd_info_read_from_mem(payload.get(), size, &info) != 0) {
        *unreadable = true;
        return nullptr;
    }
    return ic_hd::info_ptr(info);
}

ic_hd::info_ptr scan_current()
{
    hd_info *info = nullptr;
    return ic_hd::info_ptr(hd_info_get_current(&info) == 0 ? info : nullptr);
}

bool structure_changed(const hd_partition_diff *p)
{
    return p->status == HD_NEW || p->status == HD_REMOVED ||
           (p->flags & (HD_PARTITION_DIFF_BOOT_INDICATOR | HD_PARTITION_DIFF_TYPE));
}

bool sectors_changed(const hd_partition_diff *p)
{
    return p->flags & (HD_PARTITION_DIFF_PBR | HD_PARTITION_DIFF_BOOT_AREA);
}

// One line per disk that differs, in the words of the boot-time check.
QString diff_report(const hd_diff *diff)
{
    QString report;
    for (const hd_disk_diff *d = hd_diff_get_first_disk(diff); d; d = hd_diff_get_next_disk(diff, d)) {
        const hd_disk *disk = d->reference ? d->reference : d->current;
        const QString name = QString::fromUtf8(disk && disk->name ? disk->name : "");
        switch (d->status) {
        case HD_NEW:
            report += name + QStringLiteral(" новый: Подключен новый диск.\n");
            break;
        case HD_REMOVED:
            report += name + QStringLiteral(" удален: Диск Удален.\n");
            break;
        case HD_MODIFIED: {
            bool sectors = d->flags & HD_DISK_DIFF_BOOT_AREA;
            bool structure = false;
            for (const hd_partition_diff *p = hd_disk_diff_get_first_partition(d); p;
                 p = hd_disk_diff_get_next_partition(d, p)) {
                sectors = sectors || sectors_changed(p);
                structure = structure || structure_changed(p);
                for (const hd_partition_diff *l = hd_partition_diff_get_first_partition(p); l;
                     l = hd_partition_diff_get_next_partition(p, l)) {
                    sectors = sectors || sectors_changed(l);
                    structure = structure || structure_changed(l);
                }
            }
            report += name + QStringLiteral(" модифицирован: Диск был модифицирован:");
            if (d->flags & HD_DISK_DIFF_MBR)
                report += QStringLiteral(" MBR модифицирована;");
            if (sectors)
                report += QStringLiteral(" сектора изменены;");
            if (structure)
                report += QStringLiteral(" структура изменена;");
            report += QLatin1Char('\n');
            break;
        }
        default:
            break;
        }
    }
    return report;
}

} // namespace

diskTreeWidget::diskTreeWidget(QWidget *parent)
    : QTreeWidget(parent)
{
    connect(this, &QTreeWidget::itemChanged, this, &diskTreeWidget::OnCheckState);
}

diskTreeWidget::~diskTreeWidget()
{
    // The items point into the inventory.
    clear();
}

QString diskTreeWidget::type_name(unsigned type)
{
    return QString::fromLatin1(hd_partition_type_name(type));
}

void diskTreeWidget::load_data()
{
    bool unreadable = false;
    ic_hd::info_ptr stored = read_stored(m_handle, &unreadable);
    if (unreadable)
        message::warning(this, kDisksTitle, QStringLiteral("\tОшибка при востановлении сохраненного списка дисков.\n"));
    if (!stored)
        stored = scan_current();
    clear();
    m_info = std::move(stored);
    build_disk_tree();
    expandAll();
    refresh_report();
}

QTreeWidgetItem *diskTreeWidget::add_item(QTreeWidgetItem *parent, const QString &text, bool checked)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void diskTreeWidget::add_partition(QTreeWidgetItem *parent, const QString &label, hd_partition *partition)
{
    QTreeWidgetItem *item = add_item(parent, label, partition->flags & HD_PARTITION_CONTROL);
    m_partitions.insert(item, partition);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::Monospace);
    const struct {
        const char *label;
        QString value;
        bool hash;
    } rows[] = {
        {"Начальный сектор", QString::number(partition->start), false},
        {"Длина", QString::number(partition->count), false},
        {"Тип", type_name(partition->type), false},
        {"Загрузочный", QString::number(partition->boot_indicator), false},
        {"PBR хэш", hash_text(partition->pbr_hash), true},
        {"Хэш 1-62 сектора", hash_text(partition->boot_hash), true},
    };
    for (const auto &r : rows) {
        auto *row = new QTreeWidgetItem(item);
        row->setText(0, QString::fromUtf8(r.label));
        row->setText(1, r.value);
        if (r.hash) {
            row->setFont(1, mono);
            // The whole digest also where the column is too narrow for it.
            row->setToolTip(1, r.value);
        }
    }
    for (hd_partition *l = hd_info_get_first_logical_partition(partition); l;
         l = hd_info_get_next_logical_partition(partition, l))
        add_partition(item, QStringLiteral("Логический раздел %1").arg(l->index), l);
}

void diskTreeWidget::build_disk_tree()
{
    // Building is not an operator's change.
    const QSignalBlocker quiet(this);
    clear();
    m_disks.clear();
    m_partitions.clear();
    m_top = nullptr;
    if (!m_info)
        return;
    m_top = add_item(nullptr, QStringLiteral("Включить/Выключить контроль дисков"), m_info->flags & HD_INFO_CONTROL);
    for (hd_disk *disk = hd_info_get_first_disk(m_info.get()); disk; disk = hd_info_get_next_disk(m_info.get(), disk)) {
        QTreeWidgetItem *item =
            add_item(m_top, QString::fromUtf8(disk->name ? disk->name : ""), disk->flags & HD_DISK_CONTROL);
        m_disks.insert(item, disk);
        for (hd_partition *p = hd_info_get_first_partition(disk); p; p = hd_info_get_next_partition(disk, p))
            add_partition(item, QStringLiteral("Раздел %1").arg(p->index), p);
    }
}

void diskTreeWidget::OnCheckState(QTreeWidgetItem *item, int column)
{
    if (!item || column != 0 || !m_info || !(item->flags() & Qt::ItemIsUserCheckable))
        return;
    const bool checked = item->checkState(0) == Qt::Checked;
    if (item == m_top) {
        if (checked) {
            m_info->flags |= HD_INFO_CONTROL;
            message::information(this, kControlTitle, QStringLiteral("Система контроля целостности дисков включена."));
        } else {
            m_info->flags &= ~HD_INFO_CONTROL;
            message::information(this, kControlTitle, QStringLiteral("Система контроля целостности дисков отключена."));
        }
        return;
    }
    if (hd_disk *disk = m_disks.value(item)) {
        // The MBR bit stays as it is.
        if (checked)
            disk->flags |= HD_DISK_PAGE_FLAGS;
        else
            disk->flags &= ~HD_DISK_PAGE_FLAGS;
        message::information(this, QStringLiteral("Внимание!"),
                             checked ? QStringLiteral("Диск %1 поставлен на контроль.").arg(item->text(0))
                                     : QStringLiteral("Диск %1 снят с контроля.").arg(item->text(0)));
        return;
    }
    if (hd_partition *partition = m_partitions.value(item)) {
        if (checked)
            partition->flags |= HD_PARTITION_CONTROL;
        else
            partition->flags &= ~HD_PARTITION_CONTROL;
        return;
    }
    message::critical(this, QStringLiteral("Ошибка"), QStringLiteral("Ошибка работы с дисками."));
}

void diskTreeWidget::update_hdinfo()
{
    ic_hd::info_ptr current = scan_current();
    if (!current) {
        message::critical(this, QStringLiteral("Дерево дисков"), QStringLiteral("Ошибка получения списка дисков."));
        return;
    }
    clear();
    m_info = std::move(current);
    build_disk_tree();
    expandAll();
    message::information(this, QStringLiteral("Дерево дисков"),
                         QStringLiteral("Список оборудования был обновлен.\nНеобходимо сохранить список оборудования."));
}

void diskTreeWidget::save_disk_info()
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    int rc = -1;
    if (m_info && hd_info_write_to_mem(m_info.get(), &data, &size) == 0) {
        rc = ic_data_area(m_handle).save_hw_hd_block_to_device(data, size, ic_data_area::HD_BLOCK);
        std::free(data);
    }
    if (rc != 0) {
        message::critical(this, kControlTitle, QStringLiteral("Не удалось сохранить список дисков."));
        return;
    }
    orva_fun_log::object()->append_log_record(LOG_DISK_LIST_CHANGE, LOG_OK, nullptr, QString());
    message::information(this, kControlTitle, QStringLiteral("Список дисков успешно сохранен."));
    refresh_report();
}

void diskTreeWidget::refresh_report()
{
    bool unreadable = false;
    ic_hd::info_ptr stored = read_stored(m_handle, &unreadable);
    ic_hd::info_ptr current = stored ? scan_current() : nullptr;
    hd_diff *diff = nullptr;
    if (!stored && !m_info) {
        m_report = QStringLiteral("Ошибка получения списка дисков.\n");
    } else if (unreadable) {
        m_report = QStringLiteral("Ошибка при востановлении сохраненного списка дисков.\n");
    } else if (!stored) {
        m_report = QStringLiteral("Список дисков не сохранен.\n");
    } else if (!current) {
        m_report = QStringLiteral("Ошибка получения списка дисков.\n");
    } else if (hd_diff_create(stored.get(), current.get(), &diff) != 0) {
        m_report = QStringLiteral("Ошибка сравнения списков дисков.\n");
    } else {
        m_report = diff_report(diff);
        hd_diff_destroy(diff);
    }
    emit report_changed(m_report);
}
