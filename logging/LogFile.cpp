#include "logging/LogFile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include "base/RegularFile.h"
#include "base/SaveFile.h"

namespace logging {

LogStore::~LogStore() = default;

void LogStore::Take(int series, base::SampleColumn&& column)
{
    std::vector<double> values(size_t(column.Count()));
    for (size_t i = 0; i < values.size(); ++i) values[i] = double(column.At(int(i)));
    column.Clear();
    if (!values.empty()) Append(series, values.data(), int(values.size()));
}

namespace {

void SetError(QString* error, const QString& message)
{
    if (error) *error = message;
}

// ---- writing ---------------------------------------------------------------------------------

// "%.2f" of a double, exactly as printf writes it in the "C" locale (which a log file always
// uses, whatever the system's separator). For the values a log holds the result comes from an
// exact integer: v x 100 needs at most 60 significant bits, which a long double holds exactly,
// and rounding it to an integer in the default mode rounds half to even, as printf does. Other
// values go through to_chars, which rounds the same way but more slowly.
char* FormatField(char* p, char* end, double v)
{
    constexpr bool kExactProduct = std::numeric_limits<long double>::digits >= 60;
    if (kExactProduct && std::isfinite(v) && std::fabs(v) < 1e15) {
        const long double scaled = static_cast<long double>(v) * 100.0L;
        const long long n = std::llrintl(scaled);
        unsigned long long mag = n < 0 ? 0ULL - static_cast<unsigned long long>(n)
                                       : static_cast<unsigned long long>(n);
        if (std::signbit(v)) *p++ = '-';   // printf keeps the sign of -0.001 as "-0.00"
        char digits[24];
        int count = 0;
        do {
            digits[count++] = char('0' + mag % 10);
            mag /= 10;
        } while (mag != 0);
        while (count < 3) digits[count++] = '0';
        for (int i = count - 1; i >= 2; --i) *p++ = digits[i];
        *p++ = '.';
        *p++ = digits[1];
        *p++ = digits[0];
        return p;
    }
    return std::to_chars(p, end, v, std::chars_format::fixed, 2).ptr;
}

// ---- reading ---------------------------------------------------------------------------------

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtof in the "C" locale: the slow path for numbers from_chars reports out of range, which
// scanf still reads (a tiny value underflows to zero or a denormal; a huge one to infinity).
float StrtofC(const char* begin, const char* end)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    const std::string token(begin, end);
    return strtof_l(token.c_str(), nullptr, c);
}

// The common field of a log ("65.43", "-3.00"): at most 24 bits of decimal mantissa and ten
// decimals, no exponent. Then mantissa and power of ten are exact floats and one correctly
// rounded division gives the correctly rounded float, the same value from_chars and scanf
// give. Anything else returns nullptr and takes the general path.
const char* ParseSimpleFloat(const char* p, const char* last, float* out)
{
    static constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                       1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const bool negative = p < last && *p == '-';
    if (negative) ++p;
    uint32_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    for (; p < last && unsigned(*p - '0') < 10; ++p, ++digits) {
        if (digits == 8) return nullptr;
        mantissa = mantissa * 10 + uint32_t(*p - '0');
    }
    if (p < last && *p == '.') {
        ++p;
        for (; p < last && unsigned(*p - '0') < 10; ++p, ++digits, ++decimals) {
            if (digits == 8 || decimals == 10) return nullptr;
            mantissa = mantissa * 10 + uint32_t(*p - '0');
        }
    }
    if (digits == 0 || mantissa > (1u << 24)) return nullptr;
    if (p < last && (*p == 'e' || *p == 'E')) return nullptr;
    const float v = float(mantissa) / kPow10[decimals];
    *out = negative ? -v : v;
    return p;
}

class Reader {
public:
    explicit Reader(int fd) : fd_(fd), buf_(kChunk) {}

    enum class Next { Value, End, NotANumber, NotALogValue, TooLong, Error };

