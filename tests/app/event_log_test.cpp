// The event log: texts of records, appending, clearing, the tree model and the
// viewer, over a simulated module.
#include "admin/main_window.h"
#include "log/log_texts.h"
#include "log/log_tree_model.h"
#include "log/log_tree_view.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/orva_initialization.h"
#include "support/fault_injection.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <QtTest>

namespace {

// A formatted module opened by the program's access objects; the module
// clock is fixed while it lives.
struct log_session {
    sim_module module;
    bool ok;

    explicit log_session(const char *clock = "2024-03-05 09:07:03")
    {
        qputenv("ORVA_SIM_CLOCK", clock);
        ok = module.init_formatted() && orva_initialization::object()->init() == 0;
    }

    ~log_session()
    {
        orva_initialization::object()->exit();
        qunsetenv("ORVA_SIM_CLOCK");
    }
};

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

// The texts of one model row: its four columns, or its parameter line.
QStringList row_texts(const QAbstractItemModel &model, int row, const QModelIndex &parent = QModelIndex())
{
    QStringList texts;
    for (int column = 0; column < model.columnCount(parent); ++column)
        texts << model.index(row, column, parent).data().toString();
    return texts;
}

QString param_of(const QAbstractItemModel &model, int row)
{
    const QModelIndex record = model.index(row, 0);
    return model.rowCount(record) == 1 ? model.index(0, 0, record).data().toString() : QString();
}

uint32_t pack_date(uint32_t year, uint32_t month, uint32_t day)
{
    return year | (month << 16) | (day << 24);
}

uint32_t pack_time(uint32_t hours, uint32_t minutes, uint32_t seconds)
{
    return hours | (minutes << 8) | (seconds << 16);
}

orva_log_record make_record(uint32_t type, const QByteArray &param, const char *text)
{
    orva_log_record r{};
    r.type = type;
    std::memcpy(r.param, param.constData(), static_cast<size_t>(std::min<qsizetype>(param.size(), 8)));
    r.param_size = static_cast<uint32_t>(param.size());
    r.text = const_cast<char *>(text);
    return r;
}

} // namespace

class event_log_test : public QObject {
    Q_OBJECT

private slots:
    void init() { fault::clear(); }

    void event_texts_data();
    void event_texts();
    void result_texts_data();
    void result_texts();
    void library_codes_data();
    void library_codes();
    void parameter_lines_data();
    void parameter_lines();
    void date_and_time();
    void file_check_records_data();
    void file_check_records();

    void fresh_log();
    void model_of_records();
    void model_appends_new_records();
    void appended_record_is_not_a_rebuild();
    void texts_kept_whole();
    void append_failure();
    void clear_action_of_the_window();
    void viewer_spans_parameter_rows();
};

void event_log_test::event_texts_data()
{
    QTest::addColumn<uint32_t>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint32_t>("param_size");
    QTest::addColumn<bool>("param_line");

    QTest::newRow("1") << 1u << "Создание журнала" << 2u << true;
    QTest::newRow("2") << 2u << "Начало сессии" << 0u << false;
    QTest::newRow("4") << 4u << "Логин пользователя" << 8u << true;
    QTest::newRow("8") << 8u << "Проверка целостности оборудования" << 4u << true;
    QTest::newRow("16") << 16u << "Проверка целостности дисков" << 1u << true;
    QTest::newRow("32") << 32u << "Проверка целостности объектов ФС" << 1u << true;
    QTest::newRow("64") << 64u << "Проверка целостности INI файлов" << 1u << true;
    QTest::newRow("128") << 128u << "Проверка целостности реестра" << 1u << true;
    QTest::newRow("256") << 256u << "DISABLE_HSTEP" << 1u << true;
    QTest::newRow("512") << 512u << "База данных пуста" << 0u << false;
    QTest::newRow("1024") << 1024u << "Смена пароля пользователя" << 0u << false;
    QTest::newRow("2048") << 2048u << "Создание пользователя" << 0u << true;
    QTest::newRow("4096") << 4096u << "Удаление пользователя" << 0u << true;
    QTest::newRow("8192") << 8192u << "Смена имени пользователя" << 0u << true;
    QTest::newRow("16384") << 16384u << "Изменение атрибутов пользователя" << 4u << true;
    QTest::newRow("32768") << 32768u << "Создание группы" << 0u << true;
    QTest::newRow("65536") << 65536u << "Удаление группы" << 0u << true;
    QTest::newRow("131072") << 131072u << "Смена имени группы" << 0u << true;
    QTest::newRow("262144") << 262144u << "Изменение атрибутов группы" << 4u << true;
    QTest::newRow("524288") << 524288u << "Импорт базы данных пользователей" << 0u << false;
    QTest::newRow("1048576") << 1048576u << "Экспорт базы данных пользователей" << 0u << false;
    QTest::newRow("2097152") << 2097152u << "Изменение списка контроля оборудования" << 0u << false;
    QTest::newRow("4194304") << 4194304u << "Изменение списка контроля дисков" << 0u << false;
    QTest::newRow("8388608") << 8388608u << "Изменение списка контроля объектов ФС" << 0u << false;
    QTest::newRow("16777216") << 16777216u << "Отключение Nirun" << 0u << false;
    QTest::newRow("2147483648") << 2147483648u << "Неизвестное событие" << 0u << false;
    QTest::newRow("unlisted bit") << 33554432u << "" << 0u << false;
    QTest::newRow("two bits") << 3u << "" << 0u << false;
    QTest::newRow("zero") << 0u << "" << 0u << false;
}

