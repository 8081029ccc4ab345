// The registry tree of the registry page: the keys and values of the chosen
// Windows directory's registry, ticked where the registry check list holds
// them. It presents and edits the program's registry reference
// (ic_holders::object().reg): the list, its directory, the flag and the name
// space.
#ifndef ORVA_REGISTRY_REGISTRY_TREE_WIDGET_H
#define ORVA_REGISTRY_REGISTRY_TREE_WIDGET_H

#include <ic/qt/exchange_dir.h>
#include <ic/rcl/rcl.h>

#include <orva.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

class reg_holder;

class registryTreeWidget : public QTreeWidget {
    Q_OBJECT

public:
    // Entry flags the page gives its entries.
    static constexpr uint16_t kValueFlags = RCL_VALUE_TYPE | RCL_VALUE_DATA;                // 0x60
    static constexpr uint16_t kKeyFlags = RCL_KEY_NODE | RCL_SUBTREE | RCL_CLASS |          // 0x7F
                                          RCL_TIMESTAMP | RCL_SECURITY | kValueFlags;
    // Item kinds (data role kKindRole of column 0).
    enum item_kind { ROOT_ITEM = 0, KEY_ITEM = 1, VALUE_ITEM = 2 };
    static constexpr int kKindRole = Qt::UserRole;
    static constexpr int kNameRole = Qt::UserRole + 1;

    explicit registryTreeWidget(QWidget *parent = nullptr);
    ~registryTreeWidget() override;

    void set_module(orva_handle_t handle) { m_handle = handle; }
    reg_holder &holder() const { return *m_holder; }
    QTreeWidgetItem *root() const { return m_root; }

    // Absolute key path of a key item, or of a value item's key.
    static QString key_path(const QTreeWidgetItem *item);
    // The item of a key path (case-insensitive components), of a value of
    // it when `value` is given; null when the tree has none.
    QTreeWidgetItem *find_item(const QString &path, const QString *value = nullptr) const;
    // The differences the last check found, one line each ("path: FLAGS",
    // "path\value: FLAGS"); the report under the tree adds the entries of
    // the list the tree does not show.
    const QStringList &differences() const { return m_differences; }
    // The column 1 text of a value.
    static QString value_text(uint32_t type, const QByteArray &data, uint32_t size);
    static QString type_name(uint32_t type);

signals:
    // The text under the tree changed (differences, or why there are none).
    void report_changed(const QString &report);

public slots:
    // Keeps the directory, builds its name space and the tree below the root
    // item. A failure shows the warning and leaves the tree empty, the flag
    // clear. 0 or the code of the failed step.
    int build_registry_tree(const exchange_dir &dir);
    // A changed check state: the entry is added or removed, then the state
    // is propagated.
    void check_sub_tree(QTreeWidgetItem *item, int column);
    // Writes list, directory and flag to the module with its messages.
    void save_reg_info();
    // Registry control off in the module (the list is kept there with flag
    // 0), then an empty list and tree without directory. False (nothing
    // changed) when the block could not be written.
    bool destr();
    // The stored registry block (as the boot check left it in the holder,
    // else read from the module): its list, the tree of its directory with
    // the stored entries ticked, and the differences the check finds. 0, or
    // -1 when nothing readable is stored or the tree cannot be built.
    int load_reg_data();
    // Marks the differences of a check result on the tree.
    void registry_check_info(const rcl_check_info *result);

private:
    // Check states without side effects (signals blocked).
    void setCheckState(QTreeWidgetItem *item, int column, Qt::CheckState state);
    void setCheckStateForParents(QTreeWidgetItem *item);
    void setCheckStateOnce(QTreeWidgetItem *item, Qt::CheckState state);
    void lock_descendants(QTreeWidgetItem *item, bool locked);
    Qt::CheckState state_of_children(const QTreeWidgetItem *item) const;
    bool has_entry(const QTreeWidgetItem *item) const;
    bool locked(const QTreeWidgetItem *item) const;
    // Removes the entries of the item and of everything below it.
    void remove_entries(QTreeWidgetItem *item);

    int fill_tree();
    // The tree of the holder's name space once building it gave `rc`; on
    // any failure the tree stays empty and the name space is released.
    int fill_from(int rc);
    int fill_key(struct reg_key *key, QTreeWidgetItem *item, int depth, QList<QPair<const void *, uint32_t>> &path);
    QTreeWidgetItem *add_key_item(QTreeWidgetItem *parent, struct reg_key *key, const QString &name);
    QTreeWidgetItem *add_value_item(QTreeWidgetItem *parent, struct reg_value *value);
    void clear_tree();
    // Ticks the items of the list's entries; entries not shown are listed.
    void apply_list();
    void registry_check_key(const rcl_check_key *key);
    void registry_check_value(const rcl_check_value *value);
    // Checks the list against the name space and marks what differs.
    void check_and_mark();
    void mark(const QString &path, const QString *value, uint32_t flags);
    void clear_marks();
    void connect_items(bool on);
    void publish_report(const QString &fallback);

    orva_handle_t m_handle = nullptr;
    reg_holder *m_holder;
    QTreeWidgetItem *m_root;
    bool m_connected = false;
    int m_items = 0;
    QList<QTreeWidgetItem *> m_marked;
    QStringList m_differences;
    QStringList m_unshown;
};

#endif
