// Video BIOS calls in an emulated real-mode machine (libx86emu).
#include "ic/sys/vbe.h"

#include "ic/sys/physmem.h"
#include "ic/sys/sysroot.h"
#include "ic/util/unique_fd.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <x86emu.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

namespace {

constexpr unsigned ivt_vector_10 = 0x40;
constexpr unsigned bda = 0x400;
constexpr unsigned bda_size = 256;
constexpr unsigned rom_base = 0xC0000;
constexpr unsigned rom_window = 0x10000;
constexpr unsigned video_base = 0xA0000;
constexpr unsigned video_size = 0x10000;
constexpr unsigned entry = 0x7C00;
constexpr unsigned char entry_code[] = {0xCD, 0x10, 0xF4}; // int 0x10; hlt
constexpr unsigned log_size = 1000000;

struct emu_deleter {
    void operator()(x86emu_t *emu) const { x86emu_done(emu); }
};
using emu_ptr = std::unique_ptr<x86emu_t, emu_deleter>;

struct mapping {
    void *addr = MAP_FAILED;
    size_t size = 0;
    ~mapping()
    {
        if (addr != MAP_FAILED)
            munmap(addr, size);
    }
};

void copy_in(x86emu_t *emu, unsigned addr, const unsigned char *data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        x86emu_write_byte_noperm(emu, addr + unsigned(i), data[i]);
}

} // namespace

struct ic_sys_vbe {
    emu_ptr base;
    mapping video;
    bool real_io = false;
    unsigned timeout_s = IC_SYS_VBE_TIMEOUT_S;
    uint64_t max_instr = 0;
    ic_sys_vbe_log_fn log = nullptr;
    void *log_context = nullptr;
    std::string pending; // log text after the last newline
    bool faulted = false;

    void log_text(const char *buf, size_t size)
    {
        pending.append(buf, size);
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
            std::string line = pending.substr(start, nl - start);
            log(log_context, line.c_str());
        }
        pending.erase(0, start);
    }

    void flush_log_tail()
    {
        if (log && !pending.empty()) {
            log(log_context, pending.c_str());
            pending.clear();
        }
    }
};

