// What a restore point costs the window thread: keeping one (the first edit of a burst waits for
// it) in a folder that already holds the 200 points pruning keeps, and listing them for the
// "Restore points" command. Prints the medians of 25 runs. Optional argument: the folder to work
// in (the cost is mostly the disk's: three files are synced to it per point).
#include "bench/BenchSupport.h"
#include "calibration/RestorePoints.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    const QString parent = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QTemporaryDir dir(QDir(parent).filePath(QStringLiteral("quenrix-points-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(parent));
        return 1;
    }
    calibration::RestorePoints points(dir.path());
    calibration::EepromImage image{};
    const QDateTime start = QDateTime::currentDateTime().addDays(-10);
    constexpr int kFill = calibration::RestorePoints::KeepNewest;
    for (int i = 0; i < kFill; ++i) {
        image[size_t(i % calibration::ImageSize)] = uint8_t(i);
        if (!points.Keep(image, QStringLiteral("notes"), QStringLiteral("before edits"), {}, start.addSecs(i)).ok) {
            std::fprintf(stderr, "cannot keep a point in %s\n", qPrintable(dir.path()));
            return 1;
        }
    }
    std::vector<double> keep, list;
    for (int run = 0; run < 25; ++run) {
        image[size_t(run)] = uint8_t(image[size_t(run)] + 1);
        keep.push_back(bench::TimeMs([&] {
            points.Keep(image, QStringLiteral("notes"), QStringLiteral("before edits"), {}, start.addSecs(kFill + run));
        }));
        list.push_back(bench::TimeMs([&] { (void)points.List(); }));
    }
    std::printf("restore points in %s, %d kept before\n", qPrintable(parent), kFill);
    std::printf("keep one point (pruning included): median %.2f ms\n", bench::Median(keep));
    std::printf("list all points:                   median %.2f ms\n", bench::Median(list));
    return 0;
}
