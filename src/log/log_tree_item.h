// One row of the log tree: a record (four columns) or the parameter row
// under it (one column, spanning the row).
#ifndef ORVA_LOG_LOG_TREE_ITEM_H
#define ORVA_LOG_LOG_TREE_ITEM_H

#include <QList>
#include <QVariant>

#include <memory>
#include <vector>

class log_tree_item {
public:
    explicit log_tree_item(QList<QVariant> data, log_tree_item *parent = nullptr, int row = 0);

    log_tree_item(const log_tree_item &) = delete;
    log_tree_item &operator=(const log_tree_item &) = delete;

    log_tree_item *appendChild(QList<QVariant> data);
    void clear();

    log_tree_item *child(int row) const;
    int childCount() const;
    int columnCount() const;
    QVariant data(int column) const;
    int row() const;
    log_tree_item *parentItem() const { return m_parent; }

private:
    std::vector<std::unique_ptr<log_tree_item>> m_children;
    QList<QVariant> m_data;
    log_tree_item *m_parent;
    int m_row; // position under the parent: rows are only appended or cleared
};

#endif
