#include "log/log_tree_model.h"

#include "log/log_texts.h"
#include "log/log_tree_item.h"

#include <QList>

namespace {

// The rows of the records read from `first` on (one call of `first`, then
// `next` until a call fails), converted while each record is valid.
template <class Add>
void read_records(orva_handle_t handle, bool from_start, Add add)
{
    orva_log_record *record = nullptr;
    int code = from_start ? orva_log_get_first_record(handle, &record)
                          : orva_log_get_next_record(handle, &record);
    while (code == ORVA_OK && record) {
        add(*record);
        code = orva_log_get_next_record(handle, &record);
    }
}

} // namespace

log_tree_model::log_tree_model(QObject *parent)
    : QAbstractItemModel(parent),
      m_root(std::make_unique<log_tree_item>(QList<QVariant>{
          QStringLiteral("Номер записи"), QStringLiteral("Дата события"),
          QStringLiteral("Тип события"), QStringLiteral("Результат")}))
{
}

log_tree_model::~log_tree_model() = default;

void log_tree_model::add_record(const orva_log_record &record)
{
    log_tree_item *row = m_root->appendChild(QList<QVariant>{
        ++m_number, log_texts::date_time_text(record.date, record.time),
        log_texts::type_text(record.type), log_texts::result_text(record.result)});
    if (log_texts::has_param_line(record.type))
        row->appendChild(QList<QVariant>{log_texts::param_line(record)});
}

void log_tree_model::setupModelData(orva_handle_t handle)
{
    beginResetModel();
    m_root->clear();
    m_number = 0;
    read_records(handle, true, [this](const orva_log_record &r) { add_record(r); });
    endResetModel();
}

void log_tree_model::updateModelData(orva_handle_t handle)
{
    // Records are converted first so that rows are inserted in one step.
    struct pending {
        orva_log_record record;
        QByteArray text;
    };
    QList<pending> records;
    read_records(handle, false, [&records](const orva_log_record &r) {
        pending p{r, r.text ? QByteArray(r.text) : QByteArray()};
        records.append(p);
    });
    if (records.isEmpty())
        return;
    const int first = m_root->childCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(records.size()) - 1);
    for (pending &p : records) {
        p.record.text = p.text.data();
        add_record(p.record);
    }
    endInsertRows();
}

QVariant log_tree_model::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    const auto *item = static_cast<const log_tree_item *>(index.internalPointer());
    return item->data(index.column());
}

Qt::ItemFlags log_tree_model::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant log_tree_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_root->data(section);
    return QVariant();
}

QModelIndex log_tree_model::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const log_tree_item *parent_item =
        parent.isValid() ? static_cast<const log_tree_item *>(parent.internalPointer()) : m_root.get();
    log_tree_item *child = parent_item->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex log_tree_model::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    const auto *item = static_cast<const log_tree_item *>(index.internalPointer());
    log_tree_item *parent_item = item->parentItem();
    if (!parent_item || parent_item == m_root.get())
        return QModelIndex();
    return createIndex(parent_item->row(), 0, parent_item);
}

int log_tree_model::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    const log_tree_item *item =
        parent.isValid() ? static_cast<const log_tree_item *>(parent.internalPointer()) : m_root.get();
    return item->childCount();
}

int log_tree_model::columnCount(const QModelIndex &) const
{
    return COLUMN_COUNT;
}
