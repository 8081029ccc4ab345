// The event log as a tree: one row per record (running number, date, event,
// result), with the record's parameter line as a child row.
#ifndef ORVA_LOG_LOG_TREE_MODEL_H
#define ORVA_LOG_LOG_TREE_MODEL_H

#include <orva.h>

#include <QAbstractItemModel>

#include <memory>

class log_tree_item;

class log_tree_model : public QAbstractItemModel {
    Q_OBJECT

public:
    enum column { COLUMN_NUMBER, COLUMN_DATE, COLUMN_TYPE, COLUMN_RESULT, COLUMN_COUNT };

    explicit log_tree_model(QObject *parent = nullptr);
    ~log_tree_model() override;

    // Reads the whole log from its first record.
    void setupModelData(orva_handle_t handle);
    // Appends the records after the current read position.
    void updateModelData(orva_handle_t handle);

    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;

private:
    void add_record(const orva_log_record &record);

    std::unique_ptr<log_tree_item> m_root;
    int m_number = 0; // running number of the last record added
};

#endif
