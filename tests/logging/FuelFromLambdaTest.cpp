// Fuel from lambda over made logs: which samples count, what each column proposes, and why a
// column proposes nothing.
#include "logging/FuelFromLambda.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using logging::ColumnProposal;
using logging::LeftOut;
using logging::ProposalState;

// A log in chart units (rpm / 100, lambda x 10, kPa / 10), built sample by sample.
struct MadeLog {
    std::array<std::vector<float>, logging::kLogChannelCount> ch;
    void Add(double rpm, double tps, double fuelMs, double waterC, double lambda, double acc, double kpa)
    {
        for (auto& c : ch) c.push_back(0);
        ch[logging::kRpmChannel].back() = float(rpm / 100);
        ch[logging::kTpsChannel].back() = float(tps);
        ch[logging::kFuelChannel].back() = float(fuelMs);
        ch[logging::kWaterChannel].back() = float(waterC);
        ch[logging::kLambdaChannel].back() = float(lambda * 10);
        ch[logging::kAccChannel].back() = float(acc);
        ch[logging::kMapChannel].back() = float(kpa / 10);
    }
    // The sensor reads the mixture `delay` samples after the injection that made it: the lambda
    // channel as logged is the mixture written so far, moved that many samples later.
    void DelayLambda(int delay)
    {
        auto& l = ch[logging::kLambdaChannel];
        for (int i = int(l.size()) - 1; i >= 0; --i) l[size_t(i)] = l[size_t(std::max(0, i - delay))];
    }
    logging::LogView View() const
    {
        logging::LogView v;
        for (int k = 0; k < logging::kLogChannelCount; ++k) v.channel[size_t(k)] = ch[size_t(k)].data();
        v.count = int(ch[0].size());
        return v;
    }
};

std::vector<double> RpmBreakpoints()
{
    std::vector<double> b;
    for (int k = 0; k < 36; ++k) b.push_back(250 + 250 * k);
    return b;
}

logging::FuelMapCells RpmFuelCells()
{
    logging::FuelMapCells cells;
    for (int k = 0; k < 36; ++k) cells.cells.push_back({int(std::lround(60 + 3.2 * k))});
    return cells;
}

TEST(FuelFromLambda, ALogLeanInColumns12To20RaisesExactlyThoseByTheCappedStep)
{
    // The engine holds each column's speed for 60 samples. Columns 12 to 16 run 10 % lean,
    // 17 to 20 15 % lean, every other column on target, each with a little symmetric noise.
    // Into the lean columns fall samples that must never count: a fuel cut on the overrun
    // (reads very lean) and acceleration enrichment (reads lean too, with the throttle moving).
    MadeLog log;
    int fuelCuts = 0, enriched = 0;
    for (int k = 0; k < 36; ++k) {
        const double rpm = 250 + 250 * k;
        const double lambda = k >= 12 && k <= 16 ? 1.10 : k >= 17 && k <= 20 ? 1.15 : 1.00;
        for (int s = 0; s < 60; ++s) {
            const double noise = (s % 2 ? 0.02 : -0.02);
            const bool lean = k >= 12 && k <= 20;
            if (lean && s == 30) {
                log.Add(rpm, 5, 0.0, 85, 1.30, 0, 60);   // overrun: no injection
                ++fuelCuts;
            } else if (lean && s == 40) {
                log.Add(rpm, 5, 3.0, 85, 0.80, 12, 60);   // enrichment: rich, and must not count either
                ++enriched;
            } else {
                log.Add(rpm, 5, 3.0, 85, lambda + noise, 0, 60);
            }
        }
    }
    log.DelayLambda(2);
    const logging::FuelFilter filter = logging::FuelFilter::ForAxis(logging::kRpmChannel);
    const logging::ColumnStats stats = logging::AnalyseLambda(log.View(), logging::kRpmChannel, RpmBreakpoints(), filter);
    EXPECT_EQ(stats.leftOut[size_t(LeftOut::NotFuelled)], fuelCuts);
    EXPECT_EQ(stats.leftOut[size_t(LeftOut::Enriched)], enriched);
    EXPECT_EQ(stats.leftOut[size_t(LeftOut::Cold)], 0);
    // Each column's mean is its mixture: the noise all but cancels, and neither the overrun's
    // lean reading nor the enrichment's rich one got in.
    EXPECT_NEAR(stats.columns[12].mean, 1.10, 2e-3);
    EXPECT_NEAR(stats.columns[20].mean, 1.15, 2e-3);
    EXPECT_NEAR(stats.columns[3].mean, 1.00, 2e-3);
    EXPECT_NEAR(stats.columns[12].high, 1.12, 1e-6);
    EXPECT_NEAR(stats.columns[12].low, 1.08, 1e-6);
    EXPECT_NEAR(stats.columns[3].spread, 0.02, 0.001);
    EXPECT_GE(stats.columns[3].samples, 20);

    std::vector<bool> locked(36, false);
    locked[35] = true;   // never proposed, whatever the log says
    const logging::FuelMapCells cells = RpmFuelCells();
    const std::vector<ColumnProposal> proposals =
        logging::ProposeFuel(stats, cells, std::vector<double>(36, 1.00), locked, logging::FuelRules{});
    ASSERT_EQ(proposals.size(), 36u);
    for (int k = 0; k < 36; ++k) {
        const ColumnProposal& p = proposals[size_t(k)];
        const int current = *cells.cells[size_t(k)].shown;
        if (k >= 12 && k <= 20) {
            // Raised by the step of 10 % at most (held there for the 15 % columns), rounded to a
            // whole value without passing the step: floor(current x 11 / 10).
            ASSERT_EQ(p.state, ProposalState::Proposed) << "column " << k << ": " << p.why.toStdString();
            EXPECT_EQ(*p.proposed, current * 11 / 10) << "column " << k;
            EXPECT_GT(p.percent, 9.0);
            EXPECT_LE(p.percent, 10.0);
        } else if (k == 35) {
            EXPECT_EQ(p.state, ProposalState::Locked);
        } else {
            EXPECT_EQ(p.state, ProposalState::OnTarget) << "column " << k << ": " << p.why.toStdString();
            EXPECT_FALSE(p.proposed);
        }
    }
    std::vector<int> expected;
    for (int k = 12; k <= 20; ++k) expected.push_back(k);
    EXPECT_EQ(logging::ProposedColumns(proposals), expected);

    // A target of 1.10 in column 12 makes its 10 % lean mixture the one wanted.
    std::vector<double> targets(36, 1.00);
    targets[12] = 1.10;
    EXPECT_EQ(logging::ProposeFuel(stats, cells, targets, locked, logging::FuelRules{})[12].state, ProposalState::OnTarget);

    // The doubled map holds even values: 15 % lean on 98 % is held to 107.8 %, whose nearest
    // even value 108 would pass the step, so 106; rich goes down the same way.
    EXPECT_EQ(logging::ScaledWithinStep(98, 1.15, 10, 2, 0, 510), 106);
    EXPECT_EQ(logging::ScaledWithinStep(100, 1.05, 10, 2, 0, 510), 106);   // 105 rounds away from zero
    EXPECT_EQ(logging::ScaledWithinStep(100, 0.80, 10, 2, 0, 510), 90);
    EXPECT_EQ(logging::ScaledWithinStep(250, 1.10, 10, 1, 0, 255), 255);   // no more than the cell holds

    // A value too small for the step to reach the next whole value says so, not "on target":
    // 15 % lean wants 4.6, the step holds it to 4.4, which rounds back to 4.
    logging::FuelMapCells small = cells;
    small.cells[20].shown = 4;
    const ColumnProposal stuck = logging::ProposeFuel(stats, small, {}, {}, logging::FuelRules{})[20];
    EXPECT_EQ(stuck.state, ProposalState::OnTarget);
    EXPECT_NE(stuck.why.indexOf("cannot move 4"), -1) << stuck.why.toStdString();
}

