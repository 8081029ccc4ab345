#include "registry/registry_tree_widget.h"

#include "check/boot_check.h"
#include "ui/message.h"
#include "ui/trace.h"

#include <ic/qt/ic_data_area.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/ic_holders.h>
#include <ic/qt/orva_fun_fs.h>
#include <ic/reg/reg.h>

#include <QColor>
#include <QSignalBlocker>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const QString kRegistryTitle = QStringLiteral("Контроль Реестра");
constexpr int kStateRole = Qt::UserRole + 2;
// Bytes of value data shown in column 1.
constexpr uint32_t kDataShown = 256;
// A name space larger than this is not shown (hostile hives that share
// sub-trees would otherwise grow the tree without bound).
constexpr int kMaxItems = 2000000;
const QColor kDifference(255, 204, 204);

const reg_char *u16(const QString &s)
{
    return reinterpret_cast<const reg_char *>(s.utf16());
}

const reg_char *u16(const rcl_string &s)
{
    return reinterpret_cast<const reg_char *>(s.c_str());
}

QString from_u16(const reg_char *s, size_t units)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(s), static_cast<qsizetype>(units));
}

QString from_u16(const rcl_string &s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

// Text for one line of a cell: control characters become blanks.
QString printable(QString s)
{
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    return s;
}

bool same_name(const QString &a, const QString &b)
{
    return reg_u16strncasecmp2(u16(a), static_cast<size_t>(a.size()), u16(b), static_cast<size_t>(b.size())) == 0;
}

int kind_of(const QTreeWidgetItem *item)
{
    return item->data(0, registryTreeWidget::kKindRole).toInt();
}

QString name_of(const QTreeWidgetItem *item)
{
    return item->data(0, registryTreeWidget::kNameRole).toString();
}

QString flag_names(uint32_t flags)
{
    QStringList names;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (flags & (1u << bit)) {
            const char *name = rcl_result_flag_name(bit);
            names << (name ? QString::fromLatin1(name) : QStringLiteral("0x%1").arg(1u << bit, 0, 16));
        }
    }
    return names.join(QLatin1Char('|'));
}

} // namespace

registryTreeWidget::registryTreeWidget(QWidget *parent)
    : QTreeWidget(parent), m_holder(&ic_holders::object().reg), m_root(new QTreeWidgetItem(this))
{
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("Реестр"), QStringLiteral("Значение")});
    m_root->setText(0, QStringLiteral("\\"));
    m_root->setData(0, kKindRole, ROOT_ITEM);
    m_root->setData(0, kNameRole, QString());
    clear_tree();
    m_root->setExpanded(true);
    setColumnWidth(0, 320);
    // Names are as wide as the keys shown.
    connect(this, &QTreeWidget::itemExpanded, this, [this] { resizeColumnToContents(0); });
}

registryTreeWidget::~registryTreeWidget()
{
    // The page closes with the program: its volume is unmounted.
    m_holder->release_space();
}

QString registryTreeWidget::type_name(uint32_t type)
{
    static const char *const kNames[] = {"<none>",
                                         "SZ",
                                         "EXPAND_SZ",
                                         "BINARY",
                                         "DWORD",
                                         "DWORD_BIG_ENDIAN",
                                         "LINK",
                                         "MULTI_SZ",
                                         "RESOURCE_LIST",
                                         "FULL_RESOURCE_DESCRIPTOR",
                                         "RESOURCE_REQUIREMENTS_LIST",
                                         "QWORD"};
    return QString::fromLatin1(type < 12 ? kNames[type] : "unknown");
}

QString registryTreeWidget::value_text(uint32_t type, const QByteArray &data, uint32_t size)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    const auto n = static_cast<size_t>(data.size());
    QString text;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK:
    case REG_MULTI_SZ: {
        std::vector<reg_char> units(n / 2);
        if (!units.empty())
            std::memcpy(units.data(), bytes, units.size() * 2);
        while (!units.empty() && units.back() == 0)
            units.pop_back();
        if (type == REG_MULTI_SZ)
            std::replace(units.begin(), units.end(), reg_char(0), reg_char(','));
        text = from_u16(units.data(), units.size());
        break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (size == 4 && n == 4) {
            const uint32_t v = type == REG_DWORD ? qFromLittleEndian<uint32_t>(bytes) : qFromBigEndian<uint32_t>(bytes);
            text = QString::asprintf("0x%08x (%u)", v, v);
            break;
        }
        [[fallthrough]];
    case REG_QWORD:
        if (type == REG_QWORD && size == 8 && n == 8) {
            const quint64 v = qFromLittleEndian<quint64>(bytes);
            text = QString::asprintf("0x%016llx (%llu)", static_cast<unsigned long long>(v),
                                     static_cast<unsigned long long>(v));
            break;
        }
        [[fallthrough]];
    default:
        text = QString::fromLatin1(data.toHex(' '));
        break;
    }
    if (size > n)
        text += QStringLiteral(" …");
    return printable(text);
}

