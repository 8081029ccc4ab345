// The boot-time check without its screen: the integrity-data blocks of the
// hardware and the disks, the kernel command line, and the hardware and
// boot-medium sections over simulated computers and a simulated module.
#include "check/boot_check.h"
#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "check/linux_kernel_cmd_line.h"
#include "log/log_types.h"
#include "ic/qt/ic_data_area.h"
#include "support/check_computer.h"
#include "support/sim_module.h"

#include <ic/hw/hw_ptr.h>
#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_ocl_ptr.h>
#include <ic/fs/fs_volume_id.h>
#include <ic/hd/hd_info.h>
#include <ic/qt/orva_fun_fs.h>
#include <ic/rcl/rcl.h>

#include <QtTest>

#include <cstring>
#include <functional>

namespace {

// What a check sent.
struct recording_sink final : check_sink {
    struct record {
        uint32_t type;
        uint32_t result;
        QByteArray parameter;
        QString text;
    };
    QStringList fragments;
    QList<record> records;
    QList<QPair<QString, uint32_t>> files;
    int changed = 0;
    int success = 0;

    void info(const QString &fragment) override { fragments << fragment; }
    void log_record(uint32_t type, uint32_t result, const void *parameter, const QString &text) override
    {
        const int size = !parameter ? 0 : type == LOG_HW_CHECK ? 4 : 1;
        records.append({type, result, QByteArray(static_cast<const char *>(parameter), size), text});
    }
    void file_record(const QString &path, uint32_t check_flags) override { files << qMakePair(path, check_flags); }
    void hw_configuration_changed() override { ++changed; }
    void hw_check_success() override { ++success; }

    QString report() const { return fragments.join(QString()); }
};

// A formatted module opened through the library.
struct open_module {
    sim_module module;
    std::unique_ptr<module_session> session;

    explicit open_module(const QStringList &init = QStringList())
    {
        if (init.isEmpty())
            module.init_formatted();
        else
            module.sim(init);
        session = std::make_unique<module_session>();
    }
    orva_handle_t handle() const { return session->handle(); }

    QByteArray area(uint32_t offset, uint32_t size) const
    {
        QByteArray bytes(static_cast<qsizetype>(size), '\0');
        if (orva_load_ic_data(handle(), bytes.data(), offset, size) != ORVA_OK)
            return QByteArray();
        return bytes;
    }
    bool put(uint32_t offset, const QByteArray &bytes) const
    {
        return orva_save_ic_data(handle(), bytes.constData(), offset, static_cast<uint32_t>(bytes.size())) ==
               ORVA_OK;
    }
};

QByteArray le32(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>(v >> (8 * i));
    return b;
}

// The hardware and boot-medium sections of a check of the current computer
// against the stored inventory.
recording_sink run_check(orva_handle_t handle, bool *passed = nullptr)
{
    recording_sink sink;
    boot_check check(handle);
    const bool result = check.run(sink);
    if (passed)
        *passed = result;
    return sink;
}

const QString kHwTitle = check_fragments::section_title(QStringLiteral("Контроль оборудования"));
const QString kBootTitle = check_fragments::section_title(QStringLiteral("Контроль загрузочного носителя"));

} // namespace

class check_test : public QObject {
    Q_OBJECT

private slots:
    void area_layout_data();
    void area_layout();
    void hardware_block_round_trip();
    void small_block_headers_data();
    void small_block_headers();
    void oversized_payloads_refused();

    void command_line_flags_data();
    void command_line_flags();
    void command_line_read_through_the_system_root();

    void hardware_differences_data();
    void hardware_differences();
    void nothing_stored_compares_with_itself();
    void unreadable_computer_fails();
    void fragments_escape_computer_texts();

    void disk_differences_data();
    void disk_differences();
    void volume_file_lines_data();
    void volume_file_lines();
    void volumes_of_the_file_section();
    void registry_differences_data();
    void registry_differences();
    void disk_list_tried_again();
};

void check_test::area_layout_data()
{
    QTest::addColumn<QString>("area_size");
    QTest::addColumn<uint32_t>("reg_block_size");
    QTest::newRow("default") << QString() << 512000u;
    QTest::newRow("smallest") << QStringLiteral("65536") << 17408u;
    QTest::newRow("odd") << QStringLiteral("65537") << 17408u;
}

