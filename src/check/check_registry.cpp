// The registry section of the boot check.
#include "check/boot_check.h"

#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "log/log_types.h"

#include <QDebug>
#include <QStringList>

#include <memory>

namespace {

using namespace check_fragments;

QString text_of(const rcl_string &s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

QString flag_names(uint32_t flags)
{
    QStringList names;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (flags & (1u << bit)) {
            const char *name = rcl_result_flag_name(bit);
            names << (name ? QString::fromLatin1(name) : QString::number(1u << bit, 16));
        }
    }
    return names.join(QLatin1Char('|'));
}

// The report line of a problem met while the name space was built.
QString problem_text(const reg_problem &p)
{
    const QString subject = QString::fromUtf8(p.subject);
    const QString detail = p.detail ? QString::fromUtf8(p.detail) : QString();
    switch (p.kind) {
    case REG_PROBLEM_DIRTY:
        return QStringLiteral("Куст реестра %1 сохранён не полностью, а журнала транзакций для его "
                              "восстановления нет или он повреждён.").arg(subject);
    case REG_PROBLEM_OUTSIDE:
        return detail.isEmpty()
                   ? QStringLiteral("Путь к файлу реестра %1 выходит за пределы раздела Windows.").arg(subject)
                   : QStringLiteral("Путь к профилю %1 (%2) выходит за пределы раздела Windows.").arg(detail, subject);
    case REG_PROBLEM_NOT_REGULAR:
        return QStringLiteral("Файл реестра %1 не является обычным файлом.").arg(subject);
    case REG_PROBLEM_NAME_TAKEN:
        return QStringLiteral("Профиль %1 не подключен: это имя в реестре уже занято или недопустимо.").arg(subject);
    case REG_PROBLEM_CONTROL_SET:
        return QStringLiteral("Набор параметров Select\\Current (%1) отличается от загружаемого Windows "
                              "Select\\Default (%2).").arg(subject, detail);
    default:
        return QStringLiteral("Ошибка при построении дерева реестра: %1.").arg(subject);
    }
}

struct check_info_deleter {
    void operator()(rcl_check_info *info) const { rcl_check_info_destroy(info); }
};

} // namespace

bool boot_check::compare_registry(check_sink &sink, const rcl *list, reg *space)
{
    begin_section(sink, registry_title());
    // What was refused while the name space was built fails the section.
    QStringList problems;
    for (size_t i = 0; i < reg_get_problem_count(space); ++i) {
        reg_problem p;
        if (reg_get_problem(space, i, &p) == REG_OK)
            problems << problem_text(p);
    }
    for (const QString &line : problems)
        sink.info(reg_problem_line(line));
    std::unique_ptr<rcl_check_info, check_info_deleter> result;
    rcl_check_info *raw = nullptr;
    if (space && list && rcl_check_info_create(list, space, &raw) == REG_OK) {
        result.reset(raw);
    } else {
        qDebug("error: can't create check info. ");
        sink.info(reg_tree_error());
    }
    if (result && problems.isEmpty() && !rcl_check_first_value(result.get()) && !rcl_check_first_key(result.get())) {
        sink.info(check_result(true));
        return true;
    }

    // What failed and the keys found violated, for the event log.
    QStringList violated = problems;
    if (!result)
        violated << reg_tree_error().trimmed();
    for (const rcl_check_value *v = result ? rcl_check_first_value(result.get()) : nullptr; v;
         v = rcl_check_next_value(v)) {
        const QString path = text_of(v->entry->path);
        sink.info(reg_value_violated(path, text_of(v->entry->name)));
        violated << path + QLatin1Char('\\') + text_of(v->entry->name);
    }
    for (const rcl_check_key *k = result ? rcl_check_first_key(result.get()) : nullptr; k;
         k = rcl_check_next_key(k)) {
        const QString path = text_of(k->entry->path);
        sink.info(reg_key_violated(path));
        for (const rcl_key_item *item = rcl_check_first_key_item(k); item; item = rcl_check_next_key_item(k, item))
            sink.info(reg_key_item(text_of(item->path), item->value ? text_of(*item->value) : QString(),
                                   flag_names(item->flags)));
        violated << path;
    }
    sink.info(check_result(false));
    const uint8_t attributes = 0;
    sink.log_record(LOG_REGISTRY_CHECK, LOG_INTEGRITY_ERROR, &attributes, violated.join(QStringLiteral("; ")));
    return false;
}

bool boot_check::registry_not_checked(check_sink &sink, registry_state state, const exchange_dir &dir, int mount_error)
{
    begin_section(sink, registry_title());
    // The line names the directory's volume; the report shows the names
    // escaped, the event log as they are.
    QString why, shown;
    switch (state) {
    case REGISTRY_UNREADABLE:
        why = shown = QStringLiteral("\tОшибка при восстановлении списка контроля целостности реестра.\n");
        break;
    case REGISTRY_NO_DISKS:
        why = shown = no_disk_list();
        break;
    default: {
        const QString verdict =
            state == REGISTRY_AMBIGUOUS       ? QStringLiteral(" - раздел не определен однозначно\n")
            : state == REGISTRY_MOUNT_FAILED ? QStringLiteral(" - ошибка при монтировании раздела: %1.\n").arg(mount_error)
                                             : QStringLiteral(" - раздел не найден\n");
        const QString where = QStringLiteral("\n\t%1-%2");
        why = where.arg(dir.disk, dir.part_id) + verdict;
        shown = where.arg(escaped(dir.disk), escaped(dir.part_id)) + verdict;
        break;
    }
    }
    sink.info(shown);
    sink.info(check_result(false));
    const uint8_t attributes = 0;
    sink.log_record(LOG_REGISTRY_CHECK, LOG_INTEGRITY_ERROR, &attributes, why.trimmed());
    return false;
}
