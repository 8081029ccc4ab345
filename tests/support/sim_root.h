// Test support: simulated computers built into temporary directories.
#ifndef TESTS_SUPPORT_SIM_ROOT_H
#define TESTS_SUPPORT_SIM_ROOT_H

#include "simcomputer/simcomputer.h"
#include "temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace simtest {

// Builds a computer from description text into dir/name; returns the root.
inline std::string build_root(const TempDir &dir, const std::string &text, const std::string &name = "root",
                              simcomputer::Computer *model = nullptr)
{
    simcomputer::Computer c;
    simcomputer::Error err;
    if (!simcomputer::parse(text, c, err))
        throw std::runtime_error("description: " + err.text());
    std::string root = dir / name;
    if (!simcomputer::build(c, root, err))
        throw std::runtime_error("build: " + err.text());
    if (model)
        *model = c;
    return root;
}

// Sets ORVA_SYSROOT for the lifetime of the object.
class SysRoot {
public:
    explicit SysRoot(const std::string &root)
    {
        if (const char *old = std::getenv("ORVA_SYSROOT"))
            old_ = old, had_ = true;
        setenv("ORVA_SYSROOT", root.c_str(), 1);
    }
    ~SysRoot()
    {
        if (had_)
            setenv("ORVA_SYSROOT", old_.c_str(), 1);
        else
            unsetenv("ORVA_SYSROOT");
    }

private:
    std::string old_;
    bool had_ = false;
};

} // namespace simtest

#endif
