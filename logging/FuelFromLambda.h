// Fuel from lambda: what a log says the fuel of each column of a fuel map should be. For every
// column of the map's axis (engine speed for "RPM Fuel", manifold pressure for "MAP Fuel
// Compensation") the lambda the engine ran at is averaged over the samples that can be trusted,
// and the column's value is scaled so that the mean would meet the target:
//
//     proposed = shown value x mean lambda / target lambda
//
// The ECU multiplies the injection time by the value of both maps (the RPM Fuel value is the
// fuel itself; a MAP Fuel Compensation value is a percentage, 100 = unchanged), so the fuel a
// column gives is in proportion to its shown value, and the same scaling corrects either map.
// A proposal moves a value by no more than a set step and is rounded to what the cell can hold.
//
// Which samples count: the engine warm, steady, fuelled, not enriched for acceleration, and a
// lambda reading within the sensor's range, read a set number of samples later (the sensor and
// the log lag the injection that made the exhaust). Everything is a field with its default.
#pragma once

#include <QString>

#include <cmath>
#include <optional>
#include <vector>

#include "logging/ColumnStats.h"
#include "logging/LogChannels.h"

namespace logging {

// The log channels the assistant reads (positions in the channel table).
inline constexpr int kRpmChannel = 0;
inline constexpr int kTpsChannel = 1;
inline constexpr int kFuelChannel = 2;
inline constexpr int kWaterChannel = 4;
inline constexpr int kLambdaChannel = 6;
inline constexpr int kAccChannel = 9;
inline constexpr int kMapChannel = 10;

// Why a sample did not count, in the order the checks are made (a sample is counted under the
// first that fails).
enum class LeftOut : int {
    Cold = 1,        // water below the warm threshold
    NotFuelled,      // no injection: a fuel cut on the overrun reads lean
    Enriched,        // acceleration enrichment at work
    Transient,       // the axis or the throttle moved
    LambdaRange,     // lambda outside the sensor's range (a cold sensor reads 0)
};
QString LeftOutName(LeftOut reason);

struct FuelFilter {
    double warmWaterC = 70;          // counts from this water temperature up
    int steadySamples = 3;           // samples before it (and up to the lambda reading) that must agree
    double steadyAxisChange = 125;   // in the axis unit; default: half a column (see ForAxis)
    double steadyThrottleChange = 0.5;   // throttle sites (sixteenths of the travel)
    double lambdaLow = 0.65;         // the sensor's range; outside it the reading is not trusted
    double lambdaHigh = 1.35;
    double accMax = 0;               // acceleration enrichment at most this (0: none at all)
    int lambdaDelay = 2;             // lambda is read this many samples later

    // Which checks are made. The assistant makes them all; the log's cell table lets the tuner
    // switch each off to see what it leaves out.
    bool checkWarm = true;
    bool checkSteady = true;
    bool checkFuelled = true;
    bool checkEnrichment = true;
    bool checkLambdaRange = true;
    bool delayLambda = true;         // off: lambda is read at the sample itself

    // The samples lambda is read after the sample it describes.
    int LambdaDelay() const { return delayLambda && lambdaDelay > 0 ? lambdaDelay : 0; }

    // The defaults for a map over engine speed (rpm) or manifold pressure (kPa).
    static FuelFilter ForAxis(int axisChannel);
};

struct FuelRules {
    int minSamples = 20;             // a column proposes from this many counted samples on
    double maxStepPercent = 10;      // a proposal moves a value by at most this much
    double defaultTarget = 1.00;
};

// The log's channels as the chart stores them (chart units), all of `count` samples.
struct LogView {
    std::array<const float*, kLogChannelCount> channel{};
    int count = 0;
    int from = 0;                        // analyse samples from here on
    const SampleTimes* times = nullptr;  // nullptr: nominal cycle
};

// The checks of a FuelFilter over a log's stored columns, made once per sample: why sample i does
// not count (a LeftOut), 0 when it does. Thresholds are turned into the chart's units once, so
// the per-sample work is a few float comparisons; every comparison is written so that a missing
// value (NaN) fails it. The axis channel is the one the steadiness is judged on.
class FuelSampleFilter {
public:
    FuelSampleFilter(const LogView& log, int axisChannel, const FuelFilter& filter);
    // False when a channel a switched-on check reads is missing from the log.
    bool Usable() const { return usable_; }

