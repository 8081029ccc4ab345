// Integrity-data blocks in a simulated module: layout, the registry block,
// size limits, raw copies, and damaged blocks read as nothing stored.
#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_data_block.h"
#include "ic/qt/ic_holders.h"
#include "ic/qt/orva_fun_fs.h"

#include "module_init.h"
#include "sim_root.h"
#include "temp_dir.h"

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_volume_id.h>
#include <ic/hd/hd_diff.h>
#include <ic/hd/hd_info.h>
#include <ic/rcl/rcl.h>
#include <ic/reg/reg.h>
#include <ic/util/le.h>

#include <orva.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

namespace {

int g_fail_save = 0;

} // namespace

// The next write into the integrity-data area fails with g_fail_save.
extern "C" int orva_save_ic_data(orva_handle_t handle, const void *data, uint32_t offset, uint32_t length)
{
    if (const int code = g_fail_save) {
        g_fail_save = 0;
        return code;
    }
    using fn = int (*)(orva_handle_t, const void *, uint32_t, uint32_t);
    static const fn real = reinterpret_cast<fn>(dlsym(RTLD_NEXT, "orva_save_ic_data"));
    return real(handle, data, offset, length);
}

namespace {

struct rcl_deleter {
    void operator()(rcl *list) const { rcl_destroy(list); }
};
using rcl_ptr = std::unique_ptr<rcl, rcl_deleter>;
struct icl_deleter {
    void operator()(fs_icl *icl) const { fs_icl_destroy(icl); }
};
using icl_ptr = std::unique_ptr<fs_icl, icl_deleter>;

QByteArray le32(uint32_t v)
{
    uint8_t b[4];
    ic_store_le(b, v, 4);
    return QByteArray(reinterpret_cast<const char *>(b), 4);
}

QByteArray be32(uint32_t v)
{
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

// Data-stream string: byte length, UTF-16 big-endian.
QByteArray qstr(const char16_t *s)
{
    QByteArray out;
    for (const char16_t *p = s; *p; ++p)
        out += QByteArray(1, char(*p >> 8)) + char(*p & 0xff);
    return be32(uint32_t(out.size())) + out;
}

// A module of area_size bytes, opened.
class Module {
public:
    explicit Module(uint32_t area_size = ORVA_IC_DATA_DEFAULT_SIZE)
    {
        ::setenv("ORVA_SIM_DIR", dir_.path().c_str(), 1);
        orva_sim::DeviceFile device;
        device.dev_class = 1;
        device.area_size = area_size;
        device.serial = 77;
        ok_ = orva_sim::init_module(dir_.path(), device, ORVA_STATE_NEW, true) == orva_sim::InitResult::Ok
              && orva_init(0) == ORVA_OK && orva_open_device(0, &handle_, 0) == ORVA_OK;
    }
    ~Module()
    {
        orva_exit(0);
        ::unsetenv("ORVA_SIM_DIR");
    }
    bool ok() const { return ok_; }
    orva_handle_t handle() const { return handle_; }
    QByteArray get(uint32_t offset, uint32_t size) const
    {
        QByteArray bytes(qsizetype(size), '\0');
        EXPECT_EQ(orva_load_ic_data(handle_, bytes.data(), offset, size), ORVA_OK);
        return bytes;
    }
    void put(uint32_t offset, const QByteArray &bytes) const
    {
        ASSERT_EQ(orva_save_ic_data(handle_, bytes.constData(), offset, uint32_t(bytes.size())), ORVA_OK);
    }

private:
    simtest::TempDir dir_{"ic-data"};
    orva_handle_t handle_ = nullptr;
    bool ok_ = false;
};

// A check list of `values` values with different data (digests do not
// compress), built from a name space made in memory.
rcl_ptr make_list(int values)
{
    reg *space = nullptr;
    EXPECT_EQ(reg_create(&space), REG_OK);
    reg_key *key = nullptr;
    EXPECT_EQ(reg_create_key_by_abs_path_u8(space, "\\HKLM\\SOFTWARE\\Orva", nullptr, 0, &key), REG_OK);
    rcl *list = nullptr;
    EXPECT_EQ(rcl_create(&list), REG_OK);
    std::mt19937 random(values);
    for (int i = 0; i < values; ++i) {
        const std::string name = "v" + std::to_string(i);
        const uint32_t data = random();
        EXPECT_EQ(reg_create_value_u8(key, name.c_str(), REG_BINARY, &data, sizeof data, nullptr), REG_OK);
        EXPECT_EQ(rcl_add_value_u8(list, space, "\\HKLM\\SOFTWARE\\Orva", name.c_str(), RCL_VALUE_TYPE | RCL_VALUE_DATA,
                                   nullptr),
                  REG_OK);
    }
    reg_close_key(key);
    reg_destroy(space);
    return rcl_ptr(list);
}

QByteArray image_of(const rcl *list)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(rcl_write_to_mem(list, &data, &size), REG_OK);
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    std::free(data);
    return bytes;
}

// Bytes that do not compress.
QByteArray random_bytes(int size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random());
    return bytes;
}

