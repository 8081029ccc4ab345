/* System root: every kernel and hardware path goes through these calls.
 *
 * A path is a system path: absolute, as on the running system ("/sys/block",
 * "/dev/mem", "/proc/cmdline"). When the environment variable ORVA_SYSROOT
 * names a directory, system paths are looked up inside that directory as if
 * it were "/": symbolic links are followed inside it, absolute link targets
 * start again at the root, and ".." never climbs above it, so nothing under a
 * simulated computer reaches the host. Unset or empty, the calls go to the
 * real system unchanged.
 *
 * The wrappers behave like their POSIX namesakes (result -1 or NULL and errno
 * on failure); a relative path fails with EINVAL in both modes. Descriptors
 * are opened close-on-exec.
 */
#ifndef IC_SYS_SYSROOT_H
#define IC_SYS_SYSROOT_H

#include <dirent.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IC_SYS_ROOT_ENV "ORVA_SYSROOT"

/* Result codes of the integer-returning calls of ic_sys. */
enum {
    IC_SYS_OK = 0,
    IC_SYS_EIO = 1,       /* system failure, malformed data */
    IC_SYS_EINVAL = 2,    /* invalid argument */
    IC_SYS_ENOMEM = 3,    /* out of memory */
    IC_SYS_ENOENT = 4,    /* not found */
    IC_SYS_ETIMEDOUT = 8  /* time-out (udev did not settle, emulator bound) */
};

/* The system root, or NULL on the real system. */
const char *ic_sys_root(void);

/* Host path of a system path: resolved inside the root (the last component
 * need not exist), prefixed with the root. On the real system the path itself.
 * For handing a system path to the kernel or an external program.
 * 0; 2 path not absolute or buffer too small; 4 a directory on the way is
 * missing; 1 other failure. */
int ic_sys_host_path(const char *path, char *buf, size_t size);

int ic_sys_open(const char *path, int flags, mode_t mode);
FILE *ic_sys_fopen(const char *path, const char *mode);
DIR *ic_sys_opendir(const char *path);
int ic_sys_scandir(const char *path, struct dirent ***namelist,
                   int (*filter)(const struct dirent *),
                   int (*compar)(const struct dirent **, const struct dirent **));
int ic_sys_stat(const char *path, struct stat *st);
int ic_sys_lstat(const char *path, struct stat *st);
ssize_t ic_sys_readlink(const char *path, char *buf, size_t size);

/* Canonical system path (inside the root, starting with "/"), like
 * realpath(3): resolved must hold PATH_MAX bytes, or be NULL for an
 * allocated result that the caller frees. */
char *ic_sys_realpath(const char *path, char *resolved);

#ifdef __cplusplus
}
#endif

#endif
