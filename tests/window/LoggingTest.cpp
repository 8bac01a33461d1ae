// Recording, log files and the log viewer, through the window against the simulated ECU.
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QRegularExpression>
#include <QTest>
#include <QTime>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include "app/StopSignals.h"
#include "ecu/Threadedtimer.h"
#include "logging/LogFile.h"
#include "logging/LogViewer.h"
#include "tests/window/WindowFixture.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"
#include "base/NumberFormat.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"

// Readable texts in failure messages.

namespace {

using logging::kLogChannelCount;
using logging::kLogChannels;

// The live texts of one sample, in channel order (lambda as its raw integer, oil with a decimal).
using Texts = std::array<QString, kLogChannelCount>;
const Texts kExample = {"6543", "12.50", "3.25", "15", "85", "30", "100",
                        "0",    "13.80", "0",    "95", "850", "2.5", "39"};

class LoggingTest : public WindowTest {
protected:
    void SetUp() override
    {
        base::SetDisplayLocale(QLocale::c());
        WindowTest::SetUp();
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        base::ResetDisplayLocale();
    }

    // The link settled and polling off: the read done, then the Logging page shown. From here
    // on only the test adds samples.
    void Quiet()
    {
        ASSERT_TRUE(WaitForReadComplete());
        form->FormShortCut(Qt::Key_F5);
        Pump(30);
    }
    int Samples() const { return logging::SampleCount(*form->Chart10); }
    std::vector<int> Counts() const
    {
        std::vector<int> counts;
        for (int k = 0; k < kLogChannelCount; ++k) counts.push_back(form->Chart10->Count(k));
        return counts;
    }
    Texts EditTexts() const
    {
        Texts texts;
        for (int k = 0; k < kLogChannelCount; ++k) texts[k] = form->LogSourceEdit[k]->text();
        return texts;
    }
    Texts Row1() const
    {
        Texts row;
        for (int k = 0; k < kLogChannelCount; ++k) row[k] = form->gridLog->Cells(k, 1);
        return row;
    }
    void SetEdits(const Texts& texts)
    {
        for (int k = 0; k < kLogChannelCount; ++k) form->LogSourceEdit[k]->setText(texts[k]);
    }
    // One sample taken exactly as the polling tick takes it.
    void Record(const Texts& texts)
    {
        form->LogChannelHeard.fill(true);   // the texts stand for what the ECU sent
        SetEdits(texts);
        form->AddLogSample();
    }
    // Texts of sample i of a made-up run: every channel moves, advance goes below zero.
    static Texts Varied(int i)
    {
        Texts t = kExample;
        t[0] = QString::number(800 + 97 * i);
        t[1] = base::FormatFixed(i * 0.0625, 2);
        t[3] = QString::number(i % 7 - 3);
        t[6] = QString::number(90 + i % 20);
        t[11] = QString::number(300 + 11 * i);
        t[12] = base::FormatGeneral((i % 9) * 0.5);
        return t;
    }
    static QByteArray Read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    // Answers the next file dialog with `name`, remembering the filter index it was run with.
    void AnswerDialog(const QString& name)
    {
        ui::SetFileDialogHook([this, name](ui::FileDialog& d) -> std::optional<QString> {
            dialogFilterIndex = d.FilterIndex;
            return name;
        });
    }
    void CatchMessages()
    {
        ui::SetMessageHook([this](ui::MessageKind kind, const QString& text) {
            messages.push_back(text);
            EXPECT_EQ(kind, ui::MessageKind::Error);
        });
    }
    // Saving over a file that is there: the tuner agrees to replace it.
    static void AnswerReplace()
    {
        ui::SetQuestionHook([](const QString& text, const QString& yes, const QString&) {
            EXPECT_TRUE(text.contains("already exist")) << text.toStdString();
            return yes == ui::ReplaceAnswer;
        });
    }
    // Answers every question about discarding the log, remembering what was asked.
    void AnswerQuestions(bool discard)
    {
        ui::SetQuestionHook([this, discard](const QString& text, const QString& yes, const QString& no) {
            questions.push_back(text);
            EXPECT_EQ(yes, "Discard");
            EXPECT_EQ(no, "Cancel");
            return discard;
        });
    }
    void SendMouse(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, pos, form->Chart10->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(form->Chart10, &e);
    }

