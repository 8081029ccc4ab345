// The disks tree of the disks page: the stored partition-table inventory of
// the program's reference holders (read from the module, or a fresh one when
// nothing is stored) with the control check boxes of the disk check, of
// every disk and of every partition; beside it the difference from the
// picture of the disks the boot-time check took.
#ifndef ORVA_PAGES_DISK_TREE_WIDGET_H
#define ORVA_PAGES_DISK_TREE_WIDGET_H

#include <ic/hd/hd_info.h>

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
    // The inventory the tree shows and edits, held by the reference holders
    // (null when none could be had).
    const hd_info *info() const;
    // What the module holds against the computer as it is now, one line per
    // disk that differs (or why there is no comparison); empty when they
    // agree.
    const QString &report() const { return m_report; }

    // The partition type's label.
    static QString type_name(unsigned type);

signals:
    void report_changed(const QString &report);

public slots:
    // The stored inventory, else a fresh one; the tree; the report against
    // the picture of the disks the holders have (the boot-time check's), or
    // one taken now.
    void load_data();
    void build_disk_tree();
    // A fresh inventory of the computer (read again), every control off.
    void update_hdinfo();
    void save_disk_info();
    void OnCheckState(QTreeWidgetItem *item, int column);

private:
    QTreeWidgetItem *add_item(QTreeWidgetItem *parent, const QString &text, bool checked);
    void add_partition(QTreeWidgetItem *parent, const QString &label, hd_partition *partition);
    // Rebuilds the tree when the holders' inventories were replaced since it
    // was built (its items would point into freed records); true then.
    bool rebuilt_if_stale();
    // `stored`: what the module holds (hd_holder::load_result).
    void refresh_report(int stored);

    orva_handle_t m_handle = nullptr;
    unsigned m_generation = 0;
    QTreeWidgetItem *m_top = nullptr;
    // What each checkable item controls.
    QHash<QTreeWidgetItem *, hd_disk *> m_disks;
    QHash<QTreeWidgetItem *, hd_partition *> m_partitions;
    QString m_report;
};

#endif
