// External programs (vmfs-fuse, umount): fork and exec through the PATH.
#include "fs_internal.h"

#include "ic/util/log.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace ic_fs {

int run_program(const char *const *argv)
{
    sigset_t chld, old;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &old);
    const pid_t pid = fork();
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        execvp(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    int result = FS_ERR_IO;
    if (pid < 0) {
        IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': error_code = %d\n", argv[0], errno);
    } else {
        int status = 0;
        pid_t r;
        do
            r = waitpid(pid, &status, 0);
        while (r < 0 && errno == EINTR);
        if (r != pid)
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': error_code = %d\n", argv[0], errno);
        else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            result = FS_OK;
        else if (WIFEXITED(status))
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "ret = %d\n", WEXITSTATUS(status));
        else
            IC_LOG(ic_log_fs, IC_LOG_ERROR, "exec '%s': killed by signal %d\n", argv[0],
                   WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return result;
}

} // namespace ic_fs