    int dialogFilterIndex = 0;
    std::vector<QString> messages;
    std::vector<QString> questions;
};

TEST_F(LoggingTest, PageAsBuilt)
{
    LogChart* chart = form->Chart10;
    ASSERT_EQ(chart->SeriesCount(), kLogChannelCount);
    EXPECT_EQ(chart->parentWidget(), form->TabSheet[4]);
    EXPECT_EQ(chart->geometry(), QRect(16, 56, 750, 377));
    EXPECT_EQ(form->TrackBar1->geometry(), QRect(55, 8, 699, 45));
    EXPECT_EQ(form->Button3->geometry(), QRect(16, 432, 81, 25));
    EXPECT_EQ(form->Button4->geometry(), QRect(16, 456, 81, 25));
    EXPECT_EQ(form->gridLog->geometry(), QRect(104, 432, 668, 54));
    EXPECT_EQ(form->Button3->text(), "Save");
    EXPECT_EQ(form->Button4->text(), "Load");

    const QStringList titles = {"RPM/100", "TPS", "Fuel (ms)", "Advance", "Water", "Air", "Lambda",
                                "POT", "Volt", "Acc", "Map", "EGT", "Oil Pressure", "PWM"};
    const QStringList headings = {"RPM", "TPS", "Fuel (ms)", "Advance", "Water", "Air", "Lambda",
                                  "POT", "Volt", "Acc", "Map", "EGT", "Oil Press", "PWM"};
    const std::vector<std::pair<const char*, const char*>> boxes = {
        {"CheckBox1", "RPM"},     {"CheckBox2", "TPS"},    {"CheckBox3", "Fuel"},
        {"CheckBox4", "Advance"}, {"CheckBox8", "Water"},  {"CheckBox5", "Air"},
        {"CheckBox6", "Lambda"},  {"CheckBox7", "POT"},    {"CheckBox9", "Volt"},
        {"CheckBox10", "Acc"},    {"CheckBox11", "Map"},   {"CheckBox12", "EGT"},
        {"CheckBox13", "Oil Pressure"}, {"CheckBox14", "PWM"}};
    const int lefts[] = {0, 52, 103, 155, 223, 283, 326, 394, 446, 497, 549, 597, 645, 725};
    for (int k = 0; k < kLogChannelCount; ++k) {
        const bool shown = k < 4 || k == 6 || k > 9;
        EXPECT_EQ(chart->graph(k)->name(), titles[k]);
        EXPECT_EQ(chart->graph(k)->pen().width(), k == 8 ? 1 : 2) << k;
        EXPECT_EQ(chart->SeriesVisible(k), shown) << k;
        EXPECT_EQ(chart->Count(k), 0);
        EXPECT_EQ(form->gridLog->Cells(k, 0), headings[k]);
        QCheckBox* box = form->Control<QCheckBox>(boxes[k].first);
        ASSERT_NE(box, nullptr) << boxes[k].first;
        EXPECT_EQ(box, form->ChannelBox[k]);
        EXPECT_EQ(box->text(), boxes[k].second);
        EXPECT_EQ(box->accessibleName(), boxes[k].second);
        EXPECT_EQ(box->property("Tag").toInt(), k);
        EXPECT_EQ(box->isChecked(), shown);
        EXPECT_EQ(box->y(), 495);
        // In channel order, each caption whole and clear of the next box: at the boxes' own
        // places when the font lets them fit there, spread under the chart otherwise.
        EXPECT_GE(box->width(), box->sizeHint().width()) << k;
        if (k > 0) {
            EXPECT_LT(form->ChannelBox[k - 1]->geometry().right(), box->x()) << k;
        }
        EXPECT_LE(box->geometry().right(), 790);
        if (box->x() != lefts[k]) {
            EXPECT_GE(box->x(), 16) << k;
        }
    }
    EXPECT_EQ(form->gridLog->ColCount(), 14);
    EXPECT_EQ(form->gridLog->RowCount(), 2);
    EXPECT_EQ(form->gridLog->columnWidth(13), 46 + 1) << "46 pixels between the grid lines";
    for (int k = 0; k < kLogChannelCount; ++k) {   // every heading whole in its column
        const QFontMetrics metrics(form->gridLog->item(0, k)->font());
        EXPECT_LE(metrics.horizontalAdvance(form->gridLog->Cells(k, 0)), 46 - 2) << k;
    }
    EXPECT_EQ(form->gridLog->editTriggers(), QAbstractItemView::NoEditTriggers);

    EXPECT_TRUE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->orientation(), Qt::Horizontal);
    EXPECT_EQ(form->TrackBar1->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(form->TrackBar1->tickInterval(), 1);
    EXPECT_EQ(form->TrackBar1->minimum(), 0);
    EXPECT_EQ(form->TrackBar1->maximum(), 0);
    EXPECT_EQ(form->LoggingActive, 0);
    EXPECT_EQ(form->StatusBar1->PanelText(4), "");
}

// The live boxes start at "0": a recording started as polling begins holds none of those zeros,
// only what the ECU sent.
TEST_F(LoggingTest, ARecordingStartedAsPollingBeginsHoldsOnlyWhatTheEcuSent)
{
    ecu->SetLiveReply('F', 23, 100);    // lambda 1.00, POT 23
    ecu->SetLiveReply('H', 850, 25);    // EGT 850 °C, oil 2.5
    ASSERT_TRUE(WaitForReadComplete());
    form->FormShortCut(Qt::Key_F4);   // polling begins here, with the boxes still at "0"
    form->Button12->click();
    ASSERT_TRUE(WaitFor([&] { return Samples() >= 3; }));
    form->Button13->click();
    for (int i = 0; i < Samples(); ++i) {
        EXPECT_EQ(form->Chart10->YValue(6, i), 10) << "lambda, sample " << i;
        EXPECT_EQ(form->Chart10->YValue(11, i), 85) << "EGT, sample " << i;
        EXPECT_EQ(form->Chart10->YValue(12, i), 2.5) << "oil, sample " << i;
    }
}

TEST_F(LoggingTest, RecordingAgainstTheEcu)
{
    // Fixed live replies, so that the edits hold still between the last sample and the check.
    const struct { char letter; uint16_t address; uint8_t data; } replies[] = {
        {'A', 6543, 115}, {'B', 95, 200}, {'C', 104, 100}, {'D', 60, 115},
        {'E', 138, 0},    {'F', 23, 100}, {'G', 100, 100}, {'H', 850, 25}};
    for (const auto& r : replies) ecu->SetLiveReply(r.letter, r.address, r.data);
    ASSERT_TRUE(WaitForReadComplete());
    // Live texts as the Gauges page shows them (the live decode may write the ECU's own).
    SetEdits(kExample);
    form->Button12->click();
    EXPECT_EQ(form->LoggingActive, 1);
    EXPECT_EQ(form->StatusBar1->PanelText(4), "LOGGING");
    ASSERT_TRUE(WaitFor([&] { return Samples() >= 4; }));
    EXPECT_TRUE(form->TrackBar1->isHidden());

    // Recording goes on whichever page is shown, so the log holds what the status bar says.
    for (int key : {Qt::Key_F2, Qt::Key_F5, Qt::Key_F4}) {
        form->FormShortCut(key);
        EXPECT_TRUE(form->ThreadedTimer1->Enabled());
        const int before = Samples();
        ASSERT_TRUE(WaitFor([&] { return Samples() >= before + 2; })) << "page key " << key - Qt::Key_F1 + 1;
    }
    EXPECT_EQ(form->LoggingActive, 1);
    form->Button13->click();
    const int n = Samples();
    Pump(300);   // polling goes on, recording does not
    EXPECT_EQ(Samples(), n);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, n)) << "hidden series too";
    EXPECT_EQ(form->LoggingActive, 0);
    EXPECT_EQ(form->StatusBar1->PanelText(4), "       ");
    EXPECT_FALSE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->minimum(), 0);
    EXPECT_EQ(form->TrackBar1->maximum(), n - 1);
    EXPECT_TRUE(form->ThreadedTimer1->Enabled()) << "Stop leaves polling on";

    // The chart holds the edits' scaled values; row 1 shows the last sample as the log holds it,
    // in the Gauges page's units, and a click on that sample afterwards writes the same texts.
    const Texts edits = EditTexts();
    const auto sample = logging::SampleFromTexts(edits);
    ASSERT_TRUE(sample);
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(form->Chart10->YValue(k, n - 1), (*sample)[k]) << k;
    const Texts afterStop = Row1();
    EXPECT_EQ(afterStop[0], "6543");
    EXPECT_EQ(afterStop[6], "1.00") << "lambda as the ratio, not the live edit's raw 100";
    EXPECT_EQ(afterStop[11], "850");
    form->FormShortCut(Qt::Key_F5);
    form->Chart10->replot();
    form->gridLog->SetCells(6, 1, "x");
    const QPoint onRpm(qRound(form->Chart10->xAxis->coordToPixel(n - 1)) - 1,
                       qRound(form->Chart10->yAxis->coordToPixel(form->Chart10->YValue(0, n - 1))));
    QTest::mouseClick(form->Chart10, Qt::LeftButton, {}, onRpm);
    EXPECT_EQ(form->Chart10->CursorIndex(), n - 1);
    EXPECT_EQ(Row1(), afterStop);

    // Start again: a log never saved goes only when the tuner says so.
    form->TrackBar1->setValue(n - 1);
    const Texts readout = Row1();
    AnswerQuestions(false);
    form->Button12->click();
    ASSERT_EQ(questions, std::vector<QString>{QString("Discard the unsaved log of %1 samples?").arg(n)});
    EXPECT_EQ(Samples(), n);
    EXPECT_EQ(form->LoggingActive, 0);
    EXPECT_FALSE(form->TrackBar1->isHidden());
    // Discarded, the log is emptied and the slider hides.
    AnswerQuestions(true);
    form->Button12->click();
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 0));
    EXPECT_TRUE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->value(), 0);
    EXPECT_EQ(form->TrackBar1->maximum(), 0);
    EXPECT_EQ(Row1(), readout) << "hiding the slider first keeps its reset from reading out";
    form->Button13->click();   // before any tick: nothing recorded, the slider stays hidden
    EXPECT_EQ(Samples(), 0);
    EXPECT_TRUE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->maximum(), 0);
}

