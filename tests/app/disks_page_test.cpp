// The disks page on a simulated computer and module: the tree of the disks
// with their control check boxes, saving the partition-table block, the
// boot-time check's disk section against it and the page's report after a
// changed MBR, the block of a page that approves everything against the
// command line's, a stored block that cannot be read, and a module write
// that fails.
#include "check/boot_check.h"
#include "check/check_sink.h"
#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"
#include "log/log_types.h"
#include "module/orva_initialization.h"
#include "pages/disk_tree_widget.h"
#include "pages/disks_page.h"
#include "support/fault_injection.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <ic/hd/hd_ptr.h>
#include <simcomputer/simcomputer.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <optional>

namespace {

// sda: a primary partition and an extended one with two logical partitions;
// sdb: no partition table.
const char kComputer[] = R"(pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601
disk sda size=64M controller=0000:00:1f.2 vendor=ATA model=DISKPAGE revision=1 serial=DP0001 seed=sda
  part 1 start=1M size=16M type=7 boot=yes
  part 2 start=17M size=40M type=5
  part 5 start=18M size=8M type=83
  part 6 start=27M size=8M type=83
disk sdb size=4M controller=0000:00:1f.2 vendor=ATA model=BLANK revision=1 serial=DP0002 table=none
)";

const QString kControlTitle = QStringLiteral("Контроль Дисков");

// The simulated computer and the module, opened as the program opens it.
class disk_fixture {
public:
    disk_fixture()
        : m_saved_root(qgetenv("ORVA_SYSROOT"))
    {
        simcomputer::Computer model;
        simcomputer::Error err;
        m_root = m_dir.filePath(QStringLiteral("root"));
        m_ok = simcomputer::parse(kComputer, model, err) && simcomputer::build(model, m_root.toStdString(), err);
        if (!m_ok)
            qWarning("computer: %s", err.text().c_str());
        qputenv("ORVA_SYSROOT", m_root.toLocal8Bit());
        m_ok = m_ok && m_module.init_formatted() && orva_initialization::object()->init() == 0;
    }
    ~disk_fixture()
    {
        orva_initialization::object()->exit();
        qputenv("ORVA_SYSROOT", m_saved_root);
    }

    bool ok() const { return m_ok; }
    orva_handle_t handle() const { return orva_initialization::object()->handle(); }

    // `orva-ic module approve hd` on this computer and module (closed for
    // the run and opened again).
    bool approve_with_orva_ic() const
    {
        orva_initialization::object()->exit();
        QProcess tool;
        tool.start(QStringLiteral(ORVA_IC_PATH), {QStringLiteral("module"), QStringLiteral("approve"), QStringLiteral("hd")});
        const bool ran = tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
        if (!ran)
            qWarning("orva-ic: %s", tool.readAllStandardError().constData());
        return orva_initialization::object()->init() == 0 && ran;
    }

    QByteArray hd_block() const
    {
        QByteArray header(8, '\0');
        if (orva_load_ic_data(handle(), header.data(), ic_data_area::kSmallBlockSize, 8) != ORVA_OK)
            return QByteArray();
        const uint32_t length = qMin<uint32_t>(qFromLittleEndian<uint32_t>(header.constData() + 4),
                                               ic_data_area::kMaxSmallPayload);
        QByteArray block(static_cast<qsizetype>(8 + length), '\0');
        orva_load_ic_data(handle(), block.data(), ic_data_area::kSmallBlockSize, 8 + length);
        return block;
    }
    bool put_hd_block(const QByteArray &bytes) const
    {
        return orva_save_ic_data(handle(), bytes.constData(), ic_data_area::kSmallBlockSize,
                                 static_cast<uint32_t>(bytes.size())) == ORVA_OK;
    }
    // Changes one byte of the disk's first sector.
    bool poke_mbr(int offset) const
    {
        QFile disk(m_root + QStringLiteral("/dev/sda"));
        if (!disk.open(QIODevice::ReadWrite) || !disk.seek(offset))
            return false;
        char byte = 0;
        if (!disk.getChar(&byte) || !disk.seek(offset))
            return false;
        return disk.putChar(static_cast<char>(byte ^ 0x5A));
    }

private:
    QTemporaryDir m_dir;
    QString m_root;
    QByteArray m_saved_root;
    sim_module m_module;
    bool m_ok = false;
};

// The block the core writer makes of the current disks with these flags.
QByteArray expected_block(uint8_t info_flags, uint8_t disk_flags)
{
    hd_info *raw = nullptr;
    if (hd_info_get_current(&raw) != 0)
        return QByteArray();
    ic_hd::info_ptr info(raw);
    info->flags = info_flags;
    hd_info_get_first_disk(raw)->flags = disk_flags;
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (hd_info_write_to_mem(raw, &data, &size) != 0)
        return QByteArray();
    QByteArray block(8, '\0');
    qToLittleEndian<uint32_t>(ic_data_area::kSmallBlockSize, block.data());
    qToLittleEndian<uint32_t>(size, block.data() + 4);
    block.append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::free(data);
    return block;
}

