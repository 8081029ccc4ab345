// The tree of groups and users on the users page: selecting a record shows
// it, and the users actions create and delete records here.
#ifndef ORVA_ACCOUNTS_SUBJECTS_TREE_VIEW_H
#define ORVA_ACCOUNTS_SUBJECTS_TREE_VIEW_H

#include "module/meta_types.h"

#include <orva.h>

#include <QString>
#include <QTreeView>

class subjects_tree_item;
class subjects_tree_model;

class subjects_tree_view : public QTreeView {
    Q_OBJECT

public:
    explicit subjects_tree_view(QWidget *parent = nullptr);

    // Creates the model, fills it from the module and selects the first record.
    void setup();
    subjects_tree_model *subjects_model() const { return m_model; }
    // Rebuilds the tree from the module and selects the record of this name
    // (the first one when it is gone).
    void rebuild(const QString &select);
    subjects_tree_item *current_item() const;
    int apply_flag() const { return m_apply_flag; }

public slots:
    // Creation: refused while an unfinished record exists; else the name is
    // asked for (name_selector / name_selector_group).
    void show_user_name_selector();
    void show_group_name_selector();
    // The selected user / group, after a question; the chief administrator,
    // the two default groups and the logged-on user are refused.
    void delete_user();
    void delete_group();
    // A checked, upper-case name: a new user under the selected group (or
    // the group of the selected user, or the first group) / a new group.
    void new_name(QString name);
    void new_group_name(QString name);
    void set_apply_flag(int flag) { m_apply_flag = flag; }

signals:
    void show_record(QString name, orva_db_record *record);
    void group_has_created();
    void name_selector();
    void name_selector_group();
    // The record is no longer in the tree (its pending changes are dropped).
    void record_deleted(QString name);

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    // The window's keys (Insert, I, D, the function keys, Escape) are not
    // taken for the tree's own search and editing.
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool unfinished_refused();
    void delete_record(int kind);
    void select(const QModelIndex &index);

    subjects_tree_model *m_model = nullptr;
    int m_apply_flag = 0;
};

#endif