QString registryTreeWidget::key_path(const QTreeWidgetItem *item)
{
    if (item && kind_of(item) == VALUE_ITEM)
        item = item->parent();
    QStringList names;
    for (; item && kind_of(item) != ROOT_ITEM; item = item->parent())
        names.prepend(name_of(item));
    return QLatin1Char('\\') + names.join(QLatin1Char('\\'));
}

namespace {

// The deepest item on the way to path (and value); *exact when it is the
// one asked for.
QTreeWidgetItem *nearest_item(QTreeWidgetItem *root, const QString &path, const QString *value, bool *exact)
{
    QTreeWidgetItem *item = root;
    *exact = false;
    for (const QString &part : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        QTreeWidgetItem *next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i) {
            QTreeWidgetItem *child = item->child(i);
            if (kind_of(child) == registryTreeWidget::KEY_ITEM && same_name(name_of(child), part))
                next = child;
        }
        if (!next)
            return item;
        item = next;
    }
    if (value) {
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem *child = item->child(i);
            if (kind_of(child) == registryTreeWidget::VALUE_ITEM && same_name(name_of(child), *value)) {
                *exact = true;
                return child;
            }
        }
        return item;
    }
    *exact = true;
    return item;
}

} // namespace

QTreeWidgetItem *registryTreeWidget::find_item(const QString &path, const QString *value) const
{
    bool exact = false;
    QTreeWidgetItem *item = nearest_item(m_root, path, value, &exact);
    return exact ? item : nullptr;
}

void registryTreeWidget::connect_items(bool on)
{
    if (on == m_connected)
        return;
    if (on)
        connect(this, &QTreeWidget::itemChanged, this, &registryTreeWidget::check_sub_tree);
    else
        disconnect(this, &QTreeWidget::itemChanged, this, &registryTreeWidget::check_sub_tree);
    m_connected = on;
}

void registryTreeWidget::clear_tree()
{
    const QSignalBlocker blocker(this);
    clear_marks();
    qDeleteAll(m_root->takeChildren());
    m_items = 0;
    // Nothing to tick until a tree is built.
    m_root->setFlags(Qt::ItemIsEnabled);
    m_root->setCheckState(0, Qt::Unchecked);
    m_root->setData(0, kStateRole, int(Qt::Unchecked));
    m_root->setText(1, QString());
}

QTreeWidgetItem *registryTreeWidget::add_key_item(QTreeWidgetItem *parent, reg_key *key, const QString &name)
{
    auto *item = new QTreeWidgetItem(parent);
    item->setData(0, kKindRole, KEY_ITEM);
    item->setData(0, kNameRole, name);
    item->setText(0, printable(name));
    uint64_t timestamp = 0;
    reg_get_timestamp(key, &timestamp);
    const QString stamp = QString::asprintf("%16.16llx", static_cast<unsigned long long>(timestamp));
    uint32_t units = 0;
    QString class_name;
    bool has_class = reg_get_class_name_size(key, &units) == REG_OK && units > 0;
    if (has_class) {
        std::vector<reg_char> buffer(units);
        has_class = reg_get_class_name(key, buffer.data(), units) == REG_OK;
        if (has_class)
            class_name = from_u16(buffer.data(), reg_u16strlen(buffer.data()));
    }
    item->setText(1, has_class ? QStringLiteral("timestamp: 0x%1, class:%2").arg(stamp, printable(class_name))
                               : QStringLiteral("timestamp: 0x%1").arg(stamp));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setData(0, kStateRole, int(Qt::Unchecked));
    return item;
}

