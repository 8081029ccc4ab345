// The module access layer over a simulated module: records, logon, the
// hand-over block, keys, identifier pages, storage and hardware control.
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_ic.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "module/universal_storage.h"
#include "support/fault_injection.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <gost/gost_r3410.h>
#include <tmid.h>

#include <QFile>
#include <QtTest>

#include <cstring>

namespace {

const char kPassword[] = "secret1";

// The program's side of a module: prepared with orva-sim first (the module
// is locked while the program has it open), then opened.
struct program_session {
    sim_module module;

    explicit program_session(int dev_class = 1)
        : prepared(module.init_formatted(dev_class))
    {
    }

    ~program_session()
    {
        orva_fun_low_level *low = orva_fun_low_level::object();
        low->setIsLogOutRequired(true);
        low->log_out();
        low->setIsLogOutRequired(false);
        orva_fun_db::object()->close_db();
        orva_initialization::object()->exit();
    }

    bool enroll(const QString &name, const QString &group, const QString &serial)
    {
        return module.sim({QStringLiteral("enroll"), name, QStringLiteral("--group"), group,
                           QStringLiteral("--id"), serial, QStringLiteral("--password"),
                           QString::fromLatin1(kPassword)});
    }

    bool open() { return prepared && orva_initialization::object()->init() == 0; }
    // Opened with an identifier on the reader.
    bool open_with_identifier(orva_tmid *tmid)
    {
        return module.sim({QStringLiteral("touch"), QStringLiteral("0102030405AA")}) && open() &&
               presented_identifier(tmid);
    }

    bool prepared;
};

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

orva_db_record read_record(uint16_t number)
{
    orva_db_record r{};
    orva_read_db_record(handle(), number, &r);
    return r;
}

orva_db_record user_template(uint16_t group_no, const char *name)
{
    orva_db_record r{};
    orva_db_get_user_template(handle(), group_no, &r);
    db_record::set_name(r.name, QString::fromLatin1(name));
    return r;
}

std::optional<orva_db_record> find_record(const char *name)
{
    for (const orva_db_record &r : read_records(handle())) {
        if (db_record::name_is(r.name, name))
            return r;
    }
    return std::nullopt;
}

QByteArray key_bytes(int first)
{
    QByteArray k(ORVA_PRIVATE_KEY_SIZE, 0);
    for (int i = 0; i < k.size(); ++i)
        k[i] = static_cast<char>(first + i);
    return k;
}

const uint8_t *bytes(const QByteArray &b)
{
    return reinterpret_cast<const uint8_t *>(b.constData());
}

} // namespace

class module_access_test : public QObject {
    Q_OBJECT

private slots:
    void init() { fault::clear(); }

    void user_record_rights_follow_group_data();
    void user_record_rights_follow_group();
    void group_records();
    void template_group_absent();
    void current_record();
    void logon_and_logoff();

    void hand_over_block_data();
    void hand_over_block();

    void key_pair_check();
    void workstation_key_from_module_random();
    void workstation_key_fails_without_usable_random();
    void user_key_in_identifier_page();
    void user_key_replaced_data();
    void user_key_replaced();

    void record_helpers();
    void storage_copies();
    void hardware_control();
};

void module_access_test::user_record_rights_follow_group_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<uint32_t>("access");
    QTest::addColumn<uint8_t>("admin");
    QTest::addColumn<uint32_t>("stored_access");
    QTest::addColumn<uint8_t>("stored_admin");

    QTest::newRow("ADMINS without rights") << "ADMINS" << 0u << uint8_t(0) << 0u << uint8_t(1);
    QTest::newRow("ADMINS with rights") << "ADMINS" << 5u << uint8_t(0) << 5u << uint8_t(1);
    QTest::newRow("EVERYONE with rights") << "EVERYONE" << 15u << uint8_t(1) << 0u << uint8_t(0);
}

