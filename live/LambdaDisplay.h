// The lambda display's pure part: from the raw lambda text (hundredths, 100 = lambda 1.00) to
// the two bar gauges' progress values and the two-decimal ratio text.
#pragma once

#include <QString>

#include <optional>

namespace live {

struct LambdaView {
    int upper;      // CGauge1's Progress: v from 100 up, else 100 (empty)
    int lower;      // CGauge2's Progress: v below 100, else 100 (all white)
    QString text;   // txtLambdaFloat: v / 100 with two decimals
};

// nullopt when the text is not an integer (within int range): the display then stays as it is.
std::optional<LambdaView> LambdaFromText(const QString& txtLambda);

}  // namespace live
