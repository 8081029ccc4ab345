// Administration window and account editor scenarios: the whole program on a
// simulated module, the administrator logged on through the logon form and
// the window opened as the post-logon menu opens it; widgets driven as a user
// drives them, boxes and prompts answered by the scripted responder, and the
// module's records read back through the library.
#include "accounts/account_editor.h"
#include "accounts/subjects_tree_item.h"
#include "accounts/subjects_tree_model.h"
#include "accounts/subjects_tree_view.h"
#include "accounts/time_limitation_form.h"
#include "accounts/tmid_setter.h"
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "auth/user_key.h"
#include "auth/user_pass_form.h"
#include "log/log_types.h"
#include "menu/choose_boot_device.h"
#include "menu/menu.h"
#include "module/ia_block.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "pages/export_page.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/handoff_place.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <ic/qt/ic_data_area.h>

#include <gost/gost_r3410.h>
#include <gost/tm_crc16.h>
#include <tmid.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <cstring>

namespace {

using stage = auth_form::stage;

const QString kChief = QString::fromLatin1(logon_module::kChiefSerial);
const QString kChiefPassword = QString::fromLatin1(logon_module::kChiefPassword);
const QString kIvanSerial = QString::fromLatin1(logon_module::kIvanSerial);
const QString kAdminSerial = QStringLiteral("00000000AD01");
const QString kPetrSerial = QStringLiteral("0A0B0C0D0E0F");
const QString kSaved = QStringLiteral("Все изменения были сохранены.");

// Monday, 4 March 2024.
const QDateTime kMondayMorning(QDate(2024, 3, 4), QTime(10, 0));

// Users actions by position.
enum { ADD_USER, DELETE_USER, ADD_GROUP, DELETE_GROUP, APPLY, FORMAT_DB };

template <class Form>
Form *top_level()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *f = qobject_cast<Form *>(w))
            return f;
    }
    return nullptr;
}

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

// An administrator in ADMINS with these rights; the password is the name in
// lower case.
bool enroll_admin(const logon_module &module, const QString &name, const QString &serial, int rights)
{
    return module.enroll(name, QStringLiteral("ADMINS"), serial, name.toLower(),
                         {QStringLiteral("--rights"), QString::number(rights)});
}

// Logs on through the logon form, ending an earlier module logon first.
bool log_on(const logon_module &module, const QString &serial, const QString &password,
            const QString &family = QStringLiteral("01"))
{
    auth_form *form = logon_form();
    if (form->current_stage() != stage::waiting_id) {
        orva_fun_low_level::object()->setIsLogOutRequired(true);
        orva_fun_low_level::object()->log_out();
        form->show_form();
    }
    module.untouch();
    if (!present(module, form, serial, family))
        return false;
    if (form->current_stage() == stage::password)
        enter_password(form, password);
    return form->current_stage() == stage::logged_on;
}

// Logs the administrator on and opens the window as the menu does.
MainWindow *open_as(const logon_module &module, const QString &serial, const QString &password)
{
    if (!log_on(module, serial, password))
        return nullptr;
    MainWindow *w = main_window();
    w->showForm(handle(), make_tmid(serial));
    return w;
}

template <class W>
W *widget(MainWindow *w, const char *name)
{
    return w->accounts()->findChild<W *>(QLatin1String(name));
}

QAction *users_action(MainWindow *w, int position)
{
    return w->page_actions(MainWindow::MODE_USERS).at(position);
}

bool select_record(MainWindow *w, const QString &name, int kind = subjects_tree_item::USER)
{
    subjects_tree_view *view = w->accounts()->subjects();
    const QModelIndex index = view->subjects_model()->find(name, kind);
    if (!index.isValid())
        return false;
    view->setCurrentIndex(index);
    return w->accounts()->current_name() == name;
}

std::optional<orva_db_record> record_named(const QString &name)
{
    for (const orva_db_record &r : read_records(handle())) {
        if (QString::fromLatin1(r.name) == name)
            return r;
    }
    return std::nullopt;
}

QByteArray all_records()
{
    QByteArray bytes;
    for (const orva_db_record &r : read_records(handle()))
        bytes += record_bytes(r);
    return bytes;
}

bool has_log(uint32_t type, const QString &text)
{
    for (const log_entry &e : read_log(handle())) {
        if (e.type == type && e.text == text.toLatin1())
            return true;
    }
    return false;
}

// Offset of the first byte in which the records differ; -1 when equal.
int difference(const orva_db_record &a, const orva_db_record &b)
{
    const QByteArray x = record_bytes(a);
    const QByteArray y = record_bytes(b);
    for (int i = 0; i < x.size(); ++i) {
        if (x[i] != y[i]) {
            qWarning("offset %d: %02x, expected %02x", i, uint8_t(x[i]), uint8_t(y[i]));
            return i;
        }
    }
    return -1;
}

QStringList box_texts(const scripted_responder &responder)
{
    QStringList texts;
    for (const message::box_request &b : responder.boxes())
        texts << b.text;
    return texts;
}

// Presents the identifier and takes it through the identifier dialog.
bool set_identifier(const sim_module &module, MainWindow *w, const QString &serial, const QString &family)
{
    module.sim({QStringLiteral("untouch"), QStringLiteral("--all")});
    if (!module.sim({QStringLiteral("touch"), serial, QStringLiteral("--family"), family}))
        return false;
    click(w->accounts(), "change_tmid");
    TMID_setter *setter = top_level<TMID_setter>();
    if (!setter || !setter->isVisible())
        return false;
    click(setter, "next");
    if (!tick(setter, "poll_timer") || !setter->identifier_ready())
        return false;
    click_box_button(setter, "buttonBox", QDialogButtonBox::Ok);
    return !setter->isVisible();
}

// Sets a password through the rules dialog.
bool set_password(MainWindow *w, const QString &password, const QString &old_password = QString())
{
    click(w->accounts(), "change_pass");
    user_pass_form *form = shown_user_pass_form();
    if (!form)
        return false;
    if (!old_password.isNull())
        type_into(form, "old_pass_edit", old_password);
    type_into(form, "new_pass_edit1", password);
    type_into(form, "new_pass_edit2", password);
    click_box_button(form, "buttonBox", QDialogButtonBox::Ok);
    return !form->isVisible();
}