TEST_F(LoggingTest, SampleTextsAndValues)
{
    Quiet();
    Record(kExample);
    // The sample as the log holds it: 12.50 stays 12.50, lambda reads as the ratio, oil whole.
    const Texts logged = {"6543", "12.50", "3.25", "15", "85", "30", "1.00", "0", "13.80", "0", "95", "850", "3", "39"};
    EXPECT_EQ(Row1(), logged);
    const double chart[] = {65.43, 12.5, 3.25, 15, 85, 30, 10, 0, 13.8, 0, 9.5, 85, 2.5, 3.9};
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_DOUBLE_EQ(form->Chart10->YValue(k, 0), chart[k]) << k;

    // A text that does not convert: no series gains a point, and the row keeps showing the
    // last sample the log holds.
    Texts bad = kExample;
    bad[11] = "";
    Record(bad);
    EXPECT_EQ(Row1(), logged);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 1));
    bad[11] = "85O";
    Record(bad);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 1));

    // The edits are written with the system's separator, and read back with it.
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    Texts comma = kExample;
    comma[1] = "12,50";
    comma[2] = "3,25";
    comma[8] = "13,80";
    comma[12] = "2,5";
    Record(comma);
    ASSERT_EQ(Samples(), 2);
    EXPECT_DOUBLE_EQ(form->Chart10->YValue(1, 1), 12.5);
    form->Button2Click(nullptr);
    EXPECT_TRUE(form->TrackBar1->isHidden()) << "two samples are not worth a slider";
    EXPECT_EQ(form->TrackBar1->maximum(), 1);
    form->LineSeries10Click(form->Chart10, 1);
    EXPECT_EQ(Row1()[6], "1,00");
    EXPECT_EQ(Row1()[1], "12,50");
}