void event_log_test::event_texts()
{
    QFETCH(uint32_t, type);
    QFETCH(QString, text);
    QFETCH(uint32_t, param_size);
    QFETCH(bool, param_line);
    QCOMPARE(log_texts::type_text(type), text);
    QCOMPARE(log_texts::param_size(type), param_size);
    QCOMPARE(log_texts::has_param_line(type), param_line);
}

void event_log_test::result_texts_data()
{
    QTest::addColumn<uint32_t>("result");
    QTest::addColumn<QString>("text");
    const QList<QPair<uint32_t, const char *>> table = {
        {0u, "ОК"},
        {1u, "Таймаут предъявления идентификатора"},
        {2u, "Таймаут ввода пароля"},
        {4u, "Незарегистрированный пользователь"},
        {8u, "Неверный пароль"},
        {16u, "Временные ограничения"},
        {32u, "Пользователь заблокирован"},
        {64u, "PIK"},
        {128u, "Часы не синхронизированы"},
        {256u, "Ошибка ввода/вывода"},
        {512u, "Данные контроля целостности повреждены"},
        {1024u, "Файл не найден"},
        {2048u, "Путь не найден"},
        {4096u, "Новый файл"},
        {8192u, "NUpd"},
        {16384u, "Недостаточно памяти для выполнения операции"},
        {32768u, "Вычисление контрольной суммы прервано"},
        {65536u, "NDRV"},
        {131072u, "Ошибка целостности"},
        {2147483648u, "Неизвестная ошибка"},
        {3u, "Внутренняя ошибка системы журналирования"},
        {262144u, "Внутренняя ошибка системы журналирования"},
        {0xFFFFFFFFu, "Внутренняя ошибка системы журналирования"},
    };
    for (const auto &row : table)
        QTest::addRow("%u", row.first) << row.first << QString::fromUtf8(row.second);
}

void event_log_test::result_texts()
{
    QFETCH(uint32_t, result);
    QFETCH(QString, text);
    QCOMPARE(log_texts::result_text(result), text);
}

void event_log_test::library_codes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<uint32_t>("result");
    const QList<QPair<int, uint32_t>> table = {
        {0, 0u}, {7504, 4u}, {7505, 8u}, {7507, 256u}, {7508, 256u}, {7513, 16384u},
        {7517, 32u}, {7518, 64u}, {7599, 2147483648u},
        {7506, 0xFFFFFFFFu}, {7516, 0xFFFFFFFFu}, {-1, 0xFFFFFFFFu}, {1, 0xFFFFFFFFu},
    };
    for (const auto &row : table)
        QTest::addRow("%d", row.first) << row.first << row.second;
}

void event_log_test::library_codes()
{
    QFETCH(int, code);
    QFETCH(uint32_t, result);
    QCOMPARE(orva_fun_log::acia_to_log_code(code), result);
}