// The user key in the identifier's page (page 1 of the configuration).
QByteArray identifier_key_of(const QString &serial, uint8_t family)
{
    const orva_tmid tmid = make_tmid(serial, family);
    QByteArray key(TMID_PAGE_SIZE, '\0');
    if (tmid_read_page(reinterpret_cast<const uint8_t *>(&tmid), 1, 1, reinterpret_cast<uint8_t *>(key.data())) !=
        TMID_OK)
        return QByteArray();
    return key;
}

// The GOST R 34.10-94 public key of a user key, as hex for orva-sim.
QString public_key_hex(const QByteArray &key)
{
    unsigned char x[1 + ORVA_PRIVATE_KEY_SIZE] = {ORVA_PRIVATE_KEY_SIZE};
    std::memcpy(x + 1, key.constData(), ORVA_PRIVATE_KEY_SIZE);
    unsigned char y[1 + ORVA_PUBLIC_KEY_SIZE] = {};
    if (gost_r3410_94_compute_public_key(x, y) != 0)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(y + 1), ORVA_PUBLIC_KEY_SIZE).toHex());
}

// What export and import move, as the module holds it now.
QByteArray exchanged_data()
{
    QByteArray image(ORVA_DB_IMAGE_SIZE, '\0');
    QByteArray conf(ORVA_CONF_SIZE, '\0');
    if (orva_read_db(handle(), image.data(), ORVA_DB_IMAGE_SIZE) != ORVA_OK ||
        orva_db_conf_get(handle(), conf.data()) != ORVA_OK)
        return QByteArray();
    using master = export_import_master;
    return image + conf + master::read_raw_icl_block_from_device(master::BLOCK_HW) +
           master::read_raw_icl_block_from_device(master::BLOCK_HD) +
           master::read_raw_icl_block_from_device(master::BLOCK_FS);
}

} // namespace

class admin_window_test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { fault::clear(); }

    void chief_creates_group_and_user_who_then_logs_on();
    void first_start_sets_up_the_chief_administrator();
    void deleting_records();
    void creation_refusals();
    void administrator_without_users_right_changes_nothing();
    void only_supervisor_changes_access_attributes();
    void refused_module_write_keeps_page_and_records();
    void leaving_users_page_with_unsaved_changes();
    void keyboard();
    void hand_over_block_holds_what_was_written_data();
    void hand_over_block_holds_what_was_written();
    void identifier_key_written_with_the_record_data();
    void identifier_key_written_with_the_record();
    void export_and_import_follow_rights_data();
    void export_and_import_follow_rights();
};

void admin_window_test::chief_creates_group_and_user_who_then_logs_on()
{
    logon_module module;
    QVERIFY(module.ready());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w && w->isVisible());
        QVERIFY(!w->users_apply_action()->isEnabled());

        // The group is written at once.
        responder.answer_text(QStringLiteral("staff"));
        users_action(w, ADD_GROUP)->trigger();
        const std::optional<orva_db_record> staff = record_named(QStringLiteral("STAFF"));
        QVERIFY(staff && staff->is_group == 1);
        QVERIFY(has_log(LOG_GROUP_CREATE, QStringLiteral("STAFF")));
        QCOMPARE(box_texts(responder).last(), kSaved);

        // The user, under the selected group.
        responder.answer_text(QStringLiteral("petr"));
        users_action(w, ADD_USER)->trigger();
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("PETR"));
        QVERIFY(!record_named(QStringLiteral("PETR")));

        QVERIFY(set_identifier(module, w, kPetrSerial, QStringLiteral("02")));
        QCOMPARE(widget<QLineEdit>(w, "tmid_edit")->text(), QStringLiteral("02 0A0B0C0D0E0F %1")
                     .arg(make_tmid(kPetrSerial, 2).crc, 2, 16, QLatin1Char('0')).toUpper());
        QVERIFY(set_password(w, QStringLiteral("petr1234")));
        QCOMPARE(widget<QLabel>(w, "pass_state")->text(), QStringLiteral("установлен"));

        // Monday to Friday, 9:00 to 18:00.
        click(w->accounts(), "change_hours");
        auto *hours = top_level<time_limitation_form>();
        QVERIFY(hours && hours->isVisible());
        auto *table = hours->findChild<QTableWidget *>(QStringLiteral("hours_table"));
        table->clearSelection();
        for (int day = 0; day < 5; ++day) {
            for (int half = 18; half < 36; ++half)
                table->item(day, half)->setSelected(true);
        }
        click_box_button(hours, "buttonBox", QDialogButtonBox::Ok);
        QCOMPARE(widget<QLabel>(w, "hours_state")->text(), QStringLiteral("заданы"));

        widget<QSpinBox>(w, "validity")->setValue(300);
        // The group's devices are all allowed and fixed: keep the first only.
        QVERIFY(widget<QCheckBox>(w, "device_2")->isChecked());
        widget<QCheckBox>(w, "device_2")->setChecked(false);
        widget<QCheckBox>(w, "device_3")->setChecked(false);
        QVERIFY(widget<QCheckBox>(w, "device_fix")->isChecked());
        widget<QCheckBox>(w, "device_fix")->setChecked(false);
        QVERIFY(w->users_apply_action()->isEnabled());
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(),
                 kSaved + QStringLiteral("\nНовые параметры пароля вступят в силу после его изменения."));
        QVERIFY(!w->users_apply_action()->isEnabled());

        // The record holds exactly what was set.
        const orva_tmid tmid = make_tmid(kPetrSerial, 2);
        uint16_t staff_no = 0;
        QCOMPARE(orva_db_find_group_by_name(handle(), "STAFF", 5, &staff_no), ORVA_OK);
        orva_db_record expected;
        QCOMPARE(orva_db_get_user_template(handle(), staff_no, &expected), ORVA_OK);
        std::strcpy(expected.name, "PETR");
        expected.tmid = tmid;
        QCOMPARE(orva_make_xid(handle(), 1, &tmid, "petr1234", &expected.xid), ORVA_OK);
        uint8_t key[TMID_PAGE_SIZE];
        QCOMPARE(tmid_read_page(reinterpret_cast<const uint8_t *>(&tmid), 1, 1, key), TMID_OK);
        QCOMPARE(tm_crc16_calc(key, 30), static_cast<uint16_t>(key[30] | key[31] << 8));
        unsigned char x[33] = {32};
        std::memcpy(x + 1, key, 32);
        unsigned char y[65] = {};
        QCOMPARE(gost_r3410_94_compute_public_key(x, y), 0);
        std::memcpy(expected.public_key, y + 1, 64);
        const QDate expiry = kMondayMorning.date().addDays(300);
        expected.exp_day = expiry.day();
        expected.exp_month = expiry.month();
        expected.exp_year = expiry.year();
        for (int i = 0; i < ORVA_HOURS_SIZE; ++i)
            expected.hours[i] = (i / 48 < 5 && i % 48 >= 18 && i % 48 < 36) ? 1 : 0;
        expected.validity = 255;
        expected.validity_long = 300;
        expected.device_access[0] = 0xF9;
        expected.device_access[1] = static_cast<uint8_t>(expected.device_access[1] & 0x7F);
        const std::optional<orva_db_record> petr = record_named(QStringLiteral("PETR"));
        QVERIFY(petr);
        QCOMPARE(difference(*petr, expected), -1);
        QVERIFY(has_log(LOG_USER_CREATE, QStringLiteral("PETR")));

        // PETR logs on inside his working hours only, and not once blocked.
        QVERIFY(log_on(module, kPetrSerial, QStringLiteral("petr1234"), QStringLiteral("02")));
        clock.set(QDateTime(kMondayMorning.date(), QTime(18, 0)));
        QVERIFY(!log_on(module, kPetrSerial, QStringLiteral("petr1234"), QStringLiteral("02")));
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Установлены ограничения на работу в данное время."));

        // A new password alone; the dialog asks for the old one first.
        clock.set(kMondayMorning);
        QVERIFY(select_record(w, QStringLiteral("PETR")));
        QVERIFY(!set_password(w, QStringLiteral("petr5678"), QStringLiteral("wrong")));
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Неправильный старый пароль."));
        click_box_button(shown_user_pass_form(), "buttonBox", QDialogButtonBox::Cancel);
        QVERIFY(set_password(w, QStringLiteral("petr5678"), QStringLiteral("petr1234")));
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), kSaved);
        QVERIFY(log_on(module, kPetrSerial, QStringLiteral("petr5678"), QStringLiteral("02")));

        QVERIFY(select_record(w, QStringLiteral("PETR")));
        widget<QCheckBox>(w, "blocked")->setChecked(true);
        w->users_apply_action()->trigger();
        QCOMPARE(record_named(QStringLiteral("PETR"))->blocked, 1);
        QVERIFY(has_log(LOG_USER_ATTRIBUTES, QStringLiteral("PETR")));
        QVERIFY(!log_on(module, kPetrSerial, QStringLiteral("petr5678"), QStringLiteral("02")));
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Учетная запись заблокирована."));
    });
    QCOMPARE(code, kEndedByTest);

    QList<uint32_t> results;
    const orva_tmid petr = make_tmid(kPetrSerial, 2);
    for (const log_entry &e : module.logon_records()) {
        if (e.param == QByteArray(reinterpret_cast<const char *>(&petr), sizeof petr))
            results << e.result;
    }
    QCOMPARE(results, (QList<uint32_t>{LOG_OK, LOG_TIME_LIMIT, LOG_OK, LOG_BLOCKED}));
}

