// The log channels end to end: environment, configuration file, filtering
// and the bytes that reach standard error.
#include <ic/util/log.h>
#include <ic/util/log_config.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>

namespace {

// Captures file descriptor 2 into a temporary file and gives the log a clean
// environment.
class LogChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("LOG_LEVEL");
        unsetenv("LOG_CONFIG");
        ic_log_reset();
        char tmpl[] = "/tmp/ic_util_log_XXXXXX";
        capture_ = mkstemp(tmpl);
        ASSERT_GE(capture_, 0);
        capture_path_ = tmpl;
        std::fflush(stderr);
        saved_stderr_ = dup(STDERR_FILENO);
        ASSERT_GE(saved_stderr_, 0);
        ASSERT_EQ(dup2(capture_, STDERR_FILENO), STDERR_FILENO);
    }

    void TearDown() override
    {
        dup2(saved_stderr_, STDERR_FILENO);
        close(saved_stderr_);
        close(capture_);
        unlink(capture_path_.c_str());
        if (!config_path_.empty())
            unlink(config_path_.c_str());
        unsetenv("LOG_LEVEL");
        unsetenv("LOG_CONFIG");
        ic_log_reset();
    }

    // What was written to standard error since the last call.
    std::string captured()
    {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = pread(capture_, buf, sizeof buf, off_)) > 0) {
            out.append(buf, size_t(n));
            off_ += n;
        }
        return out;
    }

    void config_file(const std::string &text)
    {
        if (config_path_.empty()) {
            char tmpl[] = "/tmp/ic_util_logcfg_XXXXXX";
            int fd = mkstemp(tmpl);
            ASSERT_GE(fd, 0);
            close(fd);
            config_path_ = tmpl;
        }
        std::ofstream(config_path_) << text;
        setenv("LOG_CONFIG", config_path_.c_str(), 1);
    }

    // One message of each level on a channel; returns the class names
    // written, in order.
    std::string levels_written(ic_log_channel &channel)
    {
        use_class_only_format();
        for (unsigned level = 0; level <= 5; ++level)
            IC_LOG(channel, level, "\n");
        return captured();
    }

    // Writes the configuration file once: config_text_ and a format that
    // prints only the class and a blank.
    void use_class_only_format()
    {
        if (!class_only_) {
            config_file(config_text_ + "\nformat = \"%{class} \"\n");
            class_only_ = true;
        }
    }

    int capture_ = -1;
    int saved_stderr_ = -1;
    off_t off_ = 0;
    std::string capture_path_;
    std::string config_path_;
    std::string config_text_;
    bool class_only_ = false;
};

TEST_F(LogChannel, DefaultWritesErrorsInTheBuiltInLayout)
{
    IC_LOG(ic_log_hw, IC_LOG_DEBUG, "not shown\n");
    int line = __LINE__ + 1;
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "ret = %d\n", 3);
    std::string out = captured();
    std::regex layout(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \[hw\] ERROR: log_test\.cpp:TestBody:(\d+) ret = 3\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, layout)) << out;
    EXPECT_EQ(std::stoi(m[1]), line);
    EXPECT_EQ(ic_log_hw.mask, 3u); // resolved and stored
    EXPECT_FALSE(ic_log_enabled(&ic_log_hw, IC_LOG_DEBUG));
}

TEST_F(LogChannel, LogLevelFromTheEnvironment)
{
    struct row {
        const char *value;
        const char *expect;
    } rows[] = {
        {"TrAcE", "FATAL ERROR WARN INFO DEBUG TRACE "},
        {"warn", "FATAL ERROR WARN "},
        {"0", "FATAL "},
        {"verbose", "FATAL ERROR "}, // invalid: the default stays
        {"", "FATAL ERROR "},
    };
    for (const row &r : rows) {
        setenv("LOG_LEVEL", r.value, 1);
        class_only_ = false;
        ic_log_reset();
        for (ic_log_channel *ch : {&ic_log_fs, &ic_log_fs_ocl, &ic_log_hw, &ic_log_reg, &ic_log_rcl})
            EXPECT_EQ(levels_written(*ch), r.expect) << r.value << " " << ch->name;
    }
}

TEST_F(LogChannel, ChannelSectionOverridesTheDefault)
{
    config_text_ = "[fs]\nlevel = 0\n";
    EXPECT_EQ(levels_written(ic_log_fs), "FATAL ");
    EXPECT_EQ(levels_written(ic_log_hw), "FATAL ERROR ");
    // fs_ocl cannot be named in a section: it follows the default.
    EXPECT_EQ(levels_written(ic_log_fs_ocl), "FATAL ERROR ");
}

