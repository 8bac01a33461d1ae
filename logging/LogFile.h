// The data log file (".qxl"): plain text, one line per sample, each series' value written as
// "%.2f" followed by a tab (the last field too), lines ending in CR LF. No header, no count.
// An empty log is an empty file.
//
// Reading treats the file as one stream of numbers separated by any run of white space (so a
// sample spread over lines or joined on one line loads the same), each read as a 32-bit float
// like scanf's %f and kept as one, dealt to the series in turn. Reading stops at the first
// item that is not a number, or is a number no log value can be (nan, inf, beyond a float's
// range, an item of 256 KiB or more); a leading UTF-8 byte order mark is skipped; an incomplete last sample is dropped so that every series holds the same number of
// points. Only a regular file is read: a pipe or a device is refused before it can block.
#pragma once

#include <QString>
#include <QStringList>

#include "logging/LogLoad.h"
#include "base/SampleColumn.h"

namespace logging {

// The log as the chart holds it, seen through the few operations the file needs.
class LogStore {
public:
    virtual ~LogStore();
    virtual int SeriesCount() const = 0;
    virtual int Count(int series) const = 0;
    virtual double YValue(int series, int index) const = 0;
    // Appends n values to the end of a series in one step.
    virtual void Append(int series, const double* values, int n) = 0;
    // Appends a whole series as read from a file. A store that can adopt the column as its own
    // storage does so (no copy); this one hands the values to Append.
    virtual void Take(int series, base::SampleColumn&& column);
};

// Writes the log. Rows are the points all series hold (the series are meant to be equal; the
// shortest bounds the rows so nothing past a series' end is read). The save never costs the old
// file: see base/SaveFile.h. On failure returns false and, when error is given, a message naming
// the file and the reason.
bool WriteLogFile(const LogStore& store, const QString& path, QString* error);

// Saves the log under a name of its own in folder: stem.qxl, else stem-2.qxl, stem-3.qxl, ...,
// the first nobody has taken, claimed exclusively so that nothing there is replaced or followed.
// With unpredictable (a folder others may write), a random part follows the stem instead, so
// that nobody can take or plant the name beforehand. The path written; empty when it failed,
// with the message added to errors.
QString SaveLogAsNewFile(const LogStore& store, const QString& folder, const QString& stem, bool unpredictable,
                         QStringList* errors);

// Reads a log file for a chart of seriesCount series without touching any chart, so that the
// caller can keep the log on display until it knows what the file holds. The numbers go
// straight into the columns the chart will draw from: each is sized once from the file's
// length (room is reserved, not touched) and trimmed to what the file held. Memory that runs
// out refuses the file like a failed read.
LogLoadResult ParseLogFile(const QString& path, int seriesCount);
// The same, taking reportedSize (when not negative) as the size the file gave at open, as a file
// still growing or a mount that reports no size gives it. For tests.
LogLoadResult ParseLogFileAssumingSize(const QString& path, int seriesCount, qint64 reportedSize);

// Hands the samples over to the store's series, one per series.
void AppendSamples(LogStore& store, LogSamples&& samples);

// ParseLogFile then AppendSamples: appends the file's samples to the store (it does not empty
// the store). When the file is refused the store is untouched, and error (when given) receives
// the refusal's message.
bool ReadLogFile(LogStore& store, const QString& path, QString* error);

// The name a log is saved under: ".qxl" appended unless the name already ends in exactly
// ".qxl" (case-sensitive: run1.QXL becomes run1.QXL.qxl).
QString WithLogExtension(const QString& path);

}  // namespace logging
