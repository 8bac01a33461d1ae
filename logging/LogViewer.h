// The log as the window holds it: fourteen series of the log chart, nothing else. This puts the
// channel table onto a chart, lets the file code read and fill the chart, records a sample into
// it and reads one back out, and holds the rules for the replay slider.
#pragma once

#include <QString>

#include <array>
#include <optional>

#include "logging/LogChannels.h"
#include "logging/LogFile.h"
#include "logging/LogTimes.h"

class LogChart;

namespace logging {

// Adds the fourteen series in channel order with their titles, colours and widths, and hides
// the ones that start hidden; a series' objectName is its name in the channel table.
void AddLogSeries(LogChart& chart);

// The file code's view of the chart. Appends go in as one bulk append per series.
class ChartLogStore : public LogStore {
public:
    explicit ChartLogStore(LogChart& chart) : chart_(chart) {}
    int SeriesCount() const override;
    int Count(int series) const override;
    double YValue(int series, int index) const override;
    void Append(int series, const double* values, int n) override;
    // An empty series adopts the column as it is.
    void Take(int series, base::SampleColumn&& column) override;

private:
    LogChart& chart_;
};

// Samples in the log: the points every series holds (they are kept equal; the shortest counts).
int SampleCount(const LogChart& chart);

// Removes every point of every series. Visibility and zoom are left alone.
void ClearLog(LogChart& chart);

// Converts the fourteen live texts and appends one point to every series, hidden ones too.
// A sample whose texts do not all convert, or whose values a 32-bit float cannot hold, appends
// nothing, so the series stay of equal length.
bool AppendSample(LogChart& chart, const std::array<QString, kLogChannelCount>& texts);

// The readout row for sample `index`, in channel order; nullopt for an index the log lacks.
std::optional<std::array<QString, kLogChannelCount>> Readout(const LogChart& chart, int index);

// What the pointer over channel k's line at sample `index` is told: the channel, its value as
// the readout row writes it, with its unit, and when the sample was taken:
// "EGT 466 °C at 0:00:12.345 (sample 113)". Empty for an index the log lacks.
QString HoverText(const LogChart& chart, int channel, int index, const SampleTimes& times);
// The same over a line of the second log, which holds no times: "Second log: EGT 466 °C at
// 0:00:12.312 (sample 114)" at the nominal cycle.
QString SecondHoverText(const LogChart& chart, int channel, int index);
// The line naming the second log on the chart: its file, where it stands against the first (its
// sample 0 at the first log's index `shift`, which was taken `startMs` after the first log's
// start; before the first log's start the nominal cycle counts) and the sample picked in it (-1:
// none).
QString SecondLogCaption(const QString& name, int shift, int64_t startMs, int picked);

// The slider after Stop Logging: its maximum is the last sample's index (0 for an empty log),
// and it is shown only from three samples on, a shorter log is not worth scrubbing.
struct StopSlider {
    int maximum;
    bool show;
};
StopSlider SliderAfterStop(int samples);

// The slider after a load: maximum as after Stop; the position stays unless the new log is
// shorter, then it moves to the last sample.
struct LoadSlider {
    int maximum;
    int position;
};
LoadSlider SliderAfterLoad(int samples, int position);

// The question asked before a log that was never saved is thrown away: "Discard the unsaved log
// of 42 samples?".
QString DiscardQuestion(int samples);

// Positions between two ticks: one tick per position while they stand at least minGap pixels
// apart over `pixels`; beyond that a 1-2-5 step, or hours of samples paint a solid bar.
int SliderTickInterval(int maximum, int pixels, int minGap = 4);

}  // namespace logging