void event_log_test::parameter_lines_data()
{
    QTest::addColumn<uint32_t>("type");
    QTest::addColumn<QByteArray>("param");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("line");

    QTest::newRow("log version") << 1u << QByteArray("\x04\x01", 2) << QByteArray() << "Версия журнала: 260";
    QTest::newRow("identifier") << 4u << QByteArray("\x0c\x0a\x0b\x0c\x00\x00\x00\xe3", 8) << QByteArray()
                                << "Идентификатор пользователя: 0C0A0B0C000000E3";
    QTest::newRow("no hardware bit") << 8u << QByteArray(4, 0) << QByteArray()
                                     << "Нарушение целостности оборудования: ";
    QTest::newRow("hardware bits") << 8u << QByteArray("\x11\x18\x00\x00", 4) << QByteArray()
                                   << "Нарушение целостности оборудования:  BIOS MEDIA  USB ";
    QTest::newRow("hardware, unnamed bits") << 8u << QByteArray("\x00\x2a\x00\x80", 4) << QByteArray()
                                            << "Нарушение целостности оборудования:  INT13 ";
    QTest::newRow("all hardware bits") << 8u << QByteArray("\xff\xff\xff\xff", 4) << QByteArray()
                                       << "Нарушение целостности оборудования:  BIOS  INT_VECTOR  CPU  MEMORY "
                                          "MEDIA  EBIOS  IDE  PCI  MBIOS_CRC  INT13  MONITOR  USB ";
    QTest::newRow("disk") << 16u << QByteArray(1, 0) << QByteArray("sda") << "Имя диска: sda";
    QTest::newRow("file, no attribute") << 32u << QByteArray(1, 0) << QByteArray("/boot/vmlinuz")
                                        << "Имя файла: /boot/vmlinuz, атрибуты: stah";
    QTest::newRow("file, all attributes") << 32u << QByteArray(1, 0x0f) << QByteArray("/etc/fstab")
                                          << "Имя файла: /etc/fstab, атрибуты: STAH";
    QTest::newRow("ini file") << 64u << QByteArray(1, 0x05) << QByteArray("boot.ini")
                              << "Имя файла: boot.ini, атрибуты: StAh";
    QTest::newRow("registry branch") << 128u << QByteArray(1, 0x0a) << QByteArray("HKLM\\SYSTEM")
                                     << "Имя ветви: HKLM\\SYSTEM, атрибуты: sTaH";
    QTest::newRow("step") << 256u << QByteArray(1, 7) << QByteArray() << "Номер шага: 7";
    QTest::newRow("user cut at slash") << 2048u << QByteArray() << QByteArray("IVAN/by SUPERVISOR")
                                       << "Пользователь: IVAN";
    QTest::newRow("user attributes") << 16384u << QByteArray(4, 0) << QByteArray("PETR") << "Пользователь: PETR";
    QTest::newRow("group") << 32768u << QByteArray() << QByteArray("GUESTS/x/y") << "Группа: GUESTS";
    QTest::newRow("group deleted") << 65536u << QByteArray() << QByteArray("/") << "Группа: ";
    QTest::newRow("no parameter line") << 2u << QByteArray() << QByteArray("ignored") << "";
}

void event_log_test::parameter_lines()
{
    QFETCH(uint32_t, type);
    QFETCH(QByteArray, param);
    QFETCH(QByteArray, text);
    QFETCH(QString, line);
    const orva_log_record record = make_record(type, param, text.constData());
    QCOMPARE(log_texts::param_line(record), line);
}

void event_log_test::date_and_time()
{
    QCOMPARE(log_texts::date_time_text(pack_date(2024, 3, 5), pack_time(9, 7, 3)),
             QStringLiteral("05-03-2024 09:07:03"));
    QCOMPARE(log_texts::date_time_text(pack_date(1999, 12, 31), pack_time(23, 59, 59)),
             QStringLiteral("31-12-1999 23:59:59"));
    QCOMPARE(log_texts::date_time_text(0, 0), QStringLiteral("00-00-0 00:00:00"));
}