void check_test::area_layout()
{
    QFETCH(QString, area_size);
    QFETCH(uint32_t, reg_block_size);
    QStringList init;
    if (!area_size.isEmpty())
        init = QStringList{QStringLiteral("init"), QStringLiteral("--area-size"), area_size};
    open_module m(init);
    QVERIFY(m.session->ok());
    ic_data_area area(m.handle());
    QCOMPARE(area.getMaxIcDataSize(), area_size.isEmpty() ? 1054720u : area_size.toUInt());
    QCOMPARE(area.getRegBlockSize(), reg_block_size);
    QCOMPARE(ic_data_area::getHwBlockSize(), 15360u);
    QCOMPARE(ic_data_area::getHdBlockSize(), 15360u);
    if (area_size.isEmpty())
        QCOMPARE(ic_data_area::kCompressedBase + area.getRegBlockSize(), 542720u);
}

void check_test::hardware_block_round_trip()
{
    check_computer computer;
    QVERIFY(computer.build());
    open_module m;
    ic_data_area area(m.handle());

    hw_info *raw = nullptr;
    QCOMPARE(hw_info_get_current(&raw), 0);
    ic_hw::info_ptr current(raw);
    current->flags[HW_CLASS_PCI] = 1;
    QCOMPARE(area.save_hw_info_to_device(current.get()), 0);
    uint8_t *image = nullptr;
    uint32_t image_size = 0;
    QCOMPARE(hw_info_write_to_mem(current.get(), &image, &image_size), 0);
    const QByteArray expected(reinterpret_cast<const char *>(image), static_cast<qsizetype>(image_size));
    std::free(image);
    QCOMPARE(m.area(0, 8 + image_size), le32(15360) + le32(image_size) + expected);

    hw_info *read = nullptr;
    QCOMPARE(area.read_hw_info_from_device(&read), 0);
    ic_hw::info_ptr stored(read);
    QCOMPARE(stored->count[HW_CLASS_PCI], current->count[HW_CLASS_PCI]);
    QCOMPARE(stored->flags[HW_CLASS_PCI], 1u);

    // No inventory: L = 4 and four zero bytes, read as nothing stored.
    QCOMPARE(area.save_hw_info_to_device(nullptr), 0);
    QCOMPARE(m.area(0, 12), le32(15360) + le32(4) + QByteArray(4, '\0'));
    read = nullptr;
    QCOMPARE(area.read_hw_info_from_device(&read), -1);
    QVERIFY(!read);
}

void check_test::small_block_headers_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("readable");
    QTest::newRow("whole") << le32(15360) << true;
    QTest::newRow("never written") << QByteArray(4, '\0') << false;
    QTest::newRow("block size 15359") << le32(15359) << false;
    QTest::newRow("block size of the next area") << le32(512000) << false;
}

void check_test::small_block_headers()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, readable);
    open_module m;
    ic_data_area area(m.handle());
    const QByteArray payload(100, 'x');
    for (int which : {ic_data_area::HW_BLOCK, ic_data_area::HD_BLOCK}) {
        const uint32_t offset = ic_data_area::small_block_offset(which);
        QCOMPARE(area.save_hw_hd_block_to_device(payload.constData(), 100, which), 0);
        QVERIFY(m.put(offset, header));
        uint32_t size = 0;
        std::unique_ptr<uint8_t[]> got = area.read_hw_hd_block_from_device(&size, which);
        QCOMPARE(static_cast<bool>(got), readable);
        if (readable)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(got.get()), size), payload);
        // Lengths that do not fit the block read as nothing stored, also
        // when the bytes behind them could be read.
        for (uint32_t length : {0u, 15353u, 15360u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
            QVERIFY(m.put(offset, le32(15360) + le32(length)));
            QVERIFY(!area.read_hw_hd_block_from_device(&size, which));
        }
    }
    uint32_t size = 0;
    QVERIFY(!area.read_hw_hd_block_from_device(&size, 2));
    QVERIFY(!area.read_hw_hd_block_from_device(nullptr, ic_data_area::HW_BLOCK));
}

void check_test::oversized_payloads_refused()
{
    open_module m;
    ic_data_area area(m.handle());
    const QByteArray stored(15352, 's');
    const QByteArray too_long(15353, 'x');
    QCOMPARE(area.save_hw_hd_block_to_device(stored.constData(), 15352, ic_data_area::HW_BLOCK), 0);
    const QByteArray before = m.area(0, 2 * 15360 + 64);
    for (int which : {ic_data_area::HW_BLOCK, ic_data_area::HD_BLOCK})
        QCOMPARE(area.save_hw_hd_block_to_device(too_long.constData(), 15353, which), -1);
    QCOMPARE(area.save_hw_hd_block_to_device(stored.constData(), 100, 3), -1);
    // Neither block nor the registry block behind them changed.
    QCOMPARE(m.area(0, 2 * 15360 + 64), before);
}

