// Text records read under a system root: udev database entries and uevent files.
#ifndef IC_SYS_UDEV_RECORD_H
#define IC_SYS_UDEV_RECORD_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ic_sys {

using property_list = std::vector<std::pair<std::string, std::string>>;

// One file of <root>/run/udev/data: "E:KEY=VALUE" properties, "N:node" (the
// device node below /dev), "S:link" (links below /dev), "I:usec" (time of
// initialisation). Lines of other kinds and malformed lines are skipped, as
// udev skips them.
struct db_record {
    property_list properties;
    std::string node;
    std::vector<std::string> links;
    std::string initialized_usec;
};

db_record parse_db_record(std::string_view text);

// KEY=VALUE lines of a sysfs uevent file.
property_list parse_uevent(std::string_view text);

} // namespace ic_sys

#endif
