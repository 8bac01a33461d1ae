#include "logging/LogCsv.h"

#include <QDir>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "logging/LogChannels.h"

namespace logging {

namespace {

constexpr size_t kChunk = size_t(1) << 18;

// "%.2f" of y, as the log file writes it. A value that is the double nearest a two-decimal
// number (every value a log holds) comes from its integer hundredths; others from to_chars,
// which rounds the way printf does.
std::string TwoDecimals(double y)
{
    const double hundredths = std::nearbyint(y * 100);
    if (std::fabs(hundredths) < 1e15 && hundredths / 100 == y) {
        const auto n = static_cast<long long>(std::fabs(hundredths));
        std::string digits = std::to_string(n);
        if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
        digits.insert(digits.size() - 2, 1, '.');
        return (std::signbit(y) ? "-" : "") + digits;
    }
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, y, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
}

void AppendTime(std::string& out, int64_t ms)
{
    out += std::to_string(ms / 1000);
    const int rest = int(ms % 1000);
    out += '.';
    out += char('0' + rest / 100);
    out += char('0' + rest / 10 % 10);
    out += char('0' + rest % 10);
}

}  // namespace

QStringList CsvHeader(bool nominalTimes)
{
    QStringList header{nominalTimes ? QStringLiteral("Nominal time (s)") : QStringLiteral("Time (s)")};
    for (const LogChannel& c : kLogChannels) {
        QString name = QLatin1String(c.checkBoxCaption);
        if (*c.unit) name += QStringLiteral(" (%1)").arg(QLatin1String(c.unit));
        header << name;
    }
    return header;
}

QString CsvField(const QString& text)
{
    static const QString needsQuotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return needsQuotes.contains(c); })) return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

std::string CsvValue(int channel, double y)
{
    if (!std::isfinite(y) || channel < 0 || channel >= kLogChannelCount) return {};
    const std::string text = TwoDecimals(y);
    const bool negative = text[0] == '-';
    const size_t dot = text.find('.');
    std::string digits = text.substr(negative ? 1 : 0, dot - (negative ? 1 : 0)) + text.substr(dot + 1);
    // Digits before the decimal point once the factor has moved it.
    long point = long(dot) - (negative ? 1 : 0) + ReadoutShift(channel);
    if (point < 1) {
        digits.insert(0, size_t(1 - point), '0');
        point = 1;
    }
    if (size_t(point) > digits.size()) digits.append(size_t(point) - digits.size(), '0');
    std::string whole = digits.substr(0, size_t(point));
    std::string fraction = digits.substr(size_t(point));
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    const size_t keep = size_t(std::max(kLogChannels[channel].readoutDecimals, 0));
    while (fraction.size() > keep && fraction.back() == '0') fraction.pop_back();
    const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
    return (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

bool WriteCsv(const LogStore& store, const SampleTimes& times, const base::FilePut& put)
{
    const int columns = std::min(store.SeriesCount(), kLogChannelCount);
    int rows = columns > 0 ? store.Count(0) : 0;
    for (int k = 1; k < columns; ++k) rows = std::min(rows, store.Count(k));

    std::string buffer;
    buffer.reserve(kChunk + 1024);
    auto flush = [&] {
        if (!put(buffer.data(), buffer.size())) return false;
        buffer.clear();
        return true;
    };
    QStringList header = CsvHeader(times.Nominal());
    for (QString& field : header) field = CsvField(field);
    buffer += header.join(QLatin1Char(',')).toStdString() + "\r\n";
    for (int i = 0; i < rows; ++i) {
        AppendTime(buffer, times.Milliseconds(i));
        for (int k = 0; k < columns; ++k) {
            buffer += ',';
            buffer += CsvValue(k, store.YValue(k, i));
        }
        buffer += "\r\n";
        if (buffer.size() >= kChunk && !flush()) return false;
    }
    return flush();
}

bool ExportCsv(const LogStore& store, const SampleTimes& times, const QString& path, QString* error)
{
    QString reason;
    if (base::SaveFile(path, [&](const base::FilePut& put) { return WriteCsv(store, times, put); }, &reason)) return true;
    if (error)
        *error = QStringLiteral("Could not export the log to \"%1\": %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

QString WithCsvExtension(const QString& path)
{
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) return path;
    return path + QLatin1String(".csv");
}

}  // namespace logging
