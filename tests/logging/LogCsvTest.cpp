// The CSV export, read back by a reader of its own that knows RFC 4180 and nothing of the
// writer, and the sample times the export and the readout show.
#include "logging/LogChannels.h"
#include "logging/LogCsv.h"
#include "logging/LogState.h"
#include "logging/LogTimes.h"
#include "tests/support/CsvReader.h"
#include "base/NumberFormat.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <random>

namespace {

using logging::kLogChannelCount;
using Clock = logging::SampleTimes::Clock;
using testsupport::CsvNumber;
using testsupport::ReadCsv;
using Rows = testsupport::CsvRows;

class MemoryStore : public logging::LogStore {
public:
    MemoryStore() : data(kLogChannelCount) {}
    int SeriesCount() const override { return int(data.size()); }
    int Count(int s) const override { return int(data[size_t(s)].size()); }
    double YValue(int s, int i) const override { return data[size_t(s)][size_t(i)]; }
    void Append(int s, const double* v, int n) override { data[size_t(s)].insert(data[size_t(s)].end(), v, v + n); }
    std::vector<std::vector<double>> data;
};

class LogCsvTest : public ::testing::Test {
protected:
    void SetUp() override { base::SetDisplayLocale(QLocale::c()); }
    void TearDown() override { base::ResetDisplayLocale(); }