    int operator()(int i) const
    {
        if (checkWarm_ && !(water_[i] >= warm_)) return int(LeftOut::Cold);
        if (checkFuelled_ && !(fuel_[i] > 0)) return int(LeftOut::NotFuelled);
        if (checkEnrichment_ && !(acc_[i] <= accMax_)) return int(LeftOut::Enriched);
        if (checkSteady_) {
            // Steady from `before` samples before it until its lambda is read: a throttle blip in
            // between would be read as this sample's mixture.
            if (i - before_ < from_ || i + after_ >= count_) return int(LeftOut::Transient);
            const float a = axis_[i];
            const float t = tps_[i];
            for (int j = i - before_; j <= i + after_; ++j)
                if (!(std::fabs(axis_[j] - a) <= axisChange_) || !(std::fabs(tps_[j] - t) <= tpsChange_))
                    return int(LeftOut::Transient);
        }
        if (checkLambdaRange_) {
            if (i + after_ >= count_) return int(LeftOut::LambdaRange);   // no reading left in the log
            const float l = lambda_[i + after_];
            if (!(l >= lambdaLow_ && l <= lambdaHigh_)) return int(LeftOut::LambdaRange);
        }
        return 0;
    }

private:
    const float* axis_ = nullptr;
    const float* tps_ = nullptr;
    const float* fuel_ = nullptr;
    const float* water_ = nullptr;
    const float* lambda_ = nullptr;
    const float* acc_ = nullptr;
    bool checkWarm_, checkSteady_, checkFuelled_, checkEnrichment_, checkLambdaRange_;
    float warm_, accMax_, axisChange_, tpsChange_, lambdaLow_, lambdaHigh_;
    int before_, after_, from_, count_;
    bool usable_ = true;
};

// The lambda a log shows over a map's axis: per column, the counted samples, their time, and
// the mean, lowest, highest and spread of lambda (as a ratio, 1.00 = stoichiometric).
ColumnStats AnalyseLambda(const LogView& log, int axisChannel, const std::vector<double>& breakpoints,
                          const FuelFilter& filter);

// One column's cell as the assistant sees it.
struct FuelCell {
    std::optional<int> shown;   // the value the ECU holds; nullopt when not known
};
struct FuelMapCells {
    std::vector<FuelCell> cells;
    int step = 1;               // the cell holds multiples of this (2 for a doubled map)
    int low = 0, high = 255;    // and values in this range
};

enum class ProposalState {
    Proposed,      // a new value
    OnTarget,      // the mean is as near the target as the cell can hold
    TooFew,        // fewer counted samples than the rules ask
    Locked,        // the tuner locked the column
    Unknown,       // the ECU's value of the cell is not known (not read, or a write in doubt)
    Withdrawn,     // proposals from this log were applied already
};

struct ColumnProposal {
    int column = 0;
    ColumnStat stat;                  // lambda as a ratio
    double target = 1.0;
    std::optional<int> current;
    std::optional<int> proposed;      // only with Proposed
    double percent = 0;               // proposed against current, in percent
    ProposalState state = ProposalState::TooFew;
    QString why;                      // for the table: what the column proposes or why nothing
};

// The proposal of every column. targets and locked are per column (missing entries: the
// rules' target, unlocked).
std::vector<ColumnProposal> ProposeFuel(const ColumnStats& lambda, const FuelMapCells& map,
                                        const std::vector<double>& targets, const std::vector<bool>& locked,
                                        const FuelRules& rules);

// The value a column's proposal comes to: current x factor, held within maxStepPercent of
// current, rounded to the nearest value the cell holds (halves away from zero) and never
// beyond the step after rounding.
int ScaledWithinStep(int current, double factor, double maxStepPercent, int step, int low, int high);

// Columns with a proposal.
std::vector<int> ProposedColumns(const std::vector<ColumnProposal>& proposals);

}  // namespace logging
