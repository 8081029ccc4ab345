// The whole start-up of the program, run in this process on a simulated
// module, with a scripted responder in place of the message boxes.
#include "admin/main_window.h"
#include "app/app_forms.h"
#include "app/orva_app.h"
#include "app/startup.h"
#include "auth/auth_form.h"
#include "check/integrity_controller.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QtTest>

#include <ic/fs/fs_icl.h>
#include <ic/hd/hd_info.h>
#include <ic/hw/hw_ptr.h>
#include <ic/qt/fs_vmdk_image.h>
#include <ic/qt/ic_data_area.h>

#include <cstring>

namespace {

const QString kNotice = QStringLiteral(
    "Для возможности администрирования ORVA необходимо настроить параметры Главного Администратора.\n"
    "Как минимум следует задать идентификатор и установить пароль.");
const QString kNoticeWithBlank = QStringLiteral(
    "Для возможности администрирования ORVA необходимо настроить параметры Главного Администратора.\n"
    " Как минимум следует задать идентификатор и установить пароль.");

// What the program looked like just before its event loop.
struct run_result {
    int code = 0;
    bool loop_reached = false;
    bool window_exists = false;
    bool window_visible = false;
    bool window_full_screen = false;
    bool supervisor_flag = false;
    int tool_bar_flag = -1;
    QString window_title;
    QString status_tip;
    bool logon_visible = false;
    QString logon_title;
};

MainWindow *find_main_window()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *mw = qobject_cast<MainWindow *>(w))
            return mw;
    }
    return nullptr;
}

// Runs the program; its event loop, if it starts, ends at once.
run_result run_program()
{
    run_result r;
    orva_app_hooks hooks;
    hooks.before_event_loop = [&r] {
        r.loop_reached = true;
        if (MainWindow *mw = find_main_window()) {
            r.window_exists = true;
            r.window_visible = mw->isVisible();
            r.window_full_screen = mw->windowState().testFlag(Qt::WindowFullScreen);
            r.supervisor_flag = mw->get_supervisor_init_flag();
            r.tool_bar_flag = mw->get_init_tool_bar_flag();
            r.window_title = mw->windowTitle();
            r.status_tip = mw->statusTip();
        }
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *a = qobject_cast<auth_form *>(w)) {
                r.logon_visible = a->isVisible();
                r.logon_title = a->windowTitle();
            }
        }
        QTimer::singleShot(0, [] { QApplication::exit(0); });
    };
    char arg0[] = "orva-ng-gui";
    char *argv[] = {arg0, nullptr};
    r.code = orva_app_run(1, argv, hooks);
    return r;
}

void put_le32(QByteArray &b, int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A default group as the table of a freshly formatted module gives it, byte
// by byte.
QByteArray expected_group(uint32_t dev_class, const char *name, uint8_t admin)
{
    QByteArray b(ORVA_DB_RECORD_SIZE, static_cast<char>(0xFF));
    const int n = static_cast<int>(std::strlen(name));
    std::memcpy(b.data(), name, static_cast<size_t>(n));
    b[n] = 0;
    b[13] = 0;                 // no group name
    put_le32(b, 36, dev_class); // hash field: the device class only
    b[148] = 3;
    put_le32(b, 152, 0);       // access attributes
    b[156] = static_cast<char>(admin);
    b[157] = 0;                // not blocked
    b[158] = 1;                // a group
    b[159] = 0;                // hand-over mask
    b[160] = 1;                // user and administrator change the password
    b[161] = 0;                // not generate-only
    b[162] = 0;                // alphabet
    b[163] = 8;                // minimum length
    b[164] = 3;                // attempts
    b[165] = 30;               // validity
    return b;
}

// The chief administrator: the library's user template of group 1, named
// "SUPERVISOR", administrator with every right.
QByteArray expected_supervisor(orva_handle_t handle)
{
    orva_db_record templ;
    if (orva_db_get_user_template(handle, 1, &templ) != ORVA_OK)
        return QByteArray();
    QByteArray b = record_bytes(templ);
    b.replace(0, ORVA_NAME_SIZE, QByteArray("SUPERVISOR\0\0\0", ORVA_NAME_SIZE));
    put_le32(b, 152, 15);
    b[156] = 1;
    return b;
}

const message::box_request *only_box(const scripted_responder &responder)
{
    return responder.boxes().size() == 1 ? &responder.boxes().first() : nullptr;
}

} // namespace