exchange_dir windows_dir()
{
    exchange_dir dir;
    dir.disk = QStringLiteral("ata-DISK_0001");
    dir.part_id = QStringLiteral("1c2d-3e4f");
    dir.path = QStringLiteral("/Windows");
    return dir;
}

TEST(IcDataArea, LayoutFollowsTheAreaSize)
{
    const struct {
        uint32_t area, reg_block, fs_offset;
    } cases[] = {
        {1054720, 512000, 542720},
        {65536, 17408, 48128},
    };
    for (const auto &c : cases) {
        Module m(c.area);
        ASSERT_TRUE(m.ok());
        ic_data_area area(m.handle());
        EXPECT_EQ(area.getMaxIcDataSize(), c.area);
        EXPECT_EQ(area.getRegBlockSize(), c.reg_block);
        uint32_t offset = 0, size = 0;
        ASSERT_TRUE(area.block_place(ic_data_area::FS_BLOCK, &offset, &size));
        EXPECT_EQ(offset, c.fs_offset);
        EXPECT_EQ(size, c.reg_block);
        ASSERT_TRUE(area.block_place(ic_data_area::REG_BLOCK, &offset, &size));
        EXPECT_EQ(offset, 30720u);
        EXPECT_EQ(uint64_t(c.fs_offset) + size, uint64_t(c.area) - (c.area - 30720) % 2);
    }
}

TEST(IcDataArea, RegistryBlockRoundTripAndFlag)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    rcl_ptr list = make_list(3);
    const exchange_dir dir = windows_dir();
    for (const bool flag : {true, false}) {
        ASSERT_EQ(area.save_reg_info_to_device(dir, list.get(), flag), 0);
        // The first part as the data stream holds it.
        QByteArray first, second;
        ASSERT_TRUE(area.read_compressed_block(ic_data_area::REG_BLOCK, &first, &second));
        EXPECT_EQ(first, be32(4) + qstr(u"ata-DISK_0001") + qstr(u"1c2d-3e4f") + qstr(u"/Windows")
                             + qstr(flag ? u"1" : u"0"));
        EXPECT_EQ(second, image_of(list.get()));

        rcl *read = nullptr;
        exchange_dir got;
        bool got_flag = !flag;
        ASSERT_EQ(area.read_reg_info_from_device(&read, &got, &got_flag), 0);
        rcl_ptr owned(read);
        EXPECT_EQ(got_flag, flag);
        EXPECT_EQ(got.disk, dir.disk);
        EXPECT_EQ(got.part_id, dir.part_id);
        EXPECT_EQ(got.path, dir.path);
        EXPECT_EQ(got.volume, nullptr);
        EXPECT_EQ(image_of(read), image_of(list.get()));
    }
}

TEST(IcDataArea, RegistryFlagIsAnyNonZeroNumber)
{
    const struct {
        const char16_t *text;
        bool flag;
    } cases[] = {{u"1", true}, {u"0", false}, {u"2", true}, {u"-1", true}, {u"", false}, {u"yes", false}};
    for (const auto &c : cases) {
        const QByteArray part = be32(4) + qstr(u"d") + qstr(u"p") + qstr(u"/w") + qstr(c.text);
        exchange_dir dir;
        bool flag = !c.flag;
        ASSERT_TRUE(ic_block::read_reg_strings(part, &dir, &flag));
        EXPECT_EQ(flag, c.flag);
    }
}

