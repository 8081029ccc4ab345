// Benchmark support: running a program and taking its wall-clock and
// processor times (its own, from wait4) and its peak memory (GNU time's
// report when it is installed, else wait4's).
#ifndef BENCH_SUPPORT_TIMED_RUN_H
#define BENCH_SUPPORT_TIMED_RUN_H

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct Timing {
    double wall = 0, cpu = 0; // seconds; cpu: user + system
    long rss_kib = 0;
    int status = -1; // exit status, 128 + signal number when killed, -1 when it did not run
};

// The peak memory of a program comes from GNU time, which starts it from a
// process of its own: a child forked from a large parent inherits the
// parent's resident size in its own peak.
constexpr const char *kTimeProgram = "/usr/bin/time";

// Runs args[0] (looked up in PATH) in cwd with standard input from
// /dev/null, standard output to out_path and standard error to err_path
// (one file for both collects the output of several runs).
inline Timing run(std::vector<std::string> args, const std::string &cwd = ".",
                  const std::string &out_path = "/dev/null", const std::string &err_path = "/dev/null")
{
    Timing t;
    char memory_path[] = "/tmp/bench-rss.XXXXXX";
    const int memory_fd = access(kTimeProgram, X_OK) == 0 ? mkstemp(memory_path) : -1;
    if (memory_fd >= 0) {
        close(memory_fd);
        args.insert(args.begin(), {kTimeProgram, "-f", "%M", "-o", memory_path});
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(),
                             O_WRONLY | O_CREAT | O_CLOEXEC | (out_path == err_path ? O_APPEND : O_TRUNC), 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || err < 0 || null < 0 || chdir(cwd.c_str()) != 0)
            _exit(127);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        return t;
    int status = 0;
    struct rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    t.rss_kib = ru.ru_maxrss;
    t.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (memory_fd >= 0) {
        // The last line: a line about a signal may come before it.
        std::ifstream in(memory_path);
        for (std::string line; std::getline(in, line);)
            t.rss_kib = std::strtol(line.c_str(), nullptr, 10);
        unlink(memory_path);
    }
    return t;
}

// The best wall-clock and processor times of the runs, the largest memory
// and the worst status.
inline void keep_best(Timing &best, const Timing &t)
{
    if (best.status < 0 || t.wall < best.wall)
        best.wall = t.wall;
    if (best.status < 0 || t.cpu < best.cpu)
        best.cpu = t.cpu;
    best.rss_kib = std::max(best.rss_kib, t.rss_kib);
    best.status = std::max(best.status, t.status);
}

} // namespace bench

#endif
