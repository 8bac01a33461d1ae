#include "logging/LogChannels.h"
#include "logging/LogFile.h"
#include "base/NumberFormat.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <clocale>
#include <locale.h>
#include <csignal>
#include <cstdio>
#include <random>
#include <tuple>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using logging::kLogChannelCount;

// The chart as the file code sees it, held in memory; counts the appends to prove they are bulk.
class MemoryStore : public logging::LogStore {
public:
    explicit MemoryStore(int series = kLogChannelCount) : data(size_t(series)) {}
    int SeriesCount() const override { return int(data.size()); }
    int Count(int s) const override { return int(data[size_t(s)].size()); }
    double YValue(int s, int i) const override { return data[size_t(s)][size_t(i)]; }
    void Append(int s, const double* v, int n) override
    {
        data[size_t(s)].insert(data[size_t(s)].end(), v, v + n);
        ++appendCalls;
    }
    void AddSample(const std::array<double, kLogChannelCount>& sample)
    {
        for (int k = 0; k < kLogChannelCount; ++k) data[size_t(k)].push_back(sample[size_t(k)]);
    }
    std::vector<std::vector<double>> data;
    int appendCalls = 0;
};

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base::SetDisplayLocale(QLocale::c());
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { base::ResetDisplayLocale(); }

    QString Path(const QString& name) const { return dir.filePath(name); }
    static QByteArray Read(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }
    static void Write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static MemoryStore Load(const QString& path)
    {
        MemoryStore s;
        QString error;
        EXPECT_TRUE(logging::ReadLogFile(s, path, &error)) << error.toStdString();
        return s;
    }
    // A store of n samples of plausible live values, scaled as the recorder scales them.
    static MemoryStore Plausible(int n, unsigned seed = 7)
    {
        std::mt19937 rng(seed);
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        MemoryStore s;
        for (int i = 0; i < n; ++i) {
            const std::array<QString, kLogChannelCount> texts = {
                QString::number(pick(0, 9000)),
                base::FormatFixed(pick(0, 255) * 0.0625, 2),
                base::FormatFixed(pick(0, 800) * 0.03125, 2),
                QString::number(pick(-100, 155)),
                QString::number(pick(-30, 120)),
                QString::number(pick(-30, 80)),
                QString::number(pick(0, 255)),
                QString::number(pick(0, 1023)),
                base::FormatFixed(pick(100, 150) * 0.1, 2),
                QString::number(pick(0, 255)),
                QString::number(pick(10, 250)),
                QString::number(pick(0, 1100)),
                base::FormatGeneral(pick(0, 80) * 0.1),
                base::FormatFixed(pick(0, 255) * 100.0 / 255.0, 0, 4)};
            const auto sample = logging::SampleFromTexts(texts);
            EXPECT_TRUE(sample);
            s.AddSample(*sample);
        }
        return s;
    }

    QTemporaryDir dir;
};

const std::array<QString, kLogChannelCount> kExampleTexts = {
    "6543", "12.50", "3.25", "15", "85", "30", "100", "0", "13.80", "0", "95", "850", "2.5", "39"};
const QByteArray kExampleLine =
    "65.43\t12.50\t3.25\t15.00\t85.00\t30.00\t10.00\t0.00\t13.80\t0.00\t9.50\t85.00\t2.50\t3.90\t\r\n";

TEST_F(LogFileTest, ExampleSampleIsWrittenByteForByte)
{
    const auto sample = logging::SampleFromTexts(kExampleTexts);
    ASSERT_TRUE(sample);
    EXPECT_EQ((*sample)[0], 65.43);
    EXPECT_EQ((*sample)[6], 10.0);
    EXPECT_EQ((*sample)[10], 9.5);
    EXPECT_EQ((*sample)[11], 85.0);
    EXPECT_EQ((*sample)[13], 3.9);
    EXPECT_EQ((*sample)[1], 12.5);

    MemoryStore store;
    store.AddSample(*sample);
    store.AddSample(*sample);
    QString error;
    ASSERT_TRUE(logging::WriteLogFile(store, Path("run.qxl"), &error)) << error.toStdString();
    EXPECT_EQ(Read(Path("run.qxl")), kExampleLine + kExampleLine);
}

