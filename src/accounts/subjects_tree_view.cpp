#include "accounts/subjects_tree_view.h"

#include "accounts/subjects_tree_item.h"
#include "accounts/subjects_tree_model.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <QKeyEvent>

namespace {

const QString kCreateTitle = QStringLiteral("Создание новой записи");
const QString kDeleteTitle = QStringLiteral("Удаление записи");
const QString kErrorTitle = QStringLiteral("Ошибка");

// Records nobody may delete, whoever is logged on.
bool protected_record(const orva_db_record &record)
{
    return db_record::name_is(record.name, db_record::kSupervisor) ||
           db_record::name_is(record.name, db_record::kAdmins) ||
           db_record::name_is(record.name, db_record::kEveryone);
}

} // namespace

subjects_tree_view::subjects_tree_view(QWidget *parent)
    : QTreeView(parent)
{
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void subjects_tree_view::setup()
{
    if (!m_model) {
        m_model = new subjects_tree_model(this);
        setModel(m_model);
    }
    rebuild(QString());
}

void subjects_tree_view::rebuild(const QString &select_name)
{
    if (!m_model)
        return;
    m_model->setupModelData(orva_initialization::object()->handle());
    expandAll();
    QModelIndex target = m_model->find(select_name, subjects_tree_item::USER);
    if (!target.isValid())
        target = m_model->find(select_name, subjects_tree_item::GROUP);
    if (!target.isValid())
        target = m_model->index(0, 0);
    select(target);
}

void subjects_tree_view::select(const QModelIndex &index)
{
    // A reset leaves no current index: choosing the same row again must
    // still show it.
    if (index == currentIndex())
        setCurrentIndex(QModelIndex());
    setCurrentIndex(index);
}

subjects_tree_item *subjects_tree_view::current_item() const
{
    const QModelIndex index = currentIndex();
    if (!m_model || !index.isValid())
        return nullptr;
    return m_model->item(index);
}

void subjects_tree_view::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTreeView::currentChanged(current, previous);
    if (!m_model || !current.isValid())
        return;
    subjects_tree_item *it = m_model->item(current);
    emit show_record(it->name(), it->record());
}

void subjects_tree_view::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((plain && (key == Qt::Key_Insert || key == Qt::Key_I || key == Qt::Key_D)) || key == Qt::Key_Escape ||
        (key >= Qt::Key_F1 && key <= Qt::Key_F12)) {
        event->ignore();
        return;
    }
    QTreeView::keyPressEvent(event);
}

// ---- creation ----------------------------------------------------------------

bool subjects_tree_view::unfinished_refused()
{
    if (!m_model || !m_model->has_unfinished())
        return false;
    message::information(this, kCreateTitle,
                         QStringLiteral("Вы не закончили редактирование записи %1. Для возможности создания новой "
                                        "учетной записи необходимо закончить редактирование текущей записи или "
                                        "удалить ее.")
                             .arg(m_model->unfinished_name()));
    return true;
}

void subjects_tree_view::show_user_name_selector()
{
    if (m_model && !unfinished_refused())
        emit name_selector();
}

void subjects_tree_view::show_group_name_selector()
{
    if (m_model && !unfinished_refused())
        emit name_selector_group();
}

void subjects_tree_view::new_name(QString name)
{
    if (!m_model || m_model->has_unfinished())
        return;
    QModelIndex group = currentIndex();
    if (group.isValid() && m_model->item(group)->kind() == subjects_tree_item::USER)
        group = group.parent();
    if (!group.isValid())
        group = m_model->index(0, 0);
    if (!group.isValid())
        return;

    const int number = orva_fun_db::object()->group_record_no(*m_model->item(group)->record());
    orva_db_record record;
    if (number < 0 || orva_db_get_user_template(orva_initialization::object()->handle(),
                                                static_cast<uint16_t>(number), &record) != ORVA_OK) {
        message::critical(this, kErrorTitle, QStringLiteral("Ошибка получения информации о записи"));
        return;
    }
    db_record::set_name(record.name, name);
    const QModelIndex added = m_model->add_user(group, record);
    expand(group);
    select(added);
}

void subjects_tree_view::new_group_name(QString name)
{
    if (!m_model || m_model->has_unfinished())
        return;
    std::optional<orva_db_record> record = orva_fun_db::object()->template_group();
    if (!record) {
        message::critical(this, kErrorTitle, QStringLiteral("Нет группы Обычные."));
        return;
    }
    db_record::set_name(record->name, name);
    select(m_model->add_group(*record));
    emit group_has_created();
}

// ---- deletion ----------------------------------------------------------------

void subjects_tree_view::delete_user()
{
    delete_record(subjects_tree_item::USER);
}

void subjects_tree_view::delete_group()
{
    delete_record(subjects_tree_item::GROUP);
}

void subjects_tree_view::delete_record(int kind)
{
    subjects_tree_item *it = current_item();
    if (!it || it->kind() != kind)
        return;
    const bool group = kind == subjects_tree_item::GROUP;
    const QString name = it->name();
    const QString question = group ? QStringLiteral("Вы действительно хотите удалить группу %1?")
                                   : QStringLiteral("Вы действительно хотите удалить пользователя %1?");
    if (message::question(this, kDeleteTitle, question.arg(name)) != QMessageBox::Ok)
        return;

    const QString refused = group ? QStringLiteral("Невозможно удалить группу %1.")
                                  : QStringLiteral("Невозможно удалить пользователя %1.");
    const orva_db_record record = *it->record();
    if (protected_record(record) || name == orva_fun_db::object()->current_user_name()) {
        message::warning(this, kDeleteTitle, refused.arg(name));
        return;
    }
    if (m_model->is_unfinished(it)) {
        // Never written to the module: only the tree holds it.
        m_model->remove_unfinished();
        emit record_deleted(name);
        rebuild(QString());
        return;
    }
    orva_fun_db *db = orva_fun_db::object();
    const int code = record.is_group == 1 ? db->delete_group_record(record) : db->delete_user_record(record);
    if (code != 0) {
        // A group with users, or a module that refused: the record stays.
        message::warning(this, kDeleteTitle, refused.arg(name));
        rebuild(name);
        return;
    }
    orva_fun_log::object()->append_log_record(group ? LOG_GROUP_DELETE : LOG_USER_DELETE, LOG_OK, nullptr, name);
    emit record_deleted(name);
    rebuild(QString());
}