TEST_F(LoggingTest, ReadoutBySliderAndByLine)
{
    Quiet();
    Record(Varied(0));
    Record(Varied(1));
    Record(kExample);
    form->Button2Click(nullptr);
    ASSERT_FALSE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->maximum(), 2);
    form->gridLog->SetCells(0, 1, "x");
    form->TrackBar1->setValue(2);
    const Texts expected = {"6543", "12.50", "3.25", "15", "85", "30", "1.00",
                            "0",    "13.80", "0",    "95", "850", "3",  "39"};
    EXPECT_EQ(Row1(), expected);   // factors undone, lambda as a ratio, oil 2.5 rounded to 3
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(form->gridLog->Cells(k, 0), kLogChannels[k].heading);

    // Hiding RPM hides series 0 only; the readout still covers it. A shown Water line reads
    // out like any other.
    form->ChannelBox[0]->click();
    EXPECT_FALSE(form->Chart10->SeriesVisible(0));
    for (int k = 1; k < kLogChannelCount; ++k)
        EXPECT_EQ(form->Chart10->SeriesVisible(k), kLogChannels[k].initiallyVisible) << k;
    form->ChannelBox[4]->click();
    EXPECT_TRUE(form->Chart10->SeriesVisible(4));

    // A click on a line reads out the sample under it, whichever line it is.
    form->Chart10->replot();
    const QCPGraph* water = form->Chart10->graph(4);
    const QPoint onWater(int(form->Chart10->xAxis->coordToPixel(1)),
                         int(form->Chart10->yAxis->coordToPixel(form->Chart10->YValue(4, 1))));
    ASSERT_TRUE(water->visible());
    QTest::mouseClick(form->Chart10, Qt::LeftButton, {}, onWater);
    EXPECT_EQ(Row1(), *logging::Readout(*form->Chart10, 1));
    EXPECT_EQ(Row1()[0], "897");
    EXPECT_EQ(form->TrackBar1->value(), 2) << "a click does not move the slider";
    // The pointer over the line is told the same value, with its unit and its time.
    QTest::mouseMove(form->Chart10, onWater);
    QMouseEvent move(QEvent::MouseMove, onWater, form->Chart10->mapToGlobal(onWater), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form->Chart10, &move);
    EXPECT_EQ(form->Chart10->toolTip(), QString("Water %1 \u00b0C at %2 (sample 1)")
                                            .arg(Row1()[4], logging::FormatLogTime(form->Log.Times().Milliseconds(1))));

    // Away from every line: no readout.
    form->gridLog->SetCells(0, 1, "x");
    QTest::mouseClick(form->Chart10, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(form->gridLog->Cells(0, 1), "x");
}

TEST_F(LoggingTest, ZoomThenDoubleClickShowsTheWholeLog)
{
    Quiet();
    for (int i = 0; i < 50; ++i) Record(Varied(i));
    LogChart* chart = form->Chart10;
    chart->replot();
    const QCPRange fullX = chart->xAxis->range();
    const QCPRange fullY = chart->yAxis->range();
    EXPECT_EQ(fullX.lower, 0);
    EXPECT_EQ(fullX.upper, 49);

    const QRect plot = chart->axisRect()->rect();
    const QPoint from = plot.center() - QPoint(60, 40);
    const QPoint to = plot.center() + QPoint(40, 30);
    SendMouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, to, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    ASSERT_TRUE(chart->Zoomed());
    EXPECT_LT(chart->xAxis->range().size(), fullX.size() / 2);
    EXPECT_LT(chart->yAxis->range().size(), fullY.size() / 2);

    QTest::mouseDClick(chart, Qt::LeftButton, {}, plot.center());
    chart->replot();
    EXPECT_FALSE(chart->Zoomed());
    EXPECT_EQ(chart->xAxis->range(), fullX);
    EXPECT_EQ(chart->yAxis->range(), fullY);

    // Start Logging shows the new log whole, not the old zoom.
    AnswerQuestions(true);
    SendMouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, to, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    ASSERT_TRUE(chart->Zoomed());
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    EXPECT_FALSE(chart->Zoomed());
    form->Button2Click(nullptr);
}

