/*
 * hw_scan.h - the scanners that fill an inventory from the running computer,
 * and the pieces they are built from.
 *
 * Every kernel and hardware path goes through the system root (ic/sys):
 * sysfs, the udev database, /dev/mem (SMBIOS, BIOS image, video BIOS; always
 * copied through mappings) and /sys/firmware/efi/systab.  Each scanner appends the devices of its class
 * in a fixed order; the first failure ends it (devices already appended stay
 * in the inventory until its owner destroys it).
 */
#ifndef IC_HW_HW_SCAN_H
#define IC_HW_HW_SCAN_H

#include <ic/hw/hw_info.h>

#include <stddef.h>
#include <stdint.h>

/* Scanners, in the order hw_info_get_current runs them. */
int scan_pci(hw_info *info);     /* /sys/bus/pci/devices; 1 no listing, 7 attribute missing */
int scan_usb(hw_info *info);     /* /sys/bus/usb/devices without root hubs; none without USB */
int scan_dmi(hw_info *info);     /* memory slots, processors, BIOS; 1, 4, 5 */
int scan_media(hw_info *info);   /* /sys/block: floppies, optical and fixed disks */
int scan_monitor(hw_info *info); /* EDIDs through the video BIOS, ports 0-5;
                                    none without a video BIOS; the first
                                    port that runs into a bound ends it */

/* Bounds of each video BIOS run of scan_monitor: seconds (default 10; 0 is
 * taken as the default) and instructions (default 0 = no bound).
 * Process-wide. */
void hw_scan_set_monitor_limits(unsigned timeout_s, uint64_t max_instructions);

/* Support operations.  read_str_from_file reads at most *size - 1 bytes in
 * one read, terminates them, removes trailing newlines and sets *size to the
 * new length: 0; 7 no such file; 1 other failure; 2. */
int read_str_from_file(const char *path, char *buf, size_t *size);
/* The same on dir/attr; 3 when the path cannot be allocated. */
int get_sysfs_attr(const char *dir, const char *attr, char *buf, size_t *size);
/* Reads dir/attr (up to 1023 bytes) and parses it with format: the read's
 * code, or 1 when the text matches no conversion. */
int scanf_sysfs_attr(const char *dir, const char *attr, const char *format, ...)
    __attribute__((format(scanf, 3, 4)));
/* size bytes at physical offset of path (a memory device or file) in a new
 * allocation, or null.  A regular file must hold the whole range. */
void *load_chunk(const char *path, uint64_t offset, size_t size);
void unload_chunk(void *chunk);
/* Removes every trailing c; returns the new length. */
size_t remove_trailing_chars(char *str, char c);
/* A formatted string in a new allocation (free()), or null. */
char *alloc_sprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* SMBIOS/DMI structure table copied out of physical memory. */
struct hw_smbios {
    uint8_t *table; /* load_chunk allocation */
    uint32_t length;
    uint32_t count; /* structures announced by a 32-bit entry point, or
                       walked up to the end-of-table one (SMBIOS 3) */
};

/* Largest table taken from a 64-bit entry point's maximum size. */
#define HW_SMBIOS_MAX_TABLE 0x400000u

/* Finds the entry point (EFI systab "SMBIOS", else "SMBIOS3"; without one
 * the 64 KiB at 0xF0000: the first "_SM_" or "_DMI_", else the first
 * "_SM3_") and loads the table: 0; 1 physical memory unreadable; 4 no entry
 * point; 5 bad entry point or table. */
int smbios_load(hw_smbios *smbios);
void smbios_release(hw_smbios *smbios);
/* Entry-point checks on bytes in memory (available = bytes readable from
 * entry).  They fill table address, length and count: 0 or 5. */
int smbios_check_entry(const uint8_t *entry, size_t available, uint32_t *table_addr,
                       uint16_t *length, uint16_t *count);
int legacy_check_entry(const uint8_t *entry, size_t available, uint32_t *table_addr,
                       uint16_t *length, uint16_t *count);
/* The 24-byte SMBIOS 3 entry point "_SM3_": 64-bit table address and
 * maximum table size.  0 or 5. */
int smbios3_check_entry(const uint8_t *entry, size_t available, uint64_t *table_addr, uint32_t *max_size);
/* Walks count structures of a table: 0, or 5 when one runs past the end. */
int smbios_check_table(const uint8_t *table, uint32_t length, uint32_t count);
/* Walks a table of a 64-bit entry point up to the end-of-table structure
 * (type 127, counted) or the last structure that fits: 0 and the count, or
 * 5 when one runs past the end. */
int smbios3_count_structures(const uint8_t *table, uint32_t length, uint32_t *count);

/* Enumeration of a checked table, in table order, filtered by type. */
#define HW_DMI_ANY_TYPE 0xFFFFu
struct hw_dmi_enum {
    const hw_smbios *smbios;
    uint32_t pos;    /* offset of the next structure */
    uint16_t type;   /* wanted type, or HW_DMI_ANY_TYPE */
    uint32_t passed; /* structures passed */
};
void dmi_enum_init(hw_dmi_enum *e, const hw_smbios *smbios, uint16_t type);
/* The next structure's header (its formatted area), or null at the end. */
const uint8_t *dmi_enum_next(hw_dmi_enum *e);
/* String index at field offset of a structure from the enumeration: null
 * for index 0, an index beyond the strings, or a field beyond the
 * formatted area. */
const char *dmi_string(const uint8_t *structure, uint8_t offset);

/* The parts of scan_dmi after the table is loaded, in their order. */
int scan_memory(hw_info *info, const hw_smbios *smbios);
int scan_cpu(hw_info *info, const hw_smbios *smbios);
int scan_bios(hw_info *info, const hw_smbios *smbios);

/* Monitor name from an EDID block: the display product name descriptor
 * (up to 13 bytes, ended by a newline), else the manufacturer code and
 * ":%02x%02x" of bytes 10 and 11.  name holds at least 14 bytes. */
void hw_edid_monitor_name(const uint8_t edid[HW_EDID_SIZE], char name[14]);

/* Builds the monitor device of one EDID (name and GOST digest) and appends
 * it. */
int _hw_create_monitor_device(hw_info *info, uint32_t port, const uint8_t edid[HW_EDID_SIZE]);

#endif
