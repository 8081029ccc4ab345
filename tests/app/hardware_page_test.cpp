// The hardware page on a simulated computer and module: approving the
// computer through the administration window, the boot-time check against
// what was saved, a changed card, the check flags of classes and devices,
// the block of a page that approves everything against the command line's,
// and a module write that fails.
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "check/boot_check.h"
#include "check/check_sink.h"
#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"
#include "log/log_types.h"
#include "module/orva_initialization.h"
#include "pages/hardware_page.h"
#include "pages/hardware_table_model.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <ic/hw/hw_ptr.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QProcess>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace {

const QString kSaved = QStringLiteral("Конфигурация успешно сохранена.");

enum { TOGGLE, SAVE, RECOUNT };

struct quiet_sink final : check_sink {
    void info(const QString &) override {}
    void log_record(uint32_t, uint32_t, const void *, const QString &) override {}
    void file_record(const QString &, uint32_t) override {}
};

bool check_passes(orva_handle_t handle)
{
    quiet_sink sink;
    boot_check check(handle);
    return check.run(sink);
}

QByteArray area(orva_handle_t handle, uint32_t offset, uint32_t size)
{
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (orva_load_ic_data(handle, bytes.data(), offset, size) != ORVA_OK)
        return QByteArray();
    return bytes;
}

// The hardware block as stored: header and payload.
QByteArray hw_block(orva_handle_t handle)
{
    const QByteArray header = area(handle, 0, 8);
    if (header.size() != 8)
        return QByteArray();
    const uint32_t length = qFromLittleEndian<uint32_t>(header.constData() + 4);
    return area(handle, 0, 8 + qMin<uint32_t>(length, ic_data_area::kMaxSmallPayload));
}

// The block the core writer makes of the current computer with everything
// checked (it replaces the stored one).
QByteArray core_block_all_checked(orva_handle_t handle)
{
    return approve_hardware(handle) ? hw_block(handle) : QByteArray();
}

int count_kind(const hardware_table_model *m, int kind)
{
    int n = 0;
    for (int row = 0; row < m->rowCount(); ++row)
        n += m->row_kind(row) == kind;
    return n;
}

// Without the whole program: the check computer and a formatted module
// opened through the library.
struct standalone {
    app_guard app;
    check_computer computer;
    sim_module module;
    std::unique_ptr<module_session> session;
    bool ready()
    {
        if (!computer.build() || !module.init_formatted())
            return false;
        session = std::make_unique<module_session>();
        return session->ok();
    }
    orva_handle_t handle() const { return session->handle(); }
};

// A page of its own on an open module, with its own actions.
struct page_on_module {
    QAction save;
    QAction recount;
    hardware_page page;
    explicit page_on_module(orva_handle_t handle)
    {
        page.set_actions(&save, &recount);
        page.set_hw_models(handle);
    }
};

} // namespace

class hardware_page_test : public QObject {
    Q_OBJECT

private slots:
    // The holders are the program's: nothing of another test's computer.
    void init() { ic_holders::object().hw.clear(); }
    void cleanup() { fault::clear(); }

    void approve_check_change_card_and_approve_again();
    void class_and_device_flags();
    void approving_everything_stores_what_orva_ic_stores();
    void failed_write_keeps_stored_block();
};