void check_test::command_line_flags_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<bool>("int13");
    QTest::addColumn<bool>("removable");
    QTest::newRow("marker last") << "ro quiet orva\n" << QStringList{"", ""} << false << false;
    QTest::newRow("int13 after the marker") << "ro orva int13_fails" << QStringList{"", "int13_fails"} << true
                                            << false;
    QTest::newRow("only after the last marker")
        << "orva int13_fails orva hd0_removable\n" << QStringList{"", "hd0_removable", ""} << false << true;
    QTest::newRow("no marker: the whole line") << "root=/dev/sda1 hd0_removable"
                                               << QStringList{"root=/dev/sda1", "hd0_removable"} << false << true;
    QTest::newRow("substring of a word") << "orva x=int13_failsafe" << QStringList{"", "x=int13_failsafe"} << true
                                         << false;
    QTest::newRow("case counts") << "ORVA HD0_REMOVABLE" << QStringList{"ORVA", "HD0_REMOVABLE"} << false << false;
    QTest::newRow("marker inside a word") << "root=/dev/orva1 hd0_removable" << QStringList{"1", "hd0_removable"}
                                          << false << true;
    QTest::newRow("empty") << "" << QStringList{""} << false << false;
}

void check_test::command_line_flags()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QFETCH(bool, int13);
    QFETCH(bool, removable);
    LinuxKernelCmdLine cmdline;
    cmdline.set_cmdline(line);
    QCOMPARE(cmdline.getOrvaParamList(), words);
    QCOMPARE(cmdline.isInt13Fails(), int13);
    QCOMPARE(cmdline.isBootDeviceRemovable(), removable);
}

void check_test::command_line_read_through_the_system_root()
{
    check_computer computer;
    QVERIFY(computer.build(QStringLiteral("quiet orva int13_fails")));
    LinuxKernelCmdLine cmdline;
    QVERIFY(cmdline.load());
    QCOMPARE(cmdline.cmdline(), QStringLiteral("quiet orva int13_fails\n"));
    QVERIFY(cmdline.isInt13Fails());

    // No /proc/cmdline: the held line stays, the flags see it.
    QVERIFY(computer.build(QString()));
    QVERIFY(!cmdline.load());
    QVERIFY(cmdline.isInt13Fails());
    LinuxKernelCmdLine fresh;
    QVERIFY(!fresh.load());
    QVERIFY(!fresh.isInt13Fails() && !fresh.isBootDeviceRemovable());
}

void check_test::hardware_differences_data()
{
    // The stored computer and the current one differ by `change`; `mark`
    // sets the check flags of the stored inventory (all checked otherwise).
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("unmark"); // "class N", "devices N", "params N" or empty
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<uint32_t>("mask");

    const QString card = QStringLiteral("pci 0000:00:19.0 vendor=8086 device=153a class=020000\n");
    QTest::newRow("new PCI card") << card << QString()
                                  << QStringList{check_fragments::hw_device_new(QStringLiteral("0000:00:19.0"))}
                                  << 0x80u;
    QTest::newRow("new PCI card, class not checked") << card << QStringLiteral("class 4") << QStringList() << 0u;
    QTest::newRow("removed memory")
        << QStringLiteral("-memory") << QString()
        << QStringList{check_fragments::hw_device_removed(QStringLiteral("BANK 0 (DIMM0)"))}
        << 0x9u; // the SMBIOS table lies in the hashed BIOS image
    QTest::newRow("replaced card")
        << QStringLiteral("-card") << QString()
        << QStringList{check_fragments::hw_device_changed(QStringLiteral("0000:00:02.0")),
                       check_fragments::hw_param_changed(QStringLiteral("Device"))}
        << 0x80u;
    QTest::newRow("replaced card, device not checked") << QStringLiteral("-card") << QStringLiteral("devices 4")
                                                       << QStringList() << 0u;
    QTest::newRow("replaced card, parameter not checked")
        << QStringLiteral("-card") << QStringLiteral("params 4")
        << QStringList{check_fragments::hw_device_changed(QStringLiteral("0000:00:02.0"))} << 0u;
    QTest::newRow("reader of vendor 072f unplugged") << QStringLiteral("-reader") << QString() << QStringList() << 0u;
}

