#include "files/icl_tree_model.h"

#include "check/boot_check.h"

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>

#include <QFont>

namespace {

const char *const kHeaders[icl_tree_item::COLUMN_COUNT] = {"Имя", "Хэш", "Содержимое", "Атрибуты", "Рекурсивно",
                                                          "Результат"};

QString hash_text(const fs_ocl_object *o)
{
    if (o->type == FS_OCL_TYPE_DIR) {
        const auto *dir = reinterpret_cast<const fs_ocl_dir *>(o);
        return (o->flags & FS_OCL_EACH_FILE) ? QStringLiteral("Файлы по отдельности") : orva_fun_fs::print_hash(dir->hash);
    }
    const auto *file = reinterpret_cast<const fs_ocl_file *>(o);
    return (o->flags & FS_OCL_CONTROL_DATA) ? orva_fun_fs::print_hash(file->hash) : QStringLiteral("только наличие");
}

// The result rows of one changed object under its row.
void add_results(icl_tree_item *object_row, const fs_ocl_check_object *check)
{
    const fs_volume_id *id = object_row->volume_id();
    auto result = std::make_unique<icl_tree_item>(icl_tree_item::RESULT, id, object_row);
    result->set_object_path(object_row->object_path());
    if (check->variant == FS_OCL_CHECK_FILE) {
        result->set_text(icl_tree_item::NAME,
                         icl_tree_model::result_text(reinterpret_cast<const fs_ocl_check_file *>(check)->flags));
        object_row->append(std::move(result));
        return;
    }
    // A directory: what concerns it as a whole on the result row, every item
    // found below a per-file directory under it.
    uint32_t whole = 0;
    uint32_t any = 0;
    icl_tree_item *row = result.get();
    std::vector<std::unique_ptr<icl_tree_item>> items;
    for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(check); i; i = fs_ocl_check_next_dir_item(i)) {
        any |= i->flags;
        if (qstrcmp(i->path, "/") == 0) {
            whole |= i->flags;
            continue;
        }
        auto item = std::make_unique<icl_tree_item>(icl_tree_item::ITEM, id, row);
        item->set_object_path(object_row->object_path());
        item->set_text(icl_tree_item::NAME, QString::fromUtf8(i->path));
        item->set_text(icl_tree_item::RESULT_TEXT, icl_tree_model::result_text(i->flags));
        items.push_back(std::move(item));
    }
    row->set_text(icl_tree_item::NAME, icl_tree_model::result_text(whole ? whole : any));
    for (auto &item : items)
        row->append(std::move(item));
    object_row->append(std::move(result));
}

} // namespace

icl_tree_model::icl_tree_model(QObject *parent)
    : tree_node_model(parent)
{
    m_root = std::make_unique<icl_tree_item>(-1, nullptr, nullptr);
}

icl_tree_model::~icl_tree_model() = default;

QString icl_tree_model::result_text(uint32_t flags)
{
    // The texts of the boot report, without its leading " -".
    return boot_check::file_result_text(flags).mid(2);
}

void icl_tree_model::setupModelData(const fs_icl *icl, const orva_fun_fs *fs)
{
    beginResetModel();
    m_root = std::make_unique<icl_tree_item>(-1, nullptr, nullptr);
    for (const fs_icl_volume *v = icl ? fs_icl_first_volume(icl) : nullptr; v; v = fs_icl_next_volume(v)) {
        // One disk row per kind and first field of the ids.
        icl_tree_item *disk = nullptr;
        for (int row = 0; row < m_root->child_count() && !disk; ++row) {
            icl_tree_item *d = m_root->child(row);
            if (fs_volume_id_kind(d->volume_id()) == fs_volume_id_kind(v->id) &&
                qstrcmp(d->volume_id()->first, v->id->first) == 0)
                disk = d;
        }
        if (!disk) {
            disk = m_root->append(std::make_unique<icl_tree_item>(icl_tree_item::DISK, v->id, m_root.get()));
            disk->set_text(icl_tree_item::NAME, disk_id_by_volume_id(v->id));
        }
        icl_tree_item *volume = disk->append(std::make_unique<icl_tree_item>(icl_tree_item::VOLUME, v->id, disk));
        volume->set_text(icl_tree_item::NAME, part_name_by_volume_id(v->id));
        const fs_ocl_check_info *check = fs ? fs->check_info_by_id(v->id) : nullptr;
        for (const fs_ocl_object *o = fs_icl_volume_first_object(v); o; o = fs_icl_volume_next_object(v, o)) {
            icl_tree_item *row = volume->append(std::make_unique<icl_tree_item>(icl_tree_item::OBJECT, v->id, volume));
            row->set_object_path(QString::fromUtf8(o->path));
            row->set_text(icl_tree_item::NAME, row->object_path());
            row->set_text(icl_tree_item::HASH, hash_text(o));
            row->set_check(icl_tree_item::DATA, o->flags & FS_OCL_CONTROL_DATA);
            row->set_check(icl_tree_item::ATTRS, o->flags & FS_OCL_CONTROL_ATTRS);
            row->set_check(icl_tree_item::RECURSIVE, o->flags & FS_OCL_RECURSIVE);
            const fs_ocl_check_object *changed = check ? fs_ocl_check_find_object(check, o->path) : nullptr;
            row->set_text(icl_tree_item::RESULT_TEXT,
                          changed ? QStringLiteral("Целостность нарушена") : QStringLiteral("OK"));
            if (changed)
                add_results(row, changed);
        }
    }
    m_root->sort_children();
    endResetModel();
}

int icl_tree_model::columnCount(const QModelIndex &) const
{
    return icl_tree_item::COLUMN_COUNT;
}

QVariant icl_tree_model::data(const QModelIndex &index, int role) const
{
    const icl_tree_item *i = item(index);
    if (!i)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return i->text(index.column());
    case Qt::ToolTipRole:
        return i->text(index.column()).isEmpty() ? QVariant() : QVariant(i->text(index.column()));
    case Qt::CheckStateRole:
        if (i->check_state(index.column()) == icl_tree_item::NO_BOX)
            return QVariant();
        return i->check_state(index.column()) == icl_tree_item::CHECKED ? Qt::Checked : Qt::Unchecked;
    case Qt::FontRole:
        if (index.column() == icl_tree_item::HASH)
            return QFont(QStringLiteral("Monospace"));
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant icl_tree_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < icl_tree_item::COLUMN_COUNT)
        return QString::fromUtf8(kHeaders[section]);
    return QVariant();
}
