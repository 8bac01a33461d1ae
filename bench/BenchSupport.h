// What the benchmarks share: waits that keep the program's event loop running, the median and
// percentiles of a run of timings, the plain strtod reader the log benchmarks compare against,
// and a temporary folder with the simulated ECU's link COM1 in it. Each bench is a program of
// its own, so all of it is inline here.
#pragma once

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include "calibration/RestorePoints.h"
#include "tools/ecu-sim/EcuSim.h"

namespace bench {

// Runs the program's event loop until cond holds or ms have passed; false on timeout. The
// condition is looked at every millisecond, so a wait ends close to the moment it may.
inline bool RunUntil(const std::function<bool()>& cond, int ms)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (cond()) loop.quit();
    });
    check.start(1);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!cond()) loop.exec();
    return cond();
}

// The machine's load, the one-minute average, printed beside timings so that a figure taken on
// a busy machine can be told from one taken on an idle one; 0 where it cannot be read.
inline double LoadAverage()
{
    double load = 0;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

// Runs the program's event loop for ms.
inline void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The value below which a share p of the timings lie (p = 0.5: the median); 0 for none.
inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

inline double Median(std::vector<double> v)
{
    return Percentile(std::move(v), 0.5);
}

// CPU time of the whole process so far, user and system, all threads, in seconds.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

// Wall time of f in milliseconds.
inline double TimeMs(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The reference reader for log files: the whole file into memory, then one strtod after
// another. Returns how many values it read and leaves their sum in *sum, so that the work
// cannot be left out and the count can be checked against the program's own reader.
inline size_t ReferenceRead(const QString& path, double* sum)
{
    *sum = 0;
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    std::vector<char> buf(size_t(size) + 1);
    const size_t got = std::fread(buf.data(), 1, size_t(size), f);
    std::fclose(f);
    buf[got] = '\0';
    const char* p = buf.data();
    size_t count = 0;
    double total = 0;
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) break;
        total += v;
        ++count;
        p = end;
    }
    *sum = total;
    return count;
}

// Holds the simulated engine still: every live reply the same, to the bit, so that any repaint
// left is one that was not needed.
inline void HoldEngineStill(sim::EcuSim& ecu)
{
    ecu.FreezeEngine(true);
    const std::pair<char, sim::LiveFields> still[] = {
        {'A', {900, 112}}, {'B', {35, 0}},   {'C', {80, 0}},    {'D', {52, 110}},
        {'E', {136, 0}},   {'F', {25, 100}}, {'G', {120, 100}}, {'H', {350, 30}},
    };
    for (const auto& [letter, fields] : still) ecu.SetLiveReply(letter, fields.address, fields.data);
}

// A fresh temporary folder, made the working folder, with the simulated ECU started on the
// link COM1 in it: the window finds the ECU there as it finds a user's port. baud 0 leaves the
// line unpaced. When started is false, the reason has been printed on stderr. The folder is
// made before the ECU and removed after it has stopped.
struct SimFolder {
    explicit SimFolder(uint32_t baud = 0, const QString& parent = QDir::tempPath())
        : SimFolder(WithBaud(baud), parent)
    {
    }
    // Any options of the simulated ECU (a lossy line, a slow reader); its link is made here.
    explicit SimFolder(sim::SimOptions options, const QString& parent = QDir::tempPath())
        : dir(QDir(parent).filePath(QStringLiteral("quenrix-bench-XXXXXX"))), ecu(Linked(dir, options))
    {
        if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
            std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(parent));
            return;
        }
        // The simulator's calibrations are kept as restore points here, not in the user's folder.
        calibration::SetRestorePointFolder(dir.filePath(QStringLiteral("restore points")));
        std::string error;
        started = ecu.Start(&error);
        if (!started) std::fprintf(stderr, "simulated ECU: %s\n", error.c_str());
    }

    static sim::SimOptions WithBaud(uint32_t baud)
    {
        sim::SimOptions options;
        options.baud = baud;
        return options;
    }
    static sim::SimOptions Linked(const QTemporaryDir& folder, sim::SimOptions options)
    {
        options.link = folder.filePath(QStringLiteral("COM1")).toStdString();
        return options;
    }

    QTemporaryDir dir;
    sim::EcuSim ecu;
    bool started = false;
};

}  // namespace bench