void check_test::hardware_differences()
{
    QFETCH(QString, change);
    QFETCH(QString, unmark);
    QFETCH(QStringList, lines);
    QFETCH(uint32_t, mask);

    check_computer computer;
    QVERIFY(computer.build());
    open_module m;
    QVERIFY(approve_hardware(m.handle(), [&unmark](hw_info *info) {
        const QStringList what = unmark.split(QLatin1Char(' '));
        if (what.size() != 2)
            return;
        const uint32_t c = what[1].toUInt();
        if (what[0] == QLatin1String("class"))
            info->flags[c] = 0;
        for (hw_device *d = hw_info_get_first_device(info, c); d; d = hw_info_get_next_device(info, d)) {
            if (what[0] == QLatin1String("devices"))
                d->flags = 0;
            for (hw_param *p = hw_device_get_first_param(d); p && what[0] == QLatin1String("params");
                 p = hw_device_get_next_param(d, p))
                p->flags = 0;
        }
    }));
    QVERIFY(computer.build(QStringLiteral("ro orva"), change));

    bool passed = true;
    const recording_sink sink = run_check(m.handle(), &passed);
    const QString report = sink.report();
    QVERIFY2(report.startsWith(kHwTitle), qPrintable(report));
    // Checked classes show their header; unchanged checked devices are OK
    // (whatever their class flag).
    QCOMPARE(report.contains(check_fragments::hw_class_header(QStringLiteral("PCI"))), unmark != "class 4");
    QCOMPARE(report.contains(check_fragments::hw_device_ok(QStringLiteral("0000:00:00.0"))), unmark != "devices 4");
    QVERIFY(sink.changed >= 1);
    int from = 0;
    for (const QString &line : lines) {
        const int at = report.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable(line + QStringLiteral(" in ") + report.mid(from)));
        from = at + 1;
    }
    QVERIFY(!report.contains(QStringLiteral("-новое устройство")) || lines.join("").contains("-новое"));
    QVERIFY(!report.contains(QStringLiteral("-параметр изменен")) || mask != 0);
    const bool hw_passed = mask == 0;
    QVERIFY(report.contains(check_fragments::hw_result(hw_passed)));
    QCOMPARE(sink.success, hw_passed ? 1 : 0);
    QCOMPARE(passed, hw_passed);
    if (hw_passed) {
        QVERIFY(sink.records.isEmpty());
    } else {
        QCOMPARE(sink.records.size(), 1);
        QCOMPARE(sink.records[0].type, uint32_t(LOG_HW_CHECK));
        QCOMPARE(sink.records[0].result, 0u);
        QCOMPARE(sink.records[0].parameter, le32(mask));
        QCOMPARE(sink.records[0].text, QStringLiteral("Чек0"));
    }
    // The boot medium comes last, after every hardware line.
    QVERIFY(report.indexOf(kBootTitle) > report.indexOf(check_fragments::hw_result(hw_passed)));
    QVERIFY(report.endsWith(check_fragments::ok_line()));
}

void check_test::nothing_stored_compares_with_itself()
{
    check_computer computer;
    QVERIFY(computer.build());
    open_module m;
    bool passed = false;
    const recording_sink sink = run_check(m.handle(), &passed);
    QVERIFY(passed);
    QCOMPARE(sink.fragments,
             (QStringList{kHwTitle, check_fragments::hw_result(true), kBootTitle, check_fragments::ok_line()}));
    QCOMPARE(sink.success, 1);
    QCOMPARE(sink.changed, 0);
}

void check_test::unreadable_computer_fails()
{
    // Stored hardware, but the computer cannot be scanned (and has no
    // command line): neither section can pass.
    check_computer computer;
    QVERIFY(computer.build());
    open_module m;
    QVERIFY(approve_hardware(m.handle()));
    computer.remove();
    bool passed = true;
    const recording_sink sink = run_check(m.handle(), &passed);
    QVERIFY(!passed);
    QCOMPARE(sink.fragments,
             (QStringList{QStringLiteral("Ошибка получения списка оборудования.\n"), kHwTitle,
                          check_fragments::hw_result(false), kBootTitle,
                          check_fragments::red_line(QStringLiteral("Не удалось определить тип устройства загрузки ОС\n")),
                          check_fragments::check_result(false)}));
    QCOMPARE(sink.success, 0);
    QVERIFY(sink.records.isEmpty());
}

