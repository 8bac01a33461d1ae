#include "logging/LogViewer.h"

#include <algorithm>
#include <cstdlib>

#include "base/NumberFormat.h"
#include "ui/LogChart.h"

namespace logging {

void AddLogSeries(LogChart& chart)
{
    for (const LogChannel& c : kLogChannels) {
        const int k = chart.AddSeries(QString::fromLatin1(c.seriesTitle), QColor::fromRgb(c.colour), c.penWidth);
        chart.graph(k)->setObjectName(QLatin1String(c.seriesName));
        chart.SetSeriesVisible(k, c.initiallyVisible);
        chart.SetSeriesAxis(k, NameWithUnit(k), ReadoutShift(k));
    }
}

int ChartLogStore::SeriesCount() const { return chart_.SeriesCount(); }

int ChartLogStore::Count(int series) const { return chart_.Count(series); }

double ChartLogStore::YValue(int series, int index) const { return chart_.YValue(series, index); }

void ChartLogStore::Append(int series, const double* values, int n)
{
    chart_.AppendBulk(series, values, n);
}

void ChartLogStore::Take(int series, base::SampleColumn&& column)
{
    if (chart_.Count(series) == 0)
        chart_.TakeColumn(series, std::move(column));
    else
        LogStore::Take(series, std::move(column));
}

int SampleCount(const LogChart& chart)
{
    const int series = chart.SeriesCount();
    if (series == 0) return 0;
    int count = chart.Count(0);
    for (int k = 1; k < series; ++k) count = std::min(count, chart.Count(k));
    return count;
}

void ClearLog(LogChart& chart)
{
    for (int k = 0; k < chart.SeriesCount(); ++k) chart.ClearSeries(k);
}

bool AppendSample(LogChart& chart, const std::array<QString, kLogChannelCount>& texts)
{
    // Refused by SampleFromTexts too: a value beyond a 32-bit float's range (1e39 typed into a
    // box), which the chart would hold as infinity and no log file could carry back.
    const auto sample = SampleFromTexts(texts);
    if (!sample) return false;
    for (int k = 0; k < kLogChannelCount; ++k) chart.AppendY(k, (*sample)[size_t(k)]);
    return true;
}

std::optional<std::array<QString, kLogChannelCount>> Readout(const LogChart& chart, int index)
{
    if (index < 0 || index >= SampleCount(chart)) return std::nullopt;
    std::array<QString, kLogChannelCount> row;
    for (int k = 0; k < kLogChannelCount; ++k) row[size_t(k)] = ReadoutText(k, chart.YValue(k, index));
    return row;
}

namespace {

QString ValueAtText(int channel, double y, int64_t ms, int index)
{
    QString value = ReadoutText(channel, y);
    const QString unit = DisplayUnit(channel);
    if (!unit.isEmpty()) value += (unit.startsWith(QChar(0xb0)) && unit.size() == 1 ? QString() : QStringLiteral(" ")) + unit;
    return QStringLiteral("%1 %2 at %3 (sample %4)")
        .arg(QLatin1String(kLogChannels[channel].heading), value, FormatLogTime(ms))
        .arg(index);
}

QString Seconds(int samples)
{
    return base::FormatFixed(double(samples) * kNominalCycleMs / 1000.0, 3, 15) + QStringLiteral(" s");
}

}  // namespace

QString HoverText(const LogChart& chart, int channel, int index, const SampleTimes& times)
{
    if (channel < 0 || channel >= kLogChannelCount || index < 0 || index >= SampleCount(chart)) return {};
    return ValueAtText(channel, chart.YValue(channel, index), times.Milliseconds(index), index);
}

QString SecondHoverText(const LogChart& chart, int channel, int index)
{
    if (channel < 0 || channel >= kLogChannelCount || index < 0 || index >= chart.SecondCount()) return {};
    return QStringLiteral("Second log: ") + ValueAtText(channel, chart.SecondValue(channel, index), index * kNominalCycleMs, index);
}

QString SecondLogCaption(const QString& name, int shift, int64_t startMs, int picked)
{
    QString text = QStringLiteral("Second log (lighter, dashed): ") + name;
    if (shift == 0)
        text += QStringLiteral(", aligned at the starts");
    else if (shift > 0)
        text += QStringLiteral(", its start at %1 of the first").arg(FormatLogTime(startMs));
    else
        text += QStringLiteral(", its start %1 before the first's").arg(Seconds(-shift));
    if (picked >= 0) text += QStringLiteral("; picked its sample %1 at %2").arg(picked).arg(FormatLogTime(picked * kNominalCycleMs));
    return text;
}

StopSlider SliderAfterStop(int samples)
{
    const int maximum = std::max(samples - 1, 0);
    return {maximum, maximum > 1};
}

LoadSlider SliderAfterLoad(int samples, int position)
{
    const int maximum = std::max(samples - 1, 0);
    return {maximum, std::clamp(position, 0, maximum)};
}

QString DiscardQuestion(int samples)
{
    return QStringLiteral("Discard the unsaved log of %1 %2?")
        .arg(samples)
        .arg(samples == 1 ? QStringLiteral("sample") : QStringLiteral("samples"));
}

int SliderTickInterval(int maximum, int pixels, int minGap)
{
    const int fit = std::max(pixels / std::max(minGap, 1), 1);   // ticks the width holds
    if (maximum <= fit) return 1;
    for (long long decade = 1;; decade *= 10) {
        for (int step : {1, 2, 5}) {
            const long long interval = decade * step;
            if (maximum / interval <= fit) return int(std::min<long long>(interval, maximum));
        }
    }
}

}  // namespace logging