void admin_window_test::first_start_sets_up_the_chief_administrator()
{
    // Formatting takes the computer's first reference.
    check_computer computer;
    QVERIFY(computer.build());
    sim_module module;
    QVERIFY(module.init(1, ORVA_STATE_NEW));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = main_window();
        QVERIFY(w && w->isVisible());
        auto *rows = w->findChild<QListWidget *>(QStringLiteral("mode_selector"));
        QVERIFY(!rows->isEnabled());
        for (int position : {ADD_USER, DELETE_USER, ADD_GROUP, DELETE_GROUP, APPLY})
            QVERIFY(!users_action(w, position)->isEnabled());
        QVERIFY(w->exit_action()->isEnabled());

        QVERIFY(select_record(w, QStringLiteral("SUPERVISOR")));
        QVERIFY(widget<QGroupBox>(w, "access_box")->isVisibleTo(w));
        QVERIFY(widget<QGroupBox>(w, "access_box")->isEnabled());
        // Alt+2 does nothing while the selector is off.
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));

        QVERIFY(set_identifier(module, w, kChief, QStringLiteral("01")));
        QVERIFY(set_password(w, QStringLiteral("chief123")));
        QVERIFY(w->users_apply_action()->isEnabled());
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), kSaved);

        QVERIFY(rows->isEnabled());
        for (int position : {ADD_USER, DELETE_USER, ADD_GROUP, DELETE_GROUP})
            QVERIFY(users_action(w, position)->isEnabled());
        QVERIFY(!w->users_apply_action()->isEnabled());
        orva_device_state state;
        QCOMPARE(orva_get_device_state(handle(), &state), ORVA_OK);
        QCOMPARE(state.state, uint32_t(ORVA_STATE_READY));
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::deleting_records()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    QVERIFY(enroll_admin(module, QStringLiteral("ADM"), kAdminSerial, 15));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kAdminSerial, QStringLiteral("adm"));
        QVERIFY(w);
        const QByteArray before = all_records();

        struct refusal {
            const char *name;
            int kind;
            const char *text;
        };
        const refusal refusals[] = {
            {"SUPERVISOR", subjects_tree_item::USER, "Невозможно удалить пользователя SUPERVISOR."},
            {"ADM", subjects_tree_item::USER, "Невозможно удалить пользователя ADM."},
            {"ADMINS", subjects_tree_item::GROUP, "Невозможно удалить группу ADMINS."},
            {"EVERYONE", subjects_tree_item::GROUP, "Невозможно удалить группу EVERYONE."},
        };
        for (const refusal &r : refusals) {
            QVERIFY(select_record(w, QString::fromLatin1(r.name), r.kind));
            users_action(w, r.kind == subjects_tree_item::USER ? DELETE_USER : DELETE_GROUP)->trigger();
            QCOMPARE(box_texts(responder).last(), QString::fromUtf8(r.text));
        }
        QCOMPARE(all_records(), before);

        // The group action leaves a user alone; Cancel keeps him.
        QVERIFY(select_record(w, QStringLiteral("IVAN")));
        const qsizetype boxes = responder.boxes().size();
        users_action(w, DELETE_GROUP)->trigger();
        QCOMPARE(responder.boxes().size(), boxes);
        responder.answer(QMessageBox::Cancel);
        users_action(w, DELETE_USER)->trigger();
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Вы действительно хотите удалить пользователя IVAN?"));
        QVERIFY(record_named(QStringLiteral("IVAN")));
        QTest::keyClick(w->accounts()->subjects(), Qt::Key_D);
        QVERIFY(!record_named(QStringLiteral("IVAN")));
        QVERIFY(has_log(LOG_USER_DELETE, QStringLiteral("IVAN")));

        // An unfinished user only leaves the tree.
        responder.answer_text(QStringLiteral("staff"));
        users_action(w, ADD_GROUP)->trigger();
        responder.answer_text(QStringLiteral("petr"));
        users_action(w, ADD_USER)->trigger();
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("PETR"));
        users_action(w, DELETE_USER)->trigger();
        QVERIFY(!w->accounts()->subjects()->subjects_model()->find(QStringLiteral("PETR"), subjects_tree_item::USER)
                     .isValid());
        QVERIFY(!has_log(LOG_USER_DELETE, QStringLiteral("PETR")));

        // A group with a user stays; an empty one goes.
        uint16_t staff_no = 0;
        QCOMPARE(orva_db_find_group_by_name(handle(), "STAFF", 5, &staff_no), ORVA_OK);
        orva_db_record member;
        QCOMPARE(orva_db_get_user_template(handle(), staff_no, &member), ORVA_OK);
        std::strcpy(member.name, "OLGA");
        QCOMPARE(orva_db_add_user(handle(), &member, nullptr), ORVA_OK);
        w->accounts()->subjects()->rebuild(QString());
        QVERIFY(select_record(w, QStringLiteral("STAFF"), subjects_tree_item::GROUP));
        users_action(w, DELETE_GROUP)->trigger();
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Невозможно удалить группу STAFF."));
        QVERIFY(record_named(QStringLiteral("STAFF")));
        QVERIFY(!has_log(LOG_GROUP_DELETE, QStringLiteral("STAFF")));

        QVERIFY(select_record(w, QStringLiteral("OLGA")));
        users_action(w, DELETE_USER)->trigger();
        QVERIFY(select_record(w, QStringLiteral("STAFF"), subjects_tree_item::GROUP));
        users_action(w, DELETE_GROUP)->trigger();
        QVERIFY(!record_named(QStringLiteral("STAFF")));
        QVERIFY(has_log(LOG_GROUP_DELETE, QStringLiteral("STAFF")));
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::creation_refusals()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);
        const QByteArray before = all_records();

        const struct {
            const char *typed;
            const char *text;
        } names[] = {
            {"", "Имя слишком короткое."},
            {"abcdefghijklm", "Имя слишком длинное."},
            {"bad name", "Имя содержит недопустимые символы."},
            {"ivan", "Это имя уже занято, выберите другое."},
            {"everyone", "Это имя уже занято, выберите другое."},
        };
        for (const auto &n : names) {
            responder.answer_text(QString::fromUtf8(n.typed));
            users_action(w, ADD_USER)->trigger();
            QCOMPARE(box_texts(responder).last(), QString::fromUtf8(n.text));
            QCOMPARE(responder.boxes().last().title, QStringLiteral("Создание новой записи"));
        }
        QCOMPARE(responder.prompts().last().label,
                 QStringLiteral("Введите имя пользователя (не более 12 символов, латинские буквы и цифры):"));

        // Twelve characters are enough; a second new record waits for the first.
        responder.answer_text(QStringLiteral("abcdefghijkl"));
        users_action(w, ADD_USER)->trigger();
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("ABCDEFGHIJKL"));
        const qsizetype prompts = responder.prompts().size();
        users_action(w, ADD_GROUP)->trigger();
        QCOMPARE(responder.prompts().size(), prompts);
        QVERIFY(box_texts(responder).last().startsWith(QStringLiteral("Вы не закончили редактирование записи ABCDEFGHIJKL.")));

        // Applying a user without identifier and password writes nothing.
        widget<QCheckBox>(w, "blocked")->setChecked(true);
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Не установлены идентификатор и(или) пароль пользователя."));
        QVERIFY(w->users_apply_action()->isEnabled());
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("ABCDEFGHIJKL"));
        QVERIFY(widget<QCheckBox>(w, "blocked")->isChecked());

        // A new identifier clears the password.
        QVERIFY(select_record(w, QStringLiteral("IVAN")));
        QCOMPARE(widget<QLabel>(w, "pass_state")->text(), QStringLiteral("установлен"));
        QVERIFY(set_identifier(module, w, QStringLiteral("0000000000EE"), QStringLiteral("01")));
        QCOMPARE(widget<QLabel>(w, "pass_state")->text(), QStringLiteral("не установлен"));
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Не установлены идентификатор и(или) пароль пользователя."));
        QCOMPARE(all_records(), before);

        // A generated key reaches the identifier only with OK.
        const orva_tmid other = make_tmid(kPetrSerial, 2);
        QVERIFY(module.untouch());
        QVERIFY(module.touch(kPetrSerial, QStringLiteral("02")));
        const QByteArray page(TMID_PAGE_SIZE, '\x5a');
        const auto *id = reinterpret_cast<const uint8_t *>(&other);
        QCOMPARE(tmid_write_page(id, 1, 1, reinterpret_cast<const uint8_t *>(page.constData())), TMID_OK);
        click(w->accounts(), "change_tmid");
        TMID_setter *generating = top_level<TMID_setter>();
        click(generating, "next");
        QVERIFY(tick(generating, "poll_timer"));
        QVERIFY(generating->identifier_ready());
        QCOMPARE(text_of(generating, "tmid_value").left(2), QStringLiteral("02"));
        click_box_button(generating, "buttonBox", QDialogButtonBox::Cancel);
        QByteArray kept(TMID_PAGE_SIZE, 0);
        QCOMPARE(tmid_read_page(id, 1, 1, reinterpret_cast<uint8_t *>(kept.data())), TMID_OK);
        QCOMPARE(kept, page);

        // An identifier another user holds is refused.
        module.untouch();
        QVERIFY(module.touch(kChief));
        click(w->accounts(), "change_tmid");
        TMID_setter *setter = top_level<TMID_setter>();
        click(setter, "next");
        QVERIFY(tick(setter, "poll_timer"));
        QVERIFY(!setter->identifier_ready());
        const QString crc = QStringLiteral("%1").arg(make_tmid(kChief).crc, 2, 16, QLatin1Char('0')).toUpper();
        QCOMPARE(box_texts(responder).last(),
                 QStringLiteral("Данный идентификатор(01 00000000AA01 %1) уже используется в системе.").arg(crc));
        click_box_button(setter, "buttonBox", QDialogButtonBox::Cancel);
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::administrator_without_users_right_changes_nothing()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    QVERIFY(enroll_admin(module, QStringLiteral("ADM"), kAdminSerial, 14));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kAdminSerial, QStringLiteral("adm"));
        QVERIFY(w);
        const QByteArray before = all_records();
        auto *rows = w->findChild<QListWidget *>(QStringLiteral("mode_selector"));
        QVERIFY(rows->item(0)->isHidden());
        for (int row = 1; row < 7; ++row)
            QVERIFY(!rows->item(row)->isHidden());
        QVERIFY(w->findChild<QWidget *>(QStringLiteral("subj_editor"))->isHidden());
        for (QAction *a : w->page_actions(MainWindow::MODE_USERS)) {
            QVERIFY(!a->isEnabled());
            a->trigger();
        }
        for (int key : {int(Qt::Key_Insert), int(Qt::Key_I), int(Qt::Key_D), int(Qt::Key_F1), int(Qt::Key_F2),
                        int(Qt::Key_F3), int(Qt::Key_F4), int(Qt::Key_F5)})
            QTest::keyClick(w, static_cast<Qt::Key>(key));
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_LOG));
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_LOG));
        QVERIFY(responder.prompts().isEmpty());
        QVERIFY(responder.boxes().isEmpty());
        QCOMPARE(all_records(), before);
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::only_supervisor_changes_access_attributes()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(enroll_admin(module, QStringLiteral("ADM"), kAdminSerial, 1));
    QVERIFY(enroll_admin(module, QStringLiteral("ADM2"), QStringLiteral("00000000AD02"), 4));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kAdminSerial, QStringLiteral("adm"));
        QVERIFY(w);
        auto *rows = w->findChild<QListWidget *>(QStringLiteral("mode_selector"));
        QVERIFY(!rows->item(0)->isHidden());
        for (int row = 1; row < 7; ++row)
            QVERIFY(rows->item(row)->isHidden());
        // The check-list pages' actions are off, the registry's too.
        for (int mode : {MainWindow::MODE_HARDWARE, MainWindow::MODE_DISKS, MainWindow::MODE_FILES,
                         MainWindow::MODE_REGISTRY}) {
            for (QAction *a : w->page_actions(mode))
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        }
        for (int alt = 2; alt <= 7; ++alt) {
            QTest::keyClick(w, static_cast<Qt::Key>(Qt::Key_1 + alt - 1), Qt::AltModifier);
            QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));
        }

        QVERIFY(select_record(w, QStringLiteral("ADM2")));
        auto *box = widget<QGroupBox>(w, "access_box");
        QVERIFY(box->isVisibleTo(w));
        QVERIFY(!box->isEnabled());
        auto *settings = widget<QCheckBox>(w, "acc_settings");
        QTest::mouseClick(settings, Qt::LeftButton);
        QTest::keyClick(settings, Qt::Key_Space);
        QVERIFY(!settings->isChecked());
        widget<QCheckBox>(w, "blocked")->setChecked(true);
        w->users_apply_action()->trigger();
        const std::optional<orva_db_record> adm2 = record_named(QStringLiteral("ADM2"));
        QCOMPARE(adm2->blocked, 1);
        QCOMPARE(adm2->access, 4u);

        // Not shown for users of other groups.
        QVERIFY(select_record(w, QStringLiteral("SUPERVISOR")));
        QVERIFY(box->isVisibleTo(w));
        responder.answer_text(QStringLiteral("u1"));
        QVERIFY(select_record(w, QStringLiteral("EVERYONE"), subjects_tree_item::GROUP));
        users_action(w, ADD_USER)->trigger();
        QVERIFY(!box->isVisibleTo(w));
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::refused_module_write_keeps_page_and_records()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);
        QVERIFY(select_record(w, QStringLiteral("IVAN")));
        widget<QCheckBox>(w, "blocked")->setChecked(true);
        const QByteArray before = all_records();
        const qsizetype log_size = read_log(handle()).size();

        fault::fail_next("orva_db_modify_user", ORVA_E_WRITE);
        w->users_apply_action()->trigger();
        QVERIFY(responder.boxes().last().type == message::kind::critical);
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Ошибка создания пользователя:7508."));
        QVERIFY(!box_texts(responder).contains(kSaved));
        QCOMPARE(all_records(), before);
        QCOMPARE(read_log(handle()).size(), log_size);
        QVERIFY(w->users_apply_action()->isEnabled());
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("IVAN"));
        QVERIFY(widget<QCheckBox>(w, "blocked")->isChecked());

        // The same apply again, now accepted.
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), kSaved);
        QCOMPARE(record_named(QStringLiteral("IVAN"))->blocked, 1);
        QVERIFY(has_log(LOG_USER_ATTRIBUTES, QStringLiteral("IVAN")));

        // A new user refused by the module stays unfinished and pending.
        responder.answer_text(QStringLiteral("petr"));
        users_action(w, ADD_USER)->trigger();
        QVERIFY(set_identifier(module, w, kPetrSerial, QStringLiteral("01")));
        QVERIFY(set_password(w, QStringLiteral("petr1234")));
        fault::fail_next("orva_db_add_user", ORVA_E_FULL);
        w->users_apply_action()->trigger();
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Ошибка создания пользователя:7511."));
        QVERIFY(!record_named(QStringLiteral("PETR")));
        QCOMPARE(w->accounts()->current_name(), QStringLiteral("PETR"));
        w->users_apply_action()->trigger();
        QVERIFY(record_named(QStringLiteral("PETR")));
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::leaving_users_page_with_unsaved_changes()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);
        QVERIFY(select_record(w, QStringLiteral("IVAN")));
        widget<QCheckBox>(w, "blocked")->setChecked(true);

        responder.answer(QMessageBox::Cancel);
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Вы изменили параметры учетных записей."));
        QCOMPARE(responder.boxes().last().informative, QStringLiteral("Желаете сохранить изменения?"));
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));
        QVERIFY(w->users_apply_action()->isEnabled());

        // A save the module refuses keeps the page.
        fault::fail_next("orva_db_modify_user", ORVA_E_WRITE);
        responder.answer(QMessageBox::Save);
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));

        responder.answer(QMessageBox::Discard);
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_LOG));
        QCOMPARE(record_named(QStringLiteral("IVAN"))->blocked, 0);

        // Back on the page the record shows what the module holds, and new
        // edits are applied.
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QVERIFY(w->accounts()->change_buffer().isEmpty());
        QVERIFY(!widget<QCheckBox>(w, "blocked")->isChecked());
        widget<QSpinBox>(w, "change_attempts")->setValue(5);
        w->users_apply_action()->trigger();
        QCOMPARE(record_named(QStringLiteral("IVAN"))->change_attempts, 5);

        // The settings page asks as well.
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_SETTINGS));
        w->set_pref_apply_button_enabled();
        responder.answer(QMessageBox::Cancel);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_SETTINGS));
        QCOMPARE(box_texts(responder).last(), QStringLiteral("Вы изменили параметры учетных записей."));
        responder.answer(QMessageBox::Discard);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));

        // Save applies and switches.
        widget<QCheckBox>(w, "blocked")->setChecked(true);
        responder.answer(QMessageBox::Save);
        QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_LOG));
        QCOMPARE(record_named(QStringLiteral("IVAN"))->blocked, 1);
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::keyboard()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &program_ends) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);

        const int alt_modes[] = {MainWindow::MODE_USERS, MainWindow::MODE_LOG, MainWindow::MODE_HARDWARE,
                                 MainWindow::MODE_DISKS, MainWindow::MODE_FILES, MainWindow::MODE_REGISTRY,
                                 MainWindow::MODE_SETTINGS};
        for (int i = 6; i >= 0; --i) {
            QTest::keyClick(w, static_cast<Qt::Key>(Qt::Key_1 + i), Qt::AltModifier);
            QCOMPARE(w->get_current_mode(), alt_modes[i]);
        }
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_USERS));

        // A changed hardware configuration offers the recount once.
        QAction *recount = w->page_actions(MainWindow::MODE_HARDWARE).at(2);
        w->hw_update_configuration();
        QTest::keyClick(w, Qt::Key_3, Qt::AltModifier);
        QVERIFY(recount->isEnabled());
        QCOMPARE(w->get_init_tool_bar_flag(), 0);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QTest::keyClick(w, Qt::Key_3, Qt::AltModifier);
        QVERIFY(!recount->isEnabled());
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);

        // Each key on its page: the box or prompt it brings, or nothing.
        const QString exit_box = QStringLiteral("Выход из среды администрирования ORVA.");
        const QString name_prompt = QStringLiteral("prompt");
        const struct {
            int alt; // 0: stay on the page
            Qt::Key key;
            QString shows;
        } keys[] = {
            {1, Qt::Key_F1, name_prompt},
            {0, Qt::Key_Insert, name_prompt},
            {0, Qt::Key_I, name_prompt},
            {0, Qt::Key_F3, name_prompt},
            {0, Qt::Key_F5, QString()},
            {0, Qt::Key_F6, exit_box},
            {0, Qt::Key_F7, QString()},
            {2, Qt::Key_F1, QStringLiteral("Журнал был успешно очищен.")},
            {0, Qt::Key_F2, exit_box},
            {3, Qt::Key_F4, exit_box},
            {4, Qt::Key_F3, exit_box},
            {5, Qt::Key_F7, exit_box},
            {6, Qt::Key_F3, exit_box},
            {7, Qt::Key_F3, exit_box},
            {0, Qt::Key_Escape, exit_box},
        };
        for (const auto &k : keys) {
            if (k.alt)
                QTest::keyClick(w, static_cast<Qt::Key>(Qt::Key_0 + k.alt), Qt::AltModifier);
            const qsizetype boxes = responder.boxes().size();
            const qsizetype prompts = responder.prompts().size();
            if (k.shows == exit_box)
                responder.answer(QMessageBox::Cancel);
            QTest::keyClick(w, k.key);
            const QString what = QStringLiteral("key %1 on page %2").arg(k.key).arg(w->get_current_mode());
            if (k.shows == name_prompt) {
                QVERIFY2(responder.prompts().size() == prompts + 1, qPrintable(what));
                QVERIFY2(responder.boxes().size() == boxes, qPrintable(what));
            } else if (k.shows.isEmpty()) {
                QVERIFY2(responder.prompts().size() == prompts && responder.boxes().size() == boxes, qPrintable(what));
            } else {
                QVERIFY2(responder.boxes().size() == boxes + 1 && box_texts(responder).last() == k.shows,
                         qPrintable(what));
            }
        }

        // Information and export/import: no function keys.
        auto *rows = w->findChild<QListWidget *>(QStringLiteral("mode_selector"));
        w->on_mode_selector_itemClicked(rows->item(7));
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_INFO));
        const qsizetype boxes = responder.boxes().size();
        QTest::keyClick(w, Qt::Key_F1);
        QTest::keyClick(w, Qt::Key_F2);
        QCOMPARE(responder.boxes().size(), boxes);

        // Escape confirmed: hidden, and hidden() for the menu.
        QSignalSpy hidden(w, &MainWindow::hidden);
        responder.answer(QMessageBox::Ok);
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(hidden.size(), 1);
        w->showForm(handle(), make_tmid(kChief));
        QVERIFY(w->isVisible());

        program_ends = true;
        QTest::keyClick(w, Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier);
    });
    QCOMPARE(code, 0);
}

