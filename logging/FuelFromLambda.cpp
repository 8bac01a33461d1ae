#include "logging/FuelFromLambda.h"

#include <QStringList>

#include "base/NumberFormat.h"

#include <algorithm>
#include <cmath>

namespace logging {

QString LeftOutName(LeftOut reason)
{
    switch (reason) {
    case LeftOut::Cold: return QStringLiteral("cold");
    case LeftOut::NotFuelled: return QStringLiteral("not fuelled");
    case LeftOut::Enriched: return QStringLiteral("acceleration enrichment");
    case LeftOut::Transient: return QStringLiteral("transient");
    case LeftOut::LambdaRange: return QStringLiteral("lambda out of range");
    }
    return {};
}

FuelFilter FuelFilter::ForAxis(int axisChannel)
{
    FuelFilter filter;
    // Half a column of the map: 125 rpm of the 250 rpm steps, 10 kPa of the 20 kPa steps.
    filter.steadyAxisChange = axisChannel == kMapChannel ? 10 : 125;
    return filter;
}

namespace {

// A threshold in the readout's unit (rpm, kPa, lambda) as the chart holds the channel.
double ChartUnits(int channel, double value)
{
    if (channel < 0 || channel >= kLogChannelCount) return value;
    return value / double(kLogChannels[size_t(channel)].readoutFactor);
}

}  // namespace

FuelSampleFilter::FuelSampleFilter(const LogView& log, int axisChannel, const FuelFilter& filter)
    : axis_(axisChannel >= 0 && axisChannel < kLogChannelCount ? log.channel[size_t(axisChannel)] : nullptr),
      tps_(log.channel[kTpsChannel]),
      fuel_(log.channel[kFuelChannel]),
      water_(log.channel[kWaterChannel]),
      lambda_(log.channel[kLambdaChannel]),
      acc_(log.channel[kAccChannel]),
      checkWarm_(filter.checkWarm),
      checkSteady_(filter.checkSteady),
      checkFuelled_(filter.checkFuelled),
      checkEnrichment_(filter.checkEnrichment),
      checkLambdaRange_(filter.checkLambdaRange),
      warm_(float(ChartUnits(kWaterChannel, filter.warmWaterC))),
      accMax_(float(ChartUnits(kAccChannel, filter.accMax))),
      axisChange_(float(ChartUnits(axisChannel, filter.steadyAxisChange))),
      tpsChange_(float(ChartUnits(kTpsChannel, filter.steadyThrottleChange))),
      lambdaLow_(float(ChartUnits(kLambdaChannel, filter.lambdaLow))),
      lambdaHigh_(float(ChartUnits(kLambdaChannel, filter.lambdaHigh))),
      before_(std::max(0, filter.steadySamples)),
      after_(filter.LambdaDelay()),
      from_(std::max(0, log.from)),
      count_(log.count)
{
    usable_ = (!checkWarm_ || water_) && (!checkFuelled_ || fuel_) && (!checkEnrichment_ || acc_) &&
              (!checkSteady_ || (axis_ && tps_)) && (!checkLambdaRange_ || lambda_);
}

ColumnStats AnalyseLambda(const LogView& log, int axisChannel, const std::vector<double>& breakpoints,
                          const FuelFilter& filter)
{
    const float* axis = log.channel[size_t(axisChannel)];
    const float* lambda = log.channel[kLambdaChannel];

    std::vector<double> chartBreakpoints(breakpoints.size());
    for (size_t k = 0; k < breakpoints.size(); ++k) chartBreakpoints[k] = ChartUnits(axisChannel, breakpoints[k]);

    ColumnStatsInput in;
    in.axis = axis;
    in.value = lambda;
    in.count = log.count;
    in.from = log.from;
    in.breakpoints = chartBreakpoints.data();
    in.columns = int(chartBreakpoints.size());
    in.valueDelay = filter.LambdaDelay();
    in.times = log.times;

    const FuelSampleFilter check(log, axisChannel, filter);
    if (!check.Usable() || !axis || !lambda) {
        in.count = 0;
        return ComputeColumnStats(in);
    }
    ColumnStats stats = ComputeColumnStats(in, check);

    // Lambda as a ratio from here on.
    const double factor = double(kLogChannels[kLambdaChannel].readoutFactor);
    for (ColumnStat& c : stats.columns) {
        c.mean *= factor;
        c.low *= factor;
        c.high *= factor;
        c.spread *= factor;
    }
    return stats;
}

int ScaledWithinStep(int current, double factor, double maxStepPercent, int step, int low, int high)
{
    step = std::max(1, step);
    const double cap = std::max(0.0, maxStepPercent) / 100.0;
    const double lo = current * (1.0 - cap);
    const double hi = current * (1.0 + cap);
    const double wanted = std::clamp(current * factor, std::min(lo, hi), std::max(lo, hi));
    // Nearest multiple of the step, halves away from zero.
    double rounded = std::round(wanted / step) * step;
    // Rounding may carry it past the cap: a step back towards the current value.
    if (rounded > std::max(lo, hi) + 1e-9) rounded -= step;
    if (rounded < std::min(lo, hi) - 1e-9) rounded += step;
    // What the cell can hold, and never past the current value the other way.
    int value = int(rounded);
    value = std::clamp(value, low, high);
    if ((factor >= 1 && value < current) || (factor <= 1 && value > current)) value = current;
    return value;
}

namespace {

// Numbers on screen carry the display locale's decimal separator.
QString Number(double v, int decimals) { return base::DisplayLocale().toString(v, 'f', decimals); }

// "12 of 20 samples; left out: 340 cold, 25 transient"
QString TooFewText(const ColumnStat& c, int needed)
{
    QString text = c.samples == 0 ? QStringLiteral("no samples counted")
                                  : QStringLiteral("too few samples: %1 of %2").arg(c.samples).arg(needed);
    struct Count {
        int64_t n;
        QString name;
    };
    std::vector<Count> counts;
    for (int r = int(LeftOut::Cold); r <= int(LeftOut::LambdaRange); ++r)
        if (c.leftOut[size_t(r)] > 0) counts.push_back({c.leftOut[size_t(r)], LeftOutName(LeftOut(r))});
    if (c.noValue > 0) counts.push_back({c.noValue, QStringLiteral("no lambda reading")});
    std::stable_sort(counts.begin(), counts.end(), [](const Count& a, const Count& b) { return a.n > b.n; });
    if (counts.empty()) return c.samples == 0 ? text + QStringLiteral("; the engine never ran here") : text;
    QStringList parts;
    for (const Count& k : counts) parts << QStringLiteral("%1 %2").arg(k.n).arg(k.name);
    return text + QStringLiteral("; left out: ") + parts.join(QStringLiteral(", "));
}

}  // namespace

std::vector<ColumnProposal> ProposeFuel(const ColumnStats& lambda, const FuelMapCells& map,
                                        const std::vector<double>& targets, const std::vector<bool>& locked,
                                        const FuelRules& rules)
{
    std::vector<ColumnProposal> out;
    const size_t columns = std::min(lambda.columns.size(), map.cells.size());
    out.reserve(columns);
    for (size_t k = 0; k < columns; ++k) {
        ColumnProposal p;
        p.column = int(k);
        p.stat = lambda.columns[k];
        p.target = k < targets.size() && targets[k] > 0 ? targets[k] : rules.defaultTarget;
        p.current = map.cells[k].shown;
        if (k < locked.size() && locked[k]) {
            p.state = ProposalState::Locked;
            p.why = QStringLiteral("locked");
        } else if (p.stat.samples < std::max(1, rules.minSamples)) {
            p.state = ProposalState::TooFew;
            p.why = TooFewText(p.stat, std::max(1, rules.minSamples));
        } else if (!p.current) {
            p.state = ProposalState::Unknown;
            p.why = QStringLiteral("the ECU's value is not known: read the calibration first");
        } else {
            const double factor = p.stat.mean / p.target;
            const int value = ScaledWithinStep(*p.current, factor, rules.maxStepPercent, map.step, map.low, map.high);
            if (value == *p.current) {
                p.state = ProposalState::OnTarget;
                const bool stuck = std::fabs(*p.current * (factor - 1.0)) >= map.step / 2.0;
                p.why = *p.current == 0 ? QStringLiteral("the cell holds 0: nothing to scale")
                        : stuck ? QStringLiteral("mean %1, but a step of %2 % cannot move %3 to the next value the cell holds")
                                      .arg(Number(p.stat.mean, 3), Number(rules.maxStepPercent, 1))
                                      .arg(*p.current)
                                : QStringLiteral("on target (mean %1)").arg(Number(p.stat.mean, 3));
            } else {
                p.state = ProposalState::Proposed;
                p.proposed = value;
                p.percent = 100.0 * (value - *p.current) / *p.current;
                const bool capped = std::fabs(factor - 1.0) * 100.0 > rules.maxStepPercent + 1e-9;
                p.why = QStringLiteral("%1 %2 → %3 (%4%5 %)%6")
                            .arg(p.stat.mean > p.target ? QStringLiteral("lean: more fuel,") : QStringLiteral("rich: less fuel,"))
                            .arg(*p.current)
                            .arg(value)
                            .arg(p.percent > 0 ? QStringLiteral("+") : QString())
                            .arg(Number(p.percent, 1))
                            .arg(capped ? QStringLiteral(", held to the step") : QString());
            }
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<int> ProposedColumns(const std::vector<ColumnProposal>& proposals)
{
    std::vector<int> columns;
    for (const ColumnProposal& p : proposals)
        if (p.state == ProposalState::Proposed) columns.push_back(p.column);
    return columns;
}

}  // namespace logging
