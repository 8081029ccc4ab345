// Rows of the page's item models: a node owns its children in order and
// knows its parent; a model over such nodes finds indexes, parents and row
// counts the same way for every kind of row.
#ifndef ORVA_FILES_TREE_NODE_H
#define ORVA_FILES_TREE_NODE_H

#include <QAbstractItemModel>

#include <algorithm>
#include <memory>
#include <vector>

template <class Item>
class tree_node {
public:
    tree_node(const tree_node &) = delete;
    tree_node &operator=(const tree_node &) = delete;

    // Takes the child over.
    Item *append(std::unique_ptr<Item> child)
    {
        m_children.push_back(std::move(child));
        return m_children.back().get();
    }
    Item *child(int row) const
    {
        return row >= 0 && row < child_count() ? m_children[static_cast<size_t>(row)].get() : nullptr;
    }
    int child_count() const { return static_cast<int>(m_children.size()); }
    int row() const
    {
        if (!m_parent)
            return 0;
        const auto &siblings = m_parent->m_children;
        const auto it = std::find_if(siblings.begin(), siblings.end(),
                                     [this](const std::unique_ptr<Item> &c) { return c.get() == this; });
        return static_cast<int>(it - siblings.begin());
    }
    Item *parent() const { return m_parent; }

protected:
    explicit tree_node(Item *parent) : m_parent(parent) {}
    ~tree_node() = default;

    Item *m_parent;
    std::vector<std::unique_ptr<Item>> m_children;
};

// The index arithmetic of a model over tree_node rows below a root row of
// its own; columns as the model says.
template <class Item>
class tree_node_model : public QAbstractItemModel {
public:
    Item *item(const QModelIndex &index) const
    {
        return index.isValid() ? static_cast<Item *>(index.internalPointer()) : nullptr;
    }

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override
    {
        if (column < 0 || column >= columnCount(parent) || (parent.isValid() && parent.column() != 0))
            return QModelIndex();
        const Item *p = parent.isValid() ? item(parent) : m_root.get();
        Item *c = p->child(row);
        return c ? this->createIndex(row, column, c) : QModelIndex();
    }
    QModelIndex parent(const QModelIndex &index) const override
    {
        const Item *i = item(index);
        Item *p = i ? i->parent() : nullptr;
        if (!p || p == m_root.get())
            return QModelIndex();
        return this->createIndex(p->row(), 0, p);
    }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        if (parent.column() > 0)
            return 0;
        const Item *p = parent.isValid() ? item(parent) : m_root.get();
        return p->child_count();
    }

protected:
    explicit tree_node_model(QObject *parent) : QAbstractItemModel(parent) {}

    std::unique_ptr<Item> m_root;
};

#endif
