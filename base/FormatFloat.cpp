#include "base/FormatFloat.h"

#include <cmath>

namespace base {

namespace {

bool IsPictureChar(QChar c)
{
    return c == u'#' || c == u'0' || c == u'.' || c == u',';
}

bool IsDigitPlace(QChar c)
{
    return c == u'#' || c == u'0';
}

bool HasNonZeroDigit(const QString& digits)
{
    for (QChar c : digits)
        if (c >= u'1' && c <= u'9') return true;
    return false;
}

}  // namespace

QString FormatFloatPattern(const QString& pattern, double value, const QLocale& locale)
{
    if (pattern.isEmpty() || !std::isfinite(value)) return locale.toString(value, 'g', 15);

    qsizetype start = 0;
    while (start < pattern.size() && !IsPictureChar(pattern[start])) ++start;
    qsizetype end = start;
    while (end < pattern.size() && IsPictureChar(pattern[end])) ++end;
    QString prefix = pattern.left(start);
    const QString picture = pattern.mid(start, end - start);
    const QString suffix = pattern.mid(end);

    const qsizetype point = picture.indexOf(u'.');
    const QString integerPicture = point < 0 ? picture : picture.left(point);
    const QString decimalPicture = point < 0 ? QString() : picture.mid(point + 1);

    // Required integer digits: every digit place from the first '0' on ("#,##0" needs one).
    int minInteger = 0;
    bool required = false;
    for (QChar c : integerPicture) {
        if (c == u'0') required = true;
        if (required && IsDigitPlace(c)) ++minInteger;
    }
    const bool grouping = integerPicture.contains(u',');
    int maxDecimals = 0;
    int minDecimals = 0;
    for (QChar c : decimalPicture) {
        if (!IsDigitPlace(c)) continue;
        ++maxDecimals;
        if (c == u'0') minDecimals = maxDecimals;
    }

    // Round once, on the absolute value, so the sign can be judged on what is shown.
    const QString digits = QString::number(std::fabs(value), 'f', maxDecimals);
    const qsizetype dot = digits.indexOf(u'.');
    QString integer = dot < 0 ? digits : digits.left(dot);
    QString decimals = dot < 0 ? QString() : digits.mid(dot + 1);
    while (decimals.size() > minDecimals && decimals.endsWith(u'0')) decimals.chop(1);
    const bool zero = !HasNonZeroDigit(integer) && !HasNonZeroDigit(decimals);

    qsizetype leading = 0;
    while (leading < integer.size() && integer[leading] == u'0') ++leading;
    integer.remove(0, leading);
    if (integer.size() < minInteger) integer.prepend(QString(minInteger - integer.size(), u'0'));
    if (grouping) {
        const QString group = locale.groupSeparator();
        for (qsizetype i = integer.size() - 3; i > 0; i -= 3) integer.insert(i, group);
    }

    QString number = integer;
    if (!decimals.isEmpty()) number += locale.decimalPoint() + decimals;

    if (value < 0 && !zero) {
        const qsizetype plus = prefix.indexOf(u'+');
        if (plus >= 0)
            prefix[plus] = u'-';
        else
            prefix.prepend(u'-');
    }
    return prefix + number + suffix;
}

}  // namespace base