namespace {

ic_sys_vbe *owner(x86emu_t *emu)
{
    return static_cast<ic_sys_vbe *>(emu->_private);
}

void flush_log(x86emu_t *emu, char *buf, unsigned size)
{
    ic_sys_vbe *vbe = owner(emu);
    if (vbe && vbe->log && buf && size) {
        try {
            vbe->log_text(buf, size);
        } catch (const std::bad_alloc &) {
            vbe->pending.clear();
        }
    }
}

int interrupt(x86emu_t *emu, u8 num, unsigned type)
{
    if ((type & 0xff) == INTR_TYPE_FAULT) {
        if (ic_sys_vbe *vbe = owner(emu))
            vbe->faulted = true;
        x86emu_stop(emu);
        return 1;
    }
    return num == 0x10 ? 0 : 1;
}

int prepare(ic_sys_vbe &vbe)
{
    vbe.real_io = ic_sys_root() == nullptr;
    ic_util::unique_fd mem(ic_sys_open("/dev/mem", vbe.real_io ? O_RDWR : O_RDONLY, 0));
    if (!mem.valid())
        return IC_SYS_EIO;
    struct stat st;
    if (fstat(mem.get(), &st) != 0)
        return IC_SYS_EIO;
    // A simulated memory file must cover the video memory before it is mapped.
    if (S_ISREG(st.st_mode) && uint64_t(st.st_size) < uint64_t(video_base) + video_size)
        return IC_SYS_EIO;

    // Low memory is copied through mappings: read() may give zeros there.
    unsigned char vector[4];
    unsigned char data_area[bda_size];
    unsigned char header[3];
    if (ic_sys_phys_copy(mem.get(), ivt_vector_10, vector, sizeof vector) != IC_SYS_OK
        || ic_sys_phys_copy(mem.get(), bda, data_area, sizeof data_area) != IC_SYS_OK
        || ic_sys_phys_copy(mem.get(), rom_base, header, sizeof header) != IC_SYS_OK)
        return IC_SYS_EIO;
    // No option ROM there (UEFI without a compatibility module): no video BIOS.
    if (header[0] != 0x55 || header[1] != 0xAA || header[2] == 0)
        return IC_SYS_ENOENT;
    std::vector<unsigned char> rom(size_t(header[2]) * 512);
    if (ic_sys_phys_copy(mem.get(), rom_base, rom.data(), rom.size()) != IC_SYS_OK)
        return IC_SYS_EIO;

    vbe.video.size = video_size;
    vbe.video.addr = mmap(nullptr, video_size, PROT_READ | PROT_WRITE,
                          vbe.real_io ? MAP_SHARED : MAP_PRIVATE, mem.get(), video_base);
    if (vbe.video.addr == MAP_FAILED)
        return IC_SYS_EIO;

    emu_ptr emu(x86emu_new(X86EMU_PERM_RW, vbe.real_io ? X86EMU_PERM_RW : 0));
    if (!emu)
        return IC_SYS_ENOMEM;
    emu->_private = &vbe;
    x86emu_set_intr_handler(emu.get(), interrupt);
    if (vbe.log)
        x86emu_set_log(emu.get(), log_size, flush_log);

    copy_in(emu.get(), ivt_vector_10, vector, sizeof vector);
    copy_in(emu.get(), bda, data_area, sizeof data_area);
    const unsigned rom_span = std::max<unsigned>(rom_window, unsigned(rom.size()));
    x86emu_set_perm(emu.get(), rom_base, rom_base + rom_span - 1, X86EMU_PERM_RX);
    copy_in(emu.get(), rom_base, rom.data(), rom.size());
    for (unsigned off = 0; off < video_size; off += X86EMU_PAGE_SIZE)
        x86emu_set_page(emu.get(), video_base + off, static_cast<unsigned char *>(vbe.video.addr) + off);
    x86emu_set_perm(emu.get(), video_base, video_base + video_size - 1, X86EMU_PERM_RW);
    x86emu_set_perm(emu.get(), entry, entry + sizeof entry_code - 1, X86EMU_PERM_RWX);
    copy_in(emu.get(), entry, entry_code, sizeof entry_code);
    vbe.base = std::move(emu);
    return IC_SYS_OK;
}

void set_seg(x86emu_t *emu, unsigned index, u16 value)
{
    x86emu_set_seg_register(emu, emu->x86.seg + index, value);
}

} // namespace