TEST_F(LogFileTest, SampleIsAllOrNothing)
{
    for (int k = 0; k < kLogChannelCount; ++k) {
        auto texts = kExampleTexts;
        texts[size_t(k)] = k % 2 ? "abc" : "";
        EXPECT_FALSE(logging::SampleFromTexts(texts)) << "channel " << k;
    }
    // The live boxes are written with the display separator and read back with it.
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    auto texts = kExampleTexts;
    EXPECT_FALSE(logging::SampleFromTexts(texts));   // "12.50" is no number there
    texts[1] = "12,50";
    texts[2] = "3,25";
    texts[8] = "13,80";
    texts[12] = "2,5";
    ASSERT_TRUE(logging::SampleFromTexts(texts));
    EXPECT_EQ((*logging::SampleFromTexts(texts))[1], 12.5);

    // A value the file could not read back (beyond a float's range once scaled) drops the sample,
    // or every later load of the log would end there.
    base::SetDisplayLocale(QLocale::c());
    texts = kExampleTexts;
    texts[1] = "1e39";
    EXPECT_FALSE(logging::SampleFromTexts(texts));
    texts[1] = "-3.4e38";
    EXPECT_TRUE(logging::SampleFromTexts(texts));
    texts = kExampleTexts;
    texts[0] = "1e39";   // RPM is logged divided by 100: 1e37 is a float
    EXPECT_TRUE(logging::SampleFromTexts(texts));
    texts[0] = "3.5e40";
    EXPECT_FALSE(logging::SampleFromTexts(texts));
}

TEST_F(LogFileTest, SaveLoadSaveReproducesTheFile)
{
    const MemoryStore original = Plausible(2000);
    ASSERT_TRUE(logging::WriteLogFile(original, Path("a.qxl"), nullptr));
    const MemoryStore loaded = Load(Path("a.qxl"));
    ASSERT_EQ(loaded.Count(0), 2000);
    for (int k = 0; k < kLogChannelCount; ++k) {
        ASSERT_EQ(loaded.Count(k), 2000);
        EXPECT_EQ(loaded.appendCalls, kLogChannelCount);   // one bulk append a series
        for (int i = 0; i < 2000; ++i)
            ASSERT_NEAR(loaded.YValue(k, i), original.YValue(k, i), 0.0051) << k << "/" << i;
    }
    ASSERT_TRUE(logging::WriteLogFile(loaded, Path("b.qxl"), nullptr));
    EXPECT_EQ(Read(Path("a.qxl")), Read(Path("b.qxl")));
    EXPECT_EQ(loaded.YValue(0, 0), double(float(loaded.YValue(0, 0))));   // 32-bit values
}

TEST_F(LogFileTest, LayoutOfTheNumbersDoesNotMatter)
{
    QByteArray lines, oneLine, onePerLine, ragged;
    for (int s = 0; s < 3; ++s) {
        for (int k = 0; k < kLogChannelCount; ++k) {
            const QByteArray v = QByteArray::number(s * 100 + k) + ".25";
            lines += v + "\t";
            oneLine += v + "\t";
            onePerLine += v + "\n";
            ragged += (k % 3 ? "  " : "\r\n\t") + v;
        }
        lines += "\r\n";
    }
    Write(Path("lines"), lines);
    Write(Path("one"), oneLine);
    Write(Path("per"), onePerLine);
    Write(Path("ragged"), ragged);
    const MemoryStore expected = Load(Path("lines"));
    ASSERT_EQ(expected.Count(13), 3);
    EXPECT_EQ(expected.YValue(13, 2), 213.25);
    EXPECT_EQ(Load(Path("one")).data, expected.data);
    EXPECT_EQ(Load(Path("per")).data, expected.data);
    EXPECT_EQ(Load(Path("ragged")).data, expected.data);
}

