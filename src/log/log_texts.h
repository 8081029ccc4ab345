// What the log viewer shows of a record: event and result texts, parameter
// lines, the date, and the attribute and hardware-mask strings.
#ifndef ORVA_LOG_LOG_TEXTS_H
#define ORVA_LOG_LOG_TEXTS_H

#include <orva.h>

#include <QString>

#include <cstdint>

namespace log_texts {

// Size of the fixed parameter a record of this type carries.
uint32_t param_size(uint32_t type);

// "Тип события": empty for a type not in the table.
QString type_text(uint32_t type);
// "Результат": "Внутренняя ошибка системы журналирования" for an unknown code.
QString result_text(uint32_t result);

// Whether records of this type have a parameter row.
bool has_param_line(uint32_t type);
// The parameter row of a record ("Версия журнала: 260"); empty when none.
QString param_line(const orva_log_record &record);

// "DD-MM-YYYY HH:MM:SS" from the packed date and time words.
QString date_time_text(uint32_t date, uint32_t time);

// Four letters S, T, A, H, upper case for a set bit.
QString attribute_string(uint8_t attributes);
// The names of the set bits of a hardware mask, in bit order.
QString hw_mask_string(uint32_t mask);

// The text parameter of a record (NUL-terminated, UTF-8 or ASCII).
QString record_text(const orva_log_record &record);

} // namespace log_texts

#endif
