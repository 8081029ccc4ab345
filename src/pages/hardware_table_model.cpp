#include "pages/hardware_table_model.h"

#include <QBrush>
#include <QColor>

namespace {

// Stored or removed side, current or new side.
const QColor kRemovedColor(255, 140, 140);
const QColor kNewColor(150, 235, 150);

constexpr int kBiosColumns = 5;
// The BIOS table shows vendor, version and date; the digests follow them.
constexpr int kBiosTextParams = 3;

QStringList class_headers(uint32_t hw_class)
{
    switch (hw_class) {
    case HW_CLASS_CPU:
        return {QStringLiteral("Результат"), QStringLiteral("Устройство"), QStringLiteral("Наименование"),
                QStringLiteral("Частота")};
    case HW_CLASS_BIOS:
        return {QStringLiteral("Результат"), QStringLiteral("Устройство"), QStringLiteral("Производитель"),
                QStringLiteral("Версия"), QStringLiteral("Дата")};
    case HW_CLASS_MEMORY:
        return {QStringLiteral("Результат"), QStringLiteral("Устройство"), QStringLiteral("Объем")};
    case HW_CLASS_MEDIA:
        return {QStringLiteral("Результат"), QStringLiteral("Устройство"), QStringLiteral("Производитель"),
                QStringLiteral("Модель"), QStringLiteral("Ревизия"), QStringLiteral("Серийный номер")};
    case HW_CLASS_PCI:
        return {QStringLiteral("Результат"), QStringLiteral("Расположение на шине"), QStringLiteral("Производитель"),
                QStringLiteral("Устройство"), QStringLiteral("Класс")};
    case HW_CLASS_USB:
        return {QStringLiteral("Результат"), QStringLiteral("Расположение на шине"), QStringLiteral("Производитель"),
                QStringLiteral("Устройство"), QStringLiteral("Серийный номер")};
    case HW_CLASS_MONITOR:
        return {QStringLiteral("Результат"), QStringLiteral("Порт"), QStringLiteral("Хэш")};
    default:
        return {};
    }
}

QString result_text(uint32_t kind)
{
    switch (kind) {
    case HW_DIFF_SAME: return QStringLiteral("OK");
    case HW_DIFF_NEW: return QStringLiteral("Новое устройство");
    case HW_DIFF_REMOVED: return QStringLiteral("Устройство удалено");
    case HW_DIFF_CHANGED: return QStringLiteral("Изменены параметры");
    default: return QString();
    }
}

QString text_of(const char *text)
{
    return QString::fromUtf8(text ? text : "");
}

Qt::CheckState check_state(bool checked)
{
    return checked ? Qt::Checked : Qt::Unchecked;
}

int param_count(const hw_device *device)
{
    int n = 0;
    for (const hw_param *p = hw_device_get_first_param(device); p; p = hw_device_get_next_param(device, p))
        ++n;
    return n;
}

} // namespace

hardware_table_model::hardware_table_model(hw_info *stored, hw_info *current, uint32_t hw_class, QObject *parent)
    : QAbstractTableModel(parent),
      m_stored(stored),
      m_class(hw_class),
      m_headers(class_headers(hw_class))
{
    hw_diff *diff = nullptr;
    if (stored && current && hw_diff_create(stored, current, &diff) == HW_OK)
        m_diff.reset(diff);
    if (m_class == HW_CLASS_BIOS) {
        m_columns = kBiosColumns;
    } else if (const hw_device *first = stored ? hw_info_get_first_device(stored, hw_class) : nullptr) {
        m_columns = 2 + param_count(first);
    }
    for (const hw_dev_diff *d = m_diff ? hw_diff_get_first_device(m_diff.get(), hw_class) : nullptr; d;
         d = hw_diff_get_next_device(m_diff.get(), d)) {
        switch (d->kind) {
        case HW_DIFF_CHANGED:
            m_rows.append({d, d->first, true});
            m_rows.append({d, d->second, false});
            break;
        case HW_DIFF_NEW:
            m_rows.append({d, d->second, false});
            break;
        default:
            m_rows.append({d, d->first, true});
            break;
        }
    }
}

int hardware_table_model::row_kind(int row) const
{
    return row >= 0 && row < m_rows.size() ? static_cast<int>(m_rows[row].diff->kind) : -1;
}

const hw_device *hardware_table_model::row_device(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows[row].device : nullptr;
}

hw_device *hardware_table_model::checkable_device(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_rows[row].diff->kind != HW_DIFF_SAME)
        return nullptr;
    return m_rows[row].device;
}

hw_param *hardware_table_model::param_at(const hw_device *device, int column) const
{
    if (!device || column < 2)
        return nullptr;
    if (m_class == HW_CLASS_BIOS && column - 2 >= kBiosTextParams)
        return nullptr;
    int i = column - 2;
    hw_param *p = hw_device_get_first_param(device);
    while (p && i-- > 0)
        p = hw_device_get_next_param(device, p);
    return p;
}