TEST(IcDataArea, NothingStoredOnAFreshModule)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    rcl *list = nullptr;
    exchange_dir dir;
    bool flag = true;
    EXPECT_EQ(area.read_reg_info_from_device(&list, &dir, &flag), -1);
    EXPECT_EQ(list, nullptr);
    for (int which = 0; which < 4; ++which) {
        uint32_t size = 0;
        EXPECT_FALSE(area.read_raw_icl_block_from_device(&size, which)) << which;
    }
}

TEST(IcDataArea, OversizedRegistryBlockRefusedAndStoredBlockKept)
{
    Module m(65536);
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    rcl_ptr small = make_list(2);
    ASSERT_EQ(area.save_reg_info_to_device(windows_dir(), small.get(), true), 0);
    const QByteArray before = m.get(0, 65536);

    rcl_ptr big = make_list(1500);
    EXPECT_EQ(area.save_reg_info_to_device(windows_dir(), big.get(), true), ic_data_area::kBlockTooLarge);
    EXPECT_EQ(m.get(0, 65536), before);
    // A list without an image is a failure of its own.
    EXPECT_EQ(area.save_reg_info_to_device(windows_dir(), nullptr, true), -1);
    EXPECT_EQ(m.get(0, 65536), before);
}

TEST(IcDataArea, CompressedBlocksKeepToTheirLimits)
{
    Module m(65536);
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    const QByteArray noise = random_bytes(20000, 1);
    ASSERT_EQ(area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(4, '\0'), QByteArray(2, '\0'),
                                         ic_data_area::kMaxFsBlock),
              0);
    const QByteArray before = m.get(0, 65536);
    // Larger than RegBlockSize (17408) though far below 511999.
    EXPECT_EQ(area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(4, '\0'), noise, ic_data_area::kMaxFsBlock),
              ic_data_area::kBlockTooLarge);
    EXPECT_EQ(area.save_compressed_block(ic_data_area::REG_BLOCK, QByteArray(4, '\0'), noise, ic_data_area::kMaxFsBlock),
              ic_data_area::kBlockTooLarge);
    EXPECT_EQ(m.get(0, 65536), before);
    // Data that does not shrink is stored when the block holds it.
    EXPECT_EQ(area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(), noise.left(64), ic_data_area::kMaxFsBlock),
              0);
    QByteArray first, second;
    ASSERT_TRUE(area.read_compressed_block(ic_data_area::FS_BLOCK, &first, &second));
    EXPECT_EQ(second, noise.left(64));
}

TEST(IcDataArea, FailedWriteKeepsTheStoredBlock)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    rcl_ptr first = make_list(2);
    rcl_ptr second = make_list(5);
    ASSERT_EQ(area.save_reg_info_to_device(windows_dir(), first.get(), true), 0);
    g_fail_save = ORVA_E_WRITE;
    EXPECT_EQ(area.save_reg_info_to_device(windows_dir(), second.get(), false), ORVA_E_WRITE);
    rcl *read = nullptr;
    exchange_dir dir;
    bool flag = false;
    ASSERT_EQ(area.read_reg_info_from_device(&read, &dir, &flag), 0);
    rcl_ptr owned(read);
    EXPECT_TRUE(flag);
    EXPECT_EQ(image_of(read), image_of(first.get()));
}

// Content of a compressed block with its parts' frames as given.
QByteArray content(uint32_t s8, uint32_t s, const QByteArray &first, uint32_t r8, uint32_t r, const QByteArray &second)
{
    return le32(s8) + le32(s) + first + le32(r8) + le32(r) + second;
}

QByteArray packed(const QByteArray &bytes)
{
    QByteArray z;
    EXPECT_EQ(compress_ic(&z, bytes), 0);
    return z;
}

