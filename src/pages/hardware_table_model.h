// Table models of the hardware page: one per device class, rows for the
// differences between the stored and the current inventory, check states
// for the stored devices and parameters; and the table of the BIOS block
// digests.
#ifndef ORVA_PAGES_HARDWARE_TABLE_MODEL_H
#define ORVA_PAGES_HARDWARE_TABLE_MODEL_H

#include <ic/hw/hw_ptr.h>

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

#include <cstdint>

class hardware_table_model : public QAbstractTableModel {
    Q_OBJECT

public:
    // Both inventories must outlive the model; the check states edit the
    // stored one.
    hardware_table_model(hw_info *stored, hw_info *current, uint32_t hw_class, QObject *parent = nullptr);

    uint32_t hw_class() const { return m_class; }
    // The difference kind (HW_DIFF_*) a row shows, -1 outside the table.
    int row_kind(int row) const;
    // The device a row shows (the stored one, or the current one of a new
    // device and of a changed device's second row).
    const hw_device *row_device(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    void set_device_check_state(int row, Qt::CheckState state);
    void set_param_check_state(int row, int column, Qt::CheckState state);
    // Every stored device of the table and all its parameters.
    void check_all(Qt::CheckState state);
    Qt::CheckState get_device_type_check_state() const;
    void set_device_type_check_state(int state);

signals:
    // A device was ticked: its class is ticked too.
    void setCheckBoxHW(bool checked);
    // A device or parameter check changed.
    void checks_changed();

public slots:
    // The class check box: ticked checks every device; any other state
    // changes no device.
    void setAllDeviceChecked(int state);

private:
    struct row {
        const hw_dev_diff *diff;
        hw_device *device;
        bool stored_side;
    };
    // The stored device of an unchanged row, else null (not checkable).
    hw_device *checkable_device(int row) const;
    hw_param *param_at(const hw_device *device, int column) const;
    void rows_changed(int first, int last);

    hw_info *m_stored;
    uint32_t m_class;
    ic_hw::diff_ptr m_diff;
    QVector<row> m_rows;
    QStringList m_headers;
    int m_columns = 2;
    bool m_propagating = false;
};

class bios_hash_table_model : public QAbstractTableModel {
    Q_OBJECT

public:
    bios_hash_table_model(hw_info *stored, hw_info *current, uint32_t hw_class, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void checks_changed();

private:
    ic_hw::diff_ptr m_diff;
    // Stored digest parameters and their current twins (null when absent).
    QVector<const hw_param_diff *> m_rows;
};

#endif
