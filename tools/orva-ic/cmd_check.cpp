// orva-ic check: the boot-time integrity check of the computer (ORVA_SYSROOT)
// against the reference data of the module (ORVA_SIM_DIR), without the
// screen. The report is printed section by section; the event-log records
// the check would append are printed, not written.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "check/boot_check.h"
#include "check/check_sink.h"
#include "commands.h"
#include "log/log_types.h"

#include <orva.h>

namespace orva_ic {
namespace {

// The plain lines of a report fragment (rich text).
QStringList plain_lines(const QString &fragment) {
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QString text = fragment;
    text.remove(tags);
    text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty()) lines << trimmed;
    }
    return lines;
}

struct printed_sink final : check_sink {
    struct section {
        QString title;
        QStringList lines;
        bool passed = true;
        // Wall-clock time of the section, with its work before its title
        // (the file section checks every volume first): from the end of
        // the section before it.
        double seconds = 0;
    };
    struct record {
        uint32_t type, result;
        std::string parameter;
        QString text;
    };
    QStringList notes; // lines outside a section (loading errors)
    std::vector<section> sections;
    std::vector<record> records;
    std::vector<std::pair<QString, uint32_t>> files; // file-check records: path, result flags
    bool open = false;
    // The start, then the end of the first section's preparation or of the
    // last section.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    double preparing = 0; // loading the stored data and taking the current pictures

    void section_begin(const QString &title) override {
        if (sections.empty()) {
            const auto now = std::chrono::steady_clock::now();
            preparing = std::chrono::duration<double>(now - started).count();
            started = now;
        }
        sections.push_back({title, {}, true, 0});
        open = true;
    }
    void section_end(bool passed) override {
        if (!open) return;
        const auto now = std::chrono::steady_clock::now();
        sections.back().passed = passed;
        sections.back().seconds = std::chrono::duration<double>(now - started).count();
        started = now;
        open = false;
    }
    void info(const QString &fragment) override {
        QStringList lines = plain_lines(fragment);
        if (open) {
            // The title fragment itself.
            if (sections.back().lines.isEmpty() && lines.size() == 1 && lines[0] == sections.back().title) return;
            sections.back().lines << lines;
        } else {
            notes << lines;
        }
    }
    void file_record(const QString &path, uint32_t check_flags) override {
        files.push_back({path, check_flags});
    }
    void log_record(uint32_t type, uint32_t result, const void *parameter, const QString &text) override {
        const size_t size = !parameter ? 0 : type == LOG_HW_CHECK ? 4 : 1;
        records.push_back({type, result, hex(static_cast<const uint8_t *>(parameter), size), text});
    }
};

std::string u8(const QString &s) { return s.toStdString(); }

void print_json(const printed_sink &sink, bool passed) {
    auto strings = [](const QStringList &list) {
        std::string out = "[";
        for (int i = 0; i < list.size(); ++i) out += (i ? ", " : "") + json_string(u8(list[i]).c_str());
        return out + "]";
    };
    std::printf("{\n  \"passed\": %s,\n  \"notes\": %s,\n  \"preparing_seconds\": %.3f,\n  \"sections\": [",
                passed ? "true" : "false", strings(sink.notes).c_str(), sink.preparing);
    for (size_t i = 0; i < sink.sections.size(); ++i) {
        const auto &s = sink.sections[i];
        std::printf("%s\n    {\"title\": %s, \"passed\": %s, \"lines\": %s, \"seconds\": %.3f}", i ? "," : "",
                    json_string(u8(s.title).c_str()).c_str(), s.passed ? "true" : "false", strings(s.lines).c_str(),
                    s.seconds);
    }
    std::printf("\n  ],\n  \"records\": [");
    for (size_t i = 0; i < sink.records.size(); ++i) {
        const auto &r = sink.records[i];
        std::printf("%s\n    {\"type\": %u, \"result\": %u, \"parameter\": \"%s\", \"text\": %s}", i ? "," : "",
                    r.type, r.result, r.parameter.c_str(), json_string(u8(r.text).c_str()).c_str());
    }
    std::printf("\n  ],\n  \"file_records\": [");
    for (size_t i = 0; i < sink.files.size(); ++i)
        std::printf("%s\n    {\"path\": %s, \"flags\": %u}", i ? "," : "",
                    json_string(u8(sink.files[i].first).c_str()).c_str(), sink.files[i].second);
    std::printf("\n  ]\n}\n");
}

void print_text(const printed_sink &sink, bool passed) {
    for (const QString &note : sink.notes) std::printf("%s\n", printable(u8(note).c_str()).c_str());
    for (const auto &s : sink.sections) {
        std::printf("%s: %s\n", u8(s.title).c_str(), s.passed ? "passed" : "FAILED");
        for (const QString &line : s.lines) std::printf("    %s\n", printable(u8(line).c_str()).c_str());
    }
    for (const auto &r : sink.records)
        std::printf("event-log record: type %u, result %u, parameter %s, text %s\n", r.type, r.result,
                    r.parameter.c_str(), printable(u8(r.text).c_str()).c_str());
    for (const auto &f : sink.files)
        std::printf("file-check record: %s, flags 0x%x\n", printable(u8(f.first).c_str()).c_str(), f.second);
    std::printf("check: %s\n", passed ? "passed" : "FAILED");
}

}  // namespace

int cmd_check_computer(int argc, char **argv) {
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) json = true;
        else return usage_error("check: unknown argument");
    }
    int rc = orva_init(0);
    if (rc != ORVA_OK) {
        std::fprintf(stderr, "orva-ic check: the module library cannot start (code %d)\n", rc);
        return kExitFailure;
    }
    orva_handle_t handle = nullptr;
    rc = orva_open_device(0, &handle, 0);
    if (rc != ORVA_OK) {
        std::fprintf(stderr, "orva-ic check: the module cannot be opened (code %d)\n", rc);
        orva_exit(0);
        return kExitFailure;
    }
    printed_sink sink;
    bool passed;
    {
        core_output_on_stderr quiet;
        boot_check check(handle);
        passed = check.run(sink);
    }
    orva_close_device(handle);
    orva_exit(0);
    if (json) print_json(sink, passed);
    else print_text(sink, passed);
    return passed ? kExitOk : kExitDiffers;
}

}  // namespace orva_ic
