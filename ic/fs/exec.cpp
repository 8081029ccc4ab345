// External programs (FUSE drivers, umount): fork and exec through the PATH,
// each with a time limit.
#include "fs_internal.h"

#include "ic/util/log.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Milliseconds on the monotonic clock.
long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waits until the child ends or the deadline passes: true and its status
// once reaped.
bool wait_until(pid_t pid, int pidfd, long long deadline, int &status)
{
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
        const long long left = deadline - now_ms();
        if (left <= 0)
            return false;
        if (pidfd >= 0) {
            struct pollfd p = {pidfd, POLLIN, 0};
            poll(&p, 1, int(left > 1000 ? 1000 : left));
        } else {
            // Kernels without pidfd_open: a short sleep between looks.
            struct timespec ts = {0, 10 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
    }
}

} // namespace

namespace ic_fs {

int run_program(const char *const *argv, unsigned timeout_ms)
{
    sigset_t chld, old;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &old);
    const pid_t pid = fork();
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        // Its own process group, so that a hung program goes with its helpers;
        // nothing to read from us.
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0 && null != 0) {
            dup2(null, 0);
            close(null);
        }
        execvp(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    int result = FS_ERR_IO;
    if (pid < 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': error_code = %d\n", argv[0], errno);
        sigprocmask(SIG_SETMASK, &old, nullptr);
        return result;
    }
    setpgid(pid, pid);
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    if (wait_until(pid, pidfd, now_ms() + timeout_ms, status)) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            result = FS_OK;
        else if (WIFEXITED(status))
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "ret = %d\n", WEXITSTATUS(status));
        else
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': killed by signal %d\n", argv[0],
                   WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    } else {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': no end within %u ms, killed\n", argv[0], timeout_ms);
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        // A program stuck in the kernel may not go at once: it is not waited
        // for longer than this.
        if (!wait_until(pid, pidfd, now_ms() + kProgramReapMs, status))
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': pid %d does not end\n", argv[0], int(pid));
    }
    if (pidfd >= 0)
        close(pidfd);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return result;
}

} // namespace ic_fs
