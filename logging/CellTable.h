// The log by map column, as a table: for each column of a map's axis the samples the engine
// spent there, the time, and the mean, lowest and highest of one channel over them. The window
// supplies the map's breakpoints and which channel its axis is; this turns the statistics into
// the table's texts and its CSV.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "logging/ColumnStats.h"
#include "logging/FuelFromLambda.h"
#include "logging/LogChannels.h"

namespace logging {

struct CellTableQuery {
    int axisChannel = 0;                 // the log channel the map's axis is laid out over
    std::vector<double> breakpoints;     // the map's breakpoints, in the units the screen shows
    int valueChannel = 6;                // the channel described (lambda unless chosen)
    // Which samples count: the fuel assistant's checks, each switched on or off by the tuner. The
    // steadiness is judged on the axis channel; the lambda delay moves the value read only when
    // the value is lambda (the lag is the sensor's), while the lambda range check always reads
    // lambda that many samples later.
    FuelFilter filter;
};

// The statistics of a log's columns (`columns[k]` is channel k's stored values, `count` samples
// in each) over the chosen map; samples the filter leaves out are counted by their LeftOut.
ColumnStats CellTableStats(const std::array<const float*, kLogChannelCount>& columns, int count,
                           const CellTableQuery& query, const SampleTimes* times);

// The table's heading: "Column", the axis ("RPM (rpm)"), "Samples", "Time (s)", "Mean", "Min",
// "Max", the last three with the value channel's name and unit ("Mean Lambda").
QStringList CellTableHeader(const CellTableQuery& query);

// One row per column: its number from 1, its breakpoint, the samples, the seconds with one
// decimal, and the mean, lowest and highest as the readout writes the channel (empty with no
// sample). `csv`: numbers with a full stop, as the CSV export writes them.
std::vector<QStringList> CellTableRows(const ColumnStats& stats, const CellTableQuery& query, bool csv);

// The checks switched on, as a line for the table and the export: "water at least 70 °C; steady
// over 3 samples (RPM within 125 rpm, TPS within 0.5); …", or "none". `csv`: numbers with a full stop.
QString CellTableFilterText(const CellTableQuery& query, bool csv);

// What the switched-on checks left out over all columns: "Counted 812 of 4000 samples; left out:
// 120 cold, 0 not fuelled, …" (every switched-on check named, with 0 where it left nothing out).
QString CellTableLeftOutText(const ColumnStats& stats, const CellTableQuery& query);

// The table as CSV (a first line saying the checks, then the heading and the rows) through the program's one save routine. False with a message.
bool ExportCellTable(const ColumnStats& stats, const CellTableQuery& query, const QString& path, QString* error);

}  // namespace logging
