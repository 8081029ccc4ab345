// The reference check list as a tree (disk, volume, stored object) with the
// results the boot-time check recorded for each volume: a changed object
// gets a result row, a per-file directory one row per item found below it.
// The rows point into the list: set the model up anew after every change.
#ifndef ORVA_FILES_ICL_TREE_MODEL_H
#define ORVA_FILES_ICL_TREE_MODEL_H

#include "files/icl_tree_item.h"
#include "files/tree_node.h"

#include <cstdint>

struct fs_icl;
class orva_fun_fs;

class icl_tree_model : public tree_node_model<icl_tree_item> {
    Q_OBJECT

public:
    explicit icl_tree_model(QObject *parent = nullptr);
    ~icl_tree_model() override;

    // Rows of `icl`; results from `fs` (none when null).
    void setupModelData(const fs_icl *icl, const orva_fun_fs *fs);

    // The text of result flags: the flag texts in ascending bit order.
    static QString result_text(uint32_t flags);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
};

#endif
