// Fuel from lambda on a long log: 3,000,000 samples (about 90 hours of logging at the 108 ms
// cycle), stored as the log chart stores them. Times the analysis over "RPM Fuel" (36 columns)
// and over "MAP Fuel Compensation" (16 columns), each with every filter and the proposals, and
// the bare per-column statistics with no filter, and prints the median of eleven runs of each.
#include "bench/BenchSupport.h"
#include "logging/ColumnStats.h"
#include "logging/FuelFromLambda.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kSamples = 3000000;
constexpr int kRuns = 11;

// A drive: the engine holds a speed and throttle for a few seconds, then moves to another; it
// warms up over the first hour; now and then the throttle shuts (fuel cut) or opens (enrichment).
std::array<std::vector<float>, logging::kLogChannelCount> MadeDrive()
{
    std::array<std::vector<float>, logging::kLogChannelCount> ch;
    for (auto& c : ch) c.assign(kSamples, 0.f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 1);
    double rpm = 900, tps = 1, water = 20;
    int hold = 0;
    for (int i = 0; i < kSamples; ++i) {
        if (--hold <= 0) {
            hold = 10 + int(unit(rng) * 60);
            rpm = 800 + unit(rng) * 8000;
            tps = unit(rng) * 15;
        }
        water = std::min(90.0, water + 0.002);
        const bool cut = unit(rng) < 0.03;
        const bool enriched = unit(rng) < 0.03;
        const double lambda = cut ? 1.5 : 0.85 + 0.25 * unit(rng);
        ch[logging::kRpmChannel][size_t(i)] = float((rpm + 10 * noise(rng)) / 100);
        ch[logging::kTpsChannel][size_t(i)] = float(tps);
        ch[logging::kFuelChannel][size_t(i)] = float(cut ? 0 : 2 + tps * 0.4);
        ch[logging::kWaterChannel][size_t(i)] = float(std::round(water));
        ch[logging::kLambdaChannel][size_t(i)] = float(std::round(lambda * 100) / 10);
        ch[logging::kAccChannel][size_t(i)] = float(enriched ? 20 : 0);
        ch[logging::kMapChannel][size_t(i)] = float((30 + tps * 15) / 10);
    }
    return ch;
}

std::vector<double> Axis(int first, int step, int n)
{
    std::vector<double> b;
    for (int k = 0; k < n; ++k) b.push_back(first + step * k);
    return b;
}

}  // namespace

int main()
{
    const auto ch = MadeDrive();
    logging::LogView log;
    for (int k = 0; k < logging::kLogChannelCount; ++k) log.channel[size_t(k)] = ch[size_t(k)].data();
    log.count = kSamples;

    struct Case {
        const char* name;
        int axisChannel;
        std::vector<double> breakpoints;
        int step;
    };
    const Case cases[] = {
        {"RPM Fuel, 36 columns", logging::kRpmChannel, Axis(250, 250, 36), 1},
        {"MAP Fuel Compensation, 16 columns", logging::kMapChannel, Axis(40, 20, 16), 2},
    };
    std::printf("fuel from lambda, %d samples, median of %d runs (load %.2f)\n", kSamples, kRuns, bench::LoadAverage());
    for (const Case& c : cases) {
        logging::FuelMapCells cells;
        cells.cells.assign(c.breakpoints.size(), {100});
        cells.step = c.step;
        cells.high = 255 * c.step;
        const logging::FuelFilter filter = logging::FuelFilter::ForAxis(c.axisChannel);
        std::vector<double> times;
        int64_t counted = 0;
        size_t proposed = 0;
        for (int r = 0; r < kRuns; ++r)
            times.push_back(bench::TimeMs([&] {
                const logging::ColumnStats stats = logging::AnalyseLambda(log, c.axisChannel, c.breakpoints, filter);
                const auto proposals = logging::ProposeFuel(stats, cells, {}, {}, logging::FuelRules{});
                counted = stats.Counted();
                proposed = logging::ProposedColumns(proposals).size();
            }));
        std::printf("  %-36s analysis and proposals: median %7.1f ms (%lld samples counted, %zu columns proposed)\n",
                    c.name, bench::Median(times), static_cast<long long>(counted), proposed);
    }

    // The shared statistics alone, every sample counting: what the log's cell table pays.
    const std::vector<double> rpmAxis = Axis(250, 250, 36);
    logging::ColumnStatsInput in;
    in.axis = log.channel[logging::kRpmChannel];
    in.value = log.channel[logging::kLambdaChannel];
    in.count = kSamples;
    in.breakpoints = rpmAxis.data();
    in.columns = 36;
    std::vector<double> times;
    int64_t counted = 0;
    for (int r = 0; r < kRuns; ++r)
        times.push_back(bench::TimeMs([&] { counted = logging::ComputeColumnStats(in).Counted(); }));
    std::printf("  %-36s column statistics alone:    median %7.1f ms (%lld samples counted)\n", "RPM axis, lambda",
                bench::Median(times), static_cast<long long>(counted));
    return 0;
}