TEST(IcDataArea, DamagedRegistryBlocksReadAsNothingStored)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    rcl_ptr list = make_list(2);
    const QByteArray strings = ic_block::write_reg_strings(windows_dir(), true);
    const QByteArray image = image_of(list.get());
    const auto s = uint32_t(strings.size());
    const auto r = uint32_t(image.size());
    const QByteArray good = content(s + 8, s, strings, r + 8, r, image);
    const QByteArray z = packed(good);
    const auto zn = uint32_t(z.size());
    const auto u = uint32_t(good.size());
    // The last three are whole blocks whose parts do not parse: only the
    // reader of the records refuses them.
    const struct {
        const char *name;
        QByteArray block;
        bool whole = false;
    } cases[] = {
        {"Z of 0", le32(0) + le32(u) + z},
        {"Z past the block", le32(512000 - 7) + le32(u) + z},
        {"Z of all ones", le32(0xFFFFFFFF) + le32(u) + z},
        {"Z short of the stream", le32(zn - 1) + le32(u) + z},
        {"Z beyond the stream", le32(zn + 1) + le32(u) + z + 'x'},
        {"U one short", le32(zn) + le32(u - 1) + z},
        {"U one more", le32(zn) + le32(u + 1) + z},
        {"U below two frames", le32(zn) + le32(15) + z},
        {"U no stream can give", le32(zn) + le32(0xFFFFFFF0) + z},
        {"garbage zlib data", le32(zn) + le32(u) + QByteArray(int(zn), 'g')},
        {"stream cut short", le32(zn - 4) + le32(u) + z.left(int(zn) - 4)},
        {"first frame size", le32(zn) + le32(u) + packed(content(s + 9, s, strings, r + 8, r, image))},
        {"first length past the end", [&] {
             const QByteArray c = content(0xFFFFFFFF, 0xFFFFFFF7, strings, r + 8, r, image);
             return le32(uint32_t(packed(c).size())) + le32(u) + packed(c);
         }()},
        {"second frame size", le32(zn) + le32(u) + packed(content(s + 8, s, strings, r + 7, r, image))},
        {"second length short", [&] {
             const QByteArray c = content(s + 8, s, strings, r + 7, r - 1, image);
             return le32(uint32_t(packed(c).size())) + le32(u) + packed(c);
         }()},
        {"three strings", [&] {
             QByteArray bad = strings;
             bad[3] = 3;
             const QByteArray c = content(s + 8, s, bad, r + 8, r, image);
             return le32(uint32_t(packed(c).size())) + le32(u) + packed(c);
         }(), true},
        {"odd string length", [&] {
             QByteArray bad = strings;
             bad[7] = char(bad[7] + 1);
             const QByteArray c = content(s + 8, s, bad, r + 8, r, image);
             return le32(uint32_t(packed(c).size())) + le32(u) + packed(c);
         }(), true},
        {"check list cut short", [&] {
             const QByteArray c = content(s + 8, s, strings, r + 7, r - 1, image.left(int(r) - 1));
             return le32(uint32_t(packed(c).size())) + le32(u - 1) + packed(c);
         }(), true},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(area.save_reg_info_to_device(windows_dir(), list.get(), true), 0);
        m.put(30720, c.block);
        rcl *read = nullptr;
        exchange_dir dir;
        bool flag = false;
        EXPECT_EQ(area.read_reg_info_from_device(&read, &dir, &flag), -1) << c.name;
        EXPECT_EQ(read, nullptr) << c.name;
        uint32_t size = 0;
        const bool header_fits = area.read_raw_icl_block_from_device(&size, ic_data_area::REG_BLOCK) != nullptr;
        // A copy that does not decode is never stored back.
        if (header_fits && !c.whole) {
            EXPECT_EQ(area.save_raw_icl_block_to_device(c.block.constData(), uint32_t(c.block.size()),
                                                        ic_data_area::REG_BLOCK),
                      -1)
                << c.name;
        }
    }
}