void check_test::fragments_escape_computer_texts()
{
    QCOMPARE(check_fragments::hw_device_new(QStringLiteral("<b>A&B</b>")),
             QStringLiteral("<body style='background-color:white'><i>&lt;b&gt;A&amp;B&lt;/b&gt;</i><font size=4 "
                            "color='red' style='font-family:arial'> -новое устройство\n</font></body>"));
}

void check_test::disk_differences_data()
{
    // The partition tables of S0001 (two primaries) are stored with the flags
    // `flags` (control switched on unless `control` is false); then `change`
    // is made to the computer.
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("control");
    QTest::addColumn<QString>("line"); // the disk's line; none: the section passes
    const int page = HD_DISK_PAGE_FLAGS;
    const QString modified = QStringLiteral("S0001 модифицирован:\n Диск был модифицирован:");
    QTest::newRow("unchanged") << QString() << page << true << QString();
    QTest::newRow("MBR boot code") << QStringLiteral("mbr") << page << true
                                   << modified + QStringLiteral(" MBR модифицирована;");
    QTest::newRow("sector 5") << QStringLiteral("boot") << page << true
                              << modified + QStringLiteral(" сектора изменены;");
    QTest::newRow("sector 5, boot area not watched") << QStringLiteral("boot") << int(HD_DISK_CONTROL) << true
                                                     << QString();
    QTest::newRow("partition boot record") << QStringLiteral("pbr") << page << true
                                           << modified + QStringLiteral(" структура изменена;");
    QTest::newRow("partition moved") << QStringLiteral("moved") << page << true
                                     << modified + QStringLiteral(" MBR модифицирована; структура изменена;");
    QTest::newRow("disk not under control") << QStringLiteral("mbr") << 0 << true << QString();
    QTest::newRow("disk control switched off") << QStringLiteral("mbr") << page << false << QString();
    QTest::newRow("new disk") << QStringLiteral("disk sdb size=1M controller=0000:00:1f.2 serial=S0002") << page
                              << true << QStringLiteral("S0002 новый:\n Подключен новый диск.");
}

void check_test::disk_differences()
{
    QFETCH(QString, change);
    QFETCH(int, flags);
    QFETCH(bool, control);
    QFETCH(QString, line);
    check_computer computer;
    QVERIFY(computer.build());
    open_module m;
    QVERIFY(approve_disks(m.handle(), [&](hd_info *info) {
        info->flags = control ? HD_INFO_CONTROL : 0;
        for (hd_disk *d = hd_info_get_first_disk(info); d; d = hd_info_get_next_disk(info, d))
            d->flags = static_cast<uint8_t>(flags);
    }));
    const QString plain = QString::fromLatin1(check_computer::kCmdline);
    if (change == QLatin1String("moved")) {
        QVERIFY(computer.build(plain, QStringLiteral("-moved")));
    } else if (change.startsWith(QLatin1String("disk "))) {
        QVERIFY(computer.build(plain, change));
    } else {
        QVERIFY(computer.build());
        if (change == QLatin1String("mbr"))
            QVERIFY(computer.write_device(QStringLiteral("sda"), 10, "changed"));
        else if (change == QLatin1String("boot"))
            QVERIFY(computer.write_device(QStringLiteral("sda"), 5 * 512, "changed"));
        else if (change == QLatin1String("pbr"))
            QVERIFY(computer.write_device(QStringLiteral("sda"), 1024 * 1024 + 3, "changed"));
    }
    bool passed = false;
    const recording_sink sink = run_check(m.handle(), &passed);
    const QString title = check_fragments::section_title(QStringLiteral("Контроль дисков"));
    QCOMPARE(sink.fragments.contains(title), control);
    const int at = static_cast<int>(sink.fragments.indexOf(title));
    if (!control) {
        QVERIFY(passed);
    } else if (line.isEmpty()) {
        QVERIFY(passed);
        QCOMPARE(sink.fragments.value(at + 1), check_fragments::ok_line());
    } else {
        QVERIFY(!passed);
        QCOMPARE(sink.fragments.value(at + 1), check_fragments::disk_line(line.section(QLatin1Char(' '), 0, 0),
                                                                         line.mid(line.indexOf(QLatin1Char(' ')))));
        QCOMPARE(sink.fragments.value(at + 2), check_fragments::section_title(QStringLiteral("Контроль загрузочного носителя")));
        // A new disk is new hardware as well.
        QList<recording_sink::record> records = sink.records;
        records.removeIf([](const recording_sink::record &r) { return r.type == LOG_HW_CHECK; });
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].type, uint32_t(LOG_DISK_CHECK));
        QCOMPARE(records[0].result, 0x20000u);
        QCOMPARE(records[0].text, line.section(QLatin1Char(' '), 0, 0));
    }
}

