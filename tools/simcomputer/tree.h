// Writing the files of a simulated computer below its root directory.
#ifndef SIMCOMPUTER_TREE_H
#define SIMCOMPUTER_TREE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace simcomputer {

// Paths are absolute system paths ("/sys/block/sda") placed below the root.
// Failures throw description_error with line 0.
class Tree {
public:
    explicit Tree(std::string root) : root_(std::move(root)) {}

    void dir(const std::string &path);
    void file(const std::string &path, const std::string &content);
    void file(const std::string &path, const std::vector<uint8_t> &content);
    // A file of size bytes, holes except the given pieces.
    void sparse(const std::string &path, uint64_t size,
                const std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> &pieces);
    // Writes the pieces into the existing file at path.
    void patch(const std::string &path, const std::vector<std::pair<uint64_t, const std::vector<uint8_t> *>> &pieces);
    // Copies the file source (a host path) to the start of the existing file
    // at path, leaving holes where source has zero blocks.
    void copy_into(const std::string &path, const std::string &source);
    // A relative link at path pointing to the system path target, as the
    // kernel makes its sysfs links.
    void link(const std::string &path, const std::string &target);
    // Where a system path lies on the host.
    std::string host(const std::string &path) const;

private:
    const std::string root_;
};

std::string parent_of(const std::string &path);
std::string relative_link(const std::string &from_dir, const std::string &to);

} // namespace simcomputer

#endif