void module_access_test::user_record_rights_follow_group()
{
    QFETCH(QString, group);
    QFETCH(uint32_t, access);
    QFETCH(uint8_t, admin);
    QFETCH(uint32_t, stored_access);
    QFETCH(uint8_t, stored_admin);

    program_session s;
    QVERIFY(s.open());
    orva_fun_db *db = orva_fun_db::object();
    QCOMPARE(db->open_db(), 0);

    orva_db_record group_record{};
    db_record::set_name(group_record.name, group);
    const int group_no = db->group_record_no(group_record);
    QVERIFY(group_no > 0);
    orva_db_record user = user_template(static_cast<uint16_t>(group_no), "PETR");
    user.access = access;
    user.admin = admin;
    QCOMPARE(db->create_user_record(user), 0);

    const int number = db->user_record_no(user);
    QVERIFY(number > 0);
    const orva_db_record stored = read_record(static_cast<uint16_t>(number));
    QCOMPARE(stored.access, stored_access);
    QCOMPARE(stored.admin, stored_admin);
}

void module_access_test::group_records()
{
    program_session s;
    QVERIFY(s.open());
    scripted_responder responder;
    orva_fun_db *db = orva_fun_db::object();
    QCOMPARE(db->open_db(), 0);
    QCOMPARE(db->open_db(), 0); // already open: nothing happens

    std::optional<orva_db_record> everyone = db->template_group();
    QVERIFY(everyone);
    QVERIFY(db_record::name_is(everyone->name, "EVERYONE"));

    orva_db_record guests = *everyone;
    db_record::set_name(guests.name, QStringLiteral("GUESTS"));
    guests.access = 7;
    QCOMPARE(db->create_group_record(guests), 0);
    QCOMPARE(guests.access, 0u); // the caller's copy is cleared after the add
    const int number = db->group_record_no(guests);
    QCOMPARE(number, 4);
    QCOMPARE(read_record(4).access, 7u);

    QCOMPARE(db->check_name(QStringLiteral("GUESTS")), 1);
    QCOMPARE(db->check_name(QStringLiteral("SUPERVISOR")), 1);
    QCOMPARE(db->check_name(QStringLiteral("NOBODY")), 0);

    guests.blocked = 1;
    QCOMPARE(db->update_group_record(4, guests), 0);
    QCOMPARE(read_record(4).blocked, uint8_t(1));

    orva_db_record user = user_template(4, "PETR");
    QCOMPARE(db->create_user_record(user), 0);
    const int user_no = db->user_record_no(user);
    QCOMPARE(user_no, 5);
    user.blocked = 1;
    QCOMPARE(db->update_user_record(5, user), 0);
    QCOMPARE(read_record(5).blocked, uint8_t(1));
    QVERIFY(db->delete_group_record(guests) != 0); // the group still has a user
    QCOMPARE(db->delete_user_record(user), 0);
    QCOMPARE(db->user_record_no(user), -1);
    QCOMPARE(db->delete_user_record(user), -1);
    QCOMPARE(db->delete_group_record(guests), 0);
    QCOMPARE(db->group_record_no(guests), -1);
    QCOMPARE(db->check_name(QStringLiteral("GUESTS")), 0);

    QCOMPARE(db->close_db(), 0);
    QCOMPARE(db->close_db(), -1);
    QVERIFY(responder.boxes().isEmpty());
}

void module_access_test::template_group_absent()
{
    program_session s;
    QVERIFY(s.open());
    scripted_responder responder;
    orva_fun_db *db = orva_fun_db::object();
    QCOMPARE(db->open_db(), 0);
    const orva_db_record everyone = *db->template_group();
    QCOMPARE(db->delete_group_record(everyone), 0);

    QVERIFY(!db->template_group());
    QVERIFY(responder.boxes().isEmpty());
}