void hardware_page_test::approve_check_change_card_and_approve_again()
{
    check_computer computer;
    QVERIFY(computer.build());
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_administration(module);
        QVERIFY(w);
        const orva_handle_t handle = orva_initialization::object()->handle();
        QList<QAction *> actions = w->page_actions(MainWindow::MODE_HARDWARE);

        // Nothing stored: the page is empty and offers the recount.
        QTest::keyClick(w, Qt::Key_3, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_HARDWARE));
        QVERIFY(!w->hardware()->model(HW_CLASS_PCI));
        QVERIFY(actions[RECOUNT]->isEnabled());

        QTest::keyClick(w, Qt::Key_F3);
        QCOMPARE(responder.boxes().last().text,
                 QStringLiteral("Список оборудования был обновлен.\nНеобходимо сохранить список оборудования."));
        QVERIFY(!actions[RECOUNT]->isEnabled());
        QVERIFY(actions[SAVE]->isEnabled());
        QVERIFY(w->get_hw_init_flag());
        hardware_table_model *pci = w->hardware()->model(HW_CLASS_PCI);
        QVERIFY(pci);
        QCOMPARE(pci->rowCount(), 4);
        QCOMPARE(count_kind(pci, HW_DIFF_SAME), 4);
        QCOMPARE(pci->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Расположение на шине"));

        // F1 ticks every class (none is ticked yet), and so every device.
        QTest::keyClick(w, Qt::Key_F1);
        for (uint32_t c = 0; c < HW_CLASS_COUNT; ++c)
            QVERIFY(w->hardware()->class_checkbox(c)->isChecked());
        QTest::keyClick(w, Qt::Key_F2);
        QCOMPARE(responder.boxes().last().text, kSaved);
        QVERIFY(!actions[SAVE]->isEnabled());
        const QByteArray saved = hw_block(handle);
        QCOMPARE(saved, core_block_all_checked(handle));
        bool logged = false;
        for (const log_entry &e : read_log(handle))
            logged = logged || e.type == LOG_HW_LIST_CHANGE;
        QVERIFY(logged);
        QVERIFY(check_passes(handle));

        // Another graphics card in the same slot.
        QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), QStringLiteral("-card")));
        QVERIFY(!check_passes(handle));
        // The page shows the picture the check compared.
        const hw_info *picture = ic_holders::object().hw.current();
        page_on_module fresh(handle);
        QCOMPARE(fresh.page.current(), picture);
        hardware_table_model *changed = fresh.page.model(HW_CLASS_PCI);
        QVERIFY(changed);
        QCOMPARE(changed->rowCount(), 5);
        int first = -1;
        for (int row = 0; row < changed->rowCount() && first < 0; ++row)
            first = changed->row_kind(row) == HW_DIFF_CHANGED ? row : -1;
        QVERIFY(first >= 0);
        QCOMPARE(changed->row_kind(first + 1), int(HW_DIFF_CHANGED));
        const QModelIndex stored_cell = changed->index(first, 3);
        const QModelIndex current_cell = changed->index(first + 1, 3);
        QCOMPARE(changed->data(changed->index(first, 0)).toString(), QStringLiteral("Изменены параметры"));
        QCOMPARE(stored_cell.data().toString(), QStringLiteral("0412"));
        QCOMPARE(current_cell.data().toString(), QStringLiteral("0416"));
        QVERIFY(stored_cell.data(Qt::BackgroundRole).value<QBrush>().color().red() >
                stored_cell.data(Qt::BackgroundRole).value<QBrush>().color().green());
        QVERIFY(current_cell.data(Qt::BackgroundRole).value<QBrush>().color().green() >
                current_cell.data(Qt::BackgroundRole).value<QBrush>().color().red());
        for (int row : {first, first + 1}) {
            QVERIFY(!changed->data(changed->index(row, 1), Qt::CheckStateRole).isValid());
            QVERIFY(!changed->setData(changed->index(row, 1), Qt::Checked, Qt::CheckStateRole));
        }

        // Approved again: recount, classes off and on again (every device
        // ticked), save; the check passes.
        fresh.page.upd_hw_info();
        QCOMPARE(count_kind(fresh.page.model(HW_CLASS_PCI), HW_DIFF_SAME), 4);
        fresh.page.toggle_hw_control();
        fresh.page.toggle_hw_control();
        fresh.page.save_hw_info();
        QCOMPARE(responder.boxes().last().text, kSaved);
        const QByteArray saved_again = hw_block(handle);
        QVERIFY(saved_again != saved);
        QCOMPARE(saved_again, core_block_all_checked(handle));
        QVERIFY(check_passes(handle));
    });
    QCOMPARE(code, kEndedByTest);
}

