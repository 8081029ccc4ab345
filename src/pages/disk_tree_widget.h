// The disks tree of the disks page: the partition-table inventory (stored in
// the module, or the current one) with the control check boxes of the disk
// check, of every disk and of every partition.
#ifndef ORVA_PAGES_DISK_TREE_WIDGET_H
#define ORVA_PAGES_DISK_TREE_WIDGET_H

#include <ic/hd/hd_ptr.h>

#include <orva.h>

#include <QHash>
#include <QString>
#include <QTreeWidget>

class diskTreeWidget : public QTreeWidget {
    Q_OBJECT

public:
    explicit diskTreeWidget(QWidget *parent = nullptr);
    ~diskTreeWidget() override;

    void set_module(orva_handle_t handle) { m_handle = handle; }
    // The inventory the tree shows and edits (null when none could be had).
    const hd_info *info() const { return m_info.get(); }
    // What the module holds against the computer as it is now, one line per
    // disk that differs (or why there is no comparison); empty when they
    // agree.
    const QString &report() const { return m_report; }

    // The partition type's label.
    static QString type_name(unsigned type);

signals:
    void report_changed(const QString &report);

public slots:
    // The stored inventory, else the current one; the tree; the report.
    void load_data();
    void build_disk_tree();
    // A fresh inventory of the computer, every control off.
    void update_hdinfo();
    void save_disk_info();
    void OnCheckState(QTreeWidgetItem *item, int column);

private:
    QTreeWidgetItem *add_item(QTreeWidgetItem *parent, const QString &text, bool checked);
    void add_partition(QTreeWidgetItem *parent, const QString &label, hd_partition *partition);
    void refresh_report();

    orva_handle_t m_handle = nullptr;
    ic_hd::info_ptr m_info;
    QTreeWidgetItem *m_top = nullptr;
    // What each checkable item controls.
    QHash<QTreeWidgetItem *, hd_disk *> m_disks;
    QHash<QTreeWidgetItem *, hd_partition *> m_partitions;
    QString m_report;
};

#endif
