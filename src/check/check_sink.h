// Where the boot-time check sends what it finds: report fragments (Qt rich
// text, one per call), event-log records and the hardware notices. The
// program's integrity controller paints and logs them; a command line can
// print them.
#ifndef ORVA_CHECK_CHECK_SINK_H
#define ORVA_CHECK_CHECK_SINK_H

#include <QString>

#include <cstdint>

class check_sink {
public:
    virtual ~check_sink() = default;

    virtual void info(const QString &fragment) = 0;
    // One event-log record; `parameter` holds the type's fixed parameter.
    virtual void log_record(uint32_t type, uint32_t result, const void *parameter, const QString &text) = 0;
    // The file-check record of one examined file or directory whose result
    // flags (file-object bits) are check_flags; path inside its volume.
    virtual void file_record(const QString &path, uint32_t check_flags) = 0;
    // A hardware device differs from the stored inventory (once per device).
    virtual void hw_configuration_changed() {}
    // The hardware section passed.
    virtual void hw_check_success() {}
    // A section starts (its title fragment follows) and ends; sections whose
    // stored data is absent neither start nor count.
    virtual void section_begin(const QString &title) { (void)title; }
    virtual void section_end(bool passed) { (void)passed; }
    // Between two sections (the program repaints the report here).
    virtual void between_sections() {}
    // Now and then during long work inside a section (and here).
    virtual void busy() {}
};

#endif