QTreeWidgetItem *registryTreeWidget::add_value_item(QTreeWidgetItem *parent, reg_value *value)
{
    const reg_char *raw_name = nullptr;
    const QString name = reg_get_value_name(value, &raw_name) == REG_OK && raw_name
                             ? from_u16(raw_name, reg_u16strlen(raw_name))
                             : QString();
    uint32_t type = 0;
    uint32_t size = 0;
    reg_get_value_type(value, &type);
    QString data_text;
    if (reg_get_value_data_size(value, &size) == REG_OK) {
        QByteArray data(static_cast<qsizetype>(qMin(size, kDataShown)), '\0');
        if (data.isEmpty() || reg_get_value_data(value, 0, data.data(), static_cast<uint32_t>(data.size())) == REG_OK)
            data_text = value_text(type, data, size);
        else
            data_text = QStringLiteral("?");
    } else {
        data_text = QStringLiteral("?");
    }

    auto *item = new QTreeWidgetItem(parent);
    item->setData(0, kKindRole, VALUE_ITEM);
    item->setData(0, kNameRole, name);
    item->setText(0, name.isEmpty() ? QStringLiteral("(по умолчанию)") : printable(name));
    item->setText(1, QStringLiteral("type: %1\ndata: %2").arg(type_name(type), data_text));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setData(0, kStateRole, int(Qt::Unchecked));
    return item;
}

int registryTreeWidget::fill_key(reg_key *key, QTreeWidgetItem *item, int depth,
                                 QList<QPair<const void *, uint32_t>> &path)
{
    // A hive whose key lists lead back to a key above, or deeper than any
    // check list may go, is refused.
    QPair<const void *, uint32_t> identity;
    if (depth > RCL_MAX_DEPTH || reg_get_key_identity(key, &identity.first, &identity.second) != REG_OK ||
        path.contains(identity))
        return REG_ERR_FORMAT;
    path.append(identity);

    reg_key_enum *keys = nullptr;
    int rc = reg_create_key_enum(key, REG_OPEN_LINK, &keys);
    while (rc == REG_OK) {
        reg_char *name = nullptr;
        reg_key *sub = nullptr;
        rc = reg_get_next_enum_key(keys, &name, &sub);
        if (rc != REG_OK)
            break;
        const QString text = from_u16(name, reg_u16strlen(name));
        reg_free_name(name);
        if (++m_items > kMaxItems) {
            rc = REG_ERR_NOMEM;
        } else {
            QTreeWidgetItem *child = add_key_item(item, sub, text);
            rc = fill_key(sub, child, depth + 1, path);
        }
        reg_close_key(sub);
    }
    reg_destroy_key_enum(keys);
    if (rc == REG_ERR_NOT_FOUND) {
        reg_value_enum *values = nullptr;
        rc = reg_create_value_enum(key, &values);
        while (rc == REG_OK) {
            reg_value *value = nullptr;
            rc = reg_get_next_enum_value(values, &value);
            if (rc != REG_OK)
                break;
            if (++m_items > kMaxItems)
                rc = REG_ERR_NOMEM;
            else
                add_value_item(item, value);
            reg_close_value(value);
        }
        reg_destroy_value_enum(values);
        if (rc == REG_ERR_NOT_FOUND)
            rc = REG_OK;
    }
    path.removeLast();
    return rc;
}

int registryTreeWidget::fill_tree()
{
    reg *space = m_holder->space();
    if (!space)
        return REG_ERR_INVAL;
    reg_key *top = nullptr;
    int rc = reg_open_key_by_abs_path_u8(space, "\\", 0, &top);
    if (rc != REG_OK)
        return rc;
    const QSignalBlocker blocker(this);
    QList<QPair<const void *, uint32_t>> path;
    rc = fill_key(top, m_root, 0, path);
    reg_close_key(top);
    if (rc == REG_OK) {
        m_root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        m_root->setExpanded(true);
    }
    return rc;
}

int registryTreeWidget::fill_from(int rc)
{
    if (rc == 0)
        rc = fill_tree();
    if (rc != 0) {
        ORVA_TRACE() << "registry tree:" << rc;
        clear_tree();
        m_holder->release_space();
    }
    return rc;
}

int registryTreeWidget::build_registry_tree(const exchange_dir &dir)
{
    connect_items(false);
    clear_tree();
    m_differences.clear();
    m_unshown.clear();
    m_holder->set_dir(dir);
    m_holder->set_flag(false);
    // The boot check finds the directory again by the volume's identity: a
    // volume that identity does not lead back to (no file-system UUID, a
    // partition of a virtual-disk image) would leave the registry unchecked.
    orva_fun_fs *fs = orva_fun_fs::object();
    fs_volume *again = nullptr;
    const bool found_again =
        fs && dir.volume &&
        lookup_volume_by_volume_id(fs->disk_list(), dir.part_id, dir.disk, &again) == VOLUME_FOUND &&
        again == dir.volume;
    const int rc = fill_from(found_again ? m_holder->build_space() : 4);
    if (rc != 0) {
        publish_report(QString());
        message::warning(this, QStringLiteral("Ошибка"),
                         QStringLiteral("Возникла ошибка при построении дерева реестра.\n"
                                        "Попробуйте выбрать корректный каталог %windir%."));
        return rc;
    }
    m_holder->set_flag(true);
    apply_list();
    publish_report(QString());
    connect_items(true);
    return 0;
}