TEST(IcDataArea, RawCopiesMoveBlocksBetweenModules)
{
    QByteArray copies[4];
    uint32_t sizes[4] = {};
    {
        Module from;
        ASSERT_TRUE(from.ok());
        ic_data_area area(from.handle());
        const QByteArray payload(300, 'h');
        ASSERT_EQ(area.save_hw_hd_block_to_device(payload.constData(), 300, ic_data_area::HW_BLOCK), 0);
        ASSERT_EQ(area.save_hw_hd_block_to_device(payload.constData(), 20, ic_data_area::HD_BLOCK), 0);
        rcl_ptr list = make_list(4);
        ASSERT_EQ(area.save_reg_info_to_device(windows_dir(), list.get(), true), 0);
        ASSERT_EQ(area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(4, '\0'), QByteArray(2, '\0'),
                                             ic_data_area::kMaxFsBlock),
                  0);
        for (int which = 0; which < 4; ++which) {
            std::unique_ptr<uint8_t[]> raw = area.read_raw_icl_block_from_device(&sizes[which], which);
            ASSERT_TRUE(raw) << which;
            copies[which] = QByteArray(reinterpret_cast<const char *>(raw.get()), qsizetype(sizes[which]));
        }
        EXPECT_EQ(sizes[0], 308u);
        EXPECT_EQ(sizes[1], 28u);
        EXPECT_EQ(copies[0], from.get(0, 308));
        EXPECT_EQ(copies[3], from.get(542720, sizes[3]));
    }
    Module to;
    ASSERT_TRUE(to.ok());
    ic_data_area area(to.handle());
    const uint32_t offsets[4] = {0, 15360, 30720, 542720};
    for (int which = 0; which < 4; ++which) {
        const QByteArray &copy = copies[which];
        // Cut, grown, or given as another kind: refused, nothing written.
        EXPECT_EQ(area.save_raw_icl_block_to_device(copy.constData(), uint32_t(copy.size()) - 1, which), -1);
        EXPECT_EQ(area.save_raw_icl_block_to_device((copy + 'x').constData(), uint32_t(copy.size()) + 1, which), -1);
        const int other = which ^ 2;
        EXPECT_EQ(area.save_raw_icl_block_to_device(copies[other].constData(), uint32_t(copies[other].size()), which),
                  -1);
        EXPECT_EQ(to.get(offsets[which], 8), QByteArray(8, '\0'));
        ASSERT_EQ(area.save_raw_icl_block_to_device(copy.constData(), uint32_t(copy.size()), which), 0);
        EXPECT_EQ(to.get(offsets[which], uint32_t(copy.size())), copy);
    }
    EXPECT_EQ(area.save_raw_icl_block_to_device(copies[0].constData(), uint32_t(copies[0].size()), 4), -1);
    EXPECT_EQ(area.save_raw_icl_block_to_device(nullptr, 8, 0), -1);
}

TEST(IcDataArea, RawFilesBlockTooLargeForASmallModule)
{
    Module m(65536);
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    const QByteArray noise = random_bytes(20000, 3);
    const QByteArray block = ic_block::encode_compressed(QByteArray(4, '\0'), noise);
    ASSERT_GT(block.size(), 17408);
    EXPECT_EQ(area.save_raw_icl_block_to_device(block.constData(), uint32_t(block.size()), ic_data_area::FS_BLOCK),
              -1);
    EXPECT_EQ(m.get(30720, 65536 - 30720), QByteArray(65536 - 30720, '\0'));
}

// A check list of `files` files on one partition, each with its own hash.
icl_ptr make_icl(int files)
{
    fs_icl *icl = nullptr;
    EXPECT_EQ(fs_icl_create(&icl), 0);
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_partition_id_create("ata-DISK_0001", 1, &id), 0);
    std::mt19937 random(files);
    for (int i = 0; i < files; ++i) {
        uint8_t hash[FS_OCL_HASH_SIZE];
        for (uint8_t &b : hash)
            b = uint8_t(random());
        const fs_ocl_file_attrs attrs{0100644, 0, 0, uint32_t(i), 1700000000};
        const std::string path = "/etc/f" + std::to_string(i);
        EXPECT_EQ(fs_icl_add_file_info(icl, id, path.c_str(), FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, hash, &attrs,
                                       nullptr),
                  0);
    }
    fs_volume_id_destroy(id);
    return icl_ptr(icl);
}

QByteArray image_of(const fs_icl *icl)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(fs_icl_write_to_mem(icl, &data, &size), 0);
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    std::free(data);
    return bytes;
}

