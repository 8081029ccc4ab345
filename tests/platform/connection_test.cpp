// Connection and device: library start/end, opening, exclusion, device calls.
#include "support.h"

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace orva_test;

namespace {

TEST(SimConnection, CallsBeforeInitAndAfterExitAreRefused)
{
    StateDir dir;
    init_module(dir.path());
    orva_handle_t h = nullptr;
    EXPECT_EQ(orva_open_device(0, &h, 0), ORVA_E_NOT_INITIALISED);
    EXPECT_EQ(orva_exit(0), ORVA_E_NOT_INITIALISED);
    EXPECT_EQ(orva_init(1), ORVA_E_INVALID_ARG);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    ASSERT_EQ(orva_exit(0), ORVA_OK);
    // orva_exit closed the handle: it is neither usable nor still locking.
    orva_device_state state;
    EXPECT_EQ(orva_get_device_state(h, &state), ORVA_E_NOT_INITIALISED);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    EXPECT_EQ(orva_get_device_state(h, &state), ORVA_E_BAD_HANDLE);
    orva_handle_t again = nullptr;
    EXPECT_EQ(orva_open_device(0, &again, 0), ORVA_OK);
    EXPECT_EQ(orva_exit(0), ORVA_OK);
}

TEST(SimConnection, OpenWithoutModuleOrWithBadArguments)
{
    StateDir dir;
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    EXPECT_EQ(orva_open_device(0, &h, 0), ORVA_E_NO_DEVICE) << "empty directory";
    ::setenv("ORVA_SIM_DIR", (dir.path() + "/missing").c_str(), 1);
    ASSERT_EQ(orva_exit(0), ORVA_OK);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    EXPECT_EQ(orva_open_device(0, &h, 0), ORVA_E_NO_DEVICE) << "missing directory";
    ::setenv("ORVA_SIM_DIR", dir.path().c_str(), 1);
    ASSERT_EQ(orva_exit(0), ORVA_OK);
    init_module(dir.path());
    ASSERT_EQ(orva_init(0), ORVA_OK);
    EXPECT_EQ(orva_open_device(1, &h, 0), ORVA_E_NO_DEVICE) << "second module";
    EXPECT_EQ(orva_open_device(0, nullptr, 0), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_open_device(0, &h, 7), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_close_device(nullptr), ORVA_E_BAD_HANDLE);
    int not_a_handle = 0;
    EXPECT_EQ(orva_close_device(reinterpret_cast<orva_handle_t>(&not_a_handle)), ORVA_E_BAD_HANDLE);
    orva_exit(0);
}

TEST(SimConnection, SecondHandleIsBusyUntilTheFirstCloses)
{
    StateDir dir;
    init_module(dir.path());
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t first = nullptr, second = nullptr;
    ASSERT_EQ(orva_open_device(0, &first, 0), ORVA_OK);
    EXPECT_EQ(orva_open_device(0, &second, 0), ORVA_E_BUSY);
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(orva_close_device(first), ORVA_OK);
    EXPECT_EQ(orva_close_device(first), ORVA_E_BAD_HANDLE) << "closed twice";
    EXPECT_EQ(orva_open_device(0, &second, 0), ORVA_OK);
    orva_exit(0);
}

TEST(SimConnection, OpenInAnotherProcessIsBusy)
{
    StateDir dir;
    init_module(dir.path());
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        orva_handle_t h = nullptr;
        char c = orva_init(0) == ORVA_OK && orva_open_device(0, &h, 0) == ORVA_OK ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    EXPECT_EQ(orva_open_device(0, &h, 0), ORVA_E_BUSY);
    (void)!::write(done[1], &c, 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The child's exit released the lock.
    EXPECT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    orva_exit(0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

TEST(SimDevice, InfoAndClassWithoutAndWithHandle)
{
    StateDir dir;
    init_module(dir.path(), 2);
    orva_device_info info;
    ASSERT_EQ(orva_get_device_info(nullptr, nullptr, &info), ORVA_OK) << "needs no handle";
    EXPECT_EQ(info.dev_class, 2);
    EXPECT_EQ(info.serial, 1234u);
    EXPECT_NE(std::memchr(info.firmware, 0, sizeof info.firmware), nullptr);
    int dummy = 0;
    EXPECT_EQ(orva_get_device_info(&dummy, nullptr, &info), ORVA_E_INVALID_ARG);
    EXPECT_EQ(orva_get_device_info(nullptr, nullptr, nullptr), ORVA_E_INVALID_ARG);

    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    EXPECT_EQ(orva_get_dev_class_by_handle(h), 2u);
    EXPECT_EQ(orva_get_dev_class_by_handle(nullptr), 0u);
    orva_exit(0);

    ::setenv("ORVA_SIM_DIR", (dir.path() + "/none").c_str(), 1);
    EXPECT_EQ(orva_get_device_info(nullptr, nullptr, &info), ORVA_E_NO_DEVICE);
}

TEST(SimDevice, StateRecordOfANewModule)
{
    StateDir dir;
    init_module(dir.path(), 1, ORVA_STATE_NEW, 200000);
    ASSERT_EQ(orva_init(0), ORVA_OK);
    orva_handle_t h = nullptr;
    ASSERT_EQ(orva_open_device(0, &h, 0), ORVA_OK);
    orva_device_state state;
    std::memset(&state, 0xAA, sizeof state);
    ASSERT_EQ(orva_get_device_state(h, &state), ORVA_OK);
    EXPECT_EQ(state.state, static_cast<uint32_t>(ORVA_STATE_NEW));
    EXPECT_EQ(state.max_ic_data_size, 200000u);
    EXPECT_EQ(state.dev_class, 1u);
    EXPECT_EQ(state.record_count, 0u);
    EXPECT_EQ(state.log_record_count, 0u);
    EXPECT_EQ(orva_get_device_state(h, nullptr), ORVA_E_INVALID_ARG);
    orva_exit(0);
}

TEST(SimDevice, StrerrorIsNeverNull)
{
    for (int code : {ORVA_OK, ORVA_E_BUSY, ORVA_E_CORRUPT, ORVA_E_UNKNOWN, -1, 12345}) {
        ASSERT_NE(orva_strerror(code), nullptr);
        EXPECT_GT(std::strlen(orva_strerror(code)), 0u);
    }
}

} // namespace
