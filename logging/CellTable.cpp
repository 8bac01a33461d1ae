#include "logging/CellTable.h"

#include <QDir>

#include <cmath>

#include "base/NumberFormat.h"
#include "base/SaveFile.h"
#include "logging/LogCsv.h"

namespace logging {

namespace {

constexpr int kWaterChannel = 4;
constexpr int kColdReason = 1;

double Stored(int channel, double shown) { return shown / std::pow(10.0, ReadoutShift(channel)); }

}  // namespace

ColumnStats CellTableStats(const std::array<const float*, kLogChannelCount>& columns, int count,
                           const CellTableSpec& spec, const SampleTimes* times)
{
    if (spec.axisChannel < 0 || spec.axisChannel >= kLogChannelCount || spec.valueChannel < 0 ||
        spec.valueChannel >= kLogChannelCount)
        return {};
    // The breakpoints in the units the log holds the axis channel in (RPM/100, kPa/10).
    std::vector<double> stored;
    for (double b : spec.breakpoints) stored.push_back(Stored(spec.axisChannel, b));
    ColumnStatsInput in;
    in.axis = columns[size_t(spec.axisChannel)];
    in.value = columns[size_t(spec.valueChannel)];
    in.count = count;
    in.breakpoints = stored.data();
    in.columns = int(stored.size());
    in.times = times;
    const float* water = columns[kWaterChannel];
    const double minWater = Stored(kWaterChannel, spec.minWater);
    return ComputeColumnStats(in, [&](int i) { return water && double(water[i]) < minWater ? kColdReason : 0; });
}

QStringList CellTableHeader(const CellTableSpec& spec)
{
    QString value = QLatin1String(kLogChannels[size_t(spec.valueChannel)].heading);
    const QString unit = DisplayUnit(spec.valueChannel);
    if (!unit.isEmpty()) value += QStringLiteral(" (%1)").arg(unit);
    return {QStringLiteral("Column"), NameWithUnit(spec.axisChannel), QStringLiteral("Samples"), QStringLiteral("Time (s)"),
            QStringLiteral("Mean ") + value, QStringLiteral("Min ") + value, QStringLiteral("Max ") + value};
}

std::vector<QStringList> CellTableRows(const ColumnStats& stats, const CellTableSpec& spec, bool csv)
{
    auto number = [&](double v, int decimals) {
        return csv ? QString::number(v, 'f', decimals) : base::FormatFixed(v, decimals);
    };
    auto value = [&](double v) -> QString {
        if (std::isnan(v)) return {};
        return csv ? QString::fromStdString(CsvValue(spec.valueChannel, v)) : ReadoutText(spec.valueChannel, v);
    };
    std::vector<QStringList> rows;
    for (size_t k = 0; k < stats.columns.size(); ++k) {
        const ColumnStat& c = stats.columns[k];
        const double breakpoint = k < spec.breakpoints.size() ? spec.breakpoints[k] : 0;
        rows.push_back({QString::number(k + 1), number(breakpoint, 0), QString::number(c.samples),
                        number(c.seconds, 1), value(c.mean), value(c.low), value(c.high)});
    }
    return rows;
}

bool ExportCellTable(const ColumnStats& stats, const CellTableSpec& spec, const QString& path, QString* error)
{
    QString text;
    QStringList header;
    for (const QString& h : CellTableHeader(spec)) header << CsvField(h);
    text += header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QStringList& row : CellTableRows(stats, spec, true)) {
        QStringList fields;
        for (const QString& f : row) fields << CsvField(f);
        text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    QString reason;
    if (base::SaveFile(path, text.toUtf8(), &reason)) return true;
    if (error)
        *error = QStringLiteral("Could not export the cell table to \"%1\": %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

}  // namespace logging