// The disk section of a boot-time check: null when it did not run, else
// whether it passed.
std::optional<bool> disk_section_passes(orva_handle_t handle)
{
    struct sink final : check_sink {
        QString section;
        std::optional<bool> disks;
        void info(const QString &) override {}
        void log_record(uint32_t, uint32_t, const void *, const QString &) override {}
        void file_record(const QString &, uint32_t) override {}
        void section_begin(const QString &title) override { section = title; }
        void section_end(bool passed) override
        {
            if (section == QStringLiteral("Контроль дисков"))
                disks = passed;
            section.clear();
        }
    } s;
    boot_check(handle).run(s);
    return s.disks;
}

// Ticks every check box of the tree.
void tick_all(QTreeWidgetItem *item)
{
    if (item->data(0, Qt::CheckStateRole).isValid())
        item->setCheckState(0, Qt::Checked);
    for (int i = 0; i < item->childCount(); ++i)
        tick_all(item->child(i));
}

QTreeWidgetItem *child_named(QTreeWidgetItem *item, const QString &text)
{
    for (int i = 0; item && i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == text)
            return item->child(i);
    }
    return nullptr;
}

QString value_of(QTreeWidgetItem *item, const QString &label)
{
    QTreeWidgetItem *row = child_named(item, label);
    return row ? row->text(1) : QString();
}

} // namespace

class disks_page_test : public QObject {
    Q_OBJECT

private slots:
    // The holders are the program's: nothing of another test's computer.
    void init() { ic_holders::object().hd.clear(); }
    void cleanup() { fault::clear(); }

    void approve_change_mbr_and_approve_again();
    void approving_everything_stores_what_orva_ic_stores();
    void unreadable_block_and_failed_write();
};

