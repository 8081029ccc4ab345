// The check-list tree: takes paths dropped from the directory view
// (dropped) and offers removing the entry under the cursor (remove_object).
#ifndef ORVA_FILES_ICL_TREE_VIEW_H
#define ORVA_FILES_ICL_TREE_VIEW_H

#include <QStringList>
#include <QTreeView>

class icl_tree_model;

class icl_tree_view : public QTreeView {
    Q_OBJECT

public:
    explicit icl_tree_view(QWidget *parent = nullptr);

    icl_tree_model *icl_model() const;

signals:
    // Local paths dropped onto the tree.
    void dropped(QStringList paths);
    void remove_object();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
};

#endif
