// What loading a log file came to: the samples read, whether and where reading stopped before
// the end of the file, or why the file was refused. Any reader of the format fills it the same
// way; the window turns it into its messages.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "base/SampleColumn.h"

namespace logging {

// Complete samples read from a file, one column per series, all of the same length, held the
// way the log chart holds them, so that the chart takes them over without a copy.
struct LogSamples {
    std::vector<base::SampleColumn> series;
    int SampleCount() const { return series.empty() ? 0 : series.front().Count(); }
};

struct LogLoadResult {
    enum class Refusal {
        None,
        CannotOpen,   // missing, unreadable, or no regular file
        ReadFailed,   // opened, but reading failed part-way
        NoSample,     // holds something, but not one whole sample: not a log, so the log on
                      // display must not be replaced by nothing
    };
    enum class Stop {
        End,            // read to the end of the file
        NotANumber,     // an item that is no number ("abc", a decimal comma, binary data)
        NotALogValue,   // a number no log value can be: nan, inf, beyond a float's range
    };

    Refusal refusal = Refusal::None;
    QString reason;           // CannotOpen, ReadFailed: the system's words or ours
    LogSamples samples;       // empty when refused
    Stop stop = Stop::End;
    qint64 stopLine = 0;      // 1-based line of the item reading stopped at
    QByteArray stopItem;      // that item's first bytes
    qint64 values = 0;        // numbers read before the end or the stop
    int valuesLeftOut = 0;    // of them, those after the last whole sample

    bool Refused() const { return refusal != Refusal::None; }
    // Part of the file did not load: the tuner must be told, or a later save would replace the
    // whole file with the part.
    bool StoppedEarly() const { return stop != Stop::End || valuesLeftOut > 0; }
};

// The message for a refused load, naming the file and the reason; the log on display stays.
QString LoadRefusalMessage(const QString& path, const LogLoadResult& load, int seriesCount);
// The message for a load that stopped early: how many samples loaded and where it stopped.
QString LoadShortfallMessage(const QString& path, const LogLoadResult& load, int seriesCount);

}  // namespace logging
