// Appending the boot-time check's event-log records (one file-check record
// per examined file) through the program's log object, with the log model
// loaded as the log page shows it, into an empty log and into a full one
// (where every record appended drops the oldest), in a simulated module in a
// temporary directory. Beside it the module library's calls alone (create,
// append, destroy, and reading the new record back as the model does): what
// is left is the program's part. The simulated module reads and writes its
// whole log file on every call, so its own time grows with the log; a
// module on tmpfs keeps that from being all fsync.
//
// usage: bench_check_log [RECORDS [ROUNDS [DIR]]]   (defaults: 300 records,
//   best of 5 rounds, /dev/shm; the empty log stays far from full with a few
//   hundred records). A model rebuilt on every append would add the
//   conversion of every row of the full log to each record.
#include "log/log_tree_model.h"
#include "log/orva_fun_log.h"
#include "log/log_types.h"
#include "module/orva_initialization.h"

#include <orva.h>

#include <QApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

QString file_path(int i)
{
    return QStringLiteral("/data/d%1/s%2/f%3").arg(i % 20, 2, 10, QLatin1Char('0')).arg(i % 10).arg(i, 5, 10,
                                                                                                  QLatin1Char('0'));
}

uint32_t record_count()
{
    orva_device_state state{};
    return orva_get_device_state(handle(), &state) == ORVA_OK ? state.log_record_count : 0;
}

// The library's calls alone: microseconds per record. With `read_back`
// also the reading that follows each append in the program (the new record,
// then the end of the log).
double library_appends(int n, bool read_back = false)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        const QByteArray text = file_path(i).toUtf8();
        const uint8_t attributes = LOG_ATTR_H;
        orva_log_record *record = nullptr;
        if (orva_log_create_record(handle(), LOG_FS_CHECK, LOG_INTEGRITY_ERROR, &attributes, 1, text.constData(),
                                   &record) != ORVA_OK ||
            orva_log_append(handle(), record) != ORVA_OK) {
            std::fprintf(stderr, "bench_check_log: the library refused a record\n");
            std::exit(1);
        }
        orva_log_destroy_record(handle(), record);
        while (read_back && orva_log_get_next_record(handle(), &record) == ORVA_OK) {
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

// Through the program's log object, the model following: microseconds per
// record.
double program_appends(int n)
{
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        if (orva_fun_log::object()->append_log_record_file_check(file_path(i), 0x4) != 0) {
            std::fprintf(stderr, "bench_check_log: a record was not appended\n");
            std::exit(1);
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

struct Row {
    const char *name;
    uint32_t records_before;
    int model_rows;
    double program, library;
};

// The log emptied (its first record written), then with `full` filled
// until appending drops the oldest record.
bool prepare(bool full)
{
    if (orva_fun_log::object()->clear_log() != 0)
        return false;
    for (uint32_t before = 0, after = 1; full && after > before;) {
        before = record_count();
        library_appends(50);
        after = record_count();
    }
    // The log page's model holds the whole log, as after opening the page.
    orva_fun_log::object()->model()->setupModelData(handle());
    return true;
}

// Best of `rounds`, each from the same state.
Row measure(const char *name, int n, bool full, int rounds)
{
    Row row{name, 0, 0, 1e12, 1e12};
    for (int r = 0; r < rounds; ++r) {
        if (!prepare(full))
            std::exit(1);
        row.records_before = record_count();
        row.model_rows = orva_fun_log::object()->model()->rowCount();
        row.program = std::min(row.program, program_appends(n));
        if (!prepare(full))
            std::exit(1);
        row.library = std::min(row.library, library_appends(n, true));
    }
    return row;
}

} // namespace

int main(int argc, char **argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 300;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string base = argc > 3 ? argv[3] : "/dev/shm";
    if (n <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: bench_check_log [RECORDS [ROUNDS [DIR]]]\n");
        return 2;
    }
    std::string dir = base + "/bench-check-log.XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    struct Cleanup {
        std::string dir;
        ~Cleanup()
        {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } cleanup{dir};
    const std::string module = dir + "/module";
    setenv("ORVA_SIM_DIR", module.c_str(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string sim = ORVA_SIM_PATH;
    if (std::system((sim + " init --class 1 >/dev/null && " + sim + " format >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "bench_check_log: orva-sim could not prepare the module\n");
        return 1;
    }
    QApplication app(argc, argv);
    if (orva_initialization::object()->init() != 0 || orva_fun_log::object()->log_open() != 0) {
        std::fprintf(stderr, "bench_check_log: the module cannot be opened\n");
        return 1;
    }

    const Row empty = measure("empty log", n, false, rounds);
    const Row full = measure("full log (oldest dropped)", n, true, rounds);
    // What a model rebuilt on every append would add to each record.
    double rebuild = 1e12;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        orva_fun_log::object()->model()->setupModelData(handle());
        rebuild = std::min(rebuild, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    orva_fun_log::object()->log_close();
    orva_initialization::object()->exit();

    std::printf("%d file-check records appended, best of %d; microseconds per record\n", n, rounds);
    std::printf("  %-28s %9s %11s %11s %11s %11s\n", "", "records", "model rows", "program", "library", "difference");
    for (const Row &r : {empty, full})
        std::printf("  %-28s %9u %11d %11.1f %11.1f %11.1f\n", r.name, r.records_before, r.model_rows, r.program,
                    r.library, r.program - r.library);
    std::printf("full / empty: program %.2f, library alone %.2f (the simulated module's whole-file reads and "
                "writes)\n",
                full.program / empty.program, full.library / empty.library);
    std::printf("the program's part (program - library): %.1f empty, %.1f full; one rebuild of the full log's "
                "model: %.1f\n",
                empty.program - empty.library, full.program - full.library, rebuild);
    return 0;
}