TEST(IcDataArea, EmptyFilesBlockByteForByte)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    icl_ptr empty = make_icl(0);
    ASSERT_EQ(area.save_fs_info_to_device(empty.get(), {}), 0);
    const QByteArray header = m.get(542720, 8);
    const uint32_t z = ic_le32(reinterpret_cast<const uint8_t *>(header.constData()));
    ASSERT_EQ(ic_le32(reinterpret_cast<const uint8_t *>(header.constData()) + 4), 22u);
    const QByteArray stream = m.get(542720 + 8, z);
    QByteArray content;
    ASSERT_EQ(uncompress_ic(&content, 22, reinterpret_cast<const uint8_t *>(stream.constData()), z), 0);
    EXPECT_EQ(content, le32(12) + le32(4) + QByteArray(4, '\0') + le32(10) + le32(2) + QByteArray(2, '\0'));
    // Nothing before or after the block was touched.
    EXPECT_EQ(m.get(0, 542720), QByteArray(542720, '\0'));
}

TEST(IcDataArea, FilesBlockRoundTripWithImages)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    icl_ptr icl = make_icl(40);
    const QList<fs_vmdk_image> images{{QStringLiteral("/vm/a.vmdk"), QStringLiteral("Образ"), QStringLiteral("1c2d")},
                                      {QStringLiteral("/vm/b.vmdk"), QString(), QStringLiteral("vg0/lv")}};
    ASSERT_EQ(area.save_fs_info_to_device(icl.get(), images), 0);
    QByteArray first;
    ASSERT_TRUE(area.read_compressed_block(ic_data_area::FS_BLOCK, &first, nullptr));
    EXPECT_EQ(first.left(4 + 24), be32(2) + qstr(u"/vm/a.vmdk"));
    EXPECT_EQ(first.right(4 + 16), be32(0xFFFFFFFF) + qstr(u"vg0/lv"));

    fs_icl *read = nullptr;
    QList<fs_vmdk_image> got;
    ASSERT_EQ(area.read_fs_info_from_device(&read, &got), 0);
    icl_ptr owned(read);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].name, QStringLiteral("Образ"));
    EXPECT_TRUE(got[1].name.isNull());
    EXPECT_EQ(got[1].host_id, QStringLiteral("vg0/lv"));
    // Each write-read reverses the volume order: compare the images of
    // lists read back the same number of times.
    fs_icl *again = nullptr;
    ASSERT_EQ(fs_icl_read_from_mem(image_of(icl.get()).constData(), uint32_t(image_of(icl.get()).size()), &again), 0);
    icl_ptr again_owned(again);
    EXPECT_EQ(image_of(read), image_of(again));
}

TEST(IcDataArea, FilesBlockLimits)
{
    // Above RegBlockSize (17408) of a small module, far below 511999.
    Module m(65536);
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    icl_ptr small = make_icl(3);
    icl_ptr big = make_icl(1000);
    ASSERT_EQ(area.save_fs_info_to_device(small.get(), {}), 0);
    const QByteArray before = m.get(0, 65536);
    EXPECT_EQ(area.save_fs_info_to_device(big.get(), {}), ic_data_area::kBlockTooLarge);
    EXPECT_EQ(area.save_fs_info_to_device(nullptr, {}), -1);
    EXPECT_EQ(m.get(0, 65536), before);
}

TEST(IcDataArea, FilesBlockOver511999Refused)
{
    // An area whose blocks could hold it: 511999 still holds.
    Module m(1500000);
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    icl_ptr big = make_icl(17000);
    const QByteArray block = ic_block::encode_compressed(ic_block::write_image_list({}), image_of(big.get()));
    ASSERT_GT(block.size(), 511999);
    ASSERT_LE(uint32_t(block.size()), area.getRegBlockSize());
    QList<fs_vmdk_image> images;
    EXPECT_EQ(area.save_fs_info_to_device(big.get(), images), ic_data_area::kBlockTooLarge);
    uint32_t size = 0;
    EXPECT_FALSE(area.read_raw_icl_block_from_device(&size, ic_data_area::FS_BLOCK));
}

