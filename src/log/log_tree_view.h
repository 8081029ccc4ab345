// The log page's tree view: each record's parameter row spans all columns.
#ifndef ORVA_LOG_LOG_TREE_VIEW_H
#define ORVA_LOG_LOG_TREE_VIEW_H

#include <QTreeView>

class log_tree_view : public QTreeView {
    Q_OBJECT

public:
    explicit log_tree_view(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

public slots:
    // Makes every child row span the whole width.
    void span_children();

private slots:
    void span_inserted(const QModelIndex &parent, int first, int last);

private:
    void span_row_children(int row);
};

#endif