class startup_test : public QObject {
    Q_OBJECT

private:
    void check_new_module(int dev_class, int state);
    void check_init_failure(const QString &text);

private slots:
    void cleanup() { fault::clear(); }

    void new_module_class1() { check_new_module(1, ORVA_STATE_NEW); }
    void new_module_class2() { check_new_module(2, ORVA_STATE_NEW); }
    void erased_module() { check_new_module(1, ORVA_STATE_ERASED); }
    void formatted_module_keeps_records();
    void ready_module_waits_for_logon();

    void orva_init_failure();
    void tmid_init_failure();
    void no_module();
    void module_locked_by_another_process();
    void preparation_failure_data();
    void preparation_failure();

    void style_sheet_and_translation();
    void image_meta_types_and_check_list_wiring();
};

void startup_test::check_new_module(int dev_class, int state)
{
    check_computer computer;
    QVERIFY(computer.build());
    sim_module module;
    QVERIFY(module.init(dev_class, state));
    scripted_responder responder;

    const run_result r = run_program();

    QCOMPARE(r.code, 0);
    QVERIFY(r.loop_reached);
    const message::box_request *box = only_box(responder);
    QVERIFY(box);
    QCOMPARE(kind_name(box->type), "information");
    QCOMPARE(box->title, QStringLiteral("Управление учетными записями"));
    QCOMPARE(box->text, kNotice);
    QCOMPARE(box->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QVERIFY(r.window_exists);
    QVERIFY(r.window_visible);
    QVERIFY(r.window_full_screen);
    QVERIFY(!r.supervisor_flag);
    QCOMPARE(r.tool_bar_flag, 0);
    QCOMPARE(r.window_title, QStringLiteral("MainWindowORVA v.0.3.0.29"));
    QCOMPARE(r.status_tip, QStringLiteral("ORVA v.0.3.0.29"));
    QVERIFY(!r.logon_visible);

    // The program closed the module on its way out: it can be opened again.
    module_session session;
    QVERIFY(session.ok());
    QCOMPARE(session.state().state, uint32_t(ORVA_STATE_FORMATTED));
    const QList<orva_db_record> records = session.records();
    QCOMPARE(records.size(), 3);
    QCOMPARE(record_bytes(records[0]).toHex(), expected_group(dev_class, "ADMINS", 1).toHex());
    QCOMPARE(record_bytes(records[1]).toHex(), expected_group(dev_class, "EVERYONE", 0).toHex());
    QCOMPARE(record_bytes(records[2]).toHex(), expected_supervisor(session.handle()).toHex());

    const QList<log_entry> log = session.log();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].type, 1u);     // "Создание журнала"
    QCOMPARE(log[0].result, 0u);
    QCOMPARE(log[0].param, QByteArray("\x04\x01", 2)); // version 260
    QCOMPARE(log[0].text, QByteArray());
    QCOMPARE(log[1].type, 2u);     // "Начало сессии"
    QCOMPARE(log[1].result, 0u);
    QCOMPARE(log[1].text, QByteArray());

    // The first reference: the computer's hardware and disks, an empty
    // file check list without images; no registry block.
    ic_data_area area(session.handle());
    hw_info *hw = nullptr;
    QCOMPARE(area.read_hw_info_from_device(&hw), 0);
    const ic_hw::info_ptr hw_owned(hw);
    QVERIFY(hw_info_get_first_device(hw, HW_CLASS_PCI));
    hd_info *hd = nullptr;
    QCOMPARE(area.read_hd_info_from_device(&hd), 0);
    hd_info_destroy(hd);
    fs_icl *icl = nullptr;
    QList<fs_vmdk_image> images{fs_vmdk_image()};
    QCOMPARE(area.read_fs_info_from_device(&icl, &images), 0);
    QVERIFY(!fs_icl_first_volume(icl));
    fs_icl_destroy(icl);
    QVERIFY(images.isEmpty());
    uint32_t size = 0;
    QVERIFY(!area.read_raw_icl_block_from_device(&size, ic_data_area::REG_BLOCK));

    QString status;
    QVERIFY(module.sim({QStringLiteral("status")}, &status));
    QVERIFY2(status.contains(QStringLiteral("Database version:    0.3.0.29")), qPrintable(status));
}