TEST(IcDataArea, DisksBlock)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    hd_info *info = nullptr;
    ASSERT_EQ(hd_info_create(&info), 0);
    ASSERT_EQ(area.save_hd_info_to_device(info), 0);
    uint8_t *image = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(hd_info_write_to_mem(info, &image, &size), 0);
    EXPECT_EQ(m.get(15360, 8 + size), le32(15360) + le32(size) + QByteArray(reinterpret_cast<char *>(image), int(size)));
    std::free(image);
    hd_info_destroy(info);
    hd_info *read = nullptr;
    ASSERT_EQ(area.read_hd_info_from_device(&read), 0);
    EXPECT_EQ(read->disk_count, 0u);
    hd_info_destroy(read);
    EXPECT_EQ(area.save_hd_info_to_device(nullptr), -1);
    // Damaged: reads as nothing stored.
    m.put(15360 + 4, le32(15353));
    read = nullptr;
    EXPECT_EQ(area.read_hd_info_from_device(&read), -1);
    EXPECT_EQ(read, nullptr);
}

TEST(IcHolders, NothingStoredGivesEmptyReferences)
{
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    reg_holder registry;
    hw_holder hardware;
    hd_holder disks;
    EXPECT_FALSE(registry.load(area, nullptr));
    EXPECT_FALSE(registry.unreadable());
    ASSERT_TRUE(registry.list());
    EXPECT_EQ(registry.list()->key_count + registry.list()->value_count, 0u);
    EXPECT_FALSE(registry.check_wanted());
    EXPECT_EQ(registry.build_space(), 4);
    EXPECT_FALSE(hardware.load_stored(area));
    EXPECT_EQ(disks.load_stored(area), hd_holder::NOTHING_STORED);
    EXPECT_EQ(disks.save(area), -1);
    EXPECT_EQ(disks.compare(), 2);

    // Stored and read back; a directory whose volume is not on this
    // computer is kept but not checked.
    registry.set_dir(windows_dir());
    registry.set_flag(true);
    ASSERT_EQ(registry.save(area), 0);
    reg_holder registry_again;
    EXPECT_TRUE(registry_again.load(area, nullptr));
    EXPECT_TRUE(registry_again.flag());
    EXPECT_EQ(registry_again.dir().path, QStringLiteral("/Windows"));
    EXPECT_FALSE(registry_again.check_wanted());

    // Written but damaged is not nothing stored.
    m.put(30720 + 8, QByteArray(4, '\xff'));
    EXPECT_FALSE(registry_again.load(area, nullptr));
    EXPECT_TRUE(registry_again.unreadable());
    EXPECT_FALSE(registry_again.flag());
    m.put(15360, le32(15361));
    EXPECT_EQ(disks.load_stored(area), hd_holder::UNREADABLE);
    EXPECT_TRUE(area.block_written(ic_data_area::HD_BLOCK));
    EXPECT_FALSE(area.block_written(ic_data_area::FS_BLOCK));
}

