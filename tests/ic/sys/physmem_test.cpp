// Physical memory copies through mappings, on a file standing in for the
// memory device.
#include "ic/sys/physmem.h"
#include "ic/sys/sysroot.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(SysPhysmem, CopiesAnyRangeInsideTheFileAndNothingBeyond)
{
    simtest::TempDir dir;
    std::string data(3 * 4096 + 100, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 4096);
    std::ofstream(dir / "mem", std::ios::binary) << data;
    const int fd = open((dir / "mem").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    struct Case {
        uint64_t address;
        size_t size;
        int expect;
    } cases[] = {
        {0, data.size(), IC_SYS_OK},                   // the whole file
        {4095, 2, IC_SYS_OK},                          // across a page boundary
        {4113, data.size() - 4113, IC_SYS_OK},         // unaligned, up to the end
        {100, 0, IC_SYS_OK},
        {data.size() - 1, 2, IC_SYS_EIO},              // one byte past the end
        {data.size(), 1, IC_SYS_EIO},
        {UINT64_MAX - 1, 4, IC_SYS_EIO},               // no offset holds it
    };
    for (const Case &c : cases) {
        std::vector<char> buf(c.size + 1, '\x5A');
        EXPECT_EQ(ic_sys_phys_copy(fd, c.address, buf.data(), c.size), c.expect) << c.address << "+" << c.size;
        if (c.expect == IC_SYS_OK && c.size) {
            EXPECT_EQ(std::memcmp(buf.data(), data.data() + c.address, c.size), 0) << c.address;
        }
        EXPECT_EQ(buf[c.size], '\x5A'); // nothing written past the size
    }
    char byte;
    EXPECT_EQ(ic_sys_phys_copy(-1, 0, &byte, 1), IC_SYS_EINVAL);
    EXPECT_EQ(ic_sys_phys_copy(fd, 0, nullptr, 1), IC_SYS_EINVAL);
    close(fd);

    // A descriptor that cannot be mapped is a failure, not a read().
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_EQ(write(pipe_fds[1], "x", 1), 1);
    EXPECT_EQ(ic_sys_phys_copy(pipe_fds[0], 0, &byte, 1), IC_SYS_EIO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

} // namespace
