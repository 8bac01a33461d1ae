#include "tests/support/CsvReader.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>

namespace testsupport {

CsvRows ReadCsv(const std::string& text)
{
    CsvRows rows(1, std::vector<std::string>(1));
    size_t i = 0;
    bool startOfField = true;
    while (i < text.size()) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (startOfField && c == '"') {
            for (++i;; ++i) {
                EXPECT_LT(i, text.size()) << "unterminated quote";
                if (i >= text.size()) return rows;
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    field += text[i];
                }
            }
            startOfField = false;
            continue;
        }
        if (c == ',') {
            rows.back().emplace_back();
            startOfField = true;
            ++i;
        } else if (c == '\r') {
            EXPECT_EQ(text.substr(i, 2), "\r\n") << "a record ends in CR LF";
            rows.emplace_back(1);
            startOfField = true;
            i += 2;
        } else {
            EXPECT_NE(c, '"') << "a quote inside an unquoted field";
            EXPECT_NE(c, '\n') << "a bare line feed";
            field += c;
            startOfField = false;
            ++i;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();   // after the last CR LF
    return rows;
}

double CsvNumber(const std::string& field)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    char* end = nullptr;
    const double v = strtod_l(field.c_str(), &end, c);
    EXPECT_TRUE(!field.empty() && *end == '\0') << "not a plain number: '" << field << "'";
    return v;
}

}  // namespace testsupport
