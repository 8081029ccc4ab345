// Test support: simulated computers built into temporary directories.
#ifndef TESTS_SUPPORT_SIM_ROOT_H
#define TESTS_SUPPORT_SIM_ROOT_H

#include "simcomputer/simcomputer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace simtest {

// A temporary directory removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orva-sim-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

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

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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
