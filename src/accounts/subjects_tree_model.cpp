#include "accounts/subjects_tree_model.h"

#include "module/db_record.h"
#include "ui/message.h"

#include <QIcon>

#include <cstdlib>
#include <memory>

subjects_tree_model::subjects_tree_model(QObject *parent)
    : QAbstractItemModel(parent),
      m_root(std::make_unique<subjects_tree_item>(subjects_tree_item::ROOT, nullptr, nullptr))
{
}

subjects_tree_model::~subjects_tree_model() = default;

int subjects_tree_model::setupModelData(orva_handle_t handle)
{
    orva_db_record *list = nullptr;
    uint16_t count = 0;
    const int code = orva_db_get_record_list(handle, &list, &count);
    const std::unique_ptr<orva_db_record, decltype(&std::free)> guard(list, &std::free);

    beginResetModel();
    m_root->remove_children();
    if (code == ORVA_OK) {
        // Element i is record number i + 1; free numbers have no name.
        for (uint16_t i = 0; i < count; ++i) {
            if (list[i].is_group == 1 && db_record::name_length(list[i].name) > 0)
                m_root->append_child(subjects_tree_item::GROUP, list[i]);
        }
        for (uint16_t i = 0; i < count; ++i) {
            if (list[i].is_group == 1 || db_record::name_length(list[i].name) == 0)
                continue;
            const QString group = db_record::name(list[i].group);
            for (int g = 0; g < m_root->child_count(); ++g) {
                if (m_root->child(g)->name() == group) {
                    m_root->child(g)->append_child(subjects_tree_item::USER, list[i]);
                    break;
                }
            }
        }
    }
    // The unfinished record stays until the module holds it.
    if (m_unfinished) {
        const QString name = unfinished_name();
        if (find(name, m_unfinished_kind).isValid()) {
            m_unfinished.reset();
        } else if (m_unfinished_kind == subjects_tree_item::GROUP) {
            m_root->append_child(subjects_tree_item::GROUP, *m_unfinished);
        } else {
            const QModelIndex group = find(db_record::name(m_unfinished->group), subjects_tree_item::GROUP);
            if (group.isValid())
                item(group)->append_child(subjects_tree_item::USER, *m_unfinished);
            else
                m_unfinished.reset();
        }
    }
    endResetModel();

    if (code != ORVA_OK)
        message::critical(nullptr, QStringLiteral("Ошибка"),
                          QStringLiteral("Ошибка получения списка групп пользователей%1.").arg(code));
    return code;
}

subjects_tree_item *subjects_tree_model::item(const QModelIndex &index) const
{
    if (!index.isValid())
        return m_root.get();
    return static_cast<subjects_tree_item *>(index.internalPointer());
}

QModelIndex subjects_tree_model::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    subjects_tree_item *child = item(parent)->child(row);
    return child ? createIndex(row, 0, child) : QModelIndex();
}

QModelIndex subjects_tree_model::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    subjects_tree_item *parent = item(index)->parent();
    if (!parent || parent == m_root.get())
        return QModelIndex();
    return createIndex(parent->row(), 0, parent);
}

int subjects_tree_model::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return item(parent)->child_count();
}

int subjects_tree_model::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant subjects_tree_model::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const subjects_tree_item *it = item(index);
    switch (role) {
    case Qt::DisplayRole:
        return it->display_name();
    case Qt::DecorationRole:
        return QIcon(it->kind() == subjects_tree_item::GROUP ? QStringLiteral(":/accounts/group.png")
                                                             : QStringLiteral(":/accounts/user.png"));
    default:
        return QVariant();
    }
}

QModelIndex subjects_tree_model::index_of(subjects_tree_item *it) const
{
    if (!it || it == m_root.get())
        return QModelIndex();
    return createIndex(it->row(), 0, it);
}

QModelIndex subjects_tree_model::find(const QString &name, int kind) const
{
    for (int g = 0; g < m_root->child_count(); ++g) {
        subjects_tree_item *group = m_root->child(g);
        if (kind == subjects_tree_item::GROUP && group->name() == name)
            return index_of(group);
        if (kind != subjects_tree_item::USER)
            continue;
        for (int u = 0; u < group->child_count(); ++u) {
            if (group->child(u)->name() == name)
                return index_of(group->child(u));
        }
    }
    return QModelIndex();
}

QModelIndex subjects_tree_model::insert(subjects_tree_item *parent, int kind, const orva_db_record &record)
{
    const QModelIndex parent_index = index_of(parent);
    const int row = parent->child_count();
    beginInsertRows(parent_index, row, row);
    subjects_tree_item *added = parent->append_child(kind, record);
    endInsertRows();
    m_unfinished = record;
    m_unfinished_kind = kind;
    return index_of(added);
}

QModelIndex subjects_tree_model::add_user(const QModelIndex &group, const orva_db_record &record)
{
    subjects_tree_item *g = item(group);
    if (!g || g->kind() != subjects_tree_item::GROUP)
        return QModelIndex();
    return insert(g, subjects_tree_item::USER, record);
}

QModelIndex subjects_tree_model::add_group(const orva_db_record &record)
{
    return insert(m_root.get(), subjects_tree_item::GROUP, record);
}

QString subjects_tree_model::unfinished_name() const
{
    return m_unfinished ? db_record::name(m_unfinished->name) : QString();
}

bool subjects_tree_model::is_unfinished(const subjects_tree_item *it) const
{
    return m_unfinished && it && it->kind() == m_unfinished_kind && it->name() == unfinished_name();
}

void subjects_tree_model::remove_unfinished()
{
    if (!m_unfinished)
        return;
    const QModelIndex index = find(unfinished_name(), m_unfinished_kind);
    m_unfinished.reset();
    if (!index.isValid())
        return;
    beginRemoveRows(index.parent(), index.row(), index.row());
    item(index)->parent()->remove_child(index.row());
    endRemoveRows();
}
