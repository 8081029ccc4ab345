// Report fragments of the boot-time check: Qt rich text, each appended to
// the report as it stands. Texts taken from the computer (device names,
// parameter titles) are HTML-escaped before they are put into a fragment.
#ifndef ORVA_CHECK_CHECK_FRAGMENTS_H
#define ORVA_CHECK_CHECK_FRAGMENTS_H

#include <QString>

namespace check_fragments {

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

} // namespace check_fragments

#endif