void event_log_test::file_check_records_data()
{
    QTest::addColumn<uint32_t>("flags");
    QTest::addColumn<uint32_t>("result");
    QTest::addColumn<QString>("attributes");

    QTest::newRow("unchanged") << 0u << 0u << "stah";
    QTest::newRow("new file") << 0x1u << 4096u << "stah";
    QTest::newRow("missing file") << 0x2u << 1024u << "stah";
    QTest::newRow("missing wins over new") << 0x3u << 1024u << "stah";
    QTest::newRow("content") << 0x4u << 131072u << "staH";
    QTest::newRow("mode") << 0x8u << 131072u << "stAh";
    QTest::newRow("owner") << 0x10u << 131072u << "stAh";
    QTest::newRow("group") << 0x20u << 131072u << "stAh";
    QTest::newRow("size") << 0x40u << 131072u << "Stah";
    QTest::newRow("time") << 0x80u << 131072u << "sTah";
    QTest::newRow("missing and changed") << 0x86u << 131072u << "sTaH";
    QTest::newRow("directory bits only") << 0x100u << 0u << "stah";
}

void event_log_test::file_check_records()
{
    QFETCH(uint32_t, flags);
    QFETCH(uint32_t, result);
    QFETCH(QString, attributes);
    const orva_fun_log::check_record r = orva_fun_log::file_check_record(flags);
    QCOMPARE(r.result, result);
    QCOMPARE(log_texts::attribute_string(r.attributes), attributes);
}

void event_log_test::fresh_log()
{
    log_session s;
    QVERIFY(s.ok);
    QCOMPARE(orva_fun_log::object()->clear_log(), 0);

    const log_tree_model &model = *orva_fun_log::object()->model();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(row_texts(model, 0), (QStringList{"1", "05-03-2024 09:07:03", "Создание журнала", "ОК"}));
    QCOMPARE(param_of(model, 0), QStringLiteral("Версия журнала: 260"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Номер записи"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Дата события"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Тип события"));
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Результат"));

    const QList<log_entry> log = read_log(handle());
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].param, QByteArray("\x04\x01", 2));
}

void event_log_test::model_of_records()
{
    log_session s;
    QVERIFY(s.ok);
    orva_fun_log *log = orva_fun_log::object();
    QCOMPARE(log->clear_log(), 0);
    const uint8_t tmid[8] = {0x0c, 0x0a, 0x0b, 0x0c, 0x00, 0x00, 0x00, 0xe3};
    const uint8_t attributes = LOG_ATTR_H;
    const uint32_t attrs = 0;
    QCOMPARE(log->append_log_record(LOG_LOGIN, LOG_BAD_PASSWORD, tmid, QString()), 0);
    QCOMPARE(log->append_log_record(33554432u, LOG_OK, nullptr, QStringLiteral("odd")), 0);
    QCOMPARE(log->append_log_record(LOG_SESSION_START, 3u, nullptr, QString()), 0);
    QCOMPARE(log->append_log_record(LOG_USER_ATTRIBUTES, LOG_OK, &attrs, QStringLiteral("IVAN/x")), 0);
    QCOMPARE(log->append_log_record(LOG_FS_CHECK, LOG_INTEGRITY_ERROR, &attributes, QStringLiteral("/etc/passwd")), 0);
    QCOMPARE(log->append_log_record_file_check(QStringLiteral("/etc/new"), 0x1), 0);
    QCOMPARE(log->append_log_record_dir_check(QStringLiteral("/etc/"), 0x48), 0);

    const log_tree_model &model = *log->model();
    QCOMPARE(model.rowCount(), 8);
    QCOMPARE(row_texts(model, 1), (QStringList{"2", "05-03-2024 09:07:03", "Логин пользователя", "Неверный пароль"}));
    QCOMPARE(param_of(model, 1), QStringLiteral("Идентификатор пользователя: 0C0A0B0C000000E3"));
    // An unlisted type: empty event text, no parameter row.
    QCOMPARE(row_texts(model, 2), (QStringList{"3", "05-03-2024 09:07:03", "", "ОК"}));
    QCOMPARE(model.rowCount(model.index(2, 0)), 0);
    // An unlisted result.
    QCOMPARE(row_texts(model, 3)[3], QStringLiteral("Внутренняя ошибка системы журналирования"));
    QCOMPARE(model.rowCount(model.index(3, 0)), 0);
    QCOMPARE(param_of(model, 4), QStringLiteral("Пользователь: IVAN"));
    QCOMPARE(row_texts(model, 5)[3], QStringLiteral("Ошибка целостности"));
    QCOMPARE(param_of(model, 5), QStringLiteral("Имя файла: /etc/passwd, атрибуты: staH"));
    QCOMPARE(row_texts(model, 6)[3], QStringLiteral("Новый файл"));
    QCOMPARE(param_of(model, 6), QStringLiteral("Имя файла: /etc/new, атрибуты: stah"));
    QCOMPARE(row_texts(model, 7)[3], QStringLiteral("Ошибка целостности"));
    QCOMPARE(param_of(model, 7), QStringLiteral("Имя файла: /etc/, атрибуты: StAh"));

    // The stored records carry the parameter sizes of their types.
    const QList<log_entry> stored = read_log(handle());
    QCOMPARE(stored[1].param.size(), 8);
    QCOMPARE(stored[2].param.size(), 0);
    QCOMPARE(stored[4].param.size(), 4);
    QCOMPARE(stored[5].param, QByteArray(1, LOG_ATTR_H));
    QCOMPARE(stored[7].param, QByteArray(1, LOG_ATTR_S | LOG_ATTR_A));
}