TEST(FuelFromLambda, ALogOfColdOrTransientSamplesProposesNothingAndSaysWhy)
{
    MadeLog log;
    // Cold: steady at 3000 rpm with the water at 40 °C and a sensor not yet reading (0) at first.
    for (int s = 0; s < 400; ++s) log.Add(3000, 5, 3.0, 40, s < 200 ? 0.0 : 1.2, 0, 60);
    // Warm but sweeping: the speed climbs 60 rpm a sample through the columns above.
    for (int s = 0; s < 150; ++s) log.Add(3500 + 60 * s, 5 + s * 0.01, 3.0, 85, 1.2, 0, 60);
    const logging::FuelFilter filter = logging::FuelFilter::ForAxis(logging::kRpmChannel);
    const logging::ColumnStats stats = logging::AnalyseLambda(log.View(), logging::kRpmChannel, RpmBreakpoints(), filter);
    EXPECT_EQ(stats.Counted(), 0);
    EXPECT_EQ(stats.leftOut[size_t(LeftOut::Cold)], 400);
    EXPECT_EQ(stats.leftOut[size_t(LeftOut::Transient)], 148);   // all but the last two, which have no lambda

    const std::vector<ColumnProposal> proposals =
        logging::ProposeFuel(stats, RpmFuelCells(), {}, {}, logging::FuelRules{});
    EXPECT_TRUE(logging::ProposedColumns(proposals).empty());
    const ColumnProposal& cold = proposals[11];   // 3000 rpm
    EXPECT_EQ(cold.state, ProposalState::TooFew);
    EXPECT_EQ(cold.why.toStdString(), "no samples counted; left out: 400 cold");
    const ColumnProposal& swept = proposals[20];
    EXPECT_EQ(swept.state, ProposalState::TooFew);
    EXPECT_NE(swept.why.indexOf("transient"), -1) << swept.why.toStdString();
    EXPECT_EQ(proposals[0].why.toStdString(), "no samples counted; the engine never ran here");

    // Warm and steady again but the lambda a sample later is out of the sensor's range, and
    // too few samples even where it is in range: the count and the reasons are given.
    MadeLog few;
    for (int s = 0; s < 30; ++s) few.Add(3000, 5, 3.0, 85, s < 20 ? 1.6 : 1.0, 0, 60);
    const logging::ColumnStats f =
        logging::AnalyseLambda(few.View(), logging::kRpmChannel, RpmBreakpoints(), filter);
    const std::vector<ColumnProposal> p = logging::ProposeFuel(f, RpmFuelCells(), {}, {}, logging::FuelRules{});
    EXPECT_EQ(p[11].state, ProposalState::TooFew);
    // Samples 0..2 lack their history, 28..29 their lambda; 3..17 read 1.6 two samples later.
    EXPECT_EQ(p[11].why.toStdString(),
              "too few samples: 10 of 20; left out: 15 lambda out of range, 3 transient, 2 no lambda reading");
}

}  // namespace