int hardware_table_model::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int hardware_table_model::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant hardware_table_model::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns)
        return QVariant();
    const row &r = m_rows[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (column == 0)
            return result_text(r.diff->kind);
        if (column == 1)
            return text_of(r.device ? r.device->name : nullptr);
        if (const hw_param *p = param_at(r.device, column))
            return text_of(p->text);
        return QVariant();
    case Qt::CheckStateRole: {
        const hw_device *device = checkable_device(index.row());
        if (!device || column < 1)
            return QVariant();
        if (column == 1)
            return check_state(device->flags & HW_DEVICE_CHECKED);
        if (const hw_param *p = param_at(device, column))
            return check_state(p->flags & HW_PARAM_CHECKED);
        return QVariant();
    }
    case Qt::ForegroundRole:
        // Dark text on the light row colours, whatever the style's text is.
        return r.diff->kind == HW_DIFF_SAME ? QVariant() : QVariant(QBrush(Qt::black));
    case Qt::BackgroundRole:
        switch (r.diff->kind) {
        case HW_DIFF_REMOVED: return QBrush(kRemovedColor);
        case HW_DIFF_NEW: return QBrush(kNewColor);
        case HW_DIFF_CHANGED: return QBrush(r.stored_side ? kRemovedColor : kNewColor);
        default: return QVariant();
        }
    default:
        return QVariant();
    }
}

QVariant hardware_table_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags hardware_table_model::flags(const QModelIndex &index) const
{
    return QAbstractTableModel::flags(index) | Qt::ItemIsUserCheckable;
}

bool hardware_table_model::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() < 1 || !checkable_device(index.row()))
        return false;
    const auto state = static_cast<Qt::CheckState>(value.toInt());
    if (index.column() == 1) {
        set_device_check_state(index.row(), state);
        if (state == Qt::Checked && !m_propagating) {
            m_propagating = true;
            emit setCheckBoxHW(true);
            m_propagating = false;
        }
    } else {
        if (!param_at(checkable_device(index.row()), index.column()))
            return false;
        set_param_check_state(index.row(), index.column(), state);
    }
    return true;
}

void hardware_table_model::rows_changed(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, m_columns - 1));
    emit checks_changed();
}

void hardware_table_model::set_device_check_state(int row, Qt::CheckState state)
{
    hw_device *device = checkable_device(row);
    if (!device)
        return;
    hw_device_set_checked(device, state == Qt::Checked);
    rows_changed(row, row);
}

void hardware_table_model::set_param_check_state(int row, int column, Qt::CheckState state)
{
    if (hw_param *p = param_at(checkable_device(row), column)) {
        p->flags = state == Qt::Checked ? HW_PARAM_CHECKED : 0;
        rows_changed(row, row);
    }
}

void hardware_table_model::check_all(Qt::CheckState state)
{
    for (int row = 0; row < m_rows.size(); ++row)
        set_device_check_state(row, state);
}

void hardware_table_model::setAllDeviceChecked(int state)
{
    if (state == Qt::Checked && !m_propagating)
        check_all(Qt::Checked);
}

Qt::CheckState hardware_table_model::get_device_type_check_state() const
{
    return check_state(m_stored && (m_stored->flags[m_class] & HW_CLASS_CHECKED));
}

void hardware_table_model::set_device_type_check_state(int state)
{
    if (!m_stored)
        return;
    if (state == Qt::Checked)
        m_stored->flags[m_class] |= HW_CLASS_CHECKED;
    else
        m_stored->flags[m_class] &= ~HW_CLASS_CHECKED;
}

// ---- BIOS block digests ---------------------------------------------------------

bios_hash_table_model::bios_hash_table_model(hw_info *stored, hw_info *current, uint32_t hw_class, QObject *parent)
    : QAbstractTableModel(parent)
{
    hw_diff *diff = nullptr;
    if (!stored || !current || hw_diff_create(stored, current, &diff) != HW_OK)
        return;
    m_diff.reset(diff);
    // The digests of the stored BIOS device: its parameters after the first three.
    for (const hw_dev_diff *d = hw_diff_get_first_device(diff, hw_class); d; d = hw_diff_get_next_device(diff, d)) {
        if (!d->first)
            continue;
        int i = 0;
        for (const hw_param_diff *p = hw_dev_diff_get_first_param(d); p; p = hw_dev_diff_get_next_param(d, p)) {
            if (i++ >= kBiosTextParams)
                m_rows.append(p);
        }
        break;
    }
}

int bios_hash_table_model::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int bios_hash_table_model::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant bios_hash_table_model::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const hw_param_diff *p = m_rows[index.row()];
    const bool changed = p->kind == HW_PARAM_DIFF_CHANGED;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case 0: return changed ? QStringLiteral("Параметр изменен") : QStringLiteral("OK");
        case 1: return text_of(p->first ? p->first->text : nullptr);
        case 2: return text_of(p->second ? p->second->text : nullptr);
        default: return QVariant();
        }
    case Qt::CheckStateRole:
        if (index.column() == 1 && p->first)
            return check_state(p->first->flags & HW_PARAM_CHECKED);
        return QVariant();
    case Qt::ForegroundRole:
        return changed && index.column() >= 1 ? QVariant(QBrush(Qt::black)) : QVariant();
    case Qt::BackgroundRole:
        if (changed && index.column() == 1)
            return QBrush(kRemovedColor);
        if (changed && index.column() == 2)
            return QBrush(kNewColor);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant bios_hash_table_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const kHeaders[] = {"Результат", "Исходное значение", "Текущее значение"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
        return QString::fromUtf8(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags bios_hash_table_model::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == 1)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool bios_hash_table_model::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 1 || index.row() >= m_rows.size())
        return false;
    hw_param *stored = m_rows[index.row()]->first;
    if (!stored)
        return false;
    stored->flags = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? HW_PARAM_CHECKED : 0;
    emit dataChanged(index, index);
    emit checks_changed();
    return true;
}