void module_access_test::current_record()
{
    program_session s;
    QVERIFY(s.enroll(QStringLiteral("IVAN"), QStringLiteral("EVERYONE"), QStringLiteral("0000000A0B0C")));
    QVERIFY(s.open());
    scripted_responder responder;
    orva_fun_db *db = orva_fun_db::object();

    QVERIFY(!db->get_current_record_low_level());
    QVERIFY(responder.boxes().isEmpty());
    QVERIFY(!db->get_current_record());
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
    QCOMPARE(responder.boxes()[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(responder.boxes()[0].text, QStringLiteral("Ошибка получения записи текущего пользователя7516."));

    const orva_db_record ivan = *find_record("IVAN");
    orva_xid_t xid;
    QCOMPARE(orva_make_xid(handle(), ivan.xid.dev_class, &ivan.tmid, kPassword, &xid), 0);
    QCOMPARE(orva_fun_low_level::object()->log_in(ivan.tmid, xid), 0);

    const std::optional<orva_db_record> current = db->get_current_record();
    QVERIFY(current);
    QCOMPARE(record_bytes(*current), record_bytes(ivan));
    const std::optional<orva_db_record> low = db->get_current_record_low_level();
    QVERIFY(low);
    QCOMPARE(record_bytes(*low), record_bytes(ivan));
    QCOMPARE(responder.boxes().size(), 1);
}

void module_access_test::logon_and_logoff()
{
    program_session s;
    QVERIFY(s.enroll(QStringLiteral("IVAN"), QStringLiteral("EVERYONE"), QStringLiteral("0000000A0B0C")));
    QVERIFY(s.open());
    orva_fun_low_level *low = orva_fun_low_level::object();
    const orva_db_record ivan = *find_record("IVAN");
    orva_xid_t good, bad;
    QCOMPARE(orva_make_xid(handle(), ivan.xid.dev_class, &ivan.tmid, kPassword, &good), 0);
    QCOMPARE(orva_make_xid(handle(), ivan.xid.dev_class, &ivan.tmid, "wrong", &bad), 0);
    uint16_t number = 0;

    QCOMPARE(low->log_out(), -1); // nobody logged on
    QCOMPARE(low->log_in(ivan.tmid, bad), ORVA_E_BAD_PASSWORD);
    QCOMPARE(low->logged_in(), 0);
    QCOMPARE(low->log_in(ivan.tmid, good), 0);
    QCOMPARE(low->logged_in(), 1);
    QCOMPARE(low->log_in(ivan.tmid, good), -1);

    // No logoff required: the module session stays.
    QVERIFY(!low->getIsLogOutRequired());
    QCOMPARE(low->log_out(), 0);
    QCOMPARE(low->logged_in(), 1);
    QCOMPARE(orva_get_current_user(handle(), &number, nullptr), 0);

    low->setIsLogOutRequired(true);
    fault::fail_next("orva_logout", ORVA_E_BAD_PASSWORD);
    QCOMPARE(low->log_out(), ORVA_E_BAD_PASSWORD); // 7505 still counts as logged off
    QCOMPARE(low->logged_in(), 0);

    QCOMPARE(low->log_in(ivan.tmid, good), 0);
    fault::fail_next("orva_logout", ORVA_E_WRITE);
    QCOMPARE(low->log_out(), ORVA_E_WRITE);
    QCOMPARE(low->logged_in(), 1);
    QCOMPARE(low->log_out(), 0);
    QCOMPARE(low->logged_in(), 0);
    QCOMPARE(orva_get_current_user(handle(), &number, nullptr), ORVA_E_NO_SESSION);

    // A session the module has already ended counts as logged off as well.
    QCOMPARE(low->log_in(ivan.tmid, good), 0);
    QCOMPARE(orva_logout(handle()), 0);
    QCOMPARE(low->log_out(), ORVA_E_NO_SESSION);
    QCOMPARE(low->logged_in(), 0);
}

void module_access_test::hand_over_block_data()
{
    QTest::addColumn<int>("dev_class");
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("nirun");
    QTest::addColumn<QString>("password");

    const QString pw = QString::fromLatin1(kPassword);
    for (int dev_class : {1, 2}) {
        QTest::addRow("class %d, all parts", dev_class) << dev_class << "EVERYONE" << 0xFF << 0 << pw;
        QTest::addRow("class %d, no part", dev_class) << dev_class << "EVERYONE" << 0x00 << 0 << pw;
        QTest::addRow("class %d, long password", dev_class)
            << dev_class << "EVERYONE" << 0xFF << 0 << QStringLiteral("abcdefghijklmnop");
    }
    for (int bit = 0; bit < 8; ++bit)
        QTest::addRow("class 2, only bit %d", bit) << 2 << "EVERYONE" << (1 << bit) << 0 << pw;
    QTest::newRow("administrator, NIRUN off") << 1 << "ADMINS" << 0xFF << 1 << pw;
    QTest::newRow("administrator, NIRUN off, no OS flags") << 1 << "ADMINS" << 0xDF << 1 << pw;
    QTest::newRow("administrator, NIRUN on") << 1 << "ADMINS" << 0xFF << 0 << pw;
    QTest::newRow("user, NIRUN off") << 1 << "EVERYONE" << 0xFF << 1 << pw;
}

void module_access_test::hand_over_block()
{
    QFETCH(int, dev_class);
    QFETCH(QString, group);
    QFETCH(int, mask);
    QFETCH(int, nirun);
    QFETCH(QString, password);

    program_session s(dev_class);
    QVERIFY(s.module.sim({QStringLiteral("enroll"), QStringLiteral("IVAN"), QStringLiteral("--group"), group,
                          QStringLiteral("--id"), QStringLiteral("0000000A0B0C"),
                          QStringLiteral("--password"), password}));
    QVERIFY(s.open());
    scripted_responder responder;
    orva_fun_db *db = orva_fun_db::object();
    QCOMPARE(db->open_db(), 0);

    orva_db_record ivan = *find_record("IVAN");
    ivan.ia_mask = static_cast<uint8_t>(mask);
    QCOMPARE(db->update_user_record(static_cast<uint16_t>(db->user_record_no(ivan)), ivan), 0);
    orva_xid_t xid;
    const QByteArray pw = password.toLatin1();
    QCOMPARE(orva_make_xid(handle(), ivan.xid.dev_class, &ivan.tmid, pw.constData(), &xid), 0);
    QCOMPARE(orva_fun_low_level::object()->log_in(ivan.tmid, xid), 0);

    // What logon and the settings page leave behind.
    const QByteArray user_key = key_bytes(0x40);
    const QByteArray ws_key = key_bytes(0xA0);
    db->set_current_user_name(QStringLiteral("IVAN"));
    db->set_selected_user_pr_key(bytes(user_key));
    db->update_ia_data(ivan, password);
    db->update_ia_data(*find_record("SUPERVISOR"), QStringLiteral("other")); // not the current user
    QCOMPARE(orva_iares_write_ws_private_key(handle(), bytes(ws_key)), 0);
    db->save_start_nirun(nirun);
    const int log_size = static_cast<int>(read_log(handle()).size());

    QCOMPARE(db->set_iadata(), 0);
    QVERIFY(responder.boxes().isEmpty());

    // The block as the operating system finds it, part by part.
    QByteArray expected(ORVA_IA_DATA_SIZE, 0);
    if (mask & 0x08)
        expected.replace(0, 4, "IVAN");
    if (mask & 0x10) {
        if (dev_class == 1) {
            const QByteArray chars = pw.left(12);
            expected[13] = static_cast<char>(chars.size());
            expected.replace(14, chars.size(), chars);
        } else {
            const QByteArray chars = pw.left(13);
            expected.replace(13, chars.size(), chars);
        }
    }
    if (mask & 0x01)
        expected.replace(26, 8, QByteArray(reinterpret_cast<const char *>(&ivan.tmid), 8));
    if (mask & 0x04)
        expected.replace(34, 32, user_key);
    if (mask & 0x02)
        expected.replace(66, 32, ws_key);
    const bool admin = group == QStringLiteral("ADMINS");
    if (admin && nirun == 1)
        expected[108] = 1; // start NIRUN survives a clear mask bit 5

    QByteArray stored(ORVA_IA_DATA_SIZE, 0);
    QCOMPARE(orva_load_ia_data(handle(), stored.data()), 0);
    QCOMPARE(stored.toHex(' '), expected.toHex(' '));
    // Once stored, the block and the selected user's key are wiped here.
    const QByteArray zeros(ORVA_IA_DATA_SIZE, 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&db->ia_block()), ORVA_IA_DATA_SIZE), zeros);
    db->update_ia_data(ivan, QString());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(db->ia_block().user_key), ORVA_PRIVATE_KEY_SIZE),
             QByteArray(ORVA_PRIVATE_KEY_SIZE, 0));
    QCOMPARE(orva_fun_low_level::object()->getIsLogOutRequired(), !(mask & 0x80));

    const QList<log_entry> log = read_log(handle());
    if (admin && nirun == 1) {
        QCOMPARE(log.size(), log_size + 1);
        QCOMPARE(log.last().type, 16777216u);
        QCOMPARE(log.last().text, QByteArray());
    } else {
        QCOMPARE(log.size(), log_size);
    }
}

