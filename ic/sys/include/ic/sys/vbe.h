/* Video BIOS calls in an emulated real-mode machine (libx86emu).
 *
 * The machine is prepared once from physical memory ("/dev/mem" through the
 * system root, copied through mappings, see physmem.h): interrupt vector 0x10 (4 bytes at 0x40) and the BIOS data
 * area (256 bytes at 0x400) read/write; the video BIOS at 0xC0000, which must
 * begin with 0x55 0xAA and a non-zero size byte (size x 512 bytes are copied,
 * read/execute); the video memory 0xA0000-0xAFFFF mapped page by page
 * read/write; "int 0x10; hlt" at 0000:7C00 where every call starts; 0x8000-
 * 0xFFFF scratch memory. Every call runs on a fresh clone of that machine, is
 * bounded by a time-out (10 s unless changed) and optionally by a number of
 * instructions, stops on a fault interrupt, lets int 0x10 run through the
 * emulated vector table and ignores every other interrupt. Real port
 * input/output (I/O privilege level 3 during the run) only on the real
 * system; under a system root ports are not reached.
 */
#ifndef IC_SYS_VBE_H
#define IC_SYS_VBE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IC_SYS_VBE_PORTS 6          /* DDC ports asked: 0 to 5 */
#define IC_SYS_VBE_EDID_SIZE 128
#define IC_SYS_VBE_TIMEOUT_S 10
#define IC_SYS_VBE_SCRATCH 0x8000u  /* where the EDID block is read to */

typedef struct ic_sys_vbe ic_sys_vbe;

/* Receives the emulator's log, one line (without newline) at a time. */
typedef void (*ic_sys_vbe_log_fn)(void *context, const char *line);

typedef struct {
    uint32_t eax, ebx, ecx, edx, esi, edi;
    uint16_t ds, es;
} ic_sys_vbe_regs;

/* 0; 4 no video BIOS (no 0x55 0xAA and size byte at 0xC0000); 1 physical
 * memory unreadable; 3. log may be NULL. */
int ic_sys_vbe_create(ic_sys_vbe_log_fn log, void *log_context, ic_sys_vbe **vbe);
void ic_sys_vbe_destroy(ic_sys_vbe *vbe);

/* Bounds of each run: seconds (0 = no time-out) and instructions (0 = none). */
void ic_sys_vbe_set_limits(ic_sys_vbe *vbe, unsigned timeout_s, uint64_t max_instructions);

/* Runs int 0x10 with regs (updated with the registers at the end) and copies
 * scratch_size bytes from IC_SYS_VBE_SCRATCH into scratch (may be NULL).
 * 0 the call returned; 8 a bound was reached; 1 the run stopped elsewhere
 * (fault, or it did not return through the vector table); 2. */
int ic_sys_vbe_int10(ic_sys_vbe *vbe, ic_sys_vbe_regs *regs, uint8_t *scratch, size_t scratch_size);

/* VBE DDC on one port: AX=4F15h BL=0 (must return AX=004Fh and DDC1 or DDC2
 * in BL bits 0-1), then on a fresh clone AX=4F15h BL=1 CX=port DX=0 ES:DI =
 * 0000:8000 (must return AX=004Fh); the 128 bytes at 0x8000 are the EDID.
 * 0; 4 the port has no DDC or no EDID; 8 a bound was reached; 1; 2. */
int ic_sys_vbe_read_edid(ic_sys_vbe *vbe, unsigned port, uint8_t edid[IC_SYS_VBE_EDID_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