void check_test::volume_file_lines_data()
{
    // A volume (a directory here) with /a.txt (contents), /d
    // (per file) and /h (one hash); `change` is made after the list is taken.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("records"); // "path flags"
    const QString ok_a = QStringLiteral("\n\t\t/a.txt - ОК");
    const QString ok_d = QStringLiteral("\n\t\t/d - ОК");
    const QString ok_h = QStringLiteral("\n\t\t/h - ОК");
    QTest::newRow("unchanged") << QString() << QStringList{ok_a, ok_d, ok_h} << QStringList();
    QTest::newRow("file contents")
        << QStringLiteral("write a.txt")
        << QStringList{QStringLiteral("\n\t\t/a.txt - Нарушена целостность;"), ok_d, ok_h}
        << QStringList{QStringLiteral("/a.txt 4")};
    QTest::newRow("file replaced by a directory")
        << QStringLiteral("dir a.txt")
        << QStringList{QStringLiteral("\n\t\t/a.txt - Файл отсутствует;"), ok_d, ok_h}
        << QStringList{QStringLiteral("/a.txt 2")};
    QTest::newRow("new file two levels down in a per-file directory")
        << QStringLiteral("write d/x/y/new.txt")
        << QStringList{QStringLiteral("\n\t\t Контроль каталога /d"),
                       QStringLiteral("\n\t\t\t./x/y/new.txt - Новый файл;"), ok_a, ok_h}
        << QStringList{QStringLiteral("/d/x/y/new.txt 1")};
    QTest::newRow("file gone from a per-file directory")
        << QStringLiteral("remove d/one.txt")
        << QStringList{QStringLiteral("\n\t\t Контроль каталога /d"),
                       QStringLiteral("\n\t\t\t./one.txt - Файл отсутствует;"), ok_a, ok_h}
        << QStringList{QStringLiteral("/d/one.txt 2")};
    // Names from the disk are shown as text, never as markup (the event
    // log keeps them as they are).
    QTest::newRow("new file with a name of markup")
        << QStringLiteral("write d/<b>x&amp;")
        << QStringList{QStringLiteral("\n\t\t Контроль каталога /d"),
                       QStringLiteral("\n\t\t\t./&lt;b&gt;x&amp;amp; - Новый файл;"), ok_a, ok_h}
        << QStringList{QStringLiteral("/d/<b>x&amp; 1")};
    // The directory's own item shows its path; its record counts as a
    // changed file, not as "ОК".
    QTest::newRow("hashed directory gains a file")
        << QStringLiteral("write h/new.txt")
        << QStringList{QStringLiteral("\n\t\t Контроль каталога /h"),
                       QStringLiteral("\n\t\t\t./h - Целостность каталога нарушена;"), ok_a, ok_d}
        << QStringList{QStringLiteral("/h 4")};
}

void check_test::volume_file_lines()
{
    QFETCH(QString, change);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, records);
    QTemporaryDir volume;
    QVERIFY(volume.isValid());
    const QByteArray root = QFile::encodeName(volume.path());
    auto write = [&](const QString &rel, const QByteArray &bytes) {
        const QString path = volume.filePath(rel);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write(QStringLiteral("a.txt"), "alpha\n");
    write(QStringLiteral("d/one.txt"), "one\n");
    write(QStringLiteral("h/two.txt"), "two\n");
    fs_ocl *raw = nullptr;
    QCOMPARE(fs_ocl_create(&raw), 0);
    ic_fs::ocl_ptr list(raw);
    QCOMPARE(fs_ocl_add_file(raw, root.constData(), "/a.txt", FS_OCL_CONTROL_DATA, nullptr), 0);
    QCOMPARE(fs_ocl_add_dir(raw, root.constData(), "/d", nullptr, FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA,
                            nullptr),
             0);
    QCOMPARE(fs_ocl_add_dir(raw, root.constData(), "/h", nullptr, FS_OCL_CONTROL_DATA, nullptr), 0);

    const QStringList what = change.split(QLatin1Char(' '));
    if (what[0] == QLatin1String("write")) {
        write(what[1], "changed contents\n");
    } else if (what[0] == QLatin1String("remove")) {
        QVERIFY(QFile::remove(volume.filePath(what[1])));
    } else if (what[0] == QLatin1String("dir")) {
        QVERIFY(QFile::remove(volume.filePath(what[1])));
        QVERIFY(QDir(volume.path()).mkdir(what[1]));
    }
    fs_ocl_check_info *check_raw = nullptr;
    QCOMPARE(fs_ocl_check_info_create(raw, root.constData(), &check_raw), 0);
    ic_fs::ocl_check_ptr check(check_raw);

    recording_sink sink;
    QCOMPARE(boot_check::report_volume_files(sink, raw, check_raw), records.isEmpty());
    QCOMPARE(sink.fragments, lines);
    QStringList got;
    for (const auto &r : sink.files)
        got << QStringLiteral("%1 %2").arg(r.first).arg(r.second);
    QCOMPARE(got, records);
}