    static std::string Export(const MemoryStore& store, const logging::SampleTimes& times)
    {
        std::string text;
        EXPECT_TRUE(logging::WriteCsv(store, times, [&](const char* data, size_t size) {
            text.append(data, size);
            return true;
        }));
        return text;
    }
};

TEST_F(LogCsvTest, ValuesAreInTheGaugesUnitsAndKeepEveryDecimalTheLogHolds)
{
    struct Case {
        int channel;
        double chart;
        const char* csv;
    };
    const Case cases[] = {
        {0, 65.43, "6543"},   {0, double(65.43f), "6543"},   {0, 0.0, "0"},     {0, 655.35, "65535"},
        {1, 12.5, "12.50"},   {1, 0.13, "0.13"},             {2, 3.25, "3.25"}, {3, -3.0, "-3"},
        {3, -0.0, "0"},       {6, 10.0, "1.00"},             {6, 10.05, "1.005"}, {6, 0.5, "0.05"},
        {8, 13.8, "13.80"},   {10, 9.5, "95"},               {10, 9.57, "95.7"}, {11, 85.0, "850"},
        {12, 2.5, "2.5"},     {12, 3.0, "3"},                {13, 3.9, "39"},    {13, -0.1, "-1"},
        {4, 1e20, "100000000000000000000"},                  {5, 2.675, "2.67"},  // printf's rounding
    };
    for (const Case& c : cases) EXPECT_EQ(logging::CsvValue(c.channel, c.chart), c.csv) << c.channel << " " << c.chart;
    EXPECT_EQ(logging::CsvValue(0, std::nan("")), "");
    EXPECT_EQ(logging::CsvValue(14, 1.0), "");
}

TEST_F(LogCsvTest, HeaderNamesEachChannelWithItsUnitAndQuotesWhatNeedsIt)
{
    const QStringList header = logging::CsvHeader(false);
    ASSERT_EQ(header.size(), kLogChannelCount + 1);
    EXPECT_EQ(header.join('|'), "Time (s)|RPM (rpm)|TPS|Fuel (ms)|Advance (deg)|Water (degC)|Air (degC)|Lambda|"
                                "POT|Volt (V)|Acc|Map (kPa)|EGT (degC)|Oil Pressure|PWM (%)");
    EXPECT_EQ(logging::CsvHeader(true).first(), "Nominal time (s)");
    EXPECT_EQ(logging::CsvField("Fuel (ms)"), "Fuel (ms)");
    EXPECT_EQ(logging::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(logging::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(logging::CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(ReadCsv("\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",x\r\n"),
              Rows({{"a,b", "say \"hi\"", "two\r\nlines", "x"}}));
}

TEST_F(LogCsvTest, ReadBackEverySampleWithItsTimeWhateverTheLocale)
{
    // A log as recorded: plausible live values scaled into chart values, taken about 110 ms
    // apart with a pause in the middle (the Logging page shown for a while).
    std::mt19937 rng(9);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    MemoryStore store;
    logging::SampleTimes times;
    times.StartRecorded();
    const Clock::time_point start = Clock::now();
    std::vector<int64_t> takenMs;
    for (int i = 0; i < 3000; ++i) {
        const std::array<QString, kLogChannelCount> texts = {
            QString::number(pick(0, 9000)),        base::FormatFixed(pick(0, 255) * 0.0625, 2),
            base::FormatFixed(pick(0, 800) * 0.03125, 2), QString::number(pick(-100, 155)),
            QString::number(pick(-30, 120)),       QString::number(pick(-30, 80)),
            QString::number(pick(0, 255)),         QString::number(pick(0, 1023)),
            base::FormatFixed(pick(100, 150) * 0.1, 2), QString::number(pick(0, 255)),
            QString::number(pick(10, 250)),        QString::number(pick(0, 1100)),
            base::FormatGeneral(pick(0, 80) * 0.1),  base::FormatFixed(pick(0, 255) * 100.0 / 255.0, 0, 4)};
        const auto sample = logging::SampleFromTexts(texts);
        ASSERT_TRUE(sample);
        for (int k = 0; k < kLogChannelCount; ++k) store.data[size_t(k)].push_back((*sample)[size_t(k)]);
        takenMs.push_back(i * 110 + (i >= 1500 ? 60000 : 0) + i % 3);
        times.Record(i, start + std::chrono::milliseconds(takenMs.back()));
    }
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));   // must not matter
    const Rows rows = ReadCsv(Export(store, times));
    ASSERT_EQ(rows.size(), 3001u);
    std::vector<std::string> header;
    for (const QString& name : logging::CsvHeader(false)) header.push_back(name.toStdString());
    EXPECT_EQ(rows[0], header);
    for (size_t r = 1; r < rows.size(); ++r) {
        const int i = int(r - 1);
        ASSERT_EQ(rows[r].size(), size_t(kLogChannelCount + 1)) << "row " << r;
        EXPECT_EQ(CsvNumber(rows[r][0]), double(takenMs[size_t(i)]) / 1000) << "row " << r;
        for (int k = 0; k < kLogChannelCount; ++k) {
            // The value the Gauges page showed: the chart value times the readout factor.
            const double shown = store.data[size_t(k)][size_t(i)] * std::pow(10.0, logging::ReadoutShift(k));
            ASSERT_NEAR(CsvNumber(rows[r][size_t(k + 1)]), shown, 1e-9 * std::max(1.0, std::fabs(shown)))
                << "row " << r << " channel " << k;
        }
    }
}

TEST_F(LogCsvTest, ExportToAFileAddsTheExtensionAndReportsAFailure)
{
    QTemporaryDir dir;
    MemoryStore store;
    for (int k = 0; k < kLogChannelCount; ++k) store.data[size_t(k)] = {1.0, 2.0};
    logging::SampleTimes times;
    times.StartNominal();
    QString error;
    const QString path = logging::WithCsvExtension(dir.filePath("run"));
    EXPECT_EQ(path, dir.filePath("run.csv"));
    EXPECT_EQ(logging::WithCsvExtension("run.CSV"), "run.CSV");
    ASSERT_TRUE(logging::ExportCsv(store, times, path, &error)) << error.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const Rows rows = ReadCsv(f.readAll().toStdString());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "Nominal time (s)");
    EXPECT_EQ(rows[2][0], "0.108");
    EXPECT_EQ(rows[2][1], "200");   // RPM: 2.00 x 100

    int pieces = 0;
    EXPECT_FALSE(logging::WriteCsv(store, times, [&](const char*, size_t) { return ++pieces, false; }));
    EXPECT_EQ(pieces, 1) << "a failed piece ends the export";
    EXPECT_FALSE(logging::ExportCsv(store, times, dir.filePath("missing/run.csv"), &error));
    EXPECT_TRUE(error.contains("missing/run.csv")) << error.toStdString();
}

// ---- sample times -----------------------------------------------------------------------------

TEST(SampleTimes, RecordedFromTheFirstSampleNominalAfterALoadOrALostStep)
{
    logging::SampleTimes times;   // the window's first log records its times
    const Clock::time_point t0 = Clock::now();
    times.Record(0, t0 + std::chrono::milliseconds(500));
    times.Record(1, t0 + std::chrono::milliseconds(612));
    times.Record(2, t0 + std::chrono::milliseconds(5000));
    EXPECT_FALSE(times.Nominal());
    EXPECT_EQ(times.Milliseconds(0), 0);
    EXPECT_EQ(times.Milliseconds(1), 112);
    EXPECT_EQ(times.Milliseconds(2), 4500);
    times.Record(4, t0);   // sample 3 came some other way: no time can be trusted
    EXPECT_TRUE(times.Nominal());
    EXPECT_EQ(times.Milliseconds(2), 216);

    times.StartRecorded();
    times.Record(0, t0);
    EXPECT_FALSE(times.Nominal());
    times.StartNominal();
    times.Record(0, t0);
    EXPECT_TRUE(times.Nominal());
    EXPECT_EQ(times.Milliseconds(1000), 108000);
}

// The log's state moves only by its transitions: a recording is unsaved from its first sample,
// a save or a loaded file holds it, and a load brings nominal times with it.
TEST(LogState, UnsavedFromTheFirstRecordedSampleUntilAFileHoldsTheLog)
{
    logging::LogState log;
    const Clock::time_point t0 = Clock::now();
    log.StartRecording();
    EXPECT_FALSE(log.Unsaved(0));
    log.RecordSample(0, t0);
    log.RecordSample(1, t0 + std::chrono::milliseconds(250));
    EXPECT_TRUE(log.Unsaved(2));
    EXPECT_FALSE(log.Unsaved(0)) << "an empty chart has nothing to lose";
    EXPECT_EQ(log.Times().Milliseconds(1), 250);
    log.MarkSaved();
    EXPECT_FALSE(log.Unsaved(2));

    log.RecordSample(2, t0 + std::chrono::milliseconds(400));   // recording goes on after a save
    EXPECT_TRUE(log.Unsaved(3));
    log.AdoptLoaded();
    EXPECT_FALSE(log.Unsaved(3));
    EXPECT_TRUE(log.Times().Nominal());
    log.RecordSample(3, t0);   // recorded onto a loaded log: unsaved, still nominal
    EXPECT_TRUE(log.Unsaved(4));
    EXPECT_TRUE(log.Times().Nominal());
    log.StartRecording();
    EXPECT_FALSE(log.Unsaved(4));
    EXPECT_FALSE(log.Times().Nominal());
}

TEST(SampleTimes, TextsShowHoursToMillisecondsAndSayWhenNominal)
{
    base::SetDisplayLocale(QLocale::c());
    EXPECT_EQ(logging::FormatLogTime(0), "0:00:00.000");
    EXPECT_EQ(logging::FormatLogTime(3723004), "1:02:03.004");
    EXPECT_EQ(logging::FormatLogTime(30 * 3600 * 1000LL), "30:00:00.000");
    logging::SampleTimes times;
    times.StartNominal();
    EXPECT_EQ(logging::SampleTimeText(times, 10),
              "Sample 10 at 0:00:01.080 (nominal: the file holds no times, so each sample counts as 108 ms)");
    times.StartRecorded();
    times.Record(0, Clock::now());
    EXPECT_EQ(logging::SampleTimeText(times, 0), "Sample 0 at 0:00:00.000");
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(logging::FormatLogTime(1500), "0:00:01,500");
    base::ResetDisplayLocale();
}

}  // namespace
