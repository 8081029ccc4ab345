// Password rules, generation, and the password change of a logon: the
// change dialog and the password entry driven as a user would, over the
// simulated module.
#include "auth/auth_form.h"
#include "auth/pass_change_dialog.h"
#include "auth/password_rules.h"
#include "auth/user_pass_form.h"
#include "module/orva_fun_low_level.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <vector>

namespace {

const QString kIvanSerial = QString::fromLatin1(logon_module::kIvanSerial);
const QString kIvanPassword = QString::fromLatin1(logon_module::kIvanPassword);
const QDate kMonday(2024, 3, 4);
const QDateTime kMondayMorning(kMonday, QTime(10, 0));
const QString kInputError = QStringLiteral("Ошибка ввода пароля");
const QString kAlphabet = QString::fromLatin1(password_rules::kAlphabet);

// Draws from a list, counting them; past its end it repeats the last one.
struct scripted_source {
    std::vector<uint32_t> values;
    size_t draws = 0;
    password_rules::random_source source()
    {
        return [this] {
            const uint32_t v = values.empty() ? 0 : values[std::min(draws, values.size() - 1)];
            ++draws;
            return v;
        };
    }
};

uint32_t index_of(char c)
{
    return static_cast<uint32_t>(kAlphabet.indexOf(QLatin1Char(c)));
}

bool from_alphabet(const QString &password)
{
    for (QChar c : password) {
        if (!kAlphabet.contains(c))
            return false;
    }
    return true;
}

// IVAN of EVERYONE (minimum length 8, 3 attempts for a change) with an
// expired password: his logon leads to the change dialog.
bool prepare_expired_ivan(const logon_module &module, const std::function<void(orva_db_record &)> &change = {})
{
    return module.ready() && module.enroll_ivan() && module.set_expiry(QStringLiteral("IVAN"), QDate(2024, 3, 1)) &&
           (!change || module.modify_user(QStringLiteral("IVAN"), change));
}

// Logs IVAN on up to the change dialog.
pass_change_dialog *reach_change_dialog(const logon_module &module)
{
    auth_form *form = logon_form();
    if (!present(module, form, kIvanSerial))
        return nullptr;
    enter_password(form, kIvanPassword);
    pass_change_dialog *dialog = change_dialog();
    return dialog && dialog->isVisible() ? dialog : nullptr;
}

// Fills the password entry and presses OK.
void submit(user_pass_form *entry, const QString &old_password, const QString &new1, const QString &new2)
{
    type_into(entry, "old_pass_edit", old_password);
    type_into(entry, "new_pass_edit1", new1);
    type_into(entry, "new_pass_edit2", new2);
    click_box_button(entry, "buttonBox", QDialogButtonBox::Ok);
}

QLineEdit *edit(QWidget *form, const char *name)
{
    return form->findChild<QLineEdit *>(QLatin1String(name));
}

} // namespace

class password_change_test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { fault::clear(); }

    void rule_check_data();
    void rule_check();
    void generation_draws_from_the_alphabet();
    void short_password_gets_ten_builds();
    void short_password_stops_at_a_pass();
    void long_password_is_built_until_it_passes();
    void generated_passwords_follow_the_rules();

    void three_failed_tries_end_the_logon();
    void zero_attempts_do_not_limit();
    void generate_only_with_length_two();
    void only_administrator_may_change();
    void failed_change_keeps_the_dialog();
    void account_editor_entry();
};

// ---- rules -------------------------------------------------------------------------

void password_change_test::rule_check_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("failure");
    const QString digits = QStringLiteral("Новый пароль не содержит цифр.");
    const QString lower = QStringLiteral("Новый пароль не содержит строчных латинских букв (a-z).");
    const QString upper = QStringLiteral("Новый пароль не содержит прописных латинских букв (A-Z).");
    const QString special = QStringLiteral("Новый пароль не содержит специальных символов (!@#$%^*()&).");
    const QString invalid = QStringLiteral("Недопустимые символы.");

    QTest::newRow("comma and circumflex allowed") << "abc,de^f" << 4 << QString();
    QTest::newRow("all four classes") << "aB1!" << 15 << QString();
    QTest::newRow("every special character") << "!@#$%^*()&" << 8 << QString();
    QTest::newRow("empty, no classes asked") << "" << 0 << QString();
    QTest::newRow("no digit") << "abcDEF!" << 15 << digits;
    QTest::newRow("no lower case") << "ABC123" << 4 << lower;
    QTest::newRow("no upper case") << "abc123" << 2 << upper;
    QTest::newRow("no special character") << "aB1" << 15 << special;
    // Digits are checked first, then lower, upper, special.
    QTest::newRow("digits before lower case") << "!" << 15 << digits;
    QTest::newRow("lower before upper case") << "1" << 6 << lower;
    QTest::newRow("upper before special") << "1a" << 15 << upper;
    QTest::newRow("classes are case-sensitive") << "ABC" << 4 << lower;
    QTest::newRow("blank") << "abc def" << 0 << invalid;
    QTest::newRow("hyphen") << "a-b" << 0 << invalid;
    QTest::newRow("question mark") << "ab?1" << 5 << invalid;
    QTest::newRow("Cyrillic") << QStringLiteral("пароль1") << 1 << invalid;
    QTest::newRow("Latin-1 letter") << QStringLiteral("caf\u00e9") << 0 << invalid;
    QTest::newRow("class check comes first") << "a b" << 1 << digits;
}