extern "C" {

int ic_sys_vbe_create(ic_sys_vbe_log_fn log, void *log_context, ic_sys_vbe **vbe)
{
    if (!vbe)
        return IC_SYS_EINVAL;
    *vbe = nullptr;
    try {
        auto v = std::make_unique<ic_sys_vbe>();
        v->log = log;
        v->log_context = log_context;
        int rc = prepare(*v);
        if (rc != IC_SYS_OK)
            return rc;
        *vbe = v.release();
        return IC_SYS_OK;
    } catch (const std::bad_alloc &) {
        return IC_SYS_ENOMEM;
    }
}

void ic_sys_vbe_destroy(ic_sys_vbe *vbe)
{
    delete vbe;
}

void ic_sys_vbe_set_limits(ic_sys_vbe *vbe, unsigned timeout_s, uint64_t max_instructions)
{
    if (vbe) {
        vbe->timeout_s = timeout_s;
        vbe->max_instr = max_instructions;
    }
}

int ic_sys_vbe_int10(ic_sys_vbe *vbe, ic_sys_vbe_regs *regs, uint8_t *scratch, size_t scratch_size)
{
    if (!vbe || !regs || (scratch_size && !scratch) || scratch_size > 0x8000)
        return IC_SYS_EINVAL;
    emu_ptr emu(x86emu_clone(vbe->base.get()));
    if (!emu)
        return IC_SYS_ENOMEM;
    emu->_private = vbe;
    vbe->faulted = false;

    emu->x86.R_EAX = regs->eax;
    emu->x86.R_EBX = regs->ebx;
    emu->x86.R_ECX = regs->ecx;
    emu->x86.R_EDX = regs->edx;
    emu->x86.R_ESI = regs->esi;
    emu->x86.R_EDI = regs->edi;
    set_seg(emu.get(), R_CS_INDEX, 0);
    set_seg(emu.get(), R_SS_INDEX, 0);
    set_seg(emu.get(), R_DS_INDEX, regs->ds);
    set_seg(emu.get(), R_ES_INDEX, regs->es);
    emu->x86.R_EIP = entry;
    emu->x86.R_ESP = entry;

    unsigned flags = X86EMU_RUN_LOOP | X86EMU_RUN_NO_CODE;
    if (vbe->timeout_s) {
        flags |= X86EMU_RUN_TIMEOUT;
        emu->timeout = vbe->timeout_s;
    }
    if (vbe->max_instr) {
        flags |= X86EMU_RUN_MAX_INSTR;
        emu->max_instr = vbe->max_instr;
    }

#if defined(__x86_64__) || defined(__i386__)
    const bool raised = vbe->real_io && iopl(3) == 0;
#endif
    unsigned stop = x86emu_run(emu.get(), flags);
#if defined(__x86_64__) || defined(__i386__)
    if (raised)
        iopl(0);
#endif
    if (vbe->log) {
        x86emu_dump(emu.get(), X86EMU_DUMP_REGS);
        x86emu_clear_log(emu.get(), 1);
        vbe->flush_log_tail();
    }

    if (stop & (X86EMU_RUN_TIMEOUT | X86EMU_RUN_MAX_INSTR))
        return IC_SYS_ETIMEDOUT;
    if (vbe->faulted || emu->x86.R_CS != 0 || emu->x86.R_IP != entry + sizeof entry_code)
        return IC_SYS_EIO;

    regs->eax = emu->x86.R_EAX;
    regs->ebx = emu->x86.R_EBX;
    regs->ecx = emu->x86.R_ECX;
    regs->edx = emu->x86.R_EDX;
    regs->esi = emu->x86.R_ESI;
    regs->edi = emu->x86.R_EDI;
    regs->ds = emu->x86.R_DS;
    regs->es = emu->x86.R_ES;
    for (size_t i = 0; i < scratch_size; ++i)
        scratch[i] = uint8_t(x86emu_read_byte_noperm(emu.get(), IC_SYS_VBE_SCRATCH + unsigned(i)));
    return IC_SYS_OK;
}

int ic_sys_vbe_read_edid(ic_sys_vbe *vbe, unsigned port, uint8_t edid[IC_SYS_VBE_EDID_SIZE])
{
    if (!vbe || !edid)
        return IC_SYS_EINVAL;
    ic_sys_vbe_regs regs{};
    regs.eax = 0x4F15;
    regs.ebx = 0;
    regs.ecx = port;
    int rc = ic_sys_vbe_int10(vbe, &regs, nullptr, 0);
    if (rc != IC_SYS_OK)
        return rc;
    if ((regs.eax & 0xFFFF) != 0x004F || (regs.ebx & 0x3) == 0)
        return IC_SYS_ENOENT;

    regs = ic_sys_vbe_regs{};
    regs.eax = 0x4F15;
    regs.ebx = 1;
    regs.ecx = port;
    regs.edi = IC_SYS_VBE_SCRATCH;
    rc = ic_sys_vbe_int10(vbe, &regs, edid, IC_SYS_VBE_EDID_SIZE);
    if (rc != IC_SYS_OK)
        return rc;
    if ((regs.eax & 0xFFFF) != 0x004F)
        return IC_SYS_ENOENT;
    return IC_SYS_OK;
}

} // extern "C"