void admin_window_test::hand_over_block_holds_what_was_written_data()
{
    QTest::addColumn<bool>("applied");
    QTest::newRow("own password not applied") << false;
    QTest::newRow("own password applied") << true;
}

void admin_window_test::hand_over_block_holds_what_was_written()
{
    QFETCH(bool, applied);
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    // Everything of SUPERVISOR but the access level goes to the system.
    QVERIFY(module.modify_user(QStringLiteral("SUPERVISOR"), [](orva_db_record &r) { r.ia_mask = 0x7F; }));
    handoff_place place;
    scripted_responder responder;
    // IVAN's generated key is made of these.
    const QByteArray ivan_random(ORVA_PRIVATE_KEY_SIZE, char(0x5A));
    orva_ia_block after_logon{};

    const int code = run_program([&](bool &program_ends) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);
        after_logon = orva_fun_db::object()->ia_block();
        fault::set_random_bytes(ivan_random);
        QVERIFY(select_record(w, QStringLiteral("IVAN")));
        QVERIFY(set_identifier(module, w, kPetrSerial, QStringLiteral("02")));
        QVERIFY(set_password(w, QStringLiteral("ivan5678")));
        QVERIFY(select_record(w, QStringLiteral("SUPERVISOR")));
        QVERIFY(set_password(w, QStringLiteral("newchief1"), kChiefPassword));
        if (applied) {
            w->users_apply_action()->trigger();
            QCOMPARE(box_texts(responder).last(), kSaved);
        }
        // Out of the administration and on with the boot, from the disk.
        w->exit_action()->trigger();
        Menu *menu = top_level<Menu>();
        QVERIFY(menu && menu->isVisible());
        QTimer::singleShot(0, [] {
            choose_boot_device *dialog = top_level<choose_boot_device>();
            QVERIFY(dialog && dialog->isVisible());
            click(dialog, "boot");
        });
        click(menu, "proceed");
        program_ends = true;
    });
    QCOMPARE(code, 0);
    QCOMPARE(place.calls(), QStringList{QStringLiteral("kexec")});

    module_session session;
    QVERIFY(session.ok());
    orva_ia_block handed{};
    QCOMPARE(orva_load_ia_data(session.handle(), &handed), ORVA_OK);
    orva_ia_block expected{};
    std::strcpy(expected.name, "SUPERVISOR");
    const QByteArray password = applied ? QByteArray("newchief1") : QByteArray(logon_module::kChiefPassword);
    expected.password[0] = static_cast<uint8_t>(password.size());
    std::memcpy(expected.password + 1, password.constData(), static_cast<size_t>(password.size()));
    expected.tmid = make_tmid(kChief);
    user_key::serial_derived_key(expected.tmid, expected.user_key);
    if (orva_iares_get_ws_private_key(session.handle(), expected.ws_key) != ORVA_OK)
        std::memset(expected.ws_key, 0, sizeof expected.ws_key);
    const auto raw = [](const auto &bytes) {
        return QByteArray(reinterpret_cast<const char *>(&bytes), sizeof bytes).toHex();
    };
    QCOMPARE(raw(handed), raw(expected));
    // The key as after logon, and the password too unless a new one was
    // written.
    QCOMPARE(raw(handed.user_key), raw(after_logon.user_key));
    if (!applied)
        QCOMPARE(raw(handed.password), raw(after_logon.password));
    QVERIFY(!QByteArray(reinterpret_cast<const char *>(&handed), sizeof handed).contains(QByteArray(6, char(0x5A))));
}