TEST_F(LoggingTest, SaveLoadSaveThroughTheWindow)
{
    Quiet();
    for (int i = 0; i < 40; ++i) Record(Varied(i));
    Record(kExample);
    form->SaveDialog1.FilterIndex = 1;
    AnswerDialog(Path("run1"));
    form->Button3->click();
    EXPECT_EQ(dialogFilterIndex, 2);
    const QByteArray saved = Read(Path("run1.qxl"));
    EXPECT_EQ(saved.count('\n'), 41);
    EXPECT_TRUE(saved.endsWith("65.43\t12.50\t3.25\t15.00\t85.00\t30.00\t10.00\t0.00\t13.80\t0.00\t9.50\t85.00\t2.50\t3.90\t\r\n"));
    EXPECT_TRUE(saved.contains("\t-3.00\t"));
    AnswerDialog(Path("run1.QXL"));
    form->Button3->click();
    EXPECT_EQ(Read(Path("run1.QXL.qxl")), saved);
    AnswerDialog(Path("run1.qxl"));
    AnswerReplace();
    form->Button3->click();
    EXPECT_FALSE(QFile::exists(Path("run1.qxl.qxl")));

    // A fresh run (the saved log goes without a question), then the file back: the loaded log
    // replaces the run, once the tuner agrees to discard it, and saves byte for byte.
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    for (int i = 0; i < 70; ++i) Record(Varied(i + 5));
    form->Button2Click(nullptr);
    form->TrackBar1->setValue(60);
    form->OpenDialog1.FilterIndex = 1;
    AnswerDialog(Path("run1.qxl"));
    AnswerQuestions(true);
    form->Button4->click();
    EXPECT_EQ(questions, std::vector<QString>{"Discard the unsaved log of 70 samples?"});
    EXPECT_EQ(dialogFilterIndex, 2);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 41));
    EXPECT_FALSE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->maximum(), 40);
    EXPECT_EQ(form->TrackBar1->value(), 40) << "beyond the loaded log: moved to its last sample";
    EXPECT_EQ(Row1()[0], "6543") << "and that sample read out";
    EXPECT_EQ(Row1()[6], "1.00");
    EXPECT_EQ(form->Chart10->YValue(3, 0), -3);
    AnswerDialog(Path("run2.qxl"));
    form->Button3->click();
    EXPECT_EQ(Read(Path("run2.qxl")), saved);

    // Loading keeps a position that still exists.
    form->TrackBar1->setValue(7);
    form->Button4->click();   // the hook still answers run2.qxl
    EXPECT_EQ(form->TrackBar1->value(), 7);

    // An empty log: an empty file, which loads as nothing with the slider shown at 0..0.
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    form->Button2Click(nullptr);
    AnswerDialog(Path("empty"));
    form->Button3->click();
    EXPECT_EQ(Read(Path("empty.qxl")), QByteArray());
    AnswerDialog(Path("run1.qxl"));
    form->Button4->click();
    form->TrackBar1->setValue(30);
    AnswerDialog(Path("empty.qxl"));
    const Texts before = Row1();
    form->Button4->click();
    EXPECT_EQ(Samples(), 0);
    EXPECT_FALSE(form->TrackBar1->isHidden());
    EXPECT_EQ(form->TrackBar1->maximum(), 0);
    EXPECT_EQ(form->TrackBar1->value(), 0);
    EXPECT_EQ(Row1(), before) << "no sample, no readout";
    EXPECT_EQ(form->LoggingActive, 0);
    EXPECT_EQ(questions.size(), 1u) << "loaded and saved logs go without a question";
}

TEST_F(LoggingTest, CancelledDialogsChangeNothing)
{
    Quiet();
    for (int i = 0; i < 5; ++i) Record(Varied(i));
    ui::SetFileDialogHook([](ui::FileDialog&) { return std::optional<QString>(); });
    form->Button3->click();
    form->Button4->click();
    EXPECT_EQ(Samples(), 5);
    EXPECT_TRUE(form->TrackBar1->isHidden());
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.qxl"}, QDir::Files).isEmpty());
}

