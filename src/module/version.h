// The program version: four bytes, also the database format version written
// by orva_format_database, and the text shown to the user.
#ifndef ORVA_MODULE_VERSION_H
#define ORVA_MODULE_VERSION_H

#include <QString>

#include <cstdint>

class version {
public:
    static constexpr uint8_t bytes[4] = {0, 3, 0, 29};

    // "ORVA v.0.3.0.29"
    static QString text();
};

#endif