void event_log_test::model_appends_new_records()
{
    log_session s;
    QVERIFY(s.ok);
    log_tree_model model;
    model.setupModelData(handle());
    const int before = model.rowCount();
    QVERIFY(before >= 1);

    orva_log_record *r = nullptr;
    QCOMPARE(orva_log_create_record(handle(), LOG_DB_EXPORT, LOG_OK, nullptr, 0, "", &r), 0);
    QCOMPARE(orva_log_append(handle(), r), 0);
    QCOMPARE(orva_log_append(handle(), r), 0);
    orva_log_destroy_record(handle(), r);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.updateModelData(handle());
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(model.rowCount(), before + 2);
    QCOMPARE(row_texts(model, before + 1),
             (QStringList{QString::number(before + 2), "05-03-2024 09:07:03",
                          "Экспорт базы данных пользователей", "ОК"}));
    model.updateModelData(handle()); // nothing new
    QCOMPARE(model.rowCount(), before + 2);
    QCOMPARE(inserted.size(), 1);
}

void event_log_test::appended_record_is_not_a_rebuild()
{
    log_session s;
    QVERIFY(s.ok);
    orva_fun_log *log = orva_fun_log::object();
    QCOMPARE(log->clear_log(), 0);
    QCOMPARE(log->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString()), 0);
    log_tree_model &model = *log->model();
    const QModelIndex first_row = model.index(0, 0);
    QSignalSpy reset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    for (int i = 0; i < 3; ++i)
        QCOMPARE(log->append_log_record_file_check(QStringLiteral("/boot/file%1").arg(i), 0x4), 0);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(inserted.size(), 3);
    QCOMPARE(inserted[2][1].toInt(), 4);
    QCOMPARE(inserted[2][2].toInt(), 4);
    // Rows already shown keep their items.
    QCOMPARE(model.index(0, 0).internalPointer(), first_row.internalPointer());
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(row_texts(model, 4), (QStringList{"5", "05-03-2024 09:07:03", "Проверка целостности объектов ФС",
                                               "Ошибка целостности"}));
    QCOMPARE(param_of(model, 4), QStringLiteral("Имя файла: /boot/file2, атрибуты: staH"));

    // The same rows as a model read from the start.
    log_tree_model fresh;
    fresh.setupModelData(handle());
    QCOMPARE(fresh.rowCount(), model.rowCount());
    for (int row = 0; row < fresh.rowCount(); ++row) {
        QCOMPARE(row_texts(model, row), row_texts(fresh, row));
        QCOMPARE(param_of(model, row), param_of(fresh, row));
    }
}

void event_log_test::texts_kept_whole()
{
    log_session s;
    QVERIFY(s.ok);
    orva_fun_log *log = orva_fun_log::object();
    scripted_responder responder;

    const QString cyrillic = QStringLiteral("/home/пользователь/отчёт.txt");
    QCOMPARE(log->append_log_record_file_check(cyrillic, 0x4), 0);
    const log_tree_model &model = *log->model();
    QCOMPARE(param_of(model, model.rowCount() - 1),
             QStringLiteral("Имя файла: %1, атрибуты: staH").arg(cyrillic));

    // A path longer than a record holds is cut, not refused, and never in
    // the middle of a character.
    const QString long_path = QStringLiteral("/") + QString(3000, QChar(0x0436));
    QCOMPARE(log->append_log_record_file_check(long_path, 0), 0);
    const QByteArray stored = read_log(handle()).last().text;
    QVERIFY(stored.size() <= ORVA_LOG_TEXT_MAX);
    QVERIFY(stored.size() >= ORVA_LOG_TEXT_MAX - 1);
    QCOMPARE(QString::fromUtf8(stored), long_path.left((ORVA_LOG_TEXT_MAX - 1) / 2 + 1));
    QVERIFY(responder.boxes().isEmpty());
}