TEST_F(LoggingTest, AFailedSaveIsReportedAndTheOldFileStays)
{
    Quiet();
    CatchMessages();
    for (int i = 0; i < 3; ++i) Record(Varied(i));
    AnswerDialog(Path("day"));
    form->Button3->click();
    const QByteArray old = Read(Path("day.qxl"));
    ASSERT_EQ(old.count('\n'), 3);
    ASSERT_TRUE(messages.empty());

    // The disk fills halfway through (here: a file size limit, which binds root too).
    for (int i = 3; i < 3000; ++i) Record(Varied(i));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 32 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    AnswerReplace();
    form->Button3->click();
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(Path("day.qxl"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("File too large")) << messages[0].toStdString();
    EXPECT_EQ(Read(Path("day.qxl")), old);
    EXPECT_EQ(Samples(), 3000) << "the log stays on display";

    // A folder that cannot be made.
    AnswerDialog(Path("day.qxl/run"));
    form->Button3->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].contains("run.qxl")) << messages[1].toStdString();
}

TEST_F(LoggingTest, ALoadThatCannotOpenKeepsTheLog)
{
    Quiet();
    CatchMessages();
    for (int i = 0; i < 5; ++i) Record(Varied(i));
    form->Button2Click(nullptr);
    form->TrackBar1->setValue(4);
    const Texts row = Row1();
    AnswerDialog(Path("mistyped.qxl"));
    form->Button4->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("mistyped.qxl")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("No such file")) << messages[0].toStdString();
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 5));
    EXPECT_DOUBLE_EQ(form->Chart10->YValue(0, 4), 11.88);
    EXPECT_EQ(form->TrackBar1->maximum(), 4);
    EXPECT_EQ(form->TrackBar1->value(), 4);
    EXPECT_EQ(Row1(), row);
}

TEST_F(LoggingTest, LoadingDuringLoggingKeepsRecordingOntoTheLoadedLog)
{
    ASSERT_TRUE(WaitForReadComplete());
    {
        for (int i = 0; i < 4; ++i) Record(Varied(i));
        AnswerDialog(Path("four.qxl"));
        form->Button3->click();
    }
    form->Button12->click();
    ASSERT_TRUE(WaitFor([&] { return Samples() >= 1; }));
    form->FormShortCut(Qt::Key_F5);   // to the Logging page: sampling goes on
    AnswerQuestions(true);
    form->Button4->click();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(form->LoggingActive, 1);
    EXPECT_EQ(Samples(), 4);
    EXPECT_EQ(form->TrackBar1->maximum(), 3);
    ASSERT_TRUE(WaitFor([&] { return Samples() >= 6; }));
    EXPECT_FLOAT_EQ(float(form->Chart10->YValue(0, 3)), 10.91f);
    EXPECT_EQ(form->TrackBar1->maximum(), 3) << "new samples lie beyond the slider until Stop";
    form->Button13->click();
    EXPECT_EQ(form->TrackBar1->maximum(), Samples() - 1);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, Samples()));
}

TEST_F(LoggingTest, AnUnsavedLogIsNeverDiscardedWithoutAsking)
{
    Quiet();
    for (int i = 0; i < 3; ++i) Record(Varied(i));
    const QByteArray other = "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t\r\n";
    {
        QFile f(Path("other.qxl"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(other) == other.size());
    }

    // Start Logging, Load and closing the window each ask, and Cancel keeps the log.
    AnswerQuestions(false);
    form->Button12->click();
    EXPECT_EQ(form->LoggingActive, 0);
    AnswerDialog(Path("other.qxl"));
    form->Button4->click();
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(questions, std::vector<QString>(3, "Discard the unsaved log of 3 samples?"));
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 3));
    EXPECT_DOUBLE_EQ(form->Chart10->YValue(0, 2), Varied(2)[0].toDouble() / 100);

    // Once saved, the log goes without a question.
    AnswerDialog(Path("kept"));
    form->Button3->click();
    form->Button12->click();
    form->ThreadedTimer1->SetEnabled(false);
    form->Button2Click(nullptr);
    EXPECT_EQ(Samples(), 0);
    EXPECT_EQ(questions.size(), 3u);
    EXPECT_TRUE(form->close());
}

TEST_F(LoggingTest, AFileThatIsNoLogIsRefusedAndTheRecordingStays)
{
    Quiet();
    CatchMessages();
    for (int i = 0; i < 5; ++i) Record(Varied(i));
    const std::vector<double> rpm = {form->Chart10->YValue(0, 0), form->Chart10->YValue(0, 4)};
    {
        QFile image(Path("tune.qxe"));
        ASSERT_TRUE(image.open(QIODevice::WriteOnly));
        for (int i = 0; i < 500; ++i) image.putChar(char(i * 37 + 1));
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.qxl")).constData(), 0644), 0);
    const std::pair<const char*, const char*> files[] = {
        {"tune.qxe", "holds no log sample"},
        {"pipe.qxl", "It is a named pipe, not a file"},   // refused at once: nothing waits
    };
    for (const auto& [name, why] : files) {
        messages.clear();
        AnswerDialog(Path(name));
        form->Button4->click();   // no question: nothing is going to be discarded
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_TRUE(messages[0].contains(Path(name))) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(why)) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains("The log on display was kept")) << messages[0].toStdString();
        EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 5));
        EXPECT_EQ(form->Chart10->YValue(0, 0), rpm[0]);
        EXPECT_EQ(form->Chart10->YValue(0, 4), rpm[1]);
    }
    EXPECT_TRUE(questions.empty());
}

