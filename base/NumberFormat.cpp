#include "base/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string>

namespace base {

namespace {

// Set only from the window thread (and by tests); empty means "follow the system".
std::optional<QLocale>& OverrideLocale()
{
    static std::optional<QLocale> locale;
    return locale;
}

constexpr int kDigits = 18;   // what an extended-precision value yields as decimal digits

// A finite, non-negative value as decimal digits: value = 0.d1 d2 ... d18 x 10^exponent.
struct Decimal {
    char digits[kDigits];
    int count = 0;      // significant digits kept; 0 means the value is zero
    int exponent = 0;   // digits before the decimal point (may be zero or negative)
};

Decimal ToDecimal(long double magnitude)
{
    Decimal d;
    if (magnitude == 0) return d;
    // to_chars is independent of the C library's LC_NUMERIC, which Qt sets from the system.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                                   kDigits - 1);
    const char* p = buf;
    for (; p < res.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9' && d.count < kDigits) d.digits[d.count++] = *p;
    int e = 0;
    if (p < res.ptr) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, e);
    d.exponent = e + 1;
    while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;
    return d;
}

// Keeps `keep` significant digits (keep may be zero or negative: the value is then below the
// last shown position), rounding the digit string half away from zero.
void RoundTo(Decimal& d, int keep)
{
    if (d.count <= keep) return;
    if (keep < 0) { d.count = 0; return; }
    const bool up = d.digits[keep] >= '5';
    d.count = keep;
    if (!up) {
        while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;
        return;
    }
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') --i;
    if (i < 0) {   // 999.. carried into a new leading digit (or nothing was kept at all)
        d.digits[0] = '1';
        d.count = 1;
        d.exponent += 1;
        return;
    }
    d.digits[i] += 1;
    d.count = i + 1;
}

QString NonFinite(long double value)
{
    if (std::isnan(value)) return QStringLiteral("NAN");
    return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

// d.ddd E exponent, trailing zeros dropped ("1E20", "-1.5E-7").
QString ExponentText(bool negative, const Decimal& d, const QString& sep)
{
    QString s;
    if (negative) s += u'-';
    s += QLatin1Char(d.digits[0]);
    if (d.count > 1) {
        s += sep;
        s += QLatin1String(d.digits + 1, d.count - 1);
    }
    s += u'E';
    s += QString::number(d.exponent - 1);
    return s;
}

QString FixedText(long double value, int decimals, int precision, const QString& sep)
{
    if (!std::isfinite(value)) return NonFinite(value);
    decimals = std::clamp(decimals, 0, kDigits);
    precision = std::clamp(precision, 1, kDigits);
    const bool negative = std::signbit(value);
    Decimal d = ToDecimal(std::fabs(value));
    if (d.count > 0 && d.exponent > precision) {
        RoundTo(d, precision);
        return ExponentText(negative, d, sep);
    }
    if (d.count > 0) RoundTo(d, std::min(precision, d.exponent + decimals));
    if (d.count > 0 && d.exponent > precision) {   // 99999.7 at precision 5 carried over
        RoundTo(d, precision);
        return ExponentText(negative, d, sep);
    }
    auto digitAt = [&d](int pos) {   // pos counts significant digits; zeros beyond them
        return (pos >= 0 && pos < d.count) ? QLatin1Char(d.digits[pos]) : QLatin1Char('0');
    };
    QString s;
    if (negative && d.count > 0) s += u'-';
    if (d.count == 0 || d.exponent <= 0) {
        s += u'0';
    } else {
        for (int i = 0; i < d.exponent; ++i) s += digitAt(i);
    }
    if (decimals > 0) {
        s += sep;
        for (int i = 0; i < decimals; ++i) s += digitAt(d.exponent + i);
    }
    return s;
}

QString GeneralText(double value, const QString& sep)
{
    constexpr int kPrecision = 15;
    if (!std::isfinite(value)) return NonFinite(value);
    const bool negative = std::signbit(value);
    Decimal d = ToDecimal(std::fabs(static_cast<long double>(value)));
    RoundTo(d, kPrecision);
    if (d.count == 0) return QStringLiteral("0");
    if (d.exponent > kPrecision || d.exponent < -4) return ExponentText(negative, d, sep);
    QString s;
    if (negative) s += u'-';
    if (d.exponent <= 0) {
        s += u'0';
    } else {
        for (int i = 0; i < d.exponent; ++i) s += QLatin1Char(i < d.count ? d.digits[i] : '0');
    }
    if (d.count > d.exponent) {
        s += sep;
        for (int i = d.exponent; i < 0; ++i) s += u'0';
        for (int i = std::max(d.exponent, 0); i < d.count; ++i) s += QLatin1Char(d.digits[i]);
    }
    return s;
}

// strtod in the "C" locale, whatever LC_NUMERIC the application runs with.
double StrtodC(const char* text, char** end)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(text, end, c);
}

}  // namespace

QLocale DisplayLocale()
{
    const auto& o = OverrideLocale();
    return o ? *o : QLocale::system();
}

void SetDisplayLocale(const QLocale& locale) { OverrideLocale() = locale; }

void ResetDisplayLocale() { OverrideLocale().reset(); }

QString FormatInt(long long value) { return QString::number(value); }

QString FormatFixed(double value, int decimals, int precision)
{
    return FormatFixedExtended(value, decimals, precision, DisplayLocale());
}

QString FormatFixed(double value, int decimals, int precision, const QLocale& locale)
{
    return FormatFixedExtended(value, decimals, precision, locale);
}

QString FormatFixedExtended(long double value, int decimals, int precision)
{
    return FormatFixedExtended(value, decimals, precision, DisplayLocale());
}

QString FormatFixedExtended(long double value, int decimals, int precision, const QLocale& locale)
{
    return FixedText(value, decimals, precision, locale.decimalPoint());
}

QString FormatGeneral(double value) { return GeneralText(value, DisplayLocale().decimalPoint()); }

QString FormatGeneral(double value, const QLocale& locale)
{
    return GeneralText(value, locale.decimalPoint());
}

bool ParseFloat(const QString& text, double* out) { return ParseFloat(text, out, DisplayLocale()); }

bool ParseFloat(const QString& text, double* out, const QLocale& locale)
{
    const QString t = text.trimmed();
    const QString sep = locale.decimalPoint();
    // Check the shape ourselves and hand strtod only plain ASCII with a full stop: strtod alone
    // would also take hexadecimal, "inf" and "nan".
    std::string ascii;
    ascii.reserve(t.size());
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (i < n && (t[i] == u'+' || t[i] == u'-')) ascii += char(t[i++].unicode());
    int mantissaDigits = 0;
    bool seenSep = false;
    while (i < n) {
        const QChar c = t[i];
        if (c >= u'0' && c <= u'9') {
            ascii += char(c.unicode());
            ++mantissaDigits;
            ++i;
        } else if (!seenSep && !sep.isEmpty() && QStringView(t).mid(i).startsWith(sep)) {
            ascii += '.';
            seenSep = true;
            i += sep.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) ascii += char(t[i++].unicode());
        int expDigits = 0;
        while (i < n && t[i] >= u'0' && t[i] <= u'9') {
            ascii += char(t[i++].unicode());
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    char* end = nullptr;
    const double v = StrtodC(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size() || !std::isfinite(v)) return false;
    // ERANGE with a finite result is an underflow towards zero: still the number typed.
    *out = v;
    return true;
}

bool ParseInt(const QString& text, long long* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return false;
    std::string ascii;
    ascii.reserve(t.size());
    for (QChar c : t) {
        if (c.unicode() > 127) return false;
        ascii += char(c.unicode());
    }
    const char* b = ascii.data();
    const char* e = b + ascii.size();
    if (*b == '+') {   // from_chars takes only a minus sign
        ++b;
        if (b == e || *b == '-') return false;
    }
    long long v = 0;
    const auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e) return false;
    *out = v;
    return true;
}

}  // namespace base