void registryTreeWidget::setCheckStateOnce(QTreeWidgetItem *item, Qt::CheckState state)
{
    const QSignalBlocker blocker(this);
    item->setCheckState(0, state);
    item->setData(0, kStateRole, int(state));
}

bool registryTreeWidget::has_entry(const QTreeWidgetItem *item) const
{
    rcl *list = m_holder->list();
    if (!list)
        return false;
    if (kind_of(item) == VALUE_ITEM)
        return rcl_find_value(list, u16(key_path(item)), u16(name_of(item))) != nullptr;
    return rcl_find_key(list, u16(key_path(item))) != nullptr;
}

bool registryTreeWidget::locked(const QTreeWidgetItem *item) const
{
    return item != m_root && !(item->flags() & Qt::ItemIsUserCheckable);
}

Qt::CheckState registryTreeWidget::state_of_children(const QTreeWidgetItem *item) const
{
    int checked = 0;
    int unchecked = 0;
    for (int i = 0; i < item->childCount(); ++i) {
        const Qt::CheckState s = item->child(i)->checkState(0);
        checked += s == Qt::Checked;
        unchecked += s == Qt::Unchecked;
    }
    if (checked == item->childCount() && checked > 0)
        return Qt::Checked;
    if (unchecked == item->childCount())
        return Qt::Unchecked;
    return Qt::PartiallyChecked;
}

void registryTreeWidget::lock_descendants(QTreeWidgetItem *item, bool lock)
{
    const QSignalBlocker blocker(this);
    QList<QTreeWidgetItem *> pending;
    for (int i = 0; i < item->childCount(); ++i)
        pending << item->child(i);
    while (!pending.isEmpty()) {
        QTreeWidgetItem *d = pending.takeLast();
        Qt::ItemFlags flags = d->flags();
        d->setFlags(lock ? flags & ~Qt::ItemIsUserCheckable : flags | Qt::ItemIsUserCheckable);
        setCheckStateOnce(d, lock ? Qt::Checked : Qt::Unchecked);
        for (int i = 0; i < d->childCount(); ++i)
            pending << d->child(i);
    }
}

void registryTreeWidget::setCheckStateForParents(QTreeWidgetItem *item)
{
    for (QTreeWidgetItem *p = item->parent(); p; p = p->parent())
        setCheckStateOnce(p, has_entry(p) ? Qt::Checked : state_of_children(p));
}

void registryTreeWidget::setCheckState(QTreeWidgetItem *item, int column, Qt::CheckState state)
{
    if (column != 0)
        return;
    setCheckStateOnce(item, state);
    // A key entry covers the sub-tree: everything below is ticked and
    // locked. Unticked, the sub-tree holds no entries any more.
    if (item->childCount() > 0 && state != Qt::PartiallyChecked)
        lock_descendants(item, state == Qt::Checked);
    setCheckStateForParents(item);
}

void registryTreeWidget::remove_entries(QTreeWidgetItem *item)
{
    rcl *list = m_holder->list();
    if (!list)
        return;
    QList<QTreeWidgetItem *> pending{item};
    while (!pending.isEmpty()) {
        QTreeWidgetItem *d = pending.takeLast();
        if (kind_of(d) == VALUE_ITEM)
            rcl_remove_value(list, u16(key_path(d)), u16(name_of(d)));
        else
            rcl_remove_key(list, u16(key_path(d)));
        for (int i = 0; i < d->childCount(); ++i)
            pending << d->child(i);
    }
}