void module_access_test::key_pair_check()
{
    unsigned char x[1 + GOST_R3410_94_PRIVATE_SIZE];
    unsigned char y[1 + GOST_R3410_94_PUBLIC_SIZE];
    x[0] = GOST_R3410_94_PRIVATE_SIZE;
    for (int i = 0; i < GOST_R3410_94_PRIVATE_SIZE; ++i)
        x[1 + i] = static_cast<unsigned char>(0x5A ^ (i * 7));
    QCOMPARE(gost_r3410_94_compute_public_key(x, y), 0);
    QCOMPARE(int(y[0]), GOST_R3410_94_PUBLIC_SIZE);

    orva_fun_db *db = orva_fun_db::object();
    QCOMPARE(db->check_keys(x + 1, y + 1), 0);

    unsigned char wrong_public[GOST_R3410_94_PUBLIC_SIZE];
    std::memcpy(wrong_public, y + 1, sizeof wrong_public);
    wrong_public[17] ^= 0x01;
    QCOMPARE(db->check_keys(x + 1, wrong_public), -1);

    unsigned char other_private[GOST_R3410_94_PRIVATE_SIZE];
    std::memcpy(other_private, x + 1, sizeof other_private);
    other_private[0] ^= 0x80;
    QCOMPARE(db->check_keys(other_private, y + 1), -1);
}