void check_test::volumes_of_the_file_section()
{
    // What became of each stored volume, as the check of the list reports
    // it: gone, its disk gone, not mountable, not one, checked (one
    // unchanged file).
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("a.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("a\n") == 2);
    file.close();
    fs_ocl *ocl = nullptr;
    QCOMPARE(fs_ocl_create(&ocl), 0);
    ic_fs::ocl_ptr list(ocl);
    const QByteArray root = QFile::encodeName(dir.path());
    QCOMPARE(fs_ocl_add_file(ocl, root.constData(), "/a.txt", FS_OCL_CONTROL_DATA, nullptr), 0);
    fs_ocl_check_info *unchanged = nullptr;
    QCOMPARE(fs_ocl_check_info_create(ocl, root.constData(), &unchanged), 0);
    ic_fs::ocl_check_ptr unchanged_owner(unchanged);

    // The last but one: two disks answer to its (hostile) serial.
    fs_volume_id *ids[5] = {};
    QCOMPARE(fs_partition_id_create("S9", 1, &ids[0]), 0);
    QCOMPARE(fs_image_partition_id_create("station", 2, &ids[1]), 0);
    QCOMPARE(fs_lvm_volume_id_create("vg", "lv", &ids[2]), 0);
    QCOMPARE(fs_partition_id_create("<b>S2", 1, &ids[3]), 0);
    QCOMPARE(fs_partition_id_create("S1", 1, &ids[4]), 0);
    fs_icl_volume entries[5] = {};
    fs_icl_check_volume volumes[5] = {};
    const int states[5] = {FS_ICL_DISK_NOT_FOUND, FS_ICL_VOLUME_NOT_FOUND, FS_ICL_MOUNT_FAILED, FS_ICL_AMBIGUOUS,
                           FS_ICL_CHECKED};
    for (int i = 0; i < 5; ++i) {
        entries[i].ocl = ocl;
        entries[i].id = ids[i];
        volumes[i].icl_volume = &entries[i];
        volumes[i].state = states[i];
        volumes[i].next = i < 4 ? &volumes[i + 1] : nullptr;
    }
    volumes[2].code = 19;
    volumes[4].check = unchanged;
    fs_icl_check_info all{&volumes[0], 5};
    fs_icl_check_info checked{&volumes[4], 1};

    const QString title = check_fragments::section_title(QStringLiteral("Контроль целостности объектов ФС"));
    const QStringList ok{QStringLiteral("\n\tS1-Раздел 1"), QStringLiteral("\n\t\t/a.txt - ОК")};
    recording_sink sink;
    QVERIFY(!boot_check::compare_files(sink, &all));
    const QStringList gone{QStringLiteral("\n\tS9-Раздел 1"), QStringLiteral(" - диск не найден\n"),
                           QStringLiteral("\n\tstation-Раздел 2"), QStringLiteral(" - раздел не найден\n"),
                           QStringLiteral("\n\tvg-Том lv"),
                           QStringLiteral(" - ошибка при монтировании раздела: 19.\n"),
                           QStringLiteral("\n\t&lt;b&gt;S2-Раздел 1"),
                           QStringLiteral(" - диск не определен однозначно\n")};
    QCOMPARE(sink.fragments, QStringList{title} + gone + ok);
    recording_sink passed;
    QVERIFY(boot_check::compare_files(passed, &checked));
    QCOMPARE(passed.fragments, QStringList{title} + ok);
    // The volumes could not be checked at all.
    recording_sink none;
    QVERIFY(!boot_check::compare_files(none, nullptr));
    QCOMPARE(none.fragments, QStringList{title});
    for (fs_volume_id *id : ids)
        fs_volume_id_destroy(id);
}

void check_test::registry_differences_data()
{
    // A name space in memory with a check list taken from it; `change` is
    // then made to the registry ("none": no name space at all).
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("record");
    const QString run = QStringLiteral("\\REGISTRY\\MACHINE\\SOFTWARE\\Run");
    const QString tcpip = QStringLiteral("\\REGISTRY\\MACHINE\\SYSTEM\\Tcpip");
    QTest::newRow("unchanged") << QString() << QStringList{check_fragments::check_result(true)} << QString();
    QTest::newRow("value data")
        << QStringLiteral("value")
        << QStringList{check_fragments::reg_value_violated(run, QStringLiteral("Updater")),
                       check_fragments::check_result(false)}
        << run + QStringLiteral("\\Updater");
    QTest::newRow("subkey below a detailed key")
        << QStringLiteral("subkey")
        << QStringList{check_fragments::reg_key_violated(tcpip),
                       check_fragments::reg_key_item(QStringLiteral("\\Linkage"), QString(), QStringLiteral("KEY_NEW")),
                       check_fragments::check_result(false)}
        << tcpip;
    QTest::newRow("no name space")
        << QStringLiteral("none")
        << QStringList{check_fragments::reg_tree_error(), check_fragments::check_result(false)}
        << check_fragments::reg_tree_error().trimmed();
}

void check_test::registry_differences()
{
    QFETCH(QString, change);
    QFETCH(QStringList, lines);
    QFETCH(QString, record);
    reg *space = nullptr;
    QCOMPARE(reg_create(&space), 0);
    std::unique_ptr<reg, void (*)(reg *)> space_owner(space, reg_destroy);
    rcl *list = nullptr;
    QCOMPARE(rcl_create(&list), 0);
    std::unique_ptr<rcl, void (*)(rcl *)> list_owner(list, rcl_destroy);
    const char *run = "\\REGISTRY\\MACHINE\\SOFTWARE\\Run";
    const char *tcpip = "\\REGISTRY\\MACHINE\\SYSTEM\\Tcpip";
    auto set_value = [&](const char *path, const char *name, const char *data) {
        reg_key *key = nullptr;
        QCOMPARE(reg_create_key_by_abs_path_u8(space, path, nullptr, 0, &key), 0);
        reg_value *old = nullptr;
        if (reg_open_value_u8(key, name, &old) == 0) {
            reg_delete_value(old);
            reg_close_value(old);
        }
        QCOMPARE(reg_create_value_u8(key, name, 1, data, uint32_t(std::strlen(data)), nullptr), 0);
        reg_close_key(key);
    };
    set_value(run, "Updater", "C:\\updater.exe");
    set_value(tcpip, "Start", "0");
    QCOMPARE(rcl_add_value_u8(list, space, run, "Updater", RCL_VALUE_TYPE | RCL_VALUE_DATA, nullptr), 0);
    QCOMPARE(rcl_add_key_u8(list, space, tcpip, 0x7F, nullptr), 0);

    if (change == QLatin1String("value"))
        set_value(run, "Updater", "C:\\evil.exe");
    else if (change == QLatin1String("subkey"))
        QCOMPARE(reg_create_key_by_abs_path_u8(space, "\\REGISTRY\\MACHINE\\SYSTEM\\Tcpip\\Linkage", nullptr, 0,
                                               nullptr),
                 0);
    recording_sink sink;
    const bool passed =
        boot_check::compare_registry(sink, list, change == QLatin1String("none") ? nullptr : space);
    QCOMPARE(passed, change.isEmpty());
    QCOMPARE(sink.fragments,
             QStringList{check_fragments::section_title(QStringLiteral("Контроль целостности реестра"))} + lines);
    if (passed) {
        QVERIFY(sink.records.isEmpty());
    } else {
        QCOMPARE(sink.records.size(), 1);
        QCOMPARE(sink.records[0].type, uint32_t(LOG_REGISTRY_CHECK));
        QCOMPARE(sink.records[0].result, 0x20000u);
        QCOMPARE(sink.records[0].text, record);
    }
}

void check_test::disk_list_tried_again()
{
    // A disk list that cannot be built is not kept as "no disks" for the
    // rest of the run.
    check_computer computer;
    computer.remove();
    QVERIFY(!orva_fun_fs::object());
    QVERIFY(computer.build());
    QVERIFY(orva_fun_fs::object());
    QCOMPARE(orva_fun_fs::object(), orva_fun_fs::object());
}

QTEST_GUILESS_MAIN(check_test)
#include "check_test.moc"