    // The next number of the stream, as scanf's "%f" would read it into a float.
    Next Read(float* out)
    {
        for (;;) {
            // A byte order mark, which some editors put before the first line, is no item.
            if (atStart_ && (eof_ || end_ >= 3)) {
                atStart_ = false;
                if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) begin_ = 3;
            }
            while (begin_ < end_ && IsSpace(buf_[begin_])) {
                if (buf_[begin_] == '\n') ++line_;
                ++begin_;
            }
            // Parse only an item that white space ends within the buffer: one running into the
            // part of the file not read yet may go on there ("1.5e" then "+03").
            if (atStart_ || begin_ == end_ || (!eof_ && lastSpace_ <= begin_ && !Full())) {
                if (eof_) return Next::End;
                if (!Refill()) return Next::Error;
                continue;
            }
            // An item that fills the whole buffer is no number a log holds; parsing the part in
            // the buffer would read it as two numbers and shift every later value to another
            // channel.
            if (Full() && lastSpace_ <= begin_) return Next::TooLong;
            const char* first = buf_.data() + begin_;
            const char* last = buf_.data() + end_;
            float v = 0;
            const char* next = ParseSimpleFloat(first, last, &v);
            if (!next) {
                const char* p = first;
                if (*p == '+') {   // from_chars takes only a minus sign
                    ++p;
                    if (p < last && *p == '-') return Next::NotANumber;
                }
                const auto r = std::from_chars(p, last, v, std::chars_format::general);
                if (r.ec == std::errc::invalid_argument) return Next::NotANumber;
                if (r.ec == std::errc::result_out_of_range) v = StrtofC(p, r.ptr);
                // Infinity and NaN are no values of a log; they would wreck the chart's scale.
                if (!std::isfinite(v)) return Next::NotALogValue;
                next = r.ptr;
            }
            begin_ = size_t(next - buf_.data());
            *out = v;
            return Next::Value;
        }
    }

    // The line of the next item, counted from 1.
    qint64 Line() const { return line_; }
    // The white-space-delimited item reading stopped in, from its start (as far as the buffer
    // still holds it): "12,50" rather than the ",50" a decimal comma leaves.
    QByteArray Item() const
    {
        constexpr size_t kKept = 40;
        size_t from = begin_;
        while (from > 0 && begin_ - from < kKept && !IsSpace(buf_[from - 1])) --from;
        size_t to = begin_;
        while (to < end_ && to - from < kKept && !IsSpace(buf_[to])) ++to;
        return QByteArray(buf_.data() + from, qsizetype(to - from));
    }
    bool ReadAnything() const { return bytesRead_ > 0; }

private:
    static constexpr size_t kChunk = size_t(1) << 18;   // small beside any log worth timing

    bool Full() const { return begin_ == 0 && end_ == buf_.size(); }

    // Moves the unread rest to the front and reads more. False on a read error.
    bool Refill()
    {
        if (begin_ > 0) {
            std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        while (end_ < buf_.size()) {
            const ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) {
                eof_ = true;
                break;
            }
            end_ += size_t(n);
            bytesRead_ += n;
            if (end_ >= kChunk / 2) break;   // enough to go on with
        }
        lastSpace_ = 0;
        for (size_t i = end_; i > 0; --i) {
            if (IsSpace(buf_[i - 1])) {
                lastSpace_ = i - 1;
                break;
            }
        }
        return true;
    }

    int fd_;
    std::vector<char> buf_;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t lastSpace_ = 0;   // the last white space in the buffer (0 when none)
    bool eof_ = false;
    bool atStart_ = true;   // the byte order mark not yet looked for
    qint64 line_ = 1;
    qint64 bytesRead_ = 0;
};

}  // namespace

namespace {

// The file's bytes, handed out a buffer at a time.
base::FileProducer LogProducer(const LogStore& store)
{
    const int columns = std::max(store.SeriesCount(), 0);
    int rows = columns > 0 ? store.Count(0) : 0;
    for (int j = 1; j < columns; ++j) rows = std::min(rows, store.Count(j));
    rows = std::max(rows, 0);

    return [&store, columns, rows](const base::FilePut& put) {
        constexpr size_t kBuffer = size_t(1) << 18;
        constexpr size_t kRoom = 400;   // the longest field ("%.2f" of 1.8e308) and the line end
        std::vector<char> buffer(kBuffer);
        char* const start = buffer.data();
        char* const limit = start + kBuffer;
        char* p = start;
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < columns; ++j) {
                if (limit - p < ptrdiff_t(kRoom)) {
                    if (!put(start, size_t(p - start))) return false;
                    p = start;
                }
                p = FormatField(p, limit, store.YValue(j, i));
                *p++ = '\t';
            }
            *p++ = '\r';   // the format's line end is CR LF
            *p++ = '\n';
        }
        return p == start || put(start, size_t(p - start));
    };
}

}  // namespace

