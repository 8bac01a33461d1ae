// What loading a log file came to: the samples read, whether and where reading stopped before
// the end of the file, or why the file was refused. Any reader of the format fills it the same
// way; the window turns it into its messages.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
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
        TooLong,        // an item of 256 KiB or more: no number a log holds
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

// What a log file will take in memory once loaded, told before loading it: a log of a day's
// driving runs to gigabytes, and a load that does not fit would push the machine into swap or
// get the program killed, with an unsaved recording in it.
struct LogMemoryEstimate {
    qint64 fileSize = 0;
    qint64 samples = 0;     // estimated from the file's first megabyte
    qint64 bytes = 0;       // what the samples take in memory
    qint64 available = -1;  // what the machine has available; -1 unknown
    bool TooBig() const { return available >= 0 && bytes > available; }
};
// The memory a loaded sample takes: fourteen 32-bit values and the chart's summaries of them.
inline constexpr qint64 kLoadedBytesPerSample = 58;
LogMemoryEstimate EstimateLogMemory(const QString& path, int seriesCount);
// The question asked when the estimate exceeds what is available, naming both.
QString BigLogQuestion(const QString& path, const LogMemoryEstimate& estimate);
// The memory the system has available for new work (MemAvailable), in bytes; -1 unknown.
qint64 AvailableMemory();
// For tests: stands in for AvailableMemory (an empty function: the real one).
void SetAvailableMemoryForTest(std::function<qint64()> available);

// The message for a refused load, naming the file and the reason; the log on display stays.
QString LoadRefusalMessage(const QString& path, const LogLoadResult& load, int seriesCount);
// The message for a load that stopped early: how many samples loaded and where it stopped.
QString LoadShortfallMessage(const QString& path, const LogLoadResult& load, int seriesCount);

}  // namespace logging
