#include "logging/CellTable.h"

#include <QDir>

#include <cmath>

#include "base/NumberFormat.h"
#include "base/SaveFile.h"
#include "logging/LogCsv.h"

namespace logging {

namespace {

double Stored(int channel, double shown) { return shown / std::pow(10.0, ReadoutShift(channel)); }

}  // namespace

ColumnStats CellTableStats(const std::array<const float*, kLogChannelCount>& columns, int count,
                           const CellTableQuery& query, const SampleTimes* times)
{
    if (query.axisChannel < 0 || query.axisChannel >= kLogChannelCount || query.valueChannel < 0 ||
        query.valueChannel >= kLogChannelCount)
        return {};
    // The breakpoints in the units the log holds the axis channel in (RPM/100, kPa/10).
    std::vector<double> stored;
    for (double b : query.breakpoints) stored.push_back(Stored(query.axisChannel, b));
    ColumnStatsInput in;
    in.axis = columns[size_t(query.axisChannel)];
    in.value = columns[size_t(query.valueChannel)];
    in.count = count;
    in.breakpoints = stored.data();
    in.columns = int(stored.size());
    in.valueDelay = query.valueChannel == kLambdaChannel ? query.filter.LambdaDelay() : 0;
    in.times = times;
    LogView log;
    log.channel = columns;
    log.count = count;
    log.times = times;
    const FuelSampleFilter check(log, query.axisChannel, query.filter);
    if (!check.Usable()) in.count = 0;
    return ComputeColumnStats(in, check);
}

QStringList CellTableHeader(const CellTableQuery& query)
{
    QString value = QLatin1String(kLogChannels[size_t(query.valueChannel)].heading);
    const QString unit = DisplayUnit(query.valueChannel);
    if (!unit.isEmpty()) value += QStringLiteral(" (%1)").arg(unit);
    return {QStringLiteral("Column"), NameWithUnit(query.axisChannel), QStringLiteral("Samples"), QStringLiteral("Time (s)"),
            QStringLiteral("Mean ") + value, QStringLiteral("Min ") + value, QStringLiteral("Max ") + value};
}

std::vector<QStringList> CellTableRows(const ColumnStats& stats, const CellTableQuery& query, bool csv)
{
    auto number = [&](double v, int decimals) {
        return csv ? QString::number(v, 'f', decimals) : base::FormatFixed(v, decimals);
    };
    auto value = [&](double v) -> QString {
        if (std::isnan(v)) return {};
        return csv ? QString::fromStdString(CsvValue(query.valueChannel, v)) : ReadoutText(query.valueChannel, v);
    };
    std::vector<QStringList> rows;
    for (size_t k = 0; k < stats.columns.size(); ++k) {
        const ColumnStat& c = stats.columns[k];
        const double breakpoint = k < query.breakpoints.size() ? query.breakpoints[k] : 0;
        rows.push_back({QString::number(k + 1), number(breakpoint, 0), QString::number(c.samples),
                        number(c.seconds, 1), value(c.mean), value(c.low), value(c.high)});
    }
    return rows;
}

QString CellTableFilterText(const CellTableQuery& query, bool csv)
{
    auto number = [&](double v, int decimals) {
        return csv ? QString::number(v, 'f', decimals) : base::FormatFixed(v, decimals);
    };
    auto withUnit = [](int channel, const QString& value) {
        const QString unit = DisplayUnit(channel);
        return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
    };
    const FuelFilter& f = query.filter;
    QStringList parts;
    if (f.checkWarm) parts << QStringLiteral("water at least %1").arg(withUnit(kWaterChannel, number(f.warmWaterC, 0)));
    if (f.checkSteady)
        parts << QStringLiteral("steady over %1 samples (%2 within %3, %4 within %5)")
                     .arg(f.steadySamples)
                     .arg(QLatin1String(kLogChannels[size_t(query.axisChannel)].heading),
                          withUnit(query.axisChannel, number(f.steadyAxisChange, query.axisChannel == kRpmChannel ? 0 : 1)),
                          QLatin1String(kLogChannels[kTpsChannel].heading), number(f.steadyThrottleChange, 2));
    if (f.checkFuelled) parts << QStringLiteral("fuelled");
    if (f.checkEnrichment) parts << QStringLiteral("Acc at most %1").arg(number(f.accMax, 0));
    if (f.checkLambdaRange)
        parts << QStringLiteral("lambda %1 to %2").arg(number(f.lambdaLow, 2), number(f.lambdaHigh, 2));
    if (f.LambdaDelay() > 0) parts << QStringLiteral("lambda read %1 samples later").arg(f.LambdaDelay());
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral("; "));
}

QString CellTableLeftOutText(const ColumnStats& stats, const CellTableQuery& query)
{
    const FuelFilter& f = query.filter;
    const std::pair<bool, LeftOut> checks[] = {{f.checkWarm, LeftOut::Cold},
                                               {f.checkFuelled, LeftOut::NotFuelled},
                                               {f.checkEnrichment, LeftOut::Enriched},
                                               {f.checkSteady, LeftOut::Transient},
                                               {f.checkLambdaRange, LeftOut::LambdaRange}};
    int64_t inColumns = stats.noValue;
    for (int64_t n : stats.leftOut) inColumns += n;
    const int64_t counted = stats.Counted();
    QString text = QStringLiteral("Counted %1 of %2 samples").arg(counted).arg(counted + inColumns + stats.noColumn);
    QStringList parts;
    for (const auto& [on, reason] : checks)
        if (on) parts << QStringLiteral("%1 %2").arg(stats.leftOut[size_t(reason)]).arg(LeftOutName(reason));
    if (stats.noValue > 0) parts << QStringLiteral("%1 without a value").arg(stats.noValue);
    if (stats.noColumn > 0) parts << QStringLiteral("%1 in no column").arg(stats.noColumn);
    if (!parts.isEmpty()) text += QStringLiteral("; left out: ") + parts.join(QStringLiteral(", "));
    return text;
}

bool ExportCellTable(const ColumnStats& stats, const CellTableQuery& query, const QString& path, QString* error)
{
    // The checks first, so that a table read later says which samples it stands for.
    QString text = CsvField(QStringLiteral("Filters: ") + CellTableFilterText(query, true)) + QStringLiteral("\r\n");
    QStringList header;
    for (const QString& h : CellTableHeader(query)) header << CsvField(h);
    text += header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QStringList& row : CellTableRows(stats, query, true)) {
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