void startup_test::formatted_module_keeps_records()
{
    sim_module module;
    QVERIFY(module.init_formatted(2));
    QVERIFY(module.sim({QStringLiteral("enroll"), QStringLiteral("IVAN"), QStringLiteral("--group"),
                        QStringLiteral("EVERYONE"), QStringLiteral("--id"), QStringLiteral("0000000A0B0C"),
                        QStringLiteral("--password"), QStringLiteral("secret")}));
    QList<orva_db_record> before;
    int log_before = 0;
    {
        module_session session;
        QVERIFY(session.ok());
        QCOMPARE(session.state().state, uint32_t(ORVA_STATE_FORMATTED));
        before = session.records();
        log_before = static_cast<int>(session.log().size());
    }
    scripted_responder responder;

    const run_result r = run_program();

    QCOMPARE(r.code, 0);
    const message::box_request *box = only_box(responder);
    QVERIFY(box);
    QCOMPARE(box->title, QStringLiteral("Управление учетными записями"));
    QCOMPARE(box->text, kNoticeWithBlank);
    QVERIFY(r.window_visible);
    QVERIFY(!r.supervisor_flag);
    QCOMPARE(r.tool_bar_flag, 1);

    module_session session;
    QVERIFY(session.ok());
    const QList<orva_db_record> after = session.records();
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < after.size(); ++i)
        QCOMPARE(record_bytes(after[i]).toHex(), record_bytes(before[i]).toHex());
    const QList<log_entry> log = session.log();
    QCOMPARE(log.size(), log_before + 1);
    QCOMPARE(log.last().type, 2u);
}

void startup_test::ready_module_waits_for_logon()
{
    sim_module module;
    QVERIFY(module.init_formatted(1));
    QVERIFY(module.sim({QStringLiteral("enroll"), QStringLiteral("SUPERVISOR"), QStringLiteral("--group"),
                        QStringLiteral("ADMINS"), QStringLiteral("--id"), QStringLiteral("00000000AA01"),
                        QStringLiteral("--password"), QStringLiteral("chief")}));
    scripted_responder responder;

    const run_result r = run_program();

    QCOMPARE(r.code, 0);
    QVERIFY(r.loop_reached);
    QVERIFY(responder.boxes().isEmpty());
    QVERIFY(r.window_exists);
    QVERIFY(!r.window_visible);
    QVERIFY(r.supervisor_flag);
    QVERIFY(r.logon_visible);
    QCOMPARE(r.logon_title, QStringLiteral("Вход в систему (ORVA v.0.3.0.29)"));

    module_session session;
    QVERIFY(session.ok());
    QCOMPARE(session.state().state, uint32_t(ORVA_STATE_READY));
    QCOMPARE(session.records().size(), 3); // the chief administrator now has identifier and password
    QCOMPARE(session.log().last().type, 2u);
}

void startup_test::check_init_failure(const QString &text)
{
    scripted_responder responder;
    bool window_at_box = true;
    responder.on_box = [&window_at_box](const message::box_request &) {
        window_at_box = find_main_window() != nullptr;
    };

    const run_result r = run_program();

    QCOMPARE(r.code, -1);
    QVERIFY(!r.loop_reached);
    const message::box_request *box = only_box(responder);
    QVERIFY(box);
    QCOMPARE(kind_name(box->type), "critical");
    QCOMPARE(box->title, QStringLiteral("Ошибка"));
    QCOMPARE(box->text, text);
    QVERIFY(!window_at_box);
}

void startup_test::orva_init_failure()
{
    sim_module module;
    QVERIFY(module.init());
    fault::fail_next("orva_init", ORVA_E_UNKNOWN);
    check_init_failure(QStringLiteral("Ошибка при инициализации liborva:7599."));
}

void startup_test::tmid_init_failure()
{
    sim_module module; // no state directory at all: no reader either
    check_init_failure(QStringLiteral("Ошибка при инициализации libtmid: 7602."));
}

void startup_test::no_module()
{
    sim_module module;
    QVERIFY(QDir().mkpath(module.dir()));
    check_init_failure(QStringLiteral("Устройство не найдено. Ошибка:7502."));
}

void startup_test::module_locked_by_another_process()
{
    sim_module module;
    QVERIFY(module.init());
    module_holder holder;
    QVERIFY(holder.start());
    check_init_failure(QStringLiteral("Устройство не найдено. Ошибка:7503."));
}

