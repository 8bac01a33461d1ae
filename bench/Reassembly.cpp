// Reply reassembly throughput: a long stream of valid replies, with CR LF now and then,
// fed to the ReplyAssembler in the random pieces a serial port hands over.
#include "bench/BenchSupport.h"
#include "ecu/Protocol.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 100000;

struct Stream {
    std::string bytes;
    std::vector<int> pieces;   // sizes that add up to bytes.size()
};

Stream MakeStream(int maxPiece)
{
    std::mt19937 rng(12345);
    Stream s;
    for (int i = 0; i < kFrames; ++i) {
        const auto f = protocol::BuildFrame(static_cast<char>('a' + rng() % 8), static_cast<uint16_t>(rng()),
                                            static_cast<uint8_t>(rng()));
        s.bytes.append(f.begin(), f.end());
        if (rng() % 8 == 0) s.bytes += "\r\n";
    }
    for (size_t at = 0; at < s.bytes.size();) {
        const int n = std::min<int>(std::uniform_int_distribution<int>(1, maxPiece)(rng),
                                    static_cast<int>(s.bytes.size() - at));
        s.pieces.push_back(n);
        at += static_cast<size_t>(n);
    }
    return s;
}

// Feeds the whole stream once; returns the replies accepted.
long FeedAll(const Stream& s)
{
    protocol::ReplyAssembler assembler;
    long accepted = 0, rejected = 0;
    const std::function<void(const protocol::Reply&)> onAccepted = [&](const protocol::Reply&) { ++accepted; };
    const std::function<void()> onRejected = [&] { ++rejected; };
    const char* p = s.bytes.data();
    for (int n : s.pieces) {
        assembler.Feed(p, n, onAccepted, onRejected);
        p += n;
    }
    return rejected ? -1 : accepted;
}

}  // namespace

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>

static void BM_Reassembly(benchmark::State& state)
{
    const Stream s = MakeStream(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const long accepted = FeedAll(s);
        if (accepted != kFrames) state.SkipWithError("replies lost");
        benchmark::DoNotOptimize(accepted);
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(kFrames) * state.iterations(),
                                                    benchmark::Counter::kIsRate);
}
// Pieces of at most 10 (what the receive handler asks for) and of at most 3 (a slow line).
BENCHMARK(BM_Reassembly)->Arg(10)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();

#else

int main()
{
    for (int maxPiece : {10, 3}) {
        const Stream s = MakeStream(maxPiece);
        std::vector<double> rates;
        for (int run = 0; run < 7; ++run) {
            const auto t0 = std::chrono::steady_clock::now();
            if (FeedAll(s) != kFrames) return 1;
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            rates.push_back(kFrames / seconds);
        }
        std::printf("pieces of at most %d: median %.3g frames/s\n", maxPiece, bench::Median(rates));
    }
}
#endif
