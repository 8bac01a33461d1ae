// The log by map column, as a table: for each column of a map's axis the samples the engine
// spent there, the time, and the mean, lowest and highest of one channel over them. The window
// supplies the map's breakpoints and which channel its axis is; this turns the statistics into
// the table's texts and its CSV.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "logging/ColumnStats.h"
#include "logging/LogChannels.h"

namespace logging {

struct CellTableSpec {
    int axisChannel = 0;                 // the log channel the map's axis is laid out over
    std::vector<double> breakpoints;     // the map's breakpoints, in the units the screen shows
    int valueChannel = 6;                // the channel described (lambda unless chosen)
    double minWater = -1000;             // samples with a colder engine (°C) do not count
};

// The statistics of a log's columns (`columns[k]` is channel k's stored values, `count` samples
// in each) over the spec's map; samples with a colder engine than minWater are left out with
// reason 1.
ColumnStats CellTableStats(const std::array<const float*, kLogChannelCount>& columns, int count,
                           const CellTableSpec& spec, const SampleTimes* times);

// The table's heading: "Column", the axis ("RPM (rpm)"), "Samples", "Time (s)", "Mean", "Min",
// "Max", the last three with the value channel's name and unit ("Mean Lambda").
QStringList CellTableHeader(const CellTableSpec& spec);

// One row per column: its number from 1, its breakpoint, the samples, the seconds with one
// decimal, and the mean, lowest and highest as the readout writes the channel (empty with no
// sample). `csv`: numbers with a full stop, as the CSV export writes them.
std::vector<QStringList> CellTableRows(const ColumnStats& stats, const CellTableSpec& spec, bool csv);

// The table as CSV through the program's one save routine. False with a message.
bool ExportCellTable(const ColumnStats& stats, const CellTableSpec& spec, const QString& path, QString* error);

}  // namespace logging