void startup_test::preparation_failure_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint32_t>("state_after");
    QTest::newRow("formatting") << "orva_format_database" << "Ошибка форматирования базы пользователей."
                                << uint32_t(ORVA_STATE_NEW);
    QTest::newRow("opening the database") << "orva_db_open" << "Ошибка открытия базы пользователей."
                                          << uint32_t(ORVA_STATE_FORMATTED);
    // No fault: the test's system root does not exist, so the first
    // reference cannot be taken.
    QTest::newRow("scanning the hardware") << "" << "Ошибка получения списка оборудования."
                                           << uint32_t(ORVA_STATE_FORMATTED);
}

void startup_test::preparation_failure()
{
    QFETCH(QString, function);
    QFETCH(QString, text);
    QFETCH(uint32_t, state_after);
    sim_module module;
    QVERIFY(module.init());
    if (!function.isEmpty())
        fault::fail_next(function.toLatin1().constData(), ORVA_E_WRITE);
    scripted_responder responder;

    const run_result r = run_program();

    QCOMPARE(r.code, -1);
    QVERIFY(!r.loop_reached);
    // One message: the kept error text, shown by the entry point.
    const message::box_request *box = only_box(responder);
    QVERIFY(box);
    QCOMPARE(kind_name(box->type), "critical");
    QCOMPARE(box->title, QStringLiteral("Ошибка"));
    QCOMPARE(box->text, text);

    // The program let go of the module.
    module_session session;
    QVERIFY(session.ok());
    QCOMPARE(session.state().state, state_after);
    // Nothing reached the integrity-data area.
    uint32_t size = 0;
    QVERIFY(!ic_data_area(session.handle()).read_raw_icl_block_from_device(&size, ic_data_area::HW_BLOCK));
}

void startup_test::style_sheet_and_translation()
{
    int argc = 1;
    char arg0[] = "startup_test";
    char *argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    const QString focus_rule = QString::fromLatin1(startup::kFocusRule);

    startup::apply_style_sheet(app, QStringLiteral(":/no-such-style.qss"));
    QCOMPARE(app.styleSheet(), focus_rule);

    startup::apply_style_sheet(app, QStringLiteral(":/style.qss"));
    QVERIFY(app.styleSheet().endsWith(focus_rule));
    QVERIFY(app.styleSheet().contains(QStringLiteral("QToolBar")));

    QVERIFY(!startup::install_translation(app, QStringLiteral(":tr/no-such.qm")));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    QVERIFY(startup::install_translation(app, QStringLiteral(":tr/qt_ru.qm")));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
}

void startup_test::image_meta_types_and_check_list_wiring()
{
    int argc = 1;
    char arg0[] = "startup_test";
    char *argv[] = {arg0, nullptr};
    QApplication app(argc, argv);

    // Registered by name: a variant of the image list read back from a
    // stream is the list again.
    QVERIFY(!QMetaType::fromName("QList<fs_vmdk_image>").isValid());
    startup::register_meta_types();
    for (const char *name : {"fs_vmdk_image", "QList<fs_vmdk_image>"}) {
        const QMetaType type = QMetaType::fromName(name);
        QVERIFY2(type.isValid() && type.hasRegisteredDataStreamOperators(), name);
    }
    const QList<fs_vmdk_image> images{{QStringLiteral("/vm/a.vmdk"), QStringLiteral("A"), QStringLiteral("uuid-1")},
                                      {QStringLiteral("/vm/b.vmdk"), QStringLiteral("B"), QStringLiteral("lvm/v")}};
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << QVariant::fromValue(images);
    }
    QDataStream in(bytes);
    QVariant back;
    in >> back;
    QCOMPARE(in.status(), QDataStream::Ok);
    const QList<fs_vmdk_image> read = back.value<QList<fs_vmdk_image>>();
    QCOMPARE(read.size(), 2);
    QCOMPARE(read[1].path, images[1].path);
    QCOMPARE(read[1].name, images[1].name);
    QCOMPARE(read[1].host_id, images[1].host_id);

    // The check's initialize_icl reaches the administration window.
    MainWindow window;
    app_forms forms(nullptr);
    connect_forms(window, forms);
    QVERIFY(QObject::disconnect(forms.integrity_controller, &IntegrityController::initialize_icl, &window,
                                &MainWindow::initialize_icl));
}

QTEST_APPLESS_MAIN(startup_test)
#include "startup_test.moc"