void module_access_test::workstation_key_from_module_random()
{
    program_session s;
    QVERIFY(s.open());
    orva_fun_db *db = orva_fun_db::object();

    // The module's generator: two keys, both stored, different.
    QByteArray first(ORVA_PRIVATE_KEY_SIZE, 0), second(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(db->generate_ws_key(), 0);
    QCOMPARE(orva_iares_get_ws_private_key(handle(), reinterpret_cast<uint8_t *>(first.data())), 0);
    QCOMPARE(db->generate_ws_key(), 0);
    QCOMPARE(orva_iares_get_ws_private_key(handle(), reinterpret_cast<uint8_t *>(second.data())), 0);
    QVERIFY(first != second);
    QVERIFY(first != QByteArray(ORVA_PRIVATE_KEY_SIZE, 0));

    // The stored key is exactly what the module's generator gave.
    const QByteArray drawn(ORVA_PRIVATE_KEY_SIZE, 0x11);
    fault::set_random_bytes(drawn);
    QCOMPARE(db->generate_ws_key(), 0);
    QByteArray stored(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(orva_iares_get_ws_private_key(handle(), reinterpret_cast<uint8_t *>(stored.data())), 0);
    QCOMPARE(stored.toHex(), drawn.toHex());
}

void module_access_test::workstation_key_fails_without_usable_random()
{
    program_session s;
    QVERIFY(s.open());
    orva_fun_db *db = orva_fun_db::object();
    const QByteArray before = key_bytes(0x30);
    QCOMPARE(orva_iares_write_ws_private_key(handle(), bytes(before)), 0);

    // Every draw is above the group order: no key, nothing stored.
    fault::set_random_bytes(QByteArray(ORVA_PRIVATE_KEY_SIZE, static_cast<char>(0xFF)));
    QCOMPARE(db->generate_ws_key(), -1);
    QByteArray stored(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(orva_iares_get_ws_private_key(handle(), reinterpret_cast<uint8_t *>(stored.data())), 0);
    QCOMPARE(stored.toHex(), before.toHex());
}

void module_access_test::user_key_in_identifier_page()
{
    program_session s;
    orva_tmid tmid;
    QVERIFY(s.open_with_identifier(&tmid));
    orva_fun_db *db = orva_fun_db::object();
    const uint8_t *id = reinterpret_cast<const uint8_t *>(&tmid);

    // The configuration names page 5 (stored as its complement).
    QCOMPARE(db->set_tm_page_no(static_cast<uint8_t>(~5)), 0);
    const QByteArray key = key_bytes(0x61);
    QCOMPARE(db->write_private_key(tmid, bytes(key)), 0);

    QByteArray page(TMID_PAGE_SIZE, 0);
    QCOMPARE(tmid_read_page(id, 5, 1, reinterpret_cast<uint8_t *>(page.data())), 0);
    QCOMPARE(page.toHex(), key.toHex());
    QCOMPARE(tmid_read_page(id, 1, 1, reinterpret_cast<uint8_t *>(page.data())), 0);
    QCOMPARE(page, QByteArray(TMID_PAGE_SIZE, static_cast<char>(0xFF))); // the default page untouched

    QByteArray read_back(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(db->read_private_key(tmid, reinterpret_cast<uint8_t *>(read_back.data())), 0);
    QCOMPARE(read_back.toHex(), key.toHex());

    // An identifier that is not on the reader: neither read nor write.
    orva_tmid absent = tmid;
    absent.serial[0] ^= 0xFF;
    QVERIFY(db->read_private_key(absent, reinterpret_cast<uint8_t *>(read_back.data())) != 0);
    QVERIFY(db->write_private_key(absent, bytes(key)) != 0);
}

void module_access_test::user_key_replaced_data()
{
    QTest::addColumn<QByteArray>("fault"); // the identifier library's write fault
    QTest::addColumn<bool>("same_key");    // the page holds the new key already
    QTest::addColumn<int>("result");
    QTest::addColumn<char>("head"); // first and last byte of the page after
    QTest::addColumn<char>("tail");

    // Old key 0x20.., new key 0x50...
    QTest::newRow("written") << QByteArray() << false << int(orva_fun_db::KEY_WRITTEN) << char(0x50) << char(0x6F);
    QTest::newRow("contact lost before the write")
        << QByteArray("0") << false << int(orva_fun_db::KEY_OLD_KEPT) << char(0x20) << char(0x3F);
    // The only write is the key's: a contact that holds for one write is enough.
    QTest::newRow("contact lost after one write")
        << QByteArray("1") << false << int(orva_fun_db::KEY_WRITTEN) << char(0x50) << char(0x6F);
    QTest::newRow("torn write, old key not put back")
        << QByteArray("0:torn") << false << int(orva_fun_db::KEY_OLD_LOST) << char(0x50) << char(0x3F);
    QTest::newRow("same key, nothing written")
        << QByteArray("0") << true << int(orva_fun_db::KEY_WRITTEN) << char(0x50) << char(0x6F);
}

void module_access_test::user_key_replaced()
{
    QFETCH(QByteArray, fault);
    QFETCH(bool, same_key);
    QFETCH(int, result);
    QFETCH(char, head);
    QFETCH(char, tail);
    program_session s;
    orva_tmid tmid;
    QVERIFY(s.open_with_identifier(&tmid));
    orva_fun_db *db = orva_fun_db::object();
    const QByteArray old_key = key_bytes(0x20);
    const QByteArray new_key = key_bytes(0x50);
    QCOMPARE(db->write_private_key(tmid, bytes(same_key ? new_key : old_key)), 0);

    qputenv("ORVA_SIM_TMID_WRITE_FAULT", fault);
    QByteArray previous(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(int(db->replace_private_key(tmid, bytes(new_key), reinterpret_cast<uint8_t *>(previous.data()))),
             result);
    qunsetenv("ORVA_SIM_TMID_WRITE_FAULT");
    QCOMPARE(previous.toHex(), (same_key ? new_key : old_key).toHex());
    QByteArray page(ORVA_PRIVATE_KEY_SIZE, 0);
    QCOMPARE(db->read_private_key(tmid, reinterpret_cast<uint8_t *>(page.data())), 0);
    QCOMPARE(page.front(), head);
    QCOMPARE(page.back(), tail);

    // An identifier that is not on the reader: nothing read, nothing written.
    orva_tmid absent = tmid;
    absent.serial[0] ^= 0xFF;
    QCOMPARE(int(db->replace_private_key(absent, bytes(new_key), reinterpret_cast<uint8_t *>(previous.data()))),
             int(orva_fun_db::KEY_UNREAD));
}

void module_access_test::record_helpers()
{
    orva_db_record r{};
    r.validity = 30;
    r.validity_long = 300;
    QCOMPARE(db_record::validity_days(r), 30u);
    r.validity = 255;
    QCOMPARE(db_record::validity_days(r), 300u);
    r.validity = 0;
    QCOMPARE(db_record::validity_days(r), 0u);

    std::memset(r.name, 'X', sizeof r.name);
    db_record::set_name(r.name, QStringLiteral("ABCDEFGHIJKLM")); // 13 characters
    QCOMPARE(db_record::name(r.name), QStringLiteral("ABCDEFGHIJKL"));
    QCOMPARE(r.name[12], '\0');
    db_record::set_name(r.name, QStringLiteral("AB"));
    QCOMPARE(QByteArray(r.name, ORVA_NAME_SIZE), QByteArray("AB\0\0\0\0\0\0\0\0\0\0\0", ORVA_NAME_SIZE));
    QVERIFY(db_record::name_is(r.name, "AB"));
    QVERIFY(!db_record::name_is(r.name, "ABC"));
    std::memset(r.name, 'X', sizeof r.name); // no terminator: no name matches
    QVERIFY(!db_record::name_is(r.name, "XXXXXXXXXXXXX"));
    QCOMPARE(db_record::name(r.name), QStringLiteral("XXXXXXXXXXXX"));
}

void module_access_test::storage_copies()
{
    QTemporaryDir dir;
    const QString storage = dir.path() + QStringLiteral("/storage/");
    const QString fetch = dir.path() + QStringLiteral("/fetch/");
    QVERIFY(QDir().mkpath(storage));
    QVERIFY(QDir().mkpath(fetch));
    universal_storage::set_fetch_directory(fetch);
    auto write = [](const QString &path, const QByteArray &data) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    };
    auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };

    universal_storage st;
    QCOMPARE(st.storage_type(), 0);
    QCOMPARE(st.storage_path(), QStringLiteral("/media/orva-storage"));
    st.set_storage(universal_storage::TYPE_PATH, storage);

    const QString source = dir.path() + QStringLiteral("/base-db.bin");
    QVERIFY(write(source, "first"));
    QCOMPARE(st.put_data(source), 0);
    QCOMPARE(read(storage + QStringLiteral("base-db.bin")), QByteArray("first"));
    QVERIFY(write(source, "second"));
    QCOMPARE(st.put_data(source), 0); // an older copy is replaced
    QCOMPARE(read(storage + QStringLiteral("base-db.bin")), QByteArray("second"));

    QCOMPARE(st.get_data(QStringLiteral("base-db.bin")), 0);
    QCOMPARE(read(fetch + QStringLiteral("base-db.bin")), QByteArray("second"));

    QCOMPARE(st.put_data(dir.path() + QStringLiteral("/absent.bin")), 1);
    QCOMPARE(st.get_data(QStringLiteral("absent.bin")), 1);
}

void module_access_test::hardware_control()
{
    orva_fun_ic *ic = orva_fun_ic::object();
    QVERIFY(!ic->control_hw());
    QVERIFY(!ic->check_device_type(0));

    hw_check_configuration conf;
    conf.control[4] = 1; // PCI
    conf.control[5] = 2; // only 1 puts a class under control
    ic->set_configuration(&conf);
    QVERIFY(ic->control_hw());
    QVERIFY(ic->check_device_type(4));
    QVERIFY(!ic->check_device_type(5));
    QVERIFY(!ic->check_device_type(7));
    QVERIFY(!ic->check_device_type(-1));

    QVERIFY(ic->check_device(4, orva_fun_ic::kDeviceChecked, 1));
    QVERIFY(ic->check_device(4, orva_fun_ic::kDeviceChecked, 2));
    QVERIFY(!ic->check_device(4, orva_fun_ic::kDeviceChecked, 0)); // same device
    QVERIFY(!ic->check_device(4, 0, 1));                            // device not checked
    QVERIFY(!ic->check_device(5, orva_fun_ic::kDeviceChecked, 1));  // class not controlled

    QVERIFY(ic->check_param(4, orva_fun_ic::kDeviceChecked, 1, 1, 1));
    QVERIFY(!ic->check_param(4, orva_fun_ic::kDeviceChecked, 1, 0, 1)); // parameter not checked
    QVERIFY(!ic->check_param(4, orva_fun_ic::kDeviceChecked, 1, 1, 0)); // parameter unchanged
    QVERIFY(!ic->check_param(5, orva_fun_ic::kDeviceChecked, 1, 1, 1));

    ic->set_configuration(nullptr);
    QVERIFY(!ic->control_hw());
}

QTEST_MAIN(module_access_test)
#include "module_access_test.moc"