void password_change_test::rule_check()
{
    QFETCH(QString, password);
    QFETCH(int, mask);
    QFETCH(QString, failure);
    scripted_responder responder;

    QCOMPARE(password_rules::first_failure(password, mask), failure);
    QCOMPARE(password_rules::check_pass_correctness(password, mask, 0), failure.isEmpty() ? 0 : -1);
    QVERIFY(responder.boxes().isEmpty());

    QCOMPARE(password_rules::check_pass_correctness(password, mask, 1), failure.isEmpty() ? 0 : -1);
    if (failure.isEmpty()) {
        QVERIFY(responder.boxes().isEmpty());
    } else {
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "information");
        QCOMPARE(responder.boxes()[0].title, kInputError);
        QCOMPARE(responder.boxes()[0].text, failure);
    }
}

void password_change_test::generation_draws_from_the_alphabet()
{
    // Each character is the alphabet's character at draw % 72.
    scripted_source s{{0, 71, 72 + 10}};
    QCOMPARE(password_rules::generate_pass(0, 3, s.source()), QStringLiteral("1&a"));
    QCOMPARE(s.draws, size_t(3));
    QCOMPARE(kAlphabet.size(), 72);
}

void password_change_test::short_password_gets_ten_builds()
{
    // Two characters can never hold four classes: ten builds, then the last
    // one as it is.
    scripted_source s{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}};
    const QString password = password_rules::generate_pass(15, 2, s.source());
    QCOMPARE(s.draws, size_t(2 * password_rules::kShortPasswordBuilds));
    QCOMPARE(password, QStringLiteral("ij")); // draws 18 and 19
    QVERIFY(!password_rules::first_failure(password, 15).isEmpty());
}

void password_change_test::short_password_stops_at_a_pass()
{
    scripted_source s{{index_of('a'), index_of('b'), index_of('c'), index_of('1'), index_of('b'), index_of('c')}};
    QCOMPARE(password_rules::generate_pass(1, 3, s.source()), QStringLiteral("1bc"));
    QCOMPARE(s.draws, size_t(6));
}

void password_change_test::long_password_is_built_until_it_passes()
{
    std::vector<uint32_t> values;
    for (int build = 0; build < 30; ++build)
        values.insert(values.end(), 4, index_of('a'));
    for (char c : {'a', 'B', '1', '!'})
        values.push_back(index_of(c));
    scripted_source s{values};
    QCOMPARE(password_rules::generate_pass(15, 4, s.source()), QStringLiteral("aB1!"));
    QCOMPARE(s.draws, values.size());
}

void password_change_test::generated_passwords_follow_the_rules()
{
    for (int length = 4; length <= 12; ++length) {
        for (int mask : {0, 1, 6, 15}) {
            const QString password = password_rules::generate_pass(mask, length);
            QCOMPARE(password.size(), length);
            QVERIFY2(from_alphabet(password), qPrintable(password));
            QVERIFY2(password_rules::first_failure(password, mask).isEmpty(), qPrintable(password));
        }
    }
}

// ---- the change at logon -------------------------------------------------------------