void admin_window_test::identifier_key_written_with_the_record_data()
{
    QTest::addColumn<QByteArray>("fault"); // of the identifier's writes during the apply
    QTest::addColumn<bool>("apply");
    QTest::addColumn<QString>("box");      // the apply's last box says this
    QTest::addColumn<QString>("password"); // PETR's password that logs on afterwards

    const QString written = QStringLiteral("Ошибка записи ключа в память идентификатора.\n");
    const QString not_applied = QStringLiteral("\nИзменения учетной записи PETR не применены.");
    QTest::newRow("applied") << QByteArray() << true << kSaved << "petr5678";
    // One write puts the key in: a contact lost after it changes nothing.
    QTest::newRow("contact lost after one write") << QByteArray("1") << true << kSaved << "petr5678";
    QTest::newRow("contact lost at the write")
        << QByteArray("0") << true << written + QStringLiteral("Прежний ключ идентификатора сохранен.") + not_applied
        << "petr1234";
    QTest::newRow("contact lost during the write")
        << QByteArray("0:torn") << true
        << written +
               QStringLiteral("Прежний ключ идентификатора утрачен: вход с этим идентификатором невозможен, пока "
                              "ключ не будет записан.") +
               not_applied
        << "";
    QTest::newRow("change dropped") << QByteArray() << false << QString() << "petr1234";
}