TEST_F(LogChannel, LogLevelIsAppliedBeforeTheFile)
{
    setenv("LOG_LEVEL", "trace", 1);
    config_text_ = "[fs]\nlevel = error\n[hw]\n";
    EXPECT_EQ(levels_written(ic_log_fs), "FATAL ERROR ");
    EXPECT_EQ(levels_written(ic_log_hw), "FATAL ERROR WARN INFO DEBUG TRACE ");
    EXPECT_EQ(levels_written(ic_log_reg), "FATAL ERROR WARN INFO DEBUG TRACE ");
}

TEST_F(LogChannel, UnreadableConfigLeavesOnlyLogLevel)
{
    setenv("LOG_LEVEL", "info", 1);
    setenv("LOG_CONFIG", "/nonexistent/ic_util/log.conf", 1);
    for (unsigned level = 0; level <= 5; ++level)
        IC_LOG(ic_log_reg, level, "%u\n", level);
    std::string out = captured();
    EXPECT_NE(out.find("] INFO: "), std::string::npos);
    EXPECT_EQ(out.find("] DEBUG: "), std::string::npos);
}

TEST_F(LogChannel, EmptyFormatSilencesEverything)
{
    config_file("level = trace\nformat = \"\"\n");
    IC_LOG(ic_log_hw, IC_LOG_FATAL, "fatal\n");
    IC_LOG_WRITE(ic_log_fs, IC_LOG_ERROR, "raw\n", 4);
    EXPECT_EQ(captured(), "");
}

TEST_F(LogChannel, ClassAndMessageFormat)
{
    config_file("format = \"%{class} %{message}\"\n");
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "ret = %d, %s\n", 3, "x");
    IC_LOG(ic_log_hw, IC_LOG_FATAL, "100%%\n");
    EXPECT_EQ(captured(), "ERROR ret = 3, x\nFATAL 100%\n");
}

TEST_F(LogChannel, RawMessagesAreCopiedAsTheyAre)
{
    config_file("format = '<%{message}>'\n");
    const char data[] = {'a', '\0', '%', 'd', '\n'};
    IC_LOG_WRITE(ic_log_rcl, IC_LOG_ERROR, data, sizeof data);
    IC_LOG_WRITE(ic_log_rcl, IC_LOG_ERROR, nullptr, 0);
    EXPECT_EQ(captured(), std::string("<a\0%d\n>", 7) + "<>");
}

TEST_F(LogChannel, LongMessagesAreCutAt1024Bytes)
{
    config_file("format = \"%{class}: %{message}\"\n");
    std::string msg(3000, 'x');
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "%s", msg.c_str());
    std::string out = captured();
    ASSERT_EQ(out.size(), IC_LOG_LINE_SIZE);
    EXPECT_EQ(out, "ERROR: " + msg.substr(0, IC_LOG_LINE_SIZE - 7));

    IC_LOG_WRITE(ic_log_hw, IC_LOG_ERROR, msg.data(), msg.size());
    EXPECT_EQ(captured().size(), IC_LOG_LINE_SIZE);

    // Exactly filling the line keeps every byte.
    std::string exact(IC_LOG_LINE_SIZE - 7, 'y');
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "%s", exact.c_str());
    EXPECT_EQ(captured(), "ERROR: " + exact);
}

TEST_F(LogChannel, DefaultLevelSetLaterStillApplies)
{
    config_file("format = \"%{class} \"\n[hw]\nlevel = 0\n");
    IC_LOG(ic_log_fs, IC_LOG_DEBUG, "x");
    EXPECT_EQ(captured(), "");
    ic_log_set_default_level(IC_LOG_DEBUG);
    IC_LOG(ic_log_fs, IC_LOG_DEBUG, "x");
    IC_LOG(ic_log_fs, IC_LOG_TRACE, "x");
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "x"); // its own section still rules
    EXPECT_EQ(captured(), "DEBUG ");
}

TEST_F(LogChannel, ConfigurationIsReadOnce)
{
    config_file("format = \"%{class} \"\n");
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "x");
    config_file("format = \"changed \"\nlevel = trace\n");
    IC_LOG(ic_log_hw, IC_LOG_ERROR, "x");
    IC_LOG(ic_log_hw, IC_LOG_TRACE, "x");
    EXPECT_EQ(captured(), "ERROR ERROR ");
    ic_log_reset();
    IC_LOG(ic_log_hw, IC_LOG_TRACE, "x");
    EXPECT_EQ(captured(), "changed ");
}

TEST_F(LogChannel, LevelsAboveTraceUseBitModulo32)
{
    config_file("format = \"%{class} \"\nlevel = 7\n");
    IC_LOG(ic_log_hw, 7, "x");
    IC_LOG(ic_log_hw, 8, "x");
    IC_LOG(ic_log_hw, 32 + 1, "x"); // bit 1
    EXPECT_EQ(captured(), "7 33 ");
}

} // namespace
