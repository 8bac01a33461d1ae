#include "logging/LogTimes.h"

#include <algorithm>
#include <limits>

#include "base/NumberFormat.h"

namespace logging {

void SampleTimes::StartRecorded()
{
    ms_.Clear();
    nominal_ = false;
}

void SampleTimes::StartNominal()
{
    ms_.Clear();
    nominal_ = true;
}

void SampleTimes::Record(int index, Clock::time_point at)
{
    if (nominal_) return;
    if (index != int(ms_.Size())) {
        StartNominal();
        return;
    }
    if (index == 0) first_ = at;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - first_).count();
    const auto clamped = std::clamp<int64_t>(ms, 0, std::numeric_limits<uint32_t>::max());
    if (!ms_.Push(uint32_t(clamped))) StartNominal();   // no memory for times: the log goes on
}

int64_t SampleTimes::Milliseconds(int index) const
{
    if (!nominal_ && index >= 0 && size_t(index) < ms_.Size()) return ms_[size_t(index)];
    return int64_t(index) * kNominalCycleMs;
}

QString FormatLogTime(int64_t ms)
{
    ms = std::max<int64_t>(ms, 0);
    const int64_t seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(base::DisplayLocale().decimalPoint())
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString SampleTimeText(const SampleTimes& times, int index)
{
    const QString text = QStringLiteral("Sample %1 at %2").arg(index).arg(FormatLogTime(times.Milliseconds(index)));
    if (!times.Nominal()) return text;
    return text + QStringLiteral(" (nominal: the file holds no times, so each sample counts as %1 ms)").arg(kNominalCycleMs);
}

QString TimeAxisLabel(const SampleTimes& times)
{
    const QString label = QStringLiteral("Time from the log's start");
    if (!times.Nominal()) return label;
    return label + QStringLiteral(" (nominal: the file holds no times, so each sample counts as %1 ms)").arg(kNominalCycleMs);
}

}  // namespace logging
