#include "auth/password_rules.h"

#include "ui/message.h"

#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <array>

namespace password_rules {

namespace {

struct rule {
    int bit; // 0: always
    const char *pattern;
    const char16_t *failure;
};

// In the order they are checked. The last pattern is a negated class: the
// comma and the circumflex written between the ranges are allowed as well.
const std::array<rule, 5> kRules = {{
    {1, "[0-9]", u"Новый пароль не содержит цифр."},
    {4, "[a-z]", u"Новый пароль не содержит строчных латинских букв (a-z)."},
    {2, "[A-Z]", u"Новый пароль не содержит прописных латинских букв (A-Z)."},
    {8, "[!@#$%^*()&]", u"Новый пароль не содержит специальных символов (!@#$%^*()&)."},
    {0, "[^0-9,^a-z,^A-Z,^!@#$%^*()&]", u"Недопустимые символы."},
}};

bool contains(const QString &password, const char *pattern)
{
    // Compiled once per pattern; the patterns are case-sensitive.
    static QHash<const char *, QRegularExpression> compiled;
    auto it = compiled.find(pattern);
    if (it == compiled.end())
        it = compiled.insert(pattern, QRegularExpression(QString::fromLatin1(pattern)));
    return it->match(password).hasMatch();
}

} // namespace

QString first_failure(const QString &password, int mask)
{
    for (const rule &r : kRules) {
        const bool passes = r.bit != 0 ? (!(mask & r.bit) || contains(password, r.pattern))
                                       : !contains(password, r.pattern);
        if (!passes)
            return QString::fromUtf16(r.failure);
    }
    return QString();
}

int check_pass_correctness(const QString &password, int mask, int show, QWidget *parent)
{
    const QString failure = first_failure(password, mask);
    if (failure.isEmpty())
        return 0;
    if (show == 1)
        message::information(parent, QString::fromUtf16(kInputErrorTitle), failure);
    return -1;
}

QString generate_pass(int mask, int length, const random_source &random)
{
    const random_source next = random ? random : [] { return QRandomGenerator::global()->generate(); };
    const auto build = [&] {
        QString password;
        password.reserve(length);
        for (int i = 0; i < length; ++i)
            password.append(QLatin1Char(kAlphabet[next() % kAlphabetSize]));
        return password;
    };
    QString password = build();
    if (length > 3) {
        while (check_pass_correctness(password, mask, 0) != 0)
            password = build();
        return password;
    }
    for (int builds = 1; builds < kShortPasswordBuilds && check_pass_correctness(password, mask, 0) != 0; ++builds)
        password = build();
    return password;
}

} // namespace password_rules