bool WriteLogFile(const LogStore& store, const QString& path, QString* error)
{
    QString reason;
    if (base::SaveFile(path, LogProducer(store), &reason)) return true;
    SetError(error, QStringLiteral("Could not save the log to \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), reason));
    return false;
}

QString SaveLogAsNewFile(const LogStore& store, const QString& folder, const QString& stem, bool unpredictable,
                         QStringList* errors)
{
    const base::FileProducer produce = LogProducer(store);
    QString base = folder + QLatin1Char('/') + stem;
    for (int n = 1; n <= 1000; ++n) {
        if (unpredictable)
            base = folder + QLatin1Char('/') + stem + QLatin1Char('-')
                   + QString::number(QRandomGenerator::system()->generate64() & 0xFFFFFFFFFFFFull, 16);
        const QString path = base + (n == 1 || unpredictable ? QString() : QLatin1Char('-') + QString::number(n))
                             + QStringLiteral(".qxl");
        QString reason;
        switch (base::SaveNewFile(path, produce, &reason)) {
        case base::NewFile::Saved: return path;
        case base::NewFile::NameTaken: continue;
        case base::NewFile::Failed:
            if (errors) *errors << QStringLiteral("Could not save the log to \"%1\": %2").arg(QDir::toNativeSeparators(path), reason);
            return {};
        }
    }
    if (errors) *errors << QStringLiteral("%1: no free name for the log").arg(QDir::toNativeSeparators(folder));
    return {};
}

LogLoadResult ParseLogFile(const QString& path, int seriesCount)
{
    return ParseLogFileAssumingSize(path, seriesCount, -1);
}

LogLoadResult ParseLogFileAssumingSize(const QString& path, int seriesCount, qint64 reportedSize)
{
    LogLoadResult result;
    qint64 size = 0;
    const int fd = base::OpenRegularFile(path, &result.reason, &size);
    if (fd < 0) {
        result.refusal = LogLoadResult::Refusal::CannotOpen;
        return result;
    }
    // The size is only a first guess at the room needed: a file still being copied grows, and
    // some mounts report 0. What is there is read, whatever was reported.
    if (reportedSize >= 0) size = reportedSize;
    auto refuse = [&](int err) {
        ::close(fd);
        result.refusal = LogLoadResult::Refusal::ReadFailed;
        result.reason = base::SystemReason(err);
        result.samples = {};
        return std::move(result);
    };
    const size_t columns = size_t(std::max(seriesCount, 0));
    LogSamples& samples = result.samples;
    samples.series.resize(columns);

    // Room in every column for as many samples as the file can hold (a value takes at least a
    // character and a separator). Room is only reserved: a page costs memory once a value lands
    // in it, so the columns end up as large as the samples, sized once, never moved.
    size_t capacity = size_t(std::max<qint64>(size, 0)) / 2 / std::max<size_t>(columns, 1) + 1;
    std::vector<float*> out(columns);
    auto makeRoom = [&](size_t n) {
        for (size_t j = 0; j < columns; ++j)
            if (!(out[j] = samples.series[j].Room(n))) return false;
        return true;
    };
    if (!makeRoom(capacity)) {   // address space is short: start small and grow on the way
        capacity = size_t(1) << 16;
        if (!makeRoom(capacity)) return refuse(ENOMEM);
    }

    Reader reader(fd);
    size_t filled = 0;   // complete samples
    size_t j = 0;
    for (bool reading = columns > 0; reading;) {
        float v = 0;
        const Reader::Next next = reader.Read(&v);
        switch (next) {
        case Reader::Next::Value:
            if (filled == capacity) {   // the file grew while it was read
                capacity += std::max(capacity / 2, size_t(1) << 12);
                if (!makeRoom(capacity)) return refuse(ENOMEM);
            }
            out[j][filled] = v;
            ++result.values;
            if (++j == columns) {
                j = 0;
                ++filled;
            }
            continue;
        case Reader::Next::End: reading = false; break;
        case Reader::Next::NotANumber:
        case Reader::Next::NotALogValue:
        case Reader::Next::TooLong:
            result.stop = next == Reader::Next::NotANumber     ? LogLoadResult::Stop::NotANumber
                          : next == Reader::Next::NotALogValue ? LogLoadResult::Stop::NotALogValue
                                                               : LogLoadResult::Stop::TooLong;
            result.stopLine = reader.Line();
            result.stopItem = reader.Item();
            reading = false;
            break;
        case Reader::Next::Error: return refuse(errno);
        }
    }
    ::close(fd);
    // A sample cut short loses its values, so that every series keeps the same length.
    result.valuesLeftOut = int(j);
    for (base::SampleColumn& column : samples.series) {
        column.Grow(filled);
        column.Fit();
    }
    if (samples.SampleCount() == 0 && reader.ReadAnything()) {
        result.refusal = LogLoadResult::Refusal::NoSample;
        result.samples = {};
    }
    return result;
}

void AppendSamples(LogStore& store, LogSamples&& samples)
{
    const int columns = std::min(store.SeriesCount(), int(samples.series.size()));
    for (int j = 0; j < columns; ++j) store.Take(j, std::move(samples.series[size_t(j)]));
}

bool ReadLogFile(LogStore& store, const QString& path, QString* error)
{
    LogLoadResult load = ParseLogFile(path, store.SeriesCount());
    if (load.Refused()) {
        SetError(error, LoadRefusalMessage(path, load, store.SeriesCount()));
        return false;
    }
    AppendSamples(store, std::move(load.samples));
    return true;
}

QString WithLogExtension(const QString& path)
{
    if (path.endsWith(QLatin1String(".qxl"), Qt::CaseSensitive)) return path;
    return path + QLatin1String(".qxl");
}

}  // namespace logging