TEST_F(LogFileTest, NegativeValuesRoundTrip)
{
    MemoryStore store;
    std::array<double, kLogChannelCount> sample{};
    sample[3] = -3.0;
    sample[4] = -30.0;
    store.AddSample(sample);
    ASSERT_TRUE(logging::WriteLogFile(store, Path("neg.qxl"), nullptr));
    EXPECT_TRUE(Read(Path("neg.qxl")).startsWith("0.00\t0.00\t0.00\t-3.00\t-30.00\t0.00\t"));
    const MemoryStore loaded = Load(Path("neg.qxl"));
    EXPECT_EQ(loaded.YValue(3, 0), -3.0);
    EXPECT_EQ(loaded.YValue(4, 0), -30.0);
    EXPECT_EQ(logging::ReadoutText(3, loaded.YValue(3, 0)), "-3");
}

TEST_F(LogFileTest, EmptyLogGivesAnEmptyFileAndLoadsAsNothing)
{
    MemoryStore empty;
    ASSERT_TRUE(logging::WriteLogFile(empty, Path("empty.qxl"), nullptr));
    EXPECT_TRUE(QFileInfo::exists(Path("empty.qxl")));
    EXPECT_EQ(QFileInfo(Path("empty.qxl")).size(), 0);
    const MemoryStore loaded = Load(Path("empty.qxl"));
    EXPECT_EQ(loaded.Count(0), 0);
    EXPECT_EQ(loaded.appendCalls, 0);
}

TEST_F(LogFileTest, ReadingStopsAtTheFirstNonNumberAndDropsAnIncompleteSample)
{
    QByteArray text = kExampleLine + kExampleLine + "1.0\t2.0\tabc\t4.0\t";
    for (int k = 0; k < kLogChannelCount; ++k) text += "5.0\t";
    Write(Path("junk"), text);
    MemoryStore loaded = Load(Path("junk"));
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(loaded.Count(k), 2) << k;

    // 14 k + 5 values: k samples, every series the same length.
    QByteArray cut = kExampleLine + kExampleLine + kExampleLine + "1\t2\t3\t4\t5\t";
    Write(Path("cut"), cut);
    loaded = Load(Path("cut"));
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(loaded.Count(k), 3) << k;
}

TEST_F(LogFileTest, TheLoadSaysWhereAndWhyReadingStopped)
{
    // An item that is no number, on line 3, after two whole samples and two more values.
    Write(Path("junk"), kExampleLine + kExampleLine + "1.0\t2.0\tabc\t4.0\t\r\n");
    logging::LogLoadResult load = logging::ParseLogFile(Path("junk"), kLogChannelCount);
    EXPECT_FALSE(load.Refused());
    EXPECT_EQ(load.samples.SampleCount(), 2);
    EXPECT_EQ(load.stop, logging::LogLoadResult::Stop::NotANumber);
    EXPECT_EQ(load.stopLine, 3);
    EXPECT_EQ(load.stopItem, "abc");
    EXPECT_EQ(load.valuesLeftOut, 2);
    QString message = logging::LoadShortfallMessage(Path("junk"), load, kLogChannelCount);
    for (const char* part : {"Loaded 2 samples", "line 3", "\"abc\" is not a number", "The 2 values before it"})
        EXPECT_TRUE(message.contains(part)) << part << " in " << message.toStdString();

    // A number no log value can be: the load stops there and says so.
    Write(Path("huge"), kExampleLine + "1e39\t" + kExampleLine);
    load = logging::ParseLogFile(Path("huge"), kLogChannelCount);
    EXPECT_EQ(load.samples.SampleCount(), 1);
    EXPECT_EQ(load.stop, logging::LogLoadResult::Stop::NotALogValue);
    EXPECT_EQ(load.stopLine, 2);
    message = logging::LoadShortfallMessage(Path("huge"), load, kLogChannelCount);
    EXPECT_TRUE(message.contains("Loaded 1 sample from")) << message.toStdString();
    EXPECT_TRUE(message.contains("\"1e39\" is not a value a log can hold")) << message.toStdString();

    // A file cut short mid-sample: every value read, the incomplete sample left out.
    Write(Path("cut"), kExampleLine + kExampleLine + kExampleLine + "1\t2\t3\t4\t5\t");
    load = logging::ParseLogFile(Path("cut"), kLogChannelCount);
    EXPECT_EQ(load.samples.SampleCount(), 3);
    EXPECT_EQ(load.stop, logging::LogLoadResult::Stop::End);
    EXPECT_TRUE(load.StoppedEarly());
    EXPECT_TRUE(logging::LoadShortfallMessage(Path("cut"), load, kLogChannelCount).contains("last 5 values were left out"));

    // A whole file: nothing to say.
    Write(Path("whole"), kExampleLine + kExampleLine);
    load = logging::ParseLogFile(Path("whole"), kLogChannelCount);
    EXPECT_FALSE(load.StoppedEarly());
    EXPECT_EQ(logging::LoadShortfallMessage(Path("whole"), load, kLogChannelCount), QString());
}