TEST_F(LoggingTest, ALoadThatStopsEarlySaysHowFarItGot)
{
    Quiet();
    std::vector<std::pair<ui::MessageKind, QString>> shown;
    ui::SetMessageHook([&](ui::MessageKind kind, const QString& text) { shown.push_back({kind, text}); });
    const QByteArray line = "65.43\t12.50\t3.25\t15.00\t85.00\t30.00\t10.00\t0.00\t13.80\t0.00\t9.50\t85.00\t2.50\t3.90\t\r\n";
    {
        QFile f(Path("stops.qxl"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(line + line + "1e39\t" + line);
    }
    AnswerDialog(Path("stops.qxl"));
    form->Button4->click();
    EXPECT_EQ(Samples(), 2);
    EXPECT_FALSE(form->TrackBar1->isHidden());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, ui::MessageKind::Warning);
    for (const char* part : {"Loaded 2 samples from", "line 3", "\"1e39\""})
        EXPECT_TRUE(shown[0].second.contains(part)) << part << " in " << shown[0].second.toStdString();
}

// A log bigger than the memory the machine has available is loaded only when the tuner says so,
// told the sizes first; Cancel keeps the log on display.
TEST_F(LoggingTest, ALogThatMayNotFitIsLoadedOnlyWhenTheTunerSaysSo)
{
    Quiet();
    for (int i = 0; i < 3; ++i) Record(Varied(i));
    AnswerDialog(Path("kept.qxl"));
    form->Button3->click();
    QByteArray big;
    for (int i = 0; i < 2000; ++i)
        big += "65.43\t12.50\t3.25\t15.00\t85.00\t30.00\t10.00\t0.00\t13.80\t0.00\t9.50\t85.00\t2.50\t3.90\t\r\n";
    {
        QFile f(Path("big.qxl"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(big) == big.size());
    }
    logging::SetAvailableMemoryForTest([] { return qint64(100000); });   // 2,000 samples need ~116 kB
    bool load = false;
    ui::SetQuestionHook([&](const QString& text, const QString& yes, const QString& no) {
        questions.push_back(text);
        EXPECT_EQ(yes, "Load");
        EXPECT_EQ(no, "Cancel");
        return load;
    });
    AnswerDialog(Path("big.qxl"));
    form->Button4->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains(QRegularExpression("big.qxl.* holds about 2.?000 samples .* needs about 116.0 kB "
                                                        "of memory .* has 100.0 kB available")))
        << questions[0].toStdString();
    EXPECT_EQ(Samples(), 3) << "Cancel keeps the log on display";
    load = true;
    form->Button4->click();
    EXPECT_EQ(Samples(), 2000);
    logging::SetAvailableMemoryForTest({});
    questions.clear();
    form->Button4->click();   // where it fits, nothing is asked
    EXPECT_TRUE(questions.empty());
}

TEST_F(LoggingTest, AValueNoLogFileCanHoldIsNotRecorded)
{
    Quiet();
    Texts huge = kExample;
    huge[1] = "1e39";   // typed into the TPS box while the link was down
    Record(huge);
    EXPECT_EQ(Row1(), Texts{}) << "no sample, nothing to show";
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 0)) << "but no series takes any of it";
    Record(kExample);
    EXPECT_EQ(Counts(), std::vector<int>(kLogChannelCount, 1));
}

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnv()
    {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

TEST_F(LoggingTest, EndedFromOutsideTheUnsavedLogIsSavedWithoutAQuestion)
{
    Quiet();
    for (int i = 0; i < 4; ++i) Record(Varied(i));
    {
        QFile blocker(Path("blocker"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }

    // Neither folder can be made: the log is not let go, the window asks as on any close,
    // and Cancel keeps the window and the log.
    {
        const ScopedEnv data("XDG_DATA_HOME", Path("blocker/data"));
        const ScopedEnv temp("TMPDIR", Path("blocker/tmp"));
        AnswerQuestions(false);
        EXPECT_FALSE(form->StopOnSignal(SIGTERM));
        EXPECT_EQ(questions, std::vector<QString>{"Discard the unsaved log of 4 samples?"});
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->Log.Unsaved(logging::SampleCount(*form->Chart10)));
    }

    // With somewhere to put it, the log is saved whole and the window closes unasked.
    const ScopedEnv data("XDG_DATA_HOME", Path("data"));
    const QString folder = TForm1::UnsavedLogFolders().value(0);
    ASSERT_TRUE(folder.startsWith(Path("data"))) << folder.toStdString();
    {
        QDir().mkpath(folder);   // a file of the same second is not replaced
        QFile earlier(folder + "/unsaved-log-" + QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss") + ".qxl");
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
    }
    questions.clear();
    EXPECT_TRUE(form->StopOnSignal(SIGINT));
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->Log.Unsaved(logging::SampleCount(*form->Chart10)));
    const QStringList files = QDir(folder).entryList({"unsaved-log-*.qxl"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2);
    QString saved;
    for (const QString& name : files)
        if (Read(folder + "/" + name) != "earlier") saved = folder + "/" + name;
    ASSERT_FALSE(saved.isEmpty()) << "the earlier file was overwritten";
    ASSERT_TRUE(logging::WriteLogFile(logging::ChartLogStore(*form->Chart10), Path("same.qxl"), nullptr));
    EXPECT_EQ(Read(saved), Read(Path("same.qxl")));
    EXPECT_EQ(Samples(), 4);
}

// A logout ends every window at once. Two windows, each with its own unsaved run, ending in the
// same second: two files, each holding its own run, each named in its own terminal line. Two
// processes, as two windows are.
TEST_F(LoggingTest, TwoWindowsEndingTogetherEachKeepTheirRun)
{
    const QString role = ChildRole();
    if (role.startsWith("window")) {
        Quiet();
        const int samples = role == "window4" ? 4 : 6;
        for (int i = 0; i < samples; ++i) Record(Varied(10 * samples + i));
        std::printf("READY\n");
        std::fflush(stdout);
        char go = 0;
        ASSERT_EQ(::read(0, &go, 1), 1);
        EXPECT_TRUE(form->StopOnSignal(SIGTERM));
        return;
    }
    struct Window {
        int samples;
        int go = -1;
        pid_t pid = -1;
        QString out, err;
    } windows[2] = {{4, -1, -1, {}, {}}, {6, -1, -1, {}, {}}};
    for (Window& w : windows) {
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        w.out = Path(QString("out%1.txt").arg(w.samples));
        w.err = Path(QString("err%1.txt").arg(w.samples));
        const int out = ::open(QFile::encodeName(w.out).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(QFile::encodeName(w.err).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        w.pid = SpawnSelf(QString("window%1").arg(w.samples), go[0], out, err);
        ::close(go[0]);
        ::close(out);
        ::close(err);
        w.go = go[1];
        ASSERT_GT(w.pid, 0);
    }
    for (Window& w : windows)
        ASSERT_TRUE(WaitFor([&] { return Read(w.out).contains("READY"); }, 30000)) << Read(w.out).toStdString();
    // Both in the same second, a moment apart.
    ASSERT_TRUE(WaitFor([] { return QTime::currentTime().msec() < 500; }, 2000));
    for (Window& w : windows) ASSERT_EQ(::write(w.go, "g", 1), 1);
    for (Window& w : windows) {
        ::close(w.go);
        const int status = WaitChild(w.pid, 60000);
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(w.out).toStdString();
    }

    const ScopedEnv data("XDG_DATA_HOME", dir.path());   // as the windows had it
    const QString folder = TForm1::UnsavedLogFolders().value(0);
    const QStringList files = QDir(folder).entryList({"unsaved-log-*.qxl"}, QDir::Files, QDir::Name);
    EXPECT_EQ(files.size(), 2) << files.join(", ").toStdString();
    for (Window& w : windows) {
        SCOPED_TRACE(w.samples);
        const QByteArray said = Read(w.err);
        const qsizetype at = said.indexOf("was saved to ");
        ASSERT_GE(at, 0) << said.toStdString();
        const QString path = QString::fromLocal8Bit(said.mid(at + 13, said.indexOf('\n', at) - at - 13));
        EXPECT_TRUE(path.startsWith(folder)) << path.toStdString();
        const logging::LogLoadResult load = logging::ParseLogFile(path, kLogChannelCount);
        ASSERT_FALSE(load.Refused()) << path.toStdString();
        ASSERT_EQ(load.samples.SampleCount(), w.samples) << "the other window's run, or none";
        EXPECT_FLOAT_EQ(load.samples.series[0].At(0), Varied(10 * w.samples)[0].toFloat() / 100);
    }
}

// A signal reaches the window thread once; after it a second one would end the program, and a
// signal the program was started ignoring stays ignored.
TEST(StopSignalsTest, ASignalIsHandedToTheWindowThreadOnce)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGINT, &ignore, &before), 0);   // as for a program started in the background
    std::vector<int> got;
    {
        StopSignals stop([&](int signal) { got.push_back(signal); });
        auto action = [](int signal) {
            struct sigaction now {};
            sigaction(signal, nullptr, &now);
            return now.sa_handler;
        };
        EXPECT_EQ(action(SIGINT), SIG_IGN);
        EXPECT_NE(action(SIGTERM), SIG_DFL);
        ASSERT_EQ(raise(SIGHUP), 0);
        ASSERT_EQ(raise(SIGTERM), 0);
        EXPECT_TRUE(got.empty()) << "the handler itself does nothing but note the signal";
        QElapsedTimer waited;
        waited.start();
        while (got.empty() && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);   // nothing more may come
        EXPECT_EQ(got, std::vector<int>{SIGHUP});
        EXPECT_EQ(action(SIGTERM), SIG_DFL);
        EXPECT_EQ(action(SIGHUP), SIG_DFL);
    }
    sigaction(SIGINT, &before, nullptr);
}

}  // namespace