// The disks holder over the demo computer: a fresh inventory to approve,
// approved and stored, read back and compared; a block that does not parse,
// and a failed write that leaves the stored block as it was.
TEST(IcHolders, DisksHolder)
{
    simtest::TempDir dir("ic-holders-hd");
    const std::string root = simtest::build_root(dir, simtest::read_file(DEMO_DESCRIPTION));
    simtest::SysRoot sysroot(root);
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());
    hd_holder disks;

    // Without a picture one is taken; stored and current are then two
    // records with the same content and no flags.
    ASSERT_EQ(disks.adopt_current(false), 0);
    ASSERT_TRUE(disks.stored() && disks.current());
    EXPECT_NE(disks.stored(), disks.current());
    EXPECT_EQ(disks.stored()->disk_count, 2u);
    EXPECT_EQ(disks.stored()->flags, 0u);
    EXPECT_EQ(hd_info_get_first_disk(disks.stored())->flags, 0u);
    ASSERT_EQ(disks.compare(), 0);
    EXPECT_EQ(disks.diff()->flags & HD_DIFF_CHANGED, 0u);

    // Approved as a whole: control on, disks 13, partitions (logical ones
    // too) under control.
    ASSERT_EQ(hd_info_check_all(disks.stored()), 0);
    EXPECT_EQ(hd_info_check_all(nullptr), 2);
    for (hd_disk *d = hd_info_get_first_disk(disks.stored()); d; d = hd_info_get_next_disk(disks.stored(), d)) {
        EXPECT_EQ(d->flags, HD_DISK_PAGE_FLAGS);
        for (hd_partition *p = hd_info_get_first_partition(d); p; p = hd_info_get_next_partition(d, p)) {
            EXPECT_EQ(p->flags, HD_PARTITION_CONTROL);
            for (hd_partition *l = hd_info_get_first_logical_partition(p); l;
                 l = hd_info_get_next_logical_partition(p, l))
                EXPECT_EQ(l->flags, HD_PARTITION_CONTROL);
        }
    }
    ASSERT_EQ(disks.save(area), 0);
    const QByteArray saved = m.get(15360, 15360);

    // Read back: the flags come with it; replacing the stored inventory
    // drops the difference built over the old one.
    const unsigned generation = disks.generation();
    ASSERT_EQ(disks.load_stored(area), hd_holder::LOADED);
    EXPECT_NE(disks.generation(), generation);
    EXPECT_EQ(disks.diff(), nullptr);
    EXPECT_EQ(disks.stored()->flags, HD_INFO_CONTROL);
    ASSERT_EQ(disks.compare(), 0);
    EXPECT_EQ(disks.diff()->flags & HD_DIFF_CHANGED, 0u);

    // A failed write leaves the stored block as it was.
    disks.stored()->flags = 0;
    g_fail_save = ORVA_E_WRITE;
    EXPECT_EQ(disks.save(area), -1);
    EXPECT_EQ(m.get(15360, 15360), saved);

    // A fresh inventory again: every flag clear.
    ASSERT_EQ(disks.adopt_current(true), 0);
    EXPECT_EQ(hd_info_get_first_disk(disks.stored())->flags, 0u);

    // A block that does not parse: none held.
    m.put(15360 + 8, QByteArray(4, '\xff'));
    EXPECT_EQ(disks.load_stored(area), hd_holder::UNREADABLE);
    EXPECT_EQ(disks.stored(), nullptr);
}

TEST(IcDataArea, FileServiceLoadsAndSavesTheFilesBlock)
{
    simtest::TempDir dir("ic-data-fs");
    const std::string root = simtest::build_root(dir, simtest::read_file(DEMO_DESCRIPTION));
    simtest::SysRoot sysroot(root);
    fs_disk_list *disks = nullptr;
    ASSERT_EQ(fs_disk_list_create(&disks), FS_OK);
    orva_fun_fs fs(disks);
    Module m;
    ASSERT_TRUE(m.ok());
    ic_data_area area(m.handle());

    // Nothing stored: the empty list stays, 0.
    EXPECT_EQ(fs.load_fs_data(area), 0);
    EXPECT_FALSE(fs_icl_first_volume(fs.icl()));

    icl_ptr stored = make_icl(5);
    ASSERT_EQ(area.save_fs_info_to_device(stored.get(), {fs_vmdk_image{"/a.vmdk", "a", "1c2d"}}), 0);
    EXPECT_EQ(fs.load_fs_data(area), 0);
    ASSERT_TRUE(fs_icl_first_volume(fs.icl()));
    EXPECT_EQ(fs.vmdk_images().size(), 1);
    fs.vmdk_images().append(fs_vmdk_image{"/b.vmdk", "b", "3e4f"});
    EXPECT_EQ(fs.save_fs_data(area), 0);
    fs_disk_list *other_disks = nullptr;
    ASSERT_EQ(fs_disk_list_create(&other_disks), FS_OK);
    orva_fun_fs again(other_disks);
    EXPECT_EQ(again.load_fs_data(area), 0);
    EXPECT_EQ(image_of(again.icl()), image_of(fs.icl()));
    ASSERT_EQ(again.vmdk_images().size(), 2);
    EXPECT_EQ(again.vmdk_images()[1].host_id, QStringLiteral("3e4f"));

    // A block whose check list does not parse: a new empty list, -1.
    ASSERT_EQ(area.save_compressed_block(ic_data_area::FS_BLOCK, ic_block::write_image_list({}), QByteArray(3, 'x'),
                                         ic_data_area::kMaxFsBlock),
              0);
    EXPECT_EQ(fs.load_fs_data(area), -1);
    ASSERT_TRUE(fs.icl());
    EXPECT_FALSE(fs_icl_first_volume(fs.icl()));
}

} // namespace
