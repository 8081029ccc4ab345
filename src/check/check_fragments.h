// Report fragments of the boot-time check: Qt rich text, each appended to
// the report as it stands. Texts taken from the computer (device names,
// parameter titles) are HTML-escaped before they are put into a fragment.
#ifndef ORVA_CHECK_CHECK_FRAGMENTS_H
#define ORVA_CHECK_CHECK_FRAGMENTS_H

#include <QString>

namespace check_fragments {

// Text taken from the computer (or stored from it) made safe for a
// fragment: shown as it is, never taken as markup; control, format and
// separator characters are shown as their code (\x1b, \u202e).
QString escaped(const QString &text);

// A section title (large, bold).
QString section_title(const QString &title);
// "контроль пройден" in green / "контроль не пройден" in red.
QString passed_text();
QString failed_text();
// "Результат проверки: %1" with one of the two texts above.
QString check_result(bool passed);
// A red line (size 3, arial); `text` is put in as it is.
QString red_line(const QString &text);
// " - ОК" in green.
QString ok_line();

// Hardware section.
QString hw_class_header(const QString &class_name);
QString hw_device_ok(const QString &device_name);
QString hw_device_changed(const QString &device_name);
QString hw_param_changed(const QString &param_title);
QString hw_device_new(const QString &device_name);
QString hw_device_removed(const QString &device_name);
QString hw_result(bool passed);

// Disk section: a disk that differs, by name, with what was found.
QString disk_line(const QString &disk_name, const QString &what);

// Registry section: a violated value (key path and value name), a violated
// key, and one line per item of a violated key (with the names of its
// result flags).
QString reg_value_violated(const QString &key_path, const QString &value_name);
QString reg_key_violated(const QString &key_path);
QString reg_key_item(const QString &relative_path, const QString &value_name, const QString &flag_names);
// The name space could not be built or the check could not run.
QString reg_tree_error();
// A hive, log or profile refused while the name space was built.
QString reg_problem_line(const QString &text);

} // namespace check_fragments

#endif
