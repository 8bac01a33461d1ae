#include "logging/LogLoad.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <algorithm>

#include <unistd.h>

#include "base/RegularFile.h"

namespace logging {

namespace {

QString Quoted(const QString& path) { return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"'); }

QString Count(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// The item as the tuner would see it in an editor; binary bytes are not worth showing.
QString ShownItem(const QByteArray& item)
{
    constexpr qsizetype kShown = 20;
    const bool printable = !item.isEmpty() && std::all_of(item.cbegin(), item.cend(), [](char c) {
        return c > ' ' && c < 127;
    });
    if (!printable) return {};
    return QLatin1Char('"') + QString::fromLatin1(item.left(kShown)) + (item.size() > kShown ? "...\"" : "\"");
}

QString WhereItStopped(const LogLoadResult& load)
{
    const QString item = ShownItem(load.stopItem);
    const QString what = load.stop == LogLoadResult::Stop::NotALogValue ? QStringLiteral("is not a value a log can hold")
                         : load.stop == LogLoadResult::Stop::TooLong
                             ? QStringLiteral("begins an item of 256 KiB or more, too long to be a value")
                             : QStringLiteral("is not a number");
    return QStringLiteral("reading stopped at line %1, where %2 %3")
        .arg(load.stopLine)
        .arg(item.isEmpty() ? QStringLiteral("the text") : item, what);
}

std::function<qint64()> availableForTest;

}  // namespace

qint64 AvailableMemory()
{
    if (availableForTest) return availableForTest();
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (!line.startsWith("MemAvailable:")) continue;
        bool ok = false;
        const qint64 kb = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
        return ok ? kb * 1024 : -1;
    }
    return -1;
}

void SetAvailableMemoryForTest(std::function<qint64()> available) { availableForTest = std::move(available); }

LogMemoryEstimate EstimateLogMemory(const QString& path, int seriesCount)
{
    LogMemoryEstimate estimate;
    QString reason;
    const int fd = base::OpenRegularFile(path, &reason, &estimate.fileSize);
    if (fd < 0 || seriesCount <= 0) {
        if (fd >= 0) ::close(fd);
        return estimate;   // the load itself says why
    }
    // The numbers in the first megabyte tell the bytes a sample takes in this file.
    QByteArray head(qsizetype(std::min<qint64>(estimate.fileSize, qint64(1) << 20)), Qt::Uninitialized);
    qint64 got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, size_t(head.size() - got));
        if (n <= 0) break;
        got += n;
    }
    ::close(fd);
    qint64 items = 0;
    bool inItem = false;
    for (qint64 i = 0; i < got; ++i) {
        const char c = head[i];
        const bool space = c == ' ' || (c >= '\t' && c <= '\r');
        if (!space && !inItem) ++items;
        inItem = !space;
    }
    if (items == 0) return estimate;
    estimate.samples = qint64(double(estimate.fileSize) / double(got) * double(items) / seriesCount);
    estimate.bytes = estimate.samples * kLoadedBytesPerSample;
    estimate.available = AvailableMemory();
    return estimate;
}

QString BigLogQuestion(const QString& path, const LogMemoryEstimate& estimate)
{
    const QLocale locale = QLocale::system();
    return QStringLiteral("%1 holds about %2 samples (%3 on disk) and needs about %4 of memory once "
                          "loaded; this machine has %5 available. Loading it may make the system "
                          "swap or end the program.\n\nLoad it anyway?")
        .arg(Quoted(path), locale.toString(estimate.samples),
             locale.formattedDataSize(estimate.fileSize, 1, QLocale::DataSizeSIFormat),
             locale.formattedDataSize(estimate.bytes, 1, QLocale::DataSizeSIFormat),
             locale.formattedDataSize(estimate.available, 1, QLocale::DataSizeSIFormat));
}

QString LoadRefusalMessage(const QString& path, const LogLoadResult& load, int seriesCount)
{
    const QString kept = QStringLiteral(" The log on display was kept.");
    switch (load.refusal) {
    case LogLoadResult::Refusal::None: return {};
    case LogLoadResult::Refusal::CannotOpen:
    case LogLoadResult::Refusal::ReadFailed:
        return QStringLiteral("Could not load the log %1: %2.").arg(Quoted(path), load.reason) + kept;
    case LogLoadResult::Refusal::NoSample: break;
    }
    QString why;
    if (load.stop != LogLoadResult::Stop::End)
        why = WhereItStopped(load);
    else if (load.values > 0)
        why = QStringLiteral("it holds %1, and a sample has %2").arg(Count(load.values, "number", "numbers")).arg(seriesCount);
    else
        why = QStringLiteral("it holds no numbers at all");
    return QStringLiteral("%1 was not loaded: it holds no log sample; %2.").arg(Quoted(path), why) + kept;
}

QString LoadShortfallMessage(const QString& path, const LogLoadResult& load, int seriesCount)
{
    if (!load.StoppedEarly()) return {};
    const QString loaded = QStringLiteral("Loaded %1 from %2, not the whole file: ")
                               .arg(Count(load.samples.SampleCount(), "sample", "samples"), Quoted(path));
    QString message;
    if (load.stop != LogLoadResult::Stop::End) {
        message = loaded + WhereItStopped(load) + QStringLiteral(". The rest of the file was not loaded.");
        if (load.valuesLeftOut > 0)
            message += QStringLiteral(" The %1 before it did not make a whole sample of %2 and %3 left out.")
                           .arg(Count(load.valuesLeftOut, "value", "values"))
                           .arg(seriesCount)
                           .arg(QLatin1String(load.valuesLeftOut == 1 ? "was" : "were"));
    } else {
        message = loaded + QStringLiteral("the file ends part-way through a sample; its last %1 left out.")
                               .arg(Count(load.valuesLeftOut, "value was", "values were"));
    }
    return message + QStringLiteral("\n\nSaving this log under the same name would replace the file with what was loaded.");
}

}  // namespace logging