// The size a file reports at open is only a guess: a file still being copied grows, a network
// or FUSE mount may report 0. Whatever it said, what is there loads whole. A number too long to
// be a value ends the load where it stands; a byte order mark before the first line is no item.
TEST_F(LogFileTest, AnyFileLoadsWhateverSizeItReportedAtOpen)
{
    const MemoryStore log = Plausible(3000);
    ASSERT_TRUE(logging::WriteLogFile(log, Path("run.qxl"), nullptr));
    const qint64 real = QFileInfo(Path("run.qxl")).size();
    for (const qint64 reported : {qint64(0), qint64(1), qint64(27), qint64(28), real / 3, real}) {
        SCOPED_TRACE(reported);
        const logging::LogLoadResult load = logging::ParseLogFileAssumingSize(Path("run.qxl"), kLogChannelCount, reported);
        ASSERT_FALSE(load.Refused());
        EXPECT_FALSE(load.StoppedEarly());
        ASSERT_EQ(load.samples.SampleCount(), 3000);
        for (int k = 0; k < kLogChannelCount; ++k)
            for (int i : {0, 1023, 1024, 2999})
                EXPECT_FLOAT_EQ(load.samples.series[size_t(k)].At(i), float(log.data[size_t(k)][size_t(i)]));
    }

    // 256 KiB of digits on line 2, in the second field: the load ends there and says where.
    Write(Path("long"), kExampleLine + "1.5\t" + QByteArray(256 * 1024, '7') + "\t" + kExampleLine);
    logging::LogLoadResult load = logging::ParseLogFile(Path("long"), kLogChannelCount);
    EXPECT_EQ(load.samples.SampleCount(), 1);
    EXPECT_EQ(load.stop, logging::LogLoadResult::Stop::TooLong);
    EXPECT_EQ(load.stopLine, 2);
    EXPECT_EQ(load.valuesLeftOut, 1);
    const QString message = logging::LoadShortfallMessage(Path("long"), load, kLogChannelCount);
    EXPECT_TRUE(message.contains("line 2, where \"77777777777777777777...\" begins an item of 256 KiB or more"))
        << message.toStdString();

    Write(Path("bom"), "\xEF\xBB\xBF" + kExampleLine + kExampleLine);
    load = logging::ParseLogFile(Path("bom"), kLogChannelCount);
    EXPECT_FALSE(load.StoppedEarly());
    ASSERT_EQ(load.samples.SampleCount(), 2);
    EXPECT_FLOAT_EQ(load.samples.series[0].At(0), 65.43f);
}

