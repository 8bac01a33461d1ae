// Number pictures for chart labels, such as "#,##0.###%" or "+#,##0.###º".
#pragma once

#include <QLocale>
#include <QString>

namespace base {

// Formats value by a picture: '0' is a required digit, '#' an optional one, ',' anywhere in the
// integer part asks for thousands grouping, '.' starts the decimals (as many as there are '0'
// and '#' after it; trailing zeros are dropped down to the last '0'). Text before the first and
// after the last picture character is copied as it stands. A '+' in that leading text shows the
// sign: it stays '+' for a positive value and becomes '-' for a negative one; without a '+' a
// negative value is preceded by '-'. A value that rounds to zero shows no sign. Separators come
// from the locale; digits are always 0-9. An empty picture gives the locale's plain number.
QString FormatFloatPattern(const QString& pattern, double value, const QLocale& locale = QLocale::system());

}  // namespace base
