/* Physical memory copied through a mapping of the memory device.
 *
 * Kernels with strict physical-memory access give zeros to read() of RAM
 * pages below 1 MiB but the real bytes to a mapping of the same range, so
 * every copy out of "/dev/mem" goes through a read-only shared mapping from
 * the page boundary below the address. A regular file standing in for the
 * device (under a system root) must hold the whole range: a mapping past its
 * end would fault on access.
 */
#ifndef IC_SYS_PHYSMEM_H
#define IC_SYS_PHYSMEM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copies size bytes at physical address of the open device fd into buf.
 * 0; 1 the range cannot be mapped or lies beyond a regular file; 2. */
int ic_sys_phys_copy(int fd, uint64_t address, void *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