TEST_F(LogFileTest, AFileThatHoldsNoSampleIsRefused)
{
    QByteArray image(500, '\0');
    for (int i = 0; i < 500; ++i) image[i] = char(i * 37 + 1);
    const std::vector<std::tuple<const char*, QByteArray, const char*>> files = {
        {"image.qxe", image, "where the text is not a number"},   // binary: not worth quoting
        {"comma.qxl", "65,43\t12,50\t3,25\r\n", "line 1, where \"65,43\" is not a number"},
        {"short.qxl", "1 2 3 4 5\r\n", "it holds 5 numbers, and a sample has 14"},
        {"blank.qxl", "\r\n", "no numbers at all"},
    };
    for (const auto& [name, bytes, why] : files) {
        Write(Path(name), bytes);
        const logging::LogLoadResult load = logging::ParseLogFile(Path(name), kLogChannelCount);
        EXPECT_EQ(load.refusal, logging::LogLoadResult::Refusal::NoSample) << name;
        EXPECT_EQ(load.samples.SampleCount(), 0) << name;
        const QString message = logging::LoadRefusalMessage(Path(name), load, kLogChannelCount);
        EXPECT_TRUE(message.contains(Path(name))) << message.toStdString();
        EXPECT_TRUE(message.contains(why)) << message.toStdString();
        EXPECT_TRUE(message.contains("The log on display was kept")) << message.toStdString();
        MemoryStore store = Plausible(2);
        const auto before = store.data;
        EXPECT_FALSE(logging::ReadLogFile(store, Path(name), nullptr));
        EXPECT_EQ(store.data, before);
    }
    // An empty file is an empty log, as saving one writes it.
    Write(Path("empty.qxl"), "");
    EXPECT_FALSE(logging::ParseLogFile(Path("empty.qxl"), kLogChannelCount).Refused());
}

TEST_F(LogFileTest, ReadsNumbersLikeScanf)
{
    // A leading plus is a number; infinity, NaN and values beyond a float end the log like any
    // other non-number; a value below a float's range reads as (nearly) zero.
    QByteArray text;
    for (int k = 0; k < kLogChannelCount; ++k) text += k == 0 ? "+1.5 " : k == 1 ? "1e-50 " : "2 ";
    text += text;
    Write(Path("plus"), text + "nan 1 2");
    MemoryStore s = Load(Path("plus"));
    ASSERT_EQ(s.Count(0), 2);
    EXPECT_EQ(s.YValue(0, 1), 1.5);
    EXPECT_EQ(s.YValue(1, 0), 0.0);
    for (const char* stop : {"+-1 ", "inf ", "1e39 ", "- ", ". "}) {
        Write(Path("stop"), kExampleLine + stop + kExampleLine);
        EXPECT_EQ(Load(Path("stop")).Count(0), 1) << stop;
    }
}

TEST_F(LogFileTest, NumbersAcrossReadChunksParseWhole)
{
    // Several megabytes of items of varying length, so that the reader's chunk edges fall inside
    // numbers, exponents included ("1.5e" | "+01").
    QByteArray text;
    std::vector<double> expected;
    std::mt19937 rng(3);
    while (text.size() < 5 * 1024 * 1024) {
        const int kind = int(rng() % 4);
        const int m = int(rng() % 100000);
        QByteArray item;
        double v = 0;
        switch (kind) {
        case 0: item = QByteArray::number(m); v = m; break;
        case 1: item = QByteArray::number(m) + "e-02"; v = m / 100.0; break;
        case 2: item = "-" + QByteArray::number(m % 1000) + ".5"; v = -(m % 1000 + 0.5); break;
        default: item = QByteArray::number(m % 100) + ".25e+01"; v = (m % 100 + 0.25) * 10; break;
        }
        text += item + (rng() % 5 ? "\t" : "\r\n");
        expected.push_back(double(float(v)));
    }
    const size_t complete = expected.size() / kLogChannelCount * kLogChannelCount;
    Write(Path("big"), text);
    const MemoryStore s = Load(Path("big"));
    ASSERT_EQ(size_t(s.Count(0)) * kLogChannelCount, complete);
    for (size_t i = 0; i < complete; ++i)
        ASSERT_EQ(s.YValue(int(i % kLogChannelCount), int(i / kLogChannelCount)),
                  double(float(expected[i])))
            << "item " << i;
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedLeavesTheStoreAlone)
{
    MemoryStore store = Plausible(3);
    const auto before = store.data;
    QString error;
    EXPECT_FALSE(logging::ReadLogFile(store, Path("missing.qxl"), &error));
    EXPECT_EQ(store.data, before);
    EXPECT_TRUE(error.contains("missing.qxl")) << error.toStdString();
    EXPECT_TRUE(error.contains("No such file")) << error.toStdString();
    // Not files: refused before anything is read, a pipe without waiting for a writer.
    EXPECT_FALSE(logging::ReadLogFile(store, dir.path(), &error));
    EXPECT_TRUE(error.contains("It is a folder")) << error.toStdString();
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.qxl")).constData(), 0644), 0);
    const logging::LogLoadResult load = logging::ParseLogFile(Path("pipe.qxl"), kLogChannelCount);
    EXPECT_EQ(load.refusal, logging::LogLoadResult::Refusal::CannotOpen);
    EXPECT_EQ(load.reason, "It is a named pipe, not a file");
    EXPECT_EQ(store.data, before);
}