void registryTreeWidget::check_sub_tree(QTreeWidgetItem *item, int column)
{
    if (!item || column != 0)
        return;
    const Qt::CheckState now = item->checkState(0);
    const auto before = static_cast<Qt::CheckState>(item->data(0, kStateRole).toInt());
    if (now == before) // another change of the item (text, colour)
        return;
    rcl *list = m_holder->list();
    reg *space = m_holder->space();
    const QString path = key_path(item);
    if (kind_of(item) == VALUE_ITEM) {
        const QString name = name_of(item);
        if (now == Qt::Checked) {
            const int rc = list && space ? rcl_add_value(list, space, u16(path), u16(name), kValueFlags, nullptr)
                                         : REG_ERR_INVAL;
            if (rc != REG_OK) {
                ORVA_TRACE() << "rcl_add_value:" << rc;
                setCheckStateOnce(item, before);
                message::critical(this, QStringLiteral("Ошибка"),
                                  QStringLiteral("Возникла ошибка при добавлении \n%1%2\n реестра в СКЦ.")
                                      .arg(path + QLatin1Char('\\'), name));
                return;
            }
        } else if (list) {
            rcl_remove_value(list, u16(path), u16(name));
        }
    } else if (now == Qt::Checked) {
        const int rc = list && space ? rcl_add_key(list, space, u16(path), kKeyFlags, nullptr) : REG_ERR_INVAL;
        if (rc != REG_OK) {
            ORVA_TRACE() << "rcl_add_key:" << rc;
            setCheckStateOnce(item, before);
            message::critical(this, QStringLiteral("Ошибка"),
                              QStringLiteral("Возникла ошибка при добавлении \n%1\n реестра в СКЦ.").arg(path));
            return;
        }
    } else {
        remove_entries(item);
    }
    setCheckState(item, 0, now == Qt::Checked ? Qt::Checked : Qt::Unchecked);
}

void registryTreeWidget::apply_list()
{
    rcl *list = m_holder->list();
    if (!list)
        return;
    QList<QTreeWidgetItem *> ticked;
    for (const rcl_key_entry *e = rcl_first_key(list); e; e = rcl_next_key(e)) {
        const QString path = from_u16(e->path);
        QTreeWidgetItem *item = find_item(path);
        if (!item) {
            m_unshown << QStringLiteral("%1: нет в дереве реестра").arg(path);
            continue;
        }
        setCheckStateOnce(item, Qt::Checked);
        lock_descendants(item, true);
        ticked << item;
    }
    for (const rcl_value_entry *e = rcl_first_value(list); e; e = rcl_next_value(e)) {
        const QString path = from_u16(e->path);
        const QString name = from_u16(e->name);
        QTreeWidgetItem *item = find_item(path, &name);
        if (!item) {
            m_unshown << QStringLiteral("%1\\%2: нет в дереве реестра").arg(path, name);
            continue;
        }
        if (!locked(item))
            setCheckStateOnce(item, Qt::Checked);
        ticked << item;
    }
    // What is under control is in sight.
    for (QTreeWidgetItem *item : ticked) {
        setCheckStateForParents(item);
        for (QTreeWidgetItem *p = item->parent(); p; p = p->parent())
            p->setExpanded(true);
    }
    resizeColumnToContents(0);
}

void registryTreeWidget::clear_marks()
{
    const QSignalBlocker blocker(this);
    for (QTreeWidgetItem *item : m_marked) {
        for (int column = 0; column < 2; ++column) {
            item->setBackground(column, QBrush());
            item->setForeground(column, QBrush());
            item->setToolTip(column, QString());
        }
    }
    m_marked.clear();
}

void registryTreeWidget::mark(const QString &path, const QString *value, uint32_t flags)
{
    const QString line =
        (value ? path + QLatin1Char('\\') + *value : path) + QStringLiteral(": ") + flag_names(flags);
    m_differences << line;
    bool exact = false;
    QTreeWidgetItem *item = nearest_item(m_root, path, value, &exact);
    const QSignalBlocker blocker(this);
    for (int column = 0; column < 2; ++column) {
        item->setBackground(column, kDifference);
        item->setForeground(column, QColor(Qt::black));
        const QString tip = item->toolTip(column);
        item->setToolTip(column, tip.isEmpty() ? line : tip + QLatin1Char('\n') + line);
    }
    if (!m_marked.contains(item))
        m_marked << item;
    for (QTreeWidgetItem *p = item->parent(); p; p = p->parent())
        p->setExpanded(true);
}

void registryTreeWidget::registry_check_value(const rcl_check_value *value)
{
    const QString name = from_u16(value->entry->name);
    mark(from_u16(value->entry->path), &name, value->flags);
}

void registryTreeWidget::registry_check_key(const rcl_check_key *key)
{
    const QString path = from_u16(key->entry->path);
    for (const rcl_key_item *item = rcl_check_first_key_item(key); item; item = rcl_check_next_key_item(key, item)) {
        const QString full = path + from_u16(item->path);
        if (item->value) {
            const QString name = from_u16(*item->value);
            mark(full, &name, item->flags);
        } else {
            mark(full, nullptr, item->flags);
        }
    }
}