void event_log_test::append_failure()
{
    log_session s;
    QVERIFY(s.ok);
    scripted_responder responder;
    QCOMPARE(orva_log_close(handle()), 0);

    QCOMPARE(orva_fun_log::object()->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString()), -1);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
    QCOMPARE(responder.boxes()[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(responder.boxes()[0].text, QStringLiteral("Ошибка при добавлении записи в журнал."));
}

void event_log_test::clear_action_of_the_window()
{
    log_session s;
    QVERIFY(s.ok);
    scripted_responder responder;
    {
        MainWindow window;
        orva_fun_log *log = orva_fun_log::object();
        QCOMPARE(log->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString()), 0);
        QVERIFY(log->model()->rowCount() > 1);

        fault::fail_next("orva_format_log", ORVA_E_WRITE);
        window.clear_log_action()->trigger();
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
        QCOMPARE(responder.boxes()[0].title, QStringLiteral("Журнал"));
        QCOMPARE(responder.boxes()[0].text, QStringLiteral("Ошибка очистки журнала."));
        // The old log is still there and still takes records.
        const int kept = log->model()->rowCount();
        QVERIFY(kept > 1);
        QCOMPARE(log->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString()), 0);
        QCOMPARE(log->model()->rowCount(), kept + 1);

        window.clear_log_action()->trigger();
        QCOMPARE(responder.boxes().size(), 2);
        QCOMPARE(kind_name(responder.boxes()[1].type), "information");
        QCOMPARE(responder.boxes()[1].title, QStringLiteral("Журнал"));
        QCOMPARE(responder.boxes()[1].text, QStringLiteral("Журнал был успешно очищен."));
        QCOMPARE(log->model()->rowCount(), 1);
    }
    // The window's destructor ended the module session.
    QCOMPARE(orva_initialization::object()->initialised(), 0);
}

void event_log_test::viewer_spans_parameter_rows()
{
    log_session s;
    QVERIFY(s.ok);
    orva_fun_log *log = orva_fun_log::object();
    QCOMPARE(log->clear_log(), 0);
    QCOMPARE(log->append_log_record(LOG_SESSION_START, LOG_OK, nullptr, QString()), 0);
    QCOMPARE(log->append_log_record(LOG_GROUP_CREATE, LOG_OK, nullptr, QStringLiteral("GUESTS")), 0);

    log_tree_view view;
    view.setModel(log->model());
    view.resize(800, 400);
    for (int column = 0; column < log_tree_model::COLUMN_COUNT; ++column)
        view.setColumnWidth(column, 150);
    view.expandAll();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    auto check_spans = [&view](const log_tree_model &model) {
        for (int row = 0; row < model.rowCount(); ++row) {
            const QModelIndex record = model.index(row, 0);
            QVERIFY(!view.isFirstColumnSpanned(row, QModelIndex()));
            for (int child = 0; child < model.rowCount(record); ++child) {
                QVERIFY(view.isFirstColumnSpanned(child, record));
                // The parameter line is drawn over all four columns.
                const QRect cell = view.visualRect(model.index(child, 0, record));
                QVERIFY2(cell.width() > 3 * 150, qPrintable(QString::number(cell.width())));
            }
        }
    };
    const log_tree_model &model = *log->model();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.rowCount(model.index(0, 0)), 1); // "Версия журнала: 260"
    QCOMPARE(model.rowCount(model.index(1, 0)), 0); // "Начало сессии"
    QCOMPARE(model.rowCount(model.index(2, 0)), 1); // "Группа: GUESTS"
    check_spans(model);

    // Rebuilt after another record: the rows span again.
    QCOMPARE(log->append_log_record(LOG_USER_CREATE, LOG_OK, nullptr, QStringLiteral("IVAN")), 0);
    view.expandAll();
    QCOMPARE(model.rowCount(), 4);
    check_spans(model);
}

QTEST_MAIN(event_log_test)
#include "event_log_test.moc"