TEST_F(LogFileTest, AFailedSaveIsReportedAndKeepsTheOldFile)
{
    // A folder that cannot exist: its parent is a plain file (refused even to root).
    Write(Path("plain"), "x");
    QString error;
    EXPECT_FALSE(logging::WriteLogFile(Plausible(3), Path("plain/run.qxl"), &error));
    EXPECT_TRUE(error.contains("run.qxl")) << error.toStdString();
    EXPECT_TRUE(error.contains("Not a directory")) << error.toStdString();

    // A save that fails halfway (the disk fills; here a file size limit) leaves the old log
    // exactly as it was and no temporary file behind.
    ASSERT_TRUE(logging::WriteLogFile(Plausible(3), Path("run.qxl"), nullptr));
    const QByteArray old = Read(Path("run.qxl"));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = logging::WriteLogFile(Plausible(5000), Path("run.qxl"), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("run.qxl")) << error.toStdString();
    EXPECT_TRUE(error.contains("File too large")) << error.toStdString();
    EXPECT_EQ(Read(Path("run.qxl")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "plain, run.qxl";

}

TEST_F(LogFileTest, ReplacingKeepsPermissionsAndFollowsLinks)
{
    ASSERT_TRUE(logging::WriteLogFile(Plausible(1), Path("run.qxl"), nullptr));
    ::chmod(QFile::encodeName(Path("run.qxl")).constData(), 0640);
    ASSERT_TRUE(QFile::link(Path("run.qxl"), Path("link.qxl")));
    ASSERT_TRUE(logging::WriteLogFile(Plausible(4), Path("link.qxl"), nullptr));
    EXPECT_TRUE(QFileInfo(Path("link.qxl")).isSymLink());
    EXPECT_EQ(Load(Path("run.qxl")).Count(0), 4);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(Path("run.qxl")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(LogFileTest, FieldsAreFormattedExactlyLikePrintf)
{
    std::vector<double> values = {0.0,    -0.0,   0.125, 0.375, -0.125, 2.675, 1.005, 0.005,
                                  -0.001, 65.43,  9.995, 1e-310, 99.995, 1e14 + 0.125,
                                  1e15,   -1e16,  1e20,  123456789.125, 4.35, 0.045};
    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        const double mag = std::pow(10.0, std::uniform_real_distribution<double>(-4, 17)(rng));
        values.push_back((rng() & 1 ? -1 : 1) * mag);
        values.push_back(double(int(rng() % 2000000) - 1000000) / 1000.0);   // many x.xx5 ties
        values.push_back(double(float(std::uniform_real_distribution<float>(-70000, 70000)(rng))));
    }
    MemoryStore store(1);
    store.data[0] = values;
    ASSERT_TRUE(logging::WriteLogFile(store, Path("fmt"), nullptr));
    const QList<QByteArray> lines = Read(Path("fmt")).split('\n');
    ASSERT_EQ(size_t(lines.size()), values.size() + 1);

    const std::string oldLocale = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "C");
    for (size_t i = 0; i < values.size(); ++i) {
        char expect[400];
        std::snprintf(expect, sizeof expect, "%.2f\t\r", values[i]);
        ASSERT_EQ(lines[qsizetype(i)].toStdString(), expect) << "value " << values[i];
    }
    std::setlocale(LC_NUMERIC, oldLocale.c_str());
}

TEST_F(LogFileTest, LogExtension)
{
    EXPECT_EQ(logging::WithLogExtension("run1"), "run1.qxl");
    EXPECT_EQ(logging::WithLogExtension("run1.qxl"), "run1.qxl");
    EXPECT_EQ(logging::WithLogExtension("run1.QXL"), "run1.QXL.qxl");
    EXPECT_EQ(logging::WithLogExtension("/tmp/a.qxl/run"), "/tmp/a.qxl/run.qxl");
}

TEST_F(LogFileTest, ReadoutShowsTheLiveValuesAgain)
{
    // Through the file, as a loaded log is read out: values come back as 32-bit floats.
    MemoryStore store;
    store.AddSample(*logging::SampleFromTexts(kExampleTexts));
    ASSERT_TRUE(logging::WriteLogFile(store, Path("r.qxl"), nullptr));
    const MemoryStore loaded = Load(Path("r.qxl"));
    const MemoryStore* both[] = {&store, &loaded};
    for (const MemoryStore* s : both) {
        QStringList row;
        for (int k = 0; k < kLogChannelCount; ++k) row << logging::ReadoutText(k, s->YValue(k, 0));
        // Lambda reads as the ratio; oil 2.5 rounds half away from zero to a whole 3.
        EXPECT_EQ(row.join(' '), "6543 12.50 3.25 15 85 30 1.00 0 13.80 0 95 850 3 39");
    }
    EXPECT_EQ(logging::ReadoutText(14, 1.0), "");
    EXPECT_EQ(logging::ReadoutText(0, 655.35), "65535");
    EXPECT_EQ(logging::ReadoutText(0, 1e4), "1E6");   // beyond five digits
}

TEST_F(LogFileTest, ReadoutUsesTheDisplaySeparator)
{
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(logging::ReadoutText(6, 10.0), "1,00");
    EXPECT_EQ(logging::ReadoutText(1, 12.5), "12,50");
    EXPECT_EQ(logging::ReadoutText(0, 65.43), "6543");
}

}  // namespace

namespace {

TEST_F(LogFileTest, EveryNumberShapeReadsAsStrtofReadsIt)
{
    // Short decimals take a fast path; long mantissas, many decimals and exponents do not.
    // Both must give the float strtof gives.
    std::mt19937 rng(5);
    QByteArray text;
    std::vector<std::string> items;
    for (int i = 0; i < 14 * 20000; ++i) {
        const int intDigits = int(rng() % 10);
        const int fracDigits = int(rng() % 12);
        std::string item = rng() % 3 ? "" : "-";
        for (int d = 0; d < intDigits; ++d) item += char('0' + rng() % 10);
        if (fracDigits > 0 || intDigits == 0) {
            item += '.';
            for (int d = 0; d < std::max(fracDigits, 1); ++d) item += char('0' + rng() % 10);
        }
        if (rng() % 10 == 0) {
            // Two appends, not "e" + to_string(): GCC 12 at -O3 warns falsely (-Wrestrict)
            // on the temporary that operator+ builds.
            item += 'e';
            item += std::to_string(int(rng() % 20) - 10);
        }
        items.push_back(item);
        text += QByteArray::fromStdString(item) + '\t';
    }
    Write(Path("shapes"), text);
    const MemoryStore s = Load(Path("shapes"));
    ASSERT_EQ(size_t(s.Count(0)) * kLogChannelCount, items.size());
    const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    for (size_t i = 0; i < items.size(); ++i) {
        const float expected = strtof_l(items[i].c_str(), nullptr, c);
        ASSERT_EQ(s.YValue(int(i % kLogChannelCount), int(i / kLogChannelCount)), double(expected))
            << items[i];
    }
    freelocale(c);
}

}  // namespace