void registryTreeWidget::registry_check_info(const rcl_check_info *result)
{
    clear_marks();
    m_differences.clear();
    if (!result)
        return;
    for (const rcl_check_value *v = rcl_check_first_value(result); v; v = rcl_check_next_value(v))
        registry_check_value(v);
    for (const rcl_check_key *k = rcl_check_first_key(result); k; k = rcl_check_next_key(k))
        registry_check_key(k);
    publish_report(QStringLiteral("Отличий нет."));
}

void registryTreeWidget::check_and_mark()
{
    rcl_check_info *result = nullptr;
    const int rc = rcl_check_info_create(m_holder->list(), m_holder->space(), &result);
    if (rc != REG_OK) {
        ORVA_TRACE() << "rcl_check_info_create:" << rc;
        clear_marks();
        m_differences = QStringList{QStringLiteral("Ошибка проверки реестра: %1").arg(rc)};
        publish_report(QString());
        return;
    }
    registry_check_info(result);
    rcl_check_info_destroy(result);
}

void registryTreeWidget::publish_report(const QString &fallback)
{
    QString report = (m_unshown + m_differences).join(QLatin1Char('\n'));
    if (report.isEmpty())
        report = fallback;
    emit report_changed(report);
}

int registryTreeWidget::load_reg_data()
{
    connect_items(false);
    clear_tree();
    m_differences.clear();
    m_unshown.clear();
    // After logon the boot check has left in the holder what it compared;
    // otherwise the block is read.
    if (!m_holder->space()) {
        ic_data_area area(m_handle);
        const boot_check::registry_state stored = boot_check::load_registry_block(area, *m_holder);
        if (stored == boot_check::REGISTRY_NOTHING_STORED || stored == boot_check::REGISTRY_UNREADABLE) {
            publish_report(QStringLiteral("Список контроля реестра не сохранен."));
            return -1;
        }
    }
    // Registry control switched off: the list is kept, the tree waits for a
    // directory to be chosen.
    if (!m_holder->check_wanted()) {
        publish_report(m_holder->flag() ? QStringLiteral("Каталог %windir% не найден на дисках компьютера.")
                                        : QStringLiteral("Контроль реестра выключен."));
        return 0;
    }
    if (fill_from(m_holder->space() ? 0 : m_holder->build_space()) != 0) {
        publish_report(QStringLiteral("Возникла ошибка при построении дерева реестра."));
        return -1;
    }
    apply_list();
    connect_items(true);
    check_and_mark();
    return 0;
}

void registryTreeWidget::save_reg_info()
{
    ic_data_area area(m_handle);
    const int rc = m_holder->save(area);
    if (rc == ic_data_area::kBlockTooLarge) {
        message::critical(this, kRegistryTitle,
                          QStringLiteral("Не удалось сохранить СКЦ реестра. Список слишком большой.\n Попробуйте "
                                         "поставить меньше элементов на контроль."));
    } else if (rc != 0) {
        ORVA_TRACE() << "save_reg_info_to_device:" << rc;
        message::critical(this, kRegistryTitle, QStringLiteral("Не удалось сохранить СКЦ реестра."));
    } else {
        // What is stored now is what the registry is compared with.
        if (m_holder->space())
            check_and_mark();
        message::information(this, kRegistryTitle, QStringLiteral("СКЦ реестра успешно сохранен."));
    }
}

bool registryTreeWidget::destr()
{
    const bool flag = m_holder->flag();
    m_holder->set_flag(false);
    ic_data_area area(m_handle);
    const int rc = m_holder->save(area);
    if (rc != 0) {
        ORVA_TRACE() << "save_reg_info_to_device:" << rc;
        m_holder->set_flag(flag);
        return false;
    }
    connect_items(false);
    // The list goes empty (the holder keeps the list object).
    rcl *list = m_holder->list();
    while (rcl_key_entry *e = list ? rcl_first_key(list) : nullptr) {
        const rcl_string path = e->path;
        if (rcl_remove_key(list, u16(path)) != REG_OK)
            break;
    }
    while (rcl_value_entry *e = list ? rcl_first_value(list) : nullptr) {
        const rcl_string path = e->path;
        const rcl_string name = e->name;
        if (rcl_remove_value(list, u16(path), u16(name)) != REG_OK)
            break;
    }
    m_holder->release_space();
    m_holder->set_dir(exchange_dir());
    clear_tree();
    m_differences.clear();
    m_unshown.clear();
    publish_report(QString());
    return true;
}