void disks_page_test::approve_change_mbr_and_approve_again()
{
    disk_fixture f;
    QVERIFY(f.ok());
    scripted_responder responder;
    disks_page page;
    diskTreeWidget *tree = page.tree();
    tree->set_module(f.handle());

    // Nothing stored: the current disks, every control off.
    tree->load_data();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *top = tree->topLevelItem(0);
    QCOMPARE(top->text(0), QStringLiteral("Включить/Выключить контроль дисков"));
    QCOMPARE(top->checkState(0), Qt::Unchecked);
    QCOMPARE(top->childCount(), 2);
    QTreeWidgetItem *sda = child_named(top, QStringLiteral("DP0001"));
    QTreeWidgetItem *sdb = child_named(top, QStringLiteral("DP0002"));
    QVERIFY(sda && sdb);
    QCOMPARE(sda->checkState(0), Qt::Unchecked);
    QCOMPARE(sdb->childCount(), 0);
    QCOMPARE(page.report_text(), QStringLiteral("Список дисков не сохранен.\n"));

    // Rows of a primary and of a logical partition.
    QTreeWidgetItem *first = child_named(sda, QStringLiteral("Раздел 0"));
    QTreeWidgetItem *extended = child_named(sda, QStringLiteral("Раздел 1"));
    QVERIFY(first && extended);
    QCOMPARE(value_of(first, QStringLiteral("Начальный сектор")), QStringLiteral("2048"));
    QCOMPARE(value_of(first, QStringLiteral("Длина")), QStringLiteral("32768"));
    QCOMPARE(value_of(first, QStringLiteral("Тип")), QStringLiteral("NTFS"));
    QCOMPARE(value_of(first, QStringLiteral("Загрузочный")), QStringLiteral("128"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{64}$"))
                .match(value_of(first, QStringLiteral("PBR хэш")))
                .hasMatch());
    QTreeWidgetItem *logical = child_named(extended, QStringLiteral("Логический раздел 1"));
    QVERIFY(logical);
    QCOMPARE(value_of(logical, QStringLiteral("Начальный сектор")), QStringLiteral("55296"));
    QCOMPARE(value_of(extended, QStringLiteral("Тип")), QStringLiteral("DOS_EXT"));

    // Control on, the first disk under control; saved as the core writes it.
    top->setCheckState(0, Qt::Checked);
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Система контроля целостности дисков включена."));
    QCOMPARE(responder.boxes().last().title, kControlTitle);
    sda->setCheckState(0, Qt::Checked);
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Внимание!"));
    QVERIFY(responder.boxes().last().text.contains(QStringLiteral("DP0001")));
    tree->save_disk_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Список дисков успешно сохранен."));
    const QByteArray approved = expected_block(HD_INFO_CONTROL, HD_DISK_PAGE_FLAGS);
    QCOMPARE(f.hd_block(), approved);
    QCOMPARE(page.report_text(), QStringLiteral("Отличий нет."));
    bool logged = false;
    for (const log_entry &e : read_log(f.handle()))
        logged = logged || e.type == LOG_DISK_LIST_CHANGE;
    QVERIFY(logged);

    // Unticking the disk clears bits 0, 2 and 3, not the MBR bit.
    sda->setCheckState(0, Qt::Unchecked);
    QCOMPARE(int(hd_info_get_first_disk(tree->info())->flags), 0);

    // The check passes; the page opened again shows the stored flags.
    QCOMPARE(disk_section_passes(f.handle()), std::optional<bool>(true));
    tree->load_data();
    top = tree->topLevelItem(0);
    QCOMPARE(top->checkState(0), Qt::Checked);
    QCOMPARE(child_named(top, QStringLiteral("DP0001"))->checkState(0), Qt::Checked);
    QCOMPARE(page.report_text(), QStringLiteral("Отличий нет."));

    // A changed MBR byte: the check fails, and the page shows what it
    // compared.
    QVERIFY(f.poke_mbr(100));
    QCOMPARE(disk_section_passes(f.handle()), std::optional<bool>(false));
    const hd_info *picture = ic_holders::object().hd.current();
    QVERIFY(picture);
    tree->load_data();
    QCOMPARE(ic_holders::object().hd.current(), picture);
    QCOMPARE(page.report_text(),
             QStringLiteral("DP0001 модифицирован: Диск был модифицирован: MBR модифицирована;\n"));

    // Approved again: a fresh inventory starts with every control off.
    tree->update_hdinfo();
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Дерево дисков"));
    top = tree->topLevelItem(0);
    QCOMPARE(top->checkState(0), Qt::Unchecked);
    top->setCheckState(0, Qt::Checked);
    child_named(top, QStringLiteral("DP0001"))->setCheckState(0, Qt::Checked);
    tree->save_disk_info();
    QCOMPARE(f.hd_block(), expected_block(HD_INFO_CONTROL, HD_DISK_PAGE_FLAGS));
    QVERIFY(f.hd_block() != approved);
    QCOMPARE(page.report_text(), QStringLiteral("Отличий нет."));
    QCOMPARE(disk_section_passes(f.handle()), std::optional<bool>(true));
}

void disks_page_test::approving_everything_stores_what_orva_ic_stores()
{
    disk_fixture f;
    QVERIFY(f.ok());
    scripted_responder responder;
    diskTreeWidget tree;
    tree.set_module(f.handle());
    tree.load_data();
    QVERIFY(tree.topLevelItemCount() == 1);
    tick_all(tree.topLevelItem(0));
    tree.save_disk_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Список дисков успешно сохранен."));
    for (const auto &box : responder.boxes())
        QVERIFY2(box.title != QStringLiteral("Ошибка"), qPrintable(box.text));
    const QByteArray page_block = f.hd_block();
    // Disk control on, the disk flags 13, a partition under control.
    QCOMPARE(uint8_t(page_block.back()), uint8_t(HD_INFO_CONTROL));
    QCOMPARE(int(hd_info_get_first_disk(tree.info())->flags), int(HD_DISK_PAGE_FLAGS));
    QCOMPARE(int(hd_info_get_first_partition(hd_info_get_first_disk(tree.info()))->flags), int(HD_PARTITION_CONTROL));

    // The block is emptied first: what follows is orva-ic's own.
    QVERIFY(f.put_hd_block(QByteArray(8, '\0')));
    QVERIFY(f.approve_with_orva_ic());
    QCOMPARE(f.hd_block(), page_block);
    QCOMPARE(disk_section_passes(f.handle()), std::optional<bool>(true));
}

void disks_page_test::unreadable_block_and_failed_write()
{
    disk_fixture f;
    QVERIFY(f.ok());
    scripted_responder responder;
    diskTreeWidget tree;
    tree.set_module(f.handle());

    // A block whose payload is not a partition-table image.
    QByteArray bad(8, '\0');
    qToLittleEndian<uint32_t>(ic_data_area::kSmallBlockSize, bad.data());
    qToLittleEndian<uint32_t>(3, bad.data() + 4);
    bad.append("\x05\x00\x01", 3);
    QVERIFY(f.put_hd_block(bad));
    tree.load_data();
    QCOMPARE(responder.boxes().first().text, QStringLiteral("\tОшибка при востановлении сохраненного списка дисков.\n"));
    QCOMPARE(responder.boxes().first().title, QStringLiteral("Диски"));
    QVERIFY(tree.info());
    QCOMPARE(tree.info()->disk_count, 2u);

    tree.topLevelItem(0)->setCheckState(0, Qt::Checked);
    fault::fail_next("orva_save_ic_data", ORVA_E_WRITE);
    tree.save_disk_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось сохранить список дисков."));
    QCOMPARE(f.hd_block(), bad);
}

QTEST_MAIN(disks_page_test)
#include "disks_page_test.moc"
