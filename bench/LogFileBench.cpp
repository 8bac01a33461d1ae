// Log file speed on an eight-hour day: 300,000 samples of fourteen channels (about 27 MB).
// Times WriteLogFile (replacing the file, and in place), ReadLogFile into an in-memory store, and beside them a plain reference
// reader of the same file (the whole file read into memory, then a strtod loop), and prints the
// median of five runs of each. Optional argument: the folder to write the file into.
#include "bench/BenchSupport.h"
#include "logging/LogChannels.h"
#include "logging/LogFile.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <unistd.h>

namespace {

using bench::Median;
using bench::ReferenceRead;
using bench::TimeMs;

constexpr int kSamples = 300000;
constexpr int kRuns = 5;
constexpr int kChannels = logging::kLogChannelCount;

class MemoryStore : public logging::LogStore {
public:
    MemoryStore() : data(kChannels) {}
    int SeriesCount() const override { return kChannels; }
    int Count(int s) const override { return int(data[size_t(s)].size()); }
    double YValue(int s, int i) const override { return data[size_t(s)][size_t(i)]; }
    void Append(int s, const double* v, int n) override
    {
        data[size_t(s)].insert(data[size_t(s)].end(), v, v + n);
    }
    std::vector<std::vector<double>> data;
};

// Values as the recorder stores them: live values times the channel factors.
MemoryStore PlausibleLog()
{
    std::mt19937 rng(1);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    MemoryStore s;
    for (auto& series : s.data) series.reserve(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        const double sample[kChannels] = {
            pick(800, 9000) * 0.01, pick(0, 255) * 0.0625, pick(0, 800) * 0.03125,
            double(pick(-10, 45)),  double(pick(60, 110)), double(pick(10, 60)),
            pick(70, 130) * 0.1,    double(pick(0, 1023)), pick(120, 145) * 0.1,
            double(pick(0, 255)),   pick(20, 250) * 0.1,   pick(300, 1000) * 0.1,
            pick(0, 70) * 0.1,      pick(0, 100) * 0.1};
        for (int k = 0; k < kChannels; ++k) s.data[size_t(k)].push_back(sample[k]);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const QString path = QDir(folder).filePath(QStringLiteral("quenrix-bench.qxl"));
    const MemoryStore log = PlausibleLog();

    std::vector<double> writes, reads, parses, references;
    QString error;
    for (int r = 0; r < kRuns; ++r) {
        writes.push_back(TimeMs([&] {
            if (!logging::WriteLogFile(log, path, &error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                std::exit(1);
            }
        }));
    }
    const qint64 bytes = QFile(path).size();
    // A second hard link makes the save write in place: counted, room reserved, then written.
    const QString linked = QDir(folder).filePath(QStringLiteral("quenrix-bench-link.qxl"));
    std::vector<double> inPlace;
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(linked).constData()) == 0) {
        for (int r = 0; r < kRuns; ++r)
            inPlace.push_back(TimeMs([&] { logging::WriteLogFile(log, path, &error); }));
        QFile::remove(linked);
    }
    size_t loadedPoints = 0;
    for (int r = 0; r < kRuns; ++r) {
        MemoryStore loaded;
        reads.push_back(TimeMs([&] { logging::ReadLogFile(loaded, path, &error); }));
        loadedPoints = size_t(loaded.Count(0)) * kChannels;
    }
    for (int r = 0; r < kRuns; ++r) {
        parses.push_back(TimeMs([&] { logging::ParseLogFile(path, kChannels); }));
    }
    size_t referenceCount = 0;
    double checksum = 0;
    for (int r = 0; r < kRuns; ++r)
        references.push_back(TimeMs([&] { referenceCount = ReferenceRead(path, &checksum); }));
    QFile::remove(path);

    std::printf("log: %d samples x %d channels, file %.1f MB in %s\n", kSamples, kChannels,
                double(bytes) / 1e6, qPrintable(folder));
    std::printf("median of %d runs:\n", kRuns);
    std::printf("  WriteLogFile (incl. fsync, rename)  %8.1f ms\n", Median(writes));
    if (!inPlace.empty()) std::printf("  WriteLogFile in place (hard link)   %8.1f ms\n", Median(inPlace));
    std::printf("  ReadLogFile into a store            %8.1f ms  (%zu values)\n", Median(reads),
                loadedPoints);
    std::printf("    of which ParseLogFile             %8.1f ms\n", Median(parses));
    std::printf("  reference: read all + strtod loop   %8.1f ms  (%zu values, sum %.2f)\n",
                Median(references), referenceCount, checksum);
    return 0;
}
