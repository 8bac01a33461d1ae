// The log as CSV for a spreadsheet or a script: a header row with each channel's name and unit,
// a time column in seconds, then one row per sample with the values in the units the Gauges page
// shows (RPM 6543, not the chart's 65.43). Fields are separated by commas and numbers use a full
// stop whatever the locale; quoting and line ends (CR LF) follow RFC 4180.
//
// A value is the log file's two-decimal text of the chart value with its decimal point moved by
// the channel's readout factor, so nothing the log holds is rounded away (a Map of 9.57 is 95.7);
// trailing zeros are dropped down to the decimals the Gauges page shows (95, 12.50, 1.00).
#pragma once

#include <QString>
#include <QStringList>

#include <string>

#include "logging/LogFile.h"
#include "logging/LogTimes.h"
#include "base/SaveFile.h"

namespace logging {

// The header's fields: "Time (s)" ("Nominal time (s)" for a log without recorded times), then
// "RPM (rpm)", "TPS", "Fuel (ms)", ...
QStringList CsvHeader(bool nominalTimes);

// A field as RFC 4180 wants it: quoted, with quotes doubled, when it holds a comma, a quote or
// a line break; else as it is.
QString CsvField(const QString& text);

// The CSV text of chart value y of a channel; empty for a value that is not finite.
std::string CsvValue(int channel, double y);

// Hands the header and every sample the store's series all hold to `put`, piece by piece; false
// as soon as `put` fails.
bool WriteCsv(const LogStore& store, const SampleTimes& times, const base::FilePut& put);

// Exports to a file through the program's one save routine: a failed export never costs the
// file that was there. False with a message naming the file and the reason.
bool ExportCsv(const LogStore& store, const SampleTimes& times, const QString& path, QString* error);

// The name an export is written under: ".csv" appended unless the name ends in it (any case).
QString WithCsvExtension(const QString& path);

}  // namespace logging
