// The users-and-groups tree: the groups by record number, under each group its
// users. A record created in the tree but not yet in the module (at most one,
// the unfinished record) survives rebuilds until the module holds it.
#ifndef ORVA_ACCOUNTS_SUBJECTS_TREE_MODEL_H
#define ORVA_ACCOUNTS_SUBJECTS_TREE_MODEL_H

#include "accounts/subjects_tree_item.h"

#include <orva.h>

#include <QAbstractItemModel>

#include <memory>
#include <optional>

class subjects_tree_model : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit subjects_tree_model(QObject *parent = nullptr);
    ~subjects_tree_model() override;

    // Rebuilds the tree from the module's records. 0, or the library's code
    // (shown).
    int setupModelData(orva_handle_t handle);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    subjects_tree_item *item(const QModelIndex &index) const;
    // The item of this name and kind; invalid when there is none.
    QModelIndex find(const QString &name, int kind) const;

    // Adds an unfinished user under the group / an unfinished group.
    QModelIndex add_user(const QModelIndex &group, const orva_db_record &record);
    QModelIndex add_group(const orva_db_record &record);

    bool has_unfinished() const { return m_unfinished.has_value(); }
    QString unfinished_name() const;
    bool is_unfinished(const subjects_tree_item *item) const;
    // Takes the unfinished record out of the tree.
    void remove_unfinished();

private:
    QModelIndex index_of(subjects_tree_item *item) const;
    QModelIndex insert(subjects_tree_item *parent, int kind, const orva_db_record &record);

    std::unique_ptr<subjects_tree_item> m_root;
    std::optional<orva_db_record> m_unfinished;
    int m_unfinished_kind = subjects_tree_item::USER;
};

#endif
