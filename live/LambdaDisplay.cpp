#include "live/LambdaDisplay.h"

#include "base/NumberFormat.h"

#include <limits>

namespace live {

std::optional<LambdaView> LambdaFromText(const QString& txtLambda)
{
    long long raw = 0;
    if (!base::ParseInt(txtLambda, &raw)) return std::nullopt;
    if (raw < std::numeric_limits<int>::min() || raw > std::numeric_limits<int>::max())
        return std::nullopt;
    const int v = static_cast<int>(raw);
    // Lambda 1.00 belongs to the upper gauge.
    LambdaView view{v >= 100 ? v : 100, v >= 100 ? 100 : v, {}};
    // Hundredths by a single-precision multiplication; for 0..255 the two decimals are exact.
    const float ratio = static_cast<float>(v) * 0.01f;
    view.text = base::FormatFixed(ratio, 2, 5);
    return view;
}

}  // namespace live
