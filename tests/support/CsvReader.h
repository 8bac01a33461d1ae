// A CSV reader for tests, written from RFC 4180 alone and sharing nothing with the program's
// writer, so that a test of an export reads it as another program would.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

using CsvRows = std::vector<std::vector<std::string>>;

// Records end in CR LF; a field in double quotes may hold commas, line breaks and doubled
// quotes. Fails the running test on anything else (a bare line feed, a quote inside a plain
// field, an unterminated quote).
CsvRows ReadCsv(const std::string& text);

// A field as a spreadsheet reads a number: C locale, the whole field. Fails the running test
// when the field is anything else.
double CsvNumber(const std::string& field);

}  // namespace testsupport
