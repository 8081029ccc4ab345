// Password rules of an account: the alphabet classes its password must
// contain, the characters it may contain, and generation of a password that
// follows them.
#ifndef ORVA_AUTH_PASSWORD_RULES_H
#define ORVA_AUTH_PASSWORD_RULES_H

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

namespace password_rules {

// The generation alphabet, 72 characters.
inline constexpr char kAlphabet[] = "1234567890abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!@#$%^*()&";
inline constexpr int kAlphabetSize = 72;
static_assert(sizeof kAlphabet - 1 == kAlphabetSize, "72 characters");

// Builds of a password of 3 characters or less before the last one is taken
// as it is.
inline constexpr int kShortPasswordBuilds = 10;

// Title of the boxes of a failed check.
inline constexpr char16_t kInputErrorTitle[] = u"Ошибка ввода пароля";

// Checks the password against the alphabet mask (bits of the record's
// alphabet field): each class of the mask must occur, and no character may
// be outside digits, Latin letters, the special characters, comma and
// circumflex. The first failure is shown in an information box when `show`
// is 1 (parent `parent`). 0 when the password passes, else -1.
int check_pass_correctness(const QString &password, int mask, int show, QWidget *parent = nullptr);

// The text of the first failed rule; empty when the password passes.
QString first_failure(const QString &password, int mask);

// A source of uniformly distributed 32-bit numbers.
using random_source = std::function<uint32_t()>;

// A password of `length` characters from the alphabet that passes the
// check. Longer than 3 characters: built until it passes. 3 or fewer: at most
// kShortPasswordBuilds builds, the last one returned even when it fails.
// The source defaults to the system's generator.
QString generate_pass(int mask, int length, const random_source &random = random_source());

} // namespace password_rules

#endif
