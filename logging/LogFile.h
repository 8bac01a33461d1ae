// The data log file (".qxl"): plain text, one line per sample, each series' value written as
// "%.2f" followed by a tab (the last field too), lines ending in CR LF. No header, no count.
// An empty log is an empty file.
//
// Reading treats the file as one stream of numbers separated by any run of white space (so a
// sample spread over lines or joined on one line loads the same), each read as a 32-bit float
// like scanf's %f and widened to double, dealt to the series in turn. Reading stops at the first
// item that is not a number; an incomplete last sample is dropped so that every series holds
// the same number of points.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "ui/SampleColumn.h"

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
    virtual void Take(int series, ui::SampleColumn&& column);
};

// Writes the log. Rows are the points all series hold (the series are meant to be equal; the
// shortest bounds the rows so nothing past a series' end is read). The file is written to a
// temporary file beside it, flushed to disk and renamed over the old one, so a failed save
// never leaves a half-written log or destroys the previous one. On failure returns false and,
// when error is given, a message naming the file and the reason.
bool WriteLogFile(const LogStore& store, const QString& path, QString* error);

// What a load read: the complete samples, one column per series, all of the same length, held
// the way the log chart holds them, so that the chart takes them over without a copy; and where
// the reading stopped.
struct LogSamples {
    std::vector<ui::SampleColumn> series;
    // The byte offset of the first item that is not a number; -1 when the file was read to its
    // end (an incomplete last sample is dropped either way).
    int64_t stoppedAt = -1;
    int SampleCount() const { return series.empty() ? 0 : series.front().Count(); }
};

// Reads a log file for a chart of seriesCount series without touching any chart: nullopt (and a
// message naming the file and the reason) when the file cannot be opened or read, or memory
// runs out. Lets the caller keep the log on display until the file is known to be readable.
// The numbers go straight into the columns: each is sized once from the file's length (room is
// reserved, not touched) and trimmed to what the file held.
std::optional<LogSamples> ParseLogFile(const QString& path, int seriesCount, QString* error);

// Hands the samples over to the store's series, one per series.
void AppendSamples(LogStore& store, LogSamples&& samples);

// ParseLogFile then AppendSamples: appends the file's samples to the store (it does not empty
// the store). On failure the store is untouched.
bool ReadLogFile(LogStore& store, const QString& path, QString* error);

// The name a log is saved under: ".qxl" appended unless the name already ends in exactly
// ".qxl" (case-sensitive: run1.QXL becomes run1.QXL.qxl).
QString WithLogExtension(const QString& path);

}  // namespace logging