void password_change_test::three_failed_tries_end_the_logon()
{
    logon_module module;
    QVERIFY(prepare_expired_ivan(module));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        pass_change_dialog *dialog = reach_change_dialog(module);
        QVERIFY(dialog);
        QSignalSpy go_on(dialog, &pass_change_dialog::show_integrity_controller);
        click(dialog, "change_but");
        user_pass_form *entry = shown_user_pass_form();
        QVERIFY(entry);
        QCOMPARE(entry->windowTitle(), QStringLiteral("Смена пароля"));
        QVERIFY(shown(entry, "label"));
        QCOMPARE(entry->attempts_left(), 3);

        submit(entry, QStringLiteral("wrong"), QStringLiteral("newpass1"), QStringLiteral("newpass1"));
        QCOMPARE(entry->attempts_left(), 2);
        for (const char *field : {"old_pass_edit", "new_pass_edit1", "new_pass_edit2"})
            QCOMPARE(text_of(entry, field), QString());
        submit(entry, kIvanPassword, QStringLiteral("newpass1"), QStringLiteral("newpass2"));
        QCOMPARE(entry->attempts_left(), 1);
        QVERIFY(entry->isVisible());
        submit(entry, kIvanPassword, QStringLiteral("short"), QStringLiteral("short"));

        // The third failure gives the logon up: back to identification.
        QVERIFY(!entry->isVisible());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(go_on.count(), 0);
        auth_form *form = logon_form();
        QVERIFY(form->isVisible());
        QCOMPARE(form->current_stage(), auth_form::stage::waiting_id);
        QCOMPARE(form->identification_attempts_left(), 2);
        QVERIFY(!orva_fun_low_level::object()->logged_in());
    });

    QCOMPARE(code, kEndedByTest);
    QStringList texts;
    for (const message::box_request &box : responder.boxes())
        texts << box.title + QLatin1Char('/') + box.text;
    QCOMPARE(texts, (QStringList{kInputError + QStringLiteral("/Неправильный старый пароль."),
                                 kInputError + QStringLiteral("/Введенные пароли не совпадают."),
                                 kInputError + QStringLiteral("/Слишком короткий пароль."),
                                 QStringLiteral("Ошибка смены пароля/Лимит попыток смены пароля исчерпан.")}));
    // The password did not change.
    QCOMPARE(module.user(QStringLiteral("IVAN")).exp_day, 1);
}

void password_change_test::zero_attempts_do_not_limit()
{
    logon_module module;
    QVERIFY(prepare_expired_ivan(module, [](orva_db_record &r) { r.change_attempts = 0; }));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        pass_change_dialog *dialog = reach_change_dialog(module);
        QVERIFY(dialog);
        QSignalSpy go_on(dialog, &pass_change_dialog::show_integrity_controller);
        click(dialog, "change_but");
        user_pass_form *entry = shown_user_pass_form();
        QVERIFY(entry);
        for (int i = 0; i < 6; ++i)
            submit(entry, QStringLiteral("wrong"), QStringLiteral("newpass1"), QStringLiteral("newpass1"));
        QVERIFY(entry->isVisible());
        QCOMPARE(entry->attempts_left(), -6);
        submit(entry, kIvanPassword, QStringLiteral("newpass1"), QStringLiteral("newpass1"));
        QVERIFY(!entry->isVisible());
        QCOMPARE(go_on.count(), 1);
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(responder.boxes().size(), 6);
    for (const message::box_request &box : responder.boxes())
        QCOMPARE(box.text, QStringLiteral("Неправильный старый пароль."));
}

void password_change_test::generate_only_with_length_two()
{
    logon_module module;
    QVERIFY(prepare_expired_ivan(module, [](orva_db_record &r) {
        r.generate_only = 1;
        r.min_length = 2;
        r.alphabet = 15;
    }));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        pass_change_dialog *dialog = reach_change_dialog(module);
        QVERIFY(dialog);
        click(dialog, "change_but");
        user_pass_form *entry = shown_user_pass_form();
        QVERIFY(entry);
        QLineEdit *generated = edit(entry, "new_pass_edit1");
        const QString password = generated->text();
        QCOMPARE(password.size(), 2);
        QVERIFY(from_alphabet(password));
        QVERIFY(generated->isReadOnly());
        QCOMPARE(generated->echoMode(), QLineEdit::Normal);

        // Typing into the read-only field changes nothing.
        type_into(entry, "new_pass_edit1", QStringLiteral("xyz"));
        QCOMPARE(generated->text(), password);
        type_into(entry, "old_pass_edit", kIvanPassword);
        type_into(entry, "new_pass_edit2", password);
        click_box_button(entry, "buttonBox", QDialogButtonBox::Ok);

        // Two characters cannot hold the four classes.
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes()[0].title, kInputError);
        QVERIFY2(responder.boxes()[0].text.startsWith(QStringLiteral("Новый пароль не содержит")),
                 qPrintable(responder.boxes()[0].text));
        QVERIFY(entry->isVisible());
        QCOMPARE(entry->attempts_left(), 2);
        QCOMPARE(generated->text(), password); // kept: it may only be generated
        QCOMPARE(text_of(entry, "new_pass_edit2"), QString());
    });

    QCOMPARE(code, kEndedByTest);
}