void admin_window_test::identifier_key_written_with_the_record()
{
    QFETCH(QByteArray, fault);
    QFETCH(bool, apply);
    QFETCH(QString, box);
    QFETCH(QString, password);
    logon_module module;
    QVERIFY(module.ready());
    // PETR's identifier keeps his key in its memory.
    QByteArray old_key(ORVA_PRIVATE_KEY_SIZE, '\0');
    for (int i = 0; i < old_key.size(); ++i)
        old_key[i] = static_cast<char>(0x10 + i);
    QVERIFY(module.enroll(QStringLiteral("PETR"), QStringLiteral("EVERYONE"), kPetrSerial, QStringLiteral("petr1234"),
                          {QStringLiteral("--family"), QStringLiteral("02"), QStringLiteral("--key"),
                           QString::fromLatin1(old_key.toHex()), QStringLiteral("--public-key"),
                           public_key_hex(old_key)}));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_as(module, kChief, kChiefPassword);
        QVERIFY(w);
        const orva_db_record before = *record_named(QStringLiteral("PETR"));
        // The same identifier, a generated key and a new password.
        QVERIFY(select_record(w, QStringLiteral("PETR")));
        QVERIFY(set_identifier(module, w, kPetrSerial, QStringLiteral("02")));
        QVERIFY(set_password(w, QStringLiteral("petr5678")));
        QCOMPARE(identifier_key_of(kPetrSerial, 2).toHex(), old_key.toHex());
        if (apply) {
            qputenv("ORVA_SIM_TMID_WRITE_FAULT", fault);
            w->users_apply_action()->trigger();
            qunsetenv("ORVA_SIM_TMID_WRITE_FAULT");
            QCOMPARE(box_texts(responder).last(), box);
        } else {
            responder.answer(QMessageBox::Discard);
            QTest::keyClick(w, Qt::Key_2, Qt::AltModifier);
            QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_LOG));
        }
        const QByteArray key = identifier_key_of(kPetrSerial, 2);
        if (password == QLatin1String("petr1234")) {
            QCOMPARE(key.toHex(), old_key.toHex());
            QCOMPARE(difference(*record_named(QStringLiteral("PETR")), before), -1);
        } else {
            QVERIFY(key != old_key);
        }
        if (password.isEmpty()) {
            // Nothing was applied; the same apply again writes key and record.
            QCOMPARE(difference(*record_named(QStringLiteral("PETR")), before), -1);
            QVERIFY(w->users_apply_action()->isEnabled());
            w->users_apply_action()->trigger();
            QCOMPARE(box_texts(responder).last(), kSaved);
            password = QStringLiteral("petr5678");
        }
        QVERIFY(log_on(module, kPetrSerial, password, QStringLiteral("02")));
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_window_test::export_and_import_follow_rights_data()
{
    QTest::addColumn<int>("rights");
    QTest::addColumn<bool>("users");
    QTest::addColumn<bool>("lists");
    QTest::newRow("no rights") << 0 << false << false;
    QTest::newRow("log only") << 4 << false << false;
    QTest::newRow("users only") << 1 << true << false;
    QTest::newRow("check lists only") << 2 << false << true;
    QTest::newRow("users and check lists") << 3 << true << true;
}

