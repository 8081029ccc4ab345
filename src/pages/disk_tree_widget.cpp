#include "pages/disk_tree_widget.h"

#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "ui/message.h"

#include <QFont>
#include <QSignalBlocker>

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

hd_holder &holder()
{
    return ic_holders::object().hd;
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

const hd_info *diskTreeWidget::info() const
{
    return holder().stored();
}

void diskTreeWidget::load_data()
{
    hd_holder &hd = holder();
    ic_data_area area(m_handle);
    const hd_holder::load_result stored = hd.load_stored(area);
    if (stored == hd_holder::UNREADABLE)
        message::warning(this, kDisksTitle, QStringLiteral("\tОшибка при востановлении сохраненного списка дисков.\n"));
    if (!hd.current())
        hd.scan_current();
    // Nothing readable stored: a fresh inventory, every control off.
    if (stored != hd_holder::LOADED)
        hd.adopt_current(false);
    build_disk_tree();
    expandAll();
    refresh_report(stored);
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
    m_generation = holder().generation();
    hd_info *info = holder().stored();
    if (!info)
        return;
    m_top = add_item(nullptr, QStringLiteral("Включить/Выключить контроль дисков"), info->flags & HD_INFO_CONTROL);
    for (hd_disk *disk = hd_info_get_first_disk(info); disk; disk = hd_info_get_next_disk(info, disk)) {
        QTreeWidgetItem *item =
            add_item(m_top, QString::fromUtf8(disk->name ? disk->name : ""), disk->flags & HD_DISK_CONTROL);
        m_disks.insert(item, disk);
        for (hd_partition *p = hd_info_get_first_partition(disk); p; p = hd_info_get_next_partition(disk, p))
            add_partition(item, QStringLiteral("Раздел %1").arg(p->index), p);
    }
}

bool diskTreeWidget::rebuilt_if_stale()
{
    if (m_generation == holder().generation())
        return false;
    build_disk_tree();
    expandAll();
    return true;
}

void diskTreeWidget::OnCheckState(QTreeWidgetItem *item, int column)
{
    if (!item || column != 0 || !(item->flags() & Qt::ItemIsUserCheckable) || rebuilt_if_stale())
        return;
    hd_info *info = holder().stored();
    if (!info)
        return;
    const bool checked = item->checkState(0) == Qt::Checked;
    if (item == m_top) {
        if (checked) {
            info->flags |= HD_INFO_CONTROL;
            message::information(this, kControlTitle, QStringLiteral("Система контроля целостности дисков включена."));
        } else {
            info->flags &= ~HD_INFO_CONTROL;
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
    if (holder().adopt_current(true) != 0) {
        message::critical(this, QStringLiteral("Дерево дисков"), QStringLiteral("Ошибка получения списка дисков."));
        return;
    }
    build_disk_tree();
    expandAll();
    message::information(this, QStringLiteral("Дерево дисков"),
                         QStringLiteral("Список оборудования был обновлен.\nНеобходимо сохранить список оборудования."));
}

void diskTreeWidget::save_disk_info()
{
    // What is saved is what the tree shows.
    rebuilt_if_stale();
    ic_data_area area(m_handle);
    if (holder().save(area) != 0) {
        message::critical(this, kControlTitle, QStringLiteral("Не удалось сохранить список дисков."));
        return;
    }
    orva_fun_log::object()->append_log_record(LOG_DISK_LIST_CHANGE, LOG_OK, nullptr, QString());
    message::information(this, kControlTitle, QStringLiteral("Список дисков успешно сохранен."));
    refresh_report(hd_holder::LOADED);
}

void diskTreeWidget::refresh_report(int stored)
{
    hd_holder &hd = holder();
    if (stored == hd_holder::UNREADABLE)
        m_report = QStringLiteral("Ошибка при востановлении сохраненного списка дисков.\n");
    else if (!hd.current())
        m_report = QStringLiteral("Ошибка получения списка дисков.\n");
    else if (stored == hd_holder::NOTHING_STORED)
        m_report = QStringLiteral("Список дисков не сохранен.\n");
    else if (hd.compare() != 0)
        m_report = QStringLiteral("Ошибка сравнения списков дисков.\n");
    else
        m_report = diff_report(hd.diff());
    emit report_changed(m_report);
}
