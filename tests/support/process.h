// Test support: running a program with its output captured.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace simtest {

struct Result {
    int status = -1; // exit status, 128 + signal number when killed, -1 when it did not run
    std::string out, err;
    pid_t pid = -1;
    bool timed_out = false; // killed at the time limit
    double seconds = 0;     // wall-clock time
};

// Runs args[0] (looked up in PATH) with the other arguments, standard input
// from stdin_path, in cwd (empty: this directory), in the current
// environment; standard output and error are captured apart. A program
// still running after `limit` (when given) is killed.
inline Result run_program(const std::vector<std::string> &args, const std::string &stdin_path = "/dev/null",
                          const std::string &cwd = "",
                          std::chrono::milliseconds limit = std::chrono::milliseconds::zero())
{
    const auto start = std::chrono::steady_clock::now();
    TempDir dir("orva-run");
    const std::string out = dir / "stdout", err = dir / "stderr";
    Result r;
    const pid_t pid = fork();
    if (pid == 0) {
        int in = open(stdin_path.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0))
            _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0)
        return r;
    r.pid = pid;
    pid_t done;
    while ((done = waitpid(pid, &status, limit.count() ? WNOHANG : 0)) == 0) {
        if (std::chrono::steady_clock::now() - start > limit) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            done = waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done != pid)
        return r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

} // namespace simtest

#endif