void admin_window_test::export_and_import_follow_rights()
{
    QFETCH(int, rights);
    QFETCH(bool, users);
    QFETCH(bool, lists);
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(enroll_admin(module, QStringLiteral("ANNA"), kAdminSerial, rights));
    {
        // Check lists to move.
        module_session session;
        QVERIFY(session.ok());
        ic_data_area area(session.handle());
        const QByteArray hw(300, 'h');
        const QByteArray hd(400, 'd');
        QCOMPARE(area.save_hw_hd_block_to_device(hw.constData(), uint32_t(hw.size()), ic_data_area::HW_BLOCK), 0);
        QCOMPARE(area.save_hw_hd_block_to_device(hd.constData(), uint32_t(hd.size()), ic_data_area::HD_BLOCK), 0);
        QCOMPARE(area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(50, 'i'), QByteArray(70, 'f'),
                                            ic_data_area::kMaxFsBlock),
                 0);
    }
    QTemporaryDir storage;
    QVERIFY(QDir(storage.path()).mkdir(QStringLiteral("exchange")));
    const QString exchange = storage.filePath(QStringLiteral("exchange"));
    QStringList allowed_files;
    if (users)
        allowed_files << QStringLiteral("base-db.bin") << QStringLiteral("config-db.bin");
    if (lists)
        allowed_files << QStringLiteral("fs.bin") << QStringLiteral("hd.bin") << QStringLiteral("hw.bin");
    allowed_files.sort();
    scripted_responder responder;
    QByteArray before;

    const int code = run_program([&](bool &program_ends) {
        MainWindow *w = open_as(module, kAdminSerial, QStringLiteral("anna"));
        QVERIFY(w);
        before = exchanged_data();
        QVERIFY(!before.isEmpty());
        auto *rows = w->findChild<QListWidget *>(QStringLiteral("mode_selector"));
        rows->setCurrentRow(8);
        w->on_mode_selector_itemClicked(rows->item(8));
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_EXPORT_IMPORT));
        export_page *page = w->exchange();
        page->set_exchange_dir(QStringLiteral("ext4"), storage.path(), QStringLiteral("exchange"));

        // Boxes of kinds without the right are off and stay so when clicked.
        const QList<std::pair<const char *, bool>> boxes = {
            {"checkBox_users", users}, {"checkBox_fs", lists}, {"checkBox_hd", lists}, {"checkBox_hw", lists}};
        for (const auto &[name, allowed] : boxes) {
            auto *box = page->findChild<QCheckBox *>(QLatin1String(name));
            QCOMPARE(box->isEnabled(), allowed);
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
            QCOMPARE(box->isChecked(), allowed);
        }
        // With ORVA_SCREENSHOT_DIR set (a run under Xvfb), the page as shown.
        const QString shots = qEnvironmentVariable("ORVA_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            QTest::qWait(200);
            w->grab().save(shots + QStringLiteral("/export_page_rights_%1.png").arg(rights));
        }
        const QList<QAction *> actions = w->page_actions(MainWindow::MODE_EXPORT_IMPORT);
        QAction *export_action = actions.at(1);
        QAction *import_action = actions.at(2);
        QCOMPARE(export_action->isEnabled(), users || lists);
        QCOMPARE(import_action->isEnabled(), users || lists);
        export_action->trigger();
        QCOMPARE(QDir(exchange).entryList(QDir::Files, QDir::Name), allowed_files);

        // The master refuses the other kinds, also when asked directly.
        export_import_master &master = page->master();
        const int all = export_import_master::DB_USERS | export_import_master::DB_ICL_FS |
                        export_import_master::DB_ICL_HD | export_import_master::DB_ICL_HW;
        for (const QString &name : QDir(exchange).entryList(QDir::Files))
            QVERIFY(QFile::remove(exchange + QLatin1Char('/') + name));
        master.set_selection(all);
        QCOMPARE(master.export_data(), users && lists);
        if (!(users && lists)) {
            QCOMPARE(box_texts(responder).last(), QStringLiteral("Недостаточно прав для экспорта выбранных данных."));
            QCOMPARE(QDir(exchange).entryList(QDir::Files), QStringList());
            QCOMPARE(master.import_data(), export_import_master::IMPORT_NOTHING_WRITTEN);
            QCOMPARE(box_texts(responder).last(), QStringLiteral("Недостаточно прав для импорта выбранных данных."));
            QCOMPARE(exchanged_data(), before);
        }
        if (!(users || lists)) {
            // An import would end the program.
            import_action->trigger();
            QCOMPARE(exchanged_data(), before);
            return;
        }
        // What the rights allow imports; the program then ends.
        export_action->trigger();
        program_ends = true;
        import_action->trigger();
    });
    if (!(users || lists)) {
        QCOMPARE(code, kEndedByTest);
        return;
    }
    QCOMPARE(code, 0);
    QCOMPARE(box_texts(responder).last(), QStringLiteral("Данные успешно импортированы."));
    module_session session;
    QVERIFY(session.ok());
    QByteArray image(ORVA_DB_IMAGE_SIZE, '\0');
    QCOMPARE(orva_read_db(session.handle(), image.data(), ORVA_DB_IMAGE_SIZE), ORVA_OK);
    QCOMPARE(image, before.left(ORVA_DB_IMAGE_SIZE));
}

QTEST_APPLESS_MAIN(admin_window_test)
#include "admin_window_test.moc"
