#include "logging/LogLoad.h"

#include <QDir>

#include <algorithm>

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
    const QString what = load.stop == LogLoadResult::Stop::NotALogValue
                             ? QStringLiteral("is not a value a log can hold")
                             : QStringLiteral("is not a number");
    return QStringLiteral("reading stopped at line %1, where %2 %3")
        .arg(load.stopLine)
        .arg(item.isEmpty() ? QStringLiteral("the text") : item, what);
}

}  // namespace

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
