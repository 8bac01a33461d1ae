// Number texts as the screen shows them and reads them back.
//
// Every number a person sees uses the display locale's decimal separator (the system's unless a
// test sets another); nothing else of the locale is used: no grouping, an ASCII minus sign.
// Files never go through here: log files always use a full stop.
//
// Rounding of the fixed formats. The value is first turned into its 18 leading significant
// decimal digits (correctly rounded), the way an extended-precision number is turned into
// decimal digits; that digit string is then rounded half away from zero at the last digit
// shown. So 0.125 (exact in binary) shows as 0.13, while the double nearest 2.675, which is
// 2.67499999999999982236..., shows as 2.67: its digit string already lies below the half.
#pragma once

#include <QLocale>
#include <QString>

namespace base {

// The locale whose decimal separator the formats below use. Defaults to QLocale::system().
// Set it from the window thread only (tests set it to pin a separator).
QLocale DisplayLocale();
void SetDisplayLocale(const QLocale& locale);
void ResetDisplayLocale();   // back to following QLocale::system()

// Decimal integer with a leading "-" when negative, no grouping.
QString FormatInt(long long value);

// Fixed notation with exactly `decimals` decimals, at most `precision` significant digits
// (digits beyond it show as zeros), rounded half away from zero. A value with more integer
// digits than `precision` falls back to the exponent form of FormatGeneral (for instance
// "1.2346E8" for 123456789 with precision 5). A value that rounds to zero shows no minus sign.
QString FormatFixed(double value, int decimals, int precision = 7);
QString FormatFixed(double value, int decimals, int precision, const QLocale& locale);
// The same for a product formed in extended precision, without rounding it to double first.
QString FormatFixedExtended(long double value, int decimals, int precision = 7);
QString FormatFixedExtended(long double value, int decimals, int precision, const QLocale& locale);

// The shortest text that shows the value to 15 significant digits: no trailing zeros and no
// trailing separator (20 * 0.1 shows as "2", 25 * 0.1 as "2.5"). Exponent form ("1E20",
// "1.5E-7") when the value has more than 15 integer digits or lies below 0.00001.
QString FormatGeneral(double value);
QString FormatGeneral(double value, const QLocale& locale);

// Reads a decimal number written with the display locale's separator: optional sign, digits
// with at most one separator, optional exponent (e or E, optional sign, digits). Surrounding
// white space is ignored; anything else (grouping, a full stop where the separator is a comma,
// "inf", "nan", a value beyond the range of a double) makes it fail. *out is set only on success.
bool ParseFloat(const QString& text, double* out);
bool ParseFloat(const QString& text, double* out, const QLocale& locale);

// Reads a decimal integer: optional sign and digits, surrounding white space ignored, within the
// range of long long. *out is set only on success.
bool ParseInt(const QString& text, long long* out);

}  // namespace base