void hardware_page_test::class_and_device_flags()
{
    standalone session;
    QVERIFY(session.ready());
    scripted_responder responder;
    // Stored: every class checked but PCI, no BIOS device at all.
    QVERIFY(approve_hardware(session.handle(), [](hw_info *info) {
        info->flags[HW_CLASS_PCI] = 0;
        for (hw_device *d = hw_info_get_first_device(info, HW_CLASS_PCI); d;
             d = hw_info_get_next_device(info, d)) {
            d->flags = 0;
            for (hw_param *p = hw_device_get_first_param(d); p; p = hw_device_get_next_param(d, p))
                p->flags = 0;
        }
        while (hw_device *bios = hw_info_get_first_device(info, HW_CLASS_BIOS)) {
            _hw_info_remove_device(info, bios);
            hw_device_destroy(bios);
        }
    }));

    page_on_module p(session.handle());
    hardware_page &page = p.page;
    QVERIFY(page.model(HW_CLASS_PCI));
    QVERIFY(!page.class_checkbox(HW_CLASS_PCI)->isChecked());
    QVERIFY(page.class_checkbox(HW_CLASS_CPU)->isChecked());
    QVERIFY(!p.save.isEnabled());
    // No stored BIOS: no digests; the current BIOS is new.
    QCOMPARE(page.bios_hash_model()->rowCount(), 0);
    QCOMPARE(count_kind(page.model(HW_CLASS_BIOS), HW_DIFF_NEW), 1);

    // Ticking one device of the unticked class ticks the class, no other device.
    hardware_table_model *pci = page.model(HW_CLASS_PCI);
    QVERIFY(pci->setData(pci->index(1, 1), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(page.class_checkbox(HW_CLASS_PCI)->isChecked());
    QCOMPARE(page.stored()->flags[HW_CLASS_PCI], HW_CLASS_CHECKED);
    for (int row = 0; row < pci->rowCount(); ++row) {
        QCOMPARE(pci->data(pci->index(row, 1), Qt::CheckStateRole).toInt(), row == 1 ? Qt::Checked : Qt::Unchecked);
        QCOMPARE(pci->data(pci->index(row, 2), Qt::CheckStateRole).toInt(), row == 1 ? Qt::Checked : Qt::Unchecked);
    }
    QVERIFY(p.save.isEnabled());

    // Unticking a class clears the class flag only.
    hardware_table_model *memory = page.model(HW_CLASS_MEMORY);
    page.class_checkbox(HW_CLASS_MEMORY)->setChecked(false);
    QCOMPARE(page.stored()->flags[HW_CLASS_MEMORY], 0u);
    QCOMPARE(memory->data(memory->index(0, 1), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // A parameter alone.
    hardware_table_model *cpu = page.model(HW_CLASS_CPU);
    QVERIFY(cpu->setData(cpu->index(0, 3), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(cpu->data(cpu->index(0, 3), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(cpu->data(cpu->index(0, 2), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(cpu->data(cpu->index(0, 1), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // What the page shows is what is saved.
    uint8_t *data = nullptr;
    uint32_t size = 0;
    QCOMPARE(hw_info_write_to_mem(page.stored(), &data, &size), int(HW_OK));
    ic_hw::info_ptr round;
    hw_info *raw = nullptr;
    QCOMPARE(hw_info_read_from_mem(data, size, &raw), int(HW_OK));
    std::free(data);
    round.reset(raw);
    QCOMPARE(round->flags[HW_CLASS_MEMORY], 0u);
    const hw_device *cpu0 = hw_info_get_first_device(raw, HW_CLASS_CPU);
    QCOMPARE(hw_device_get_param_by_name(cpu0, "speed")->flags, 0u);
    QCOMPARE(hw_device_get_param_by_name(cpu0, "model")->flags, HW_PARAM_CHECKED);
}

void hardware_page_test::approving_everything_stores_what_orva_ic_stores()
{
    standalone session;
    QVERIFY(session.ready());
    scripted_responder responder;
    QByteArray page_block;
    {
        // Nothing stored: recount, tick every class, save.
        page_on_module p(session.handle());
        QVERIFY(p.page.needs_recount());
        p.page.upd_hw_info();
        p.page.toggle_hw_control();
        p.page.save_hw_info();
        QCOMPARE(responder.boxes().last().text, kSaved);
        page_block = hw_block(session.handle());
    }
    QVERIFY(page_block.size() > 8);
    QVERIFY(check_passes(session.handle()));

    // The block is emptied first: what follows is orva-ic's own.
    QCOMPARE(orva_save_ic_data(session.handle(), QByteArray(8, '\0').constData(), 0, 8), int(ORVA_OK));
    session.session.reset();
    QProcess tool;
    tool.start(QStringLiteral(ORVA_IC_PATH), {QStringLiteral("module"), QStringLiteral("approve"), QStringLiteral("hw")});
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0, tool.readAllStandardError().constData());
    session.session = std::make_unique<module_session>();
    QVERIFY(session.session->ok());
    QCOMPARE(hw_block(session.handle()), page_block);
}

void hardware_page_test::failed_write_keeps_stored_block()
{
    standalone session;
    QVERIFY(session.ready());
    QVERIFY(approve_hardware(session.handle()));
    const QByteArray before = hw_block(session.handle());
    QVERIFY(!before.isEmpty());
    scripted_responder responder;

    page_on_module p(session.handle());
    p.page.class_checkbox(HW_CLASS_USB)->setChecked(false);
    QVERIFY(p.save.isEnabled());
    fault::fail_next("orva_save_ic_data", ORVA_E_WRITE);
    p.page.save_hw_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Ошибка сохранения конфигурации аппаратуры."));
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Конфигурация оборудования"));
    QCOMPARE(hw_block(session.handle()), before);
    // Still pending: it can be saved again.
    QVERIFY(p.save.isEnabled());
}

QTEST_APPLESS_MAIN(hardware_page_test)
#include "hardware_page_test.moc"
