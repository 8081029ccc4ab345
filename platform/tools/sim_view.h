// What orva-sim shows: a snapshot of a module, read through liborva when the
// module is free, else straight from its files (read-only, while another
// process such as the running program holds the module).
#ifndef ORVA_SIM_VIEW_H
#define ORVA_SIM_VIEW_H

#include "module_files.h"

#include <cstdio>
#include <string>

namespace orva_sim_tool {

struct Snapshot {
    std::string dir;
    bool open_elsewhere = false;
    orva_sim::DeviceFile device;
    // Each part read on its own: a code other than ORVA_OK marks it unreadable.
    int db_rc = ORVA_OK;
    uint32_t state = 0;
    orva_sim::DatabaseFile db;  // image and session
    int config_rc = ORVA_OK;
    orva_sim::ConfigFile config;
    int log_rc = ORVA_OK;
    orva_sim::LogFile log;
    int ia_rc = ORVA_OK;        // ORVA_E_NOT_SET when no block is stored
    uint8_t ia[ORVA_IA_DATA_SIZE] = {};
    int reader_rc = TMID_OK;
    std::vector<orva_sim::ReaderEntry> reader;
};

// Throws Failure when there is no readable module at all.
Snapshot take_snapshot();

std::string hex(const uint8_t *data, size_t size);
// "0C 123456789ABC 5F": family, serial in stored order, check byte.
std::string tmid_text(const uint8_t id[8]);
std::string state_name(uint32_t state);
std::string code_text(int code);

void print_status(const Snapshot &s, FILE *out);
void print_users(const Snapshot &s, FILE *out);
void print_log(const Snapshot &s, FILE *out);
void print_ia(const Snapshot &s, FILE *out);

} // namespace orva_sim_tool

#endif