void password_change_test::only_administrator_may_change()
{
    logon_module module;
    QVERIFY(prepare_expired_ivan(module, [](orva_db_record &r) { r.who_changes = 0; }));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        pass_change_dialog *dialog = reach_change_dialog(module);
        QVERIFY(dialog);
        QVERIFY(!shown(dialog, "proceed"));
        QVERIFY(!shown(dialog, "change_but"));
        QVERIFY(shown(dialog, "cancel"));
        // Escape is the way out as well.
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(logon_form()->current_stage(), auth_form::stage::waiting_id);
        QCOMPARE(logon_form()->identification_attempts_left(), 2);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
}

void password_change_test::failed_change_keeps_the_dialog()
{
    logon_module module;
    QVERIFY(prepare_expired_ivan(module));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        pass_change_dialog *dialog = reach_change_dialog(module);
        QVERIFY(dialog);
        QSignalSpy go_on(dialog, &pass_change_dialog::show_integrity_controller);
        click(dialog, "change_but");
        fault::fail_next("orva_change_current_user_password", ORVA_E_WRITE);
        submit(shown_user_pass_form(), kIvanPassword, QStringLiteral("newpass1"), QStringLiteral("newpass1"));
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
        QCOMPARE(responder.boxes()[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(responder.boxes()[0].text, QStringLiteral("Не удалось сменить пароль: 7508."));
        QVERIFY(dialog->isVisible());
        QCOMPARE(go_on.count(), 0);

        // Again, now it goes through.
        click(dialog, "change_but");
        submit(shown_user_pass_form(), kIvanPassword, QStringLiteral("newpass1"), QStringLiteral("newpass1"));
        QCOMPARE(go_on.count(), 1);
        QVERIFY(!dialog->isVisible());
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(responder.boxes().size(), 1);
}

void password_change_test::account_editor_entry()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    const orva_db_record ivan = module.user(QStringLiteral("IVAN"));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        // The account editor's call: five arguments, tries not counted.
        user_pass_form entry;
        QSignalSpy entered(&entry, &user_pass_form::new_password);
        QSignalSpy gave_up(&entry, &user_pass_form::cancel_id);
        entry.show_form(ivan, 1 | 4, 6, 0, user_pass_form::MODE_NEW_ONLY);
        QVERIFY(entry.isVisible());
        QVERIFY(!shown(&entry, "label"));
        QVERIFY(!shown(&entry, "old_pass_edit"));
        QCOMPARE(entry.focusWidget(), edit(&entry, "new_pass_edit1"));
        for (int i = 0; i < 4; ++i)
            submit(&entry, QString(), QStringLiteral("abc123"), QStringLiteral("abc124"));
        QVERIFY(entry.isVisible());
        QCOMPARE(gave_up.count(), 0);

        // Generation shows the password; typing hides it again.
        click(&entry, "generate");
        QLineEdit *new1 = edit(&entry, "new_pass_edit1");
        QCOMPARE(new1->echoMode(), QLineEdit::Normal);
        QCOMPARE(new1->text().size(), 6);
        QVERIFY(password_rules::first_failure(new1->text(), 5).isEmpty());
        QTest::keyClick(new1, Qt::Key_Backspace);
        QCOMPARE(new1->echoMode(), QLineEdit::Password);
        new1->clear();

        submit(&entry, QString(), QStringLiteral("abc123"), QStringLiteral("abc123"));
        QVERIFY(!entry.isVisible());
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered[0][0].toString(), QStringLiteral("abc123"));

        // The old password, when asked, is checked against the record.
        entry.show_form(ivan, 0, 0, 0, user_pass_form::MODE_OLD_PASSWORD);
        QVERIFY(shown(&entry, "old_pass_edit"));
        submit(&entry, QStringLiteral("nope"), QStringLiteral("x1"), QStringLiteral("x1"));
        QVERIFY(entry.isVisible());
        submit(&entry, kIvanPassword, QStringLiteral("x1"), QStringLiteral("x1"));
        QVERIFY(!entry.isVisible());
        QCOMPARE(entered.count(), 2);
        QCOMPARE(entered[1][0].toString(), QStringLiteral("x1"));
    });

    QCOMPARE(code, kEndedByTest);
    QStringList texts;
    for (const message::box_request &box : responder.boxes())
        texts << box.text;
    QCOMPARE(texts, (QStringList(4, QStringLiteral("Введенные пароли не совпадают."))
                     << QStringLiteral("Неправильный старый пароль.")));
}

QTEST_APPLESS_MAIN(password_change_test)
#include "password_change_test.moc"
