// The log viewer as a tuner works with it: wheel zoom and pan, the cursor line at the sample the
// readout shows, the time of each sample, a background every line shows on, and the CSV export.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <map>
#include <string>

#include "base/UserSettings.h"
#include "ecu/Threadedtimer.h"
#include "logging/LogViewer.h"
#include "logging/LogLoad.h"
#include "tests/support/CsvReader.h"
#include "tests/support/RawFiles.h"
#include "tests/window/WindowFixture.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"
#include "ui/ScatterPlot.h"
#include "base/NumberFormat.h"
#include "ui/StringGrid.h"

namespace {

using logging::kLogChannelCount;
using Texts = std::array<QString, kLogChannelCount>;

class LogWorkbenchTest : public WindowTest {
protected:
    void SetUp() override
    {
        base::SetDisplayLocale(QLocale::c());
        WindowTest::SetUp();
        ASSERT_TRUE(WaitForReadComplete());
        form->FormShortCut(Qt::Key_F5);   // the Logging page: polling stops, only the test records
        Pump(30);
        chart = form->Chart10;
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        base::ResetDisplayLocale();
    }

    // Sample i of a made-up run, in the display locale: every channel moves.
    static Texts Live(int i)
    {
        return {QString::number(800 + 37 * i),      base::FormatFixed((i % 200) * 0.0625, 2),
                base::FormatFixed(1 + (i % 90) * 0.03125, 2), QString::number(i % 40 - 10),
                QString::number(70 + i % 30),        QString::number(20 + i % 9),
                QString::number(85 + i % 30),        QString::number(i % 1024),
                base::FormatFixed(12 + (i % 30) * 0.1, 2), QString::number(i % 7),
                QString::number(30 + i % 200),       QString::number(300 + i % 600),
                base::FormatGeneral((i % 60) * 0.1),   QString::number(i % 101)};
    }
    void RecordSamples(int from, int to)
    {
        form->LogChannelHeard.fill(true);   // the texts stand for what the ECU sent
        for (int i = from; i < to; ++i) {
            for (int k = 0; k < kLogChannelCount; ++k) form->LogSourceEdit[k]->setText(Live(i)[k]);
            form->AddLogSample();
        }
    }
    void Wheel(QPoint pos, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWheelEvent e(pos, chart->mapToGlobal(pos), QPoint(), angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &e);
    }
    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, pos, chart->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(chart, &e);
    }
    QCPRange Samples() const { return chart->xAxis->range(); }

    LogChart* chart = nullptr;
};

TEST_F(LogWorkbenchTest, WheelZoomsAndPansTheSamplesDoubleClickRestoresTheWholeLog)
{
    RecordSamples(0, 400);
    form->Button2Click(nullptr);
    chart->replot();
    ASSERT_EQ(Samples(), QCPRange(0, 399));
    const QCPRange values = chart->yAxis->range();
    const QRect plot = chart->axisRect()->rect();
    const QPoint at(plot.left() + plot.width() / 4, plot.center().y());
    const double keyAt = chart->xAxis->pixelToCoord(at.x());

    // Up zooms in about the pointer: the sample under it stays under it; values keep their scale.
    Wheel(at, {0, 120});
    Wheel(at, {0, 120});
    EXPECT_TRUE(chart->Zoomed());
    EXPECT_NEAR(Samples().size(), 399 * 0.64, 1);
    EXPECT_NEAR(chart->xAxis->pixelToCoord(at.x()), keyAt, 1e-6);
    EXPECT_EQ(chart->yAxis->range(), values);

    // With Shift, or sideways, the wheel pans; never past the log's ends.
    const QCPRange zoomed = Samples();
    Wheel(at, {0, -120}, Qt::ShiftModifier);
    EXPECT_NEAR(Samples().lower, zoomed.lower + 0.1 * zoomed.size(), 1e-6);
    EXPECT_NEAR(Samples().size(), zoomed.size(), 1e-6);
    for (int i = 0; i < 30; ++i) Wheel(at, {-120, 0});
    EXPECT_NEAR(Samples().upper, 399, 1e-6);
    EXPECT_NEAR(Samples().size(), zoomed.size(), 1e-6);

    // The right button drags the samples along: 100 pixels to the right shows earlier ones.
    const double perPixel = Samples().size() / plot.width();
    const QCPRange before = Samples();
    Mouse(QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseMove, at + QPoint(100, 0), Qt::NoButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, at + QPoint(100, 0), Qt::RightButton, Qt::NoButton);
    EXPECT_NEAR(Samples().lower, before.lower - 100 * perPixel, 1e-6);
    EXPECT_FALSE(chart->selectionRect()->isActive()) << "a pan is no rectangle zoom";

    // Zooming in stops at a few samples; a double click shows the whole log again.
    for (int i = 0; i < 40; ++i) Wheel(at, {0, 120});
    EXPECT_NEAR(Samples().size(), 8, 1e-6);
    QTest::mouseDClick(chart, Qt::LeftButton, {}, plot.center());
    chart->replot();
    EXPECT_FALSE(chart->Zoomed());
    EXPECT_EQ(Samples(), QCPRange(0, 399));

    // Zooming out as far as the wheel goes is the whole log, which then follows new samples.
    Wheel(at, {0, 120});
    for (int i = 0; i < 10; ++i) Wheel(at, {0, -120});
    EXPECT_FALSE(chart->Zoomed());
    RecordSamples(400, 410);
    chart->replot();
    EXPECT_EQ(Samples(), QCPRange(0, 409));
}

TEST_F(LogWorkbenchTest, CursorStandsAtTheSampleTheReadoutShows)
{
    EXPECT_EQ(chart->CursorIndex(), -1);
    RecordSamples(0, 60);
    EXPECT_EQ(chart->CursorIndex(), 59) << "while recording: the newest sample";
    EXPECT_TRUE(form->lblSampleTime->text().startsWith("Sample 59 at 0:00:0")) << form->lblSampleTime->text().toStdString();
    form->Button2Click(nullptr);

    // The slider moves the cursor along, and the cursor is drawn where the sample is.
    form->TrackBar1->setValue(20);
    EXPECT_EQ(chart->CursorIndex(), 20);
    EXPECT_TRUE(form->lblSampleTime->text().startsWith("Sample 20 at ")) << form->lblSampleTime->text().toStdString();
    chart->replot();
    const QImage image = chart->grab().toImage();
    const int x = qRound(chart->xAxis->coordToPixel(20));
    int cursorPixels = 0;   // in the pixel column with the most white: a dashed line, top to bottom
    for (int column = x - 1; column <= x + 1; ++column) {
        int white = 0;
        for (int y = chart->axisRect()->top(); y < chart->axisRect()->bottom(); ++y)
            if (image.pixelColor(column, y) == QColor(Qt::white)) ++white;
        cursorPixels = std::max(cursorPixels, white);
    }
    EXPECT_GT(cursorPixels, chart->axisRect()->height() / 3);

    // A click on a line moves the cursor and the readout to the sample clicked; the slider stays.
    const int clicked = 41;
    const QPoint onRpm(qRound(chart->xAxis->coordToPixel(clicked)), qRound(chart->yAxis->coordToPixel(chart->YValue(0, clicked))));
    QTest::mouseClick(chart, Qt::LeftButton, {}, onRpm);
    EXPECT_EQ(chart->CursorIndex(), clicked);
    EXPECT_EQ(form->gridLog->Cells(0, 1), Live(clicked)[0]);
    EXPECT_EQ(form->TrackBar1->value(), 20);

    // A new log has no sample to stand at.
    ui::SetQuestionHook([](const QString&, const QString&, const QString&) { return true; });   // discard
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    EXPECT_EQ(chart->CursorIndex(), -1);
    EXPECT_EQ(form->lblSampleTime->text(), "");
}

TEST_F(LogWorkbenchTest, RecordedSamplesKeepTheirTimesALoadedLogRunsOnTheNominalCycle)
{
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    RecordSamples(0, 2);
    Pump(600);   // the user looks at another page for a while: the gap is in the times
    RecordSamples(2, 4);
    form->Button2Click(nullptr);
    EXPECT_FALSE(form->Log.Times().Nominal());
    EXPECT_LT(form->Log.Times().Milliseconds(1), 300);
    EXPECT_GE(form->Log.Times().Milliseconds(2), 600);
    form->TrackBar1->setValue(3);
    const QString recorded = form->lblSampleTime->text();
    EXPECT_TRUE(recorded.startsWith("Sample 3 at 0:00:00.")) << recorded.toStdString();
    EXPECT_FALSE(recorded.contains("nominal"));

    ui::SetFileDialogHook([this](ui::FileDialog&) { return std::optional<QString>(Path("four.qxl")); });
    form->Button3->click();
    form->TrackBar1->setValue(0);
    form->Button4->click();
    EXPECT_TRUE(form->Log.Times().Nominal());
    EXPECT_EQ(form->lblSampleTime->text(), "") << "the row still shows the old log's sample";
    form->TrackBar1->setValue(3);
    EXPECT_EQ(form->lblSampleTime->text(),
              "Sample 3 at 0:00:00.324 (nominal: the file holds no times, so each sample counts as 108 ms)");
}

// A tick's text as seconds: "12.5 s", "2:30", "1:02:30.5".
double TickSeconds(const QString& label)
{
    QString text = label;
    if (text.endsWith(" s")) return text.chopped(2).toDouble();
    double seconds = 0;
    for (const QString& part : text.split(':')) seconds = seconds * 60 + part.toDouble();
    return seconds;
}

TEST_F(LogWorkbenchTest, TheTimeAxisReadsTheSecondsTheSamplesWereTakenAt)
{
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    // Samples at an uneven pace, with a pause of the kind a look at another page makes.
    for (int i = 0; i < 30; ++i) {
        RecordSamples(i, i + 1);
        Pump(i == 12 ? 700 : 20 + i % 3 * 15);
    }
    form->Button2Click(nullptr);
    ASSERT_FALSE(form->Log.Times().Nominal());
    chart->replot();
    EXPECT_TRUE(chart->xAxis->visible());
    EXPECT_EQ(chart->xAxis->label(), "Time from the log's start");

    // Each tick stands where the log's recorded clock reads the tick's text: between the two
    // samples taken around it, at the share of the way its time is.
    const auto& times = form->Log.Times();
    const QVector<double> ticks = chart->xAxis->tickVector();
    const QVector<QString> labels = chart->xAxis->tickVectorLabels();
    ASSERT_GE(ticks.size(), 3);
    ASSERT_EQ(ticks.size(), labels.size());
    double previous = -1;
    for (int t = 0; t < ticks.size(); ++t) {
        const double seconds = TickSeconds(labels[t]);
        EXPECT_GT(seconds, previous);
        previous = seconds;
        const int i = std::clamp(int(std::floor(ticks[t])), 0, 28);
        const double a = times.Milliseconds(i) / 1000.0, b = times.Milliseconds(i + 1) / 1000.0;
        EXPECT_LE(a, seconds + 1e-9) << labels[t].toStdString();
        EXPECT_GE(b, seconds - 1e-9) << labels[t].toStdString();
        EXPECT_NEAR(ticks[t], i + (seconds - a) / (b - a), 1e-6) << labels[t].toStdString();
    }
    EXPECT_NEAR(TickSeconds(labels.last()), times.Milliseconds(29) / 1000.0, 0.5);
    // Seconds crowd into the samples around the pause: their ticks still stand apart.
    for (int t = 1; t < ticks.size(); ++t)
        EXPECT_GE(chart->xAxis->coordToPixel(ticks[t]) - chart->xAxis->coordToPixel(ticks[t - 1]),
                  QFontMetrics(chart->xAxis->tickLabelFont()).horizontalAdvance(labels[t]))
            << labels[t - 1].toStdString() << " " << labels[t].toStdString();

    // A loaded log runs on the nominal cycle and says so; a long one reads in hours.
    ui::SetFileDialogHook([this](ui::FileDialog&) { return std::optional<QString>(Path("long.qxl")); });
    form->Button3->click();
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    QFile file(Path("long.qxl"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray line = QByteArray("1.00\t").repeated(kLogChannelCount) + "\r\n";
    for (int i = 0; i < 50000; ++i) file.write(line);   // 90 minutes at 108 ms
    file.close();
    form->Button4->click();
    EXPECT_TRUE(form->Log.Times().Nominal());
    chart->replot();
    EXPECT_TRUE(chart->xAxis->label().contains("nominal")) << chart->xAxis->label().toStdString();
    const QVector<QString> hours = chart->xAxis->tickVectorLabels();
    ASSERT_GE(hours.size(), 3);
    for (int t = 0; t < hours.size(); ++t) {
        EXPECT_EQ(hours[t].count(':'), 2) << hours[t].toStdString();
        EXPECT_NEAR(chart->xAxis->tickVector()[t], TickSeconds(hours[t]) / 0.108, 1e-6);
    }
    // A chart made wider holds more ticks from its first drawing at the new size (the ticks
    // are made before the drawing lays the plot out: they once took the old width).
    const QSize size = chart->size();
    chart->resize(size.width() * 2, size.height());
    chart->replot();
    EXPECT_GT(chart->xAxis->tickVector().size(), hours.size());
    chart->resize(size);
    chart->replot();
    EXPECT_EQ(chart->xAxis->tickVector().size(), hours.size());
    // Zoomed in to a few samples: fractions of a second.
    chart->ZoomSamples(1000, 8.0 / 50000);
    chart->replot();
    const QVector<QString> fine = chart->xAxis->tickVectorLabels();
    ASSERT_GE(fine.size(), 3);
    EXPECT_TRUE(fine[0].contains('.')) << fine[0].toStdString();
    for (int t = 0; t < fine.size(); ++t)
        EXPECT_NEAR(chart->xAxis->tickVector()[t], TickSeconds(fine[t]) / 0.108, 1e-6) << fine[t].toStdString();
}

// The white pixels of a pixel column between two heights: where the dashed cursor stands.
int WhiteInColumn(const QImage& image, int x, int top, int bottom)
{
    int white = 0;
    for (int y = top; y < bottom; ++y)
        if (image.pixelColor(x, y) == QColor(Qt::white)) ++white;
    return white;
}

TEST_F(LogWorkbenchTest, FourteenLanesAtTheDefaultWindowSizeEachWithItsOwnUnitSharingTimeZoomAndCursor)
{
    RecordSamples(0, 300);
    form->Button2Click(nullptr);
    EXPECT_EQ(form->cmbLogView->currentText(), "One chart") << "the product's view at first start";
    EXPECT_EQ(form->cmbLogView->accessibleName(), "View");
    form->cmbLogView->setCurrentIndex(1);
    ASSERT_EQ(form->cmbLogView->currentText(), "Lanes");
    for (QCheckBox* box : form->ChannelBox) box->setChecked(true);
    EXPECT_EQ(form->size(), QSize(798, 603));
    chart->replot();

    const auto& lanes = chart->LaneList();
    ASSERT_EQ(lanes.size(), size_t(kLogChannelCount));
    const QRect whole = chart->rect();
    for (int i = 0; i < kLogChannelCount; ++i) {
        const LogChart::Lane& lane = lanes[size_t(i)];
        EXPECT_EQ(lane.series, i);
        EXPECT_EQ(lane.caption->text(), logging::NameWithUnit(i));
        // Readable: the caption and two value labels fit the lane, and lanes do not overlap.
        const QRect r = lane.rect->rect();
        const int textHeight = QFontMetrics(lane.caption->font()).height();
        EXPECT_GE(r.height(), textHeight + 4) << i;
        EXPECT_GE(QFontInfo(lane.caption->font()).pointSizeF(), 6.5);
        EXPECT_TRUE(whole.contains(r)) << i;
        if (i > 0) {
            EXPECT_GE(r.top(), lanes[size_t(i - 1)].rect->rect().bottom()) << i;
        }
        EXPECT_EQ(lane.rect->left(), lanes[0].rect->left()) << "value axes aligned";
        const QVector<QString> labels = lane.rect->axis(QCPAxis::atLeft)->tickVectorLabels();
        EXPECT_GE(labels.size(), 1) << i;
        EXPECT_LE(labels.size(), std::max(2, r.height() / textHeight)) << "labels that would overlap: " << i;
    }
    EXPECT_EQ(lanes[0].caption->text(), "RPM (rpm)");
    EXPECT_EQ(lanes[11].caption->text(), QString("EGT (\u00b0C)"));
    EXPECT_EQ(lanes[10].caption->text(), "Map (kPa)");
    EXPECT_EQ(lanes[2].caption->text(), "Fuel (ms)") << "the unit once";
    EXPECT_TRUE(chart->legend->itemCount() == 0) << "each lane names its own line";

    // Each lane's axis is in its unit: rpm in thousands, not the chart's hundredths; lambda
    // as the ratio.
    auto labelValues = [&](int lane) {
        std::vector<double> values;
        for (const QString& l : lanes[size_t(lane)].rect->axis(QCPAxis::atLeft)->tickVectorLabels()) values.push_back(l.toDouble());
        return values;
    };
    const std::vector<double> rpms = labelValues(0);
    for (double rpm : rpms) {
        EXPECT_GE(rpm, 0);
        EXPECT_LE(rpm, 12500);
    }
    ASSERT_FALSE(rpms.empty());
    EXPECT_GE(*std::max_element(rpms.begin(), rpms.end()), 1000);
    for (double lambda : labelValues(6)) {
        EXPECT_GE(lambda, 0.8);
        EXPECT_LE(lambda, 1.2);
    }

    // One time axis under the last lane; a zoom moves every lane, and the cursor stands in each.
    chart->ZoomSamples(150, 0.25);
    form->TrackBar1->setValue(160);
    chart->replot();
    for (const LogChart::Lane& lane : lanes) EXPECT_EQ(lane.rect->axis(QCPAxis::atBottom)->range(), chart->xAxis->range());
    const QImage image = chart->grab().toImage();
    const int x = qRound(chart->xAxis->coordToPixel(160));
    for (const LogChart::Lane& lane : lanes) {
        int white = 0;
        for (int column = x - 1; column <= x + 1; ++column)
            white = std::max(white, WhiteInColumn(image, column, lane.rect->top(), lane.rect->bottom()));
        EXPECT_GT(white, lane.rect->height() / 3) << lane.series;
    }

    // A click on the EGT lane's line reads out that sample, as in the one chart.
    const LogChart::Lane& egt = lanes[11];
    const QPoint onEgt(qRound(egt.rect->axis(QCPAxis::atBottom)->coordToPixel(170)),
                       qRound(egt.rect->axis(QCPAxis::atLeft)->coordToPixel(chart->YValue(11, 170))));
    QTest::mouseClick(chart, Qt::LeftButton, {}, onEgt);
    EXPECT_EQ(chart->CursorIndex(), 170);
    EXPECT_EQ(form->gridLog->Cells(11, 1), Live(170)[11]);

    // One lane fills the chart; the choice is remembered for the next start.
    for (int k = 1; k < kLogChannelCount; ++k) form->ChannelBox[k]->setChecked(false);
    chart->replot();
    ASSERT_EQ(chart->LaneList().size(), 1u);
    EXPECT_GT(chart->LaneList()[0].rect->height(), 200);
    form.reset();
    StartWindow();
    EXPECT_EQ(form->cmbLogView->currentText(), "Lanes");
    EXPECT_TRUE(form->Chart10->Lanes());
    form->cmbLogView->setCurrentIndex(0);
    EXPECT_FALSE(form->Chart10->Lanes());
}

// A lane's value labels where QCustomPlot draws them: the text's box, centred on its tick.
struct LabelBox {
    double top, bottom;
    QString text;
};
std::vector<LabelBox> LaneLabels(const LogChart::Lane& lane)
{
    const QCPAxis* axis = lane.rect->axis(QCPAxis::atLeft);
    const QFontMetrics metrics(axis->tickLabelFont());
    const QVector<double> ticks = axis->tickVector();
    const QVector<QString> texts = axis->tickVectorLabels();
    std::vector<LabelBox> boxes;
    for (int i = 0; i < ticks.size() && i < texts.size(); ++i) {
        const double y = axis->coordToPixel(ticks[i]);
        const double h = metrics.boundingRect(0, 0, 0, 0, Qt::TextDontClip | Qt::AlignHCenter, texts[i]).height();
        boxes.push_back({y - h / 2, y + h / 2, texts[i]});
    }
    std::sort(boxes.begin(), boxes.end(), [](const LabelBox& a, const LabelBox& b) { return a.top < b.top; });
    return boxes;
}

// Every lane has a scale, and each of its labels stands whole inside the lane, clear of the next.
void ExpectLabelsInsideTheirLanes(const LogChart& chart, const std::string& where)
{
    for (const LogChart::Lane& lane : chart.LaneList()) {
        const QRect r = lane.rect->rect();
        const std::vector<LabelBox> labels = LaneLabels(lane);
        EXPECT_GE(labels.size(), 1u) << where << ", lane " << lane.series << " has no scale";
        for (size_t i = 0; i < labels.size(); ++i) {
            const LabelBox& l = labels[i];
            EXPECT_GE(l.top, r.top()) << where << ", lane " << lane.series << ": \"" << l.text.toStdString()
                                      << "\" over the lane's top " << r.top();
            EXPECT_LE(l.bottom, r.top() + r.height()) << where << ", lane " << lane.series << ": \""
                                                      << l.text.toStdString() << "\" under the lane's bottom";
            if (i > 0) {
                EXPECT_GE(l.top, labels[i - 1].bottom) << where << ", lane " << lane.series << ": labels on each other";
            }
        }
    }
}

std::vector<QVector<double>> LaneTicks(const LogChart& chart)
{
    std::vector<QVector<double>> ticks;
    for (const LogChart::Lane& lane : chart.LaneList()) ticks.push_back(lane.rect->axis(QCPAxis::atLeft)->tickVector());
    return ticks;
}

TEST_F(LogWorkbenchTest, TheViewTakesWhatTheWindowGrowsByTheRowsUnderItMoveDownAndTheLanesGrow)
{
    RecordSamples(0, 300);
    form->Button2Click(nullptr);
    form->cmbLogView->setCurrentIndex(1);
    for (QCheckBox* box : form->ChannelBox) box->setChecked(true);
    ASSERT_EQ(form->size(), TForm1::DefaultSize);
    chart->replot();
    Pump(20);
    QWidget* page = form->TabSheet[4];
    std::map<QWidget*, QRect> homes;
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) homes[w] = w->geometry();
    const int pageWidth = page->width();
    const auto& lanes = chart->LaneList();
    ASSERT_EQ(lanes.size(), size_t(kLogChannelCount));
    std::vector<int> heights;
    for (const LogChart::Lane& lane : lanes) heights.push_back(lane.rect->height());
    ExpectLabelsInsideTheirLanes(*chart, "default size");

    // Larger: the chart is laid out by the resize's own replot, no other.
    const QSize big(1280, 900);
    const QSize growth = big - TForm1::DefaultSize;
    form->resize(big);
    ASSERT_TRUE(WaitFor([&] { return chart->height() == homes[chart].height() + growth.height(); }));
    ASSERT_EQ(page->width(), pageWidth + growth.width());
    for (QWidget* view : std::initializer_list<QWidget*>{chart, form->chartScatter, form->gridCells})
        EXPECT_EQ(view->geometry(), homes[view].adjusted(0, 0, growth.width(), growth.height())) << view->objectName().toStdString();
    std::vector<QWidget*> under{form->Button3, form->Button4, form->gridLog, form->Button14};
    under.insert(under.end(), form->ChannelBox.begin(), form->ChannelBox.end());
    for (QWidget* w : under) EXPECT_EQ(w->geometry(), homes[w].translated(0, growth.height())) << w->objectName().toStdString();
    EXPECT_EQ(form->lblSampleTime->geometry(), homes[form->lblSampleTime].translated(0, growth.height()).adjusted(0, 0, growth.width(), 0))
        << "the sample's caption takes the room the buttons at the right end leave";
    for (QWidget* w : std::initializer_list<QWidget*>{form->cmbLogView, form->ButtonLogCalibration, form->btnSecondLog}) {
        EXPECT_EQ(w->y(), homes[w].y() + growth.height()) << w->objectName().toStdString();
        EXPECT_EQ(page->width() - w->geometry().right(), pageWidth - homes[w].right()) << w->objectName().toStdString();
        EXPECT_EQ(w->size(), homes[w].size());
    }
    EXPECT_EQ(page->width() - form->TrackBar1->geometry().right(), pageWidth - homes[form->TrackBar1].right());
    EXPECT_EQ(form->TrackBar1->x(), homes[form->TrackBar1].x());
    EXPECT_EQ(form->btnCellExport->geometry(), homes[form->btnCellExport].translated(growth.width(), 0))
        << "above the table, at its right end";
    EXPECT_EQ(form->cmbCellMap->geometry(), homes[form->cmbCellMap]);
    EXPECT_EQ(form->panelCellFilters->geometry().top(), homes[form->panelCellFilters].top());
    EXPECT_EQ(form->gridCells->geometry().top(), homes[form->gridCells].top()) << "the filters keep their place above the table";
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(page)) {
            EXPECT_TRUE(page->rect().contains(w->geometry())) << w->objectName().toStdString();
        }
    }

    // Each of the fourteen lanes is taller, together they took all the chart grew by, and their
    // ticks are the ones a later replot gives: not made for the old height.
    int grown = 0;
    for (size_t i = 0; i < lanes.size(); ++i) {
        EXPECT_GT(lanes[i].rect->height(), heights[i]) << i;
        grown += lanes[i].rect->height() - heights[i];
    }
    EXPECT_LE(grown, growth.height());
    EXPECT_GE(grown, growth.height() - kLogChannelCount) << "a pixel per lane may go to rounding, no more";
    ExpectLabelsInsideTheirLanes(*chart, "after growing");
    const std::vector<QVector<double>> afterResize = LaneTicks(*chart);
    chart->replot();
    EXPECT_EQ(LaneTicks(*chart), afterResize) << "the resize's replot made the ticks for the old height";
    const QImage picture = chart->grab().toImage();
    EXPECT_EQ(picture.size(), homes[chart].size() + growth);

    // Back at the default size every control stands where it stood; smaller, nothing shrinks.
    for (const QSize size : {TForm1::DefaultSize, QSize(form->minimumWidth(), 500)}) {
        form->resize(size);
        ASSERT_TRUE(WaitFor([&] { return form->size() == size; }));
        Pump(20);
        for (const auto& [w, home] : homes) EXPECT_EQ(w->geometry(), home) << w->objectName().toStdString() << " at " << size.width();
    }
    form->resize(TForm1::DefaultSize);
    ASSERT_TRUE(WaitFor([&] { return form->size() == TForm1::DefaultSize; }));
    for (size_t i = 0; i < lanes.size(); ++i) EXPECT_EQ(lanes[i].rect->height(), heights[i]) << i;
    ExpectLabelsInsideTheirLanes(*chart, "back at the default size");
}

TEST_F(LogWorkbenchTest, EveryLaneLabelStandsInsideItsLaneAtEveryLaneCountAndWindowSize)
{
    RecordSamples(0, 300);
    form->Button2Click(nullptr);
    form->cmbLogView->setCurrentIndex(1);
    for (const QSize size : {TForm1::DefaultSize, QSize(1280, 900)}) {
        form->resize(size);
        ASSERT_TRUE(WaitFor([&] { return form->size() == size; }));
        for (int n = 1; n <= kLogChannelCount; ++n) {
            for (int k = 0; k < kLogChannelCount; ++k) form->ChannelBox[k]->setChecked(k < n);
            chart->replot();
            ASSERT_EQ(chart->LaneList().size(), size_t(n));
            ExpectLabelsInsideTheirLanes(*chart, std::to_string(n) + " lanes at " + std::to_string(size.width()));
        }
    }
}

TEST_F(LogWorkbenchTest, ScatterOfThreeMillionSamplesNamesTheValuesUnderThePointerAndFollowsTheTimeZoom)
{
    // A made log: engine speed steps through 1000 .. 6900 rpm, manifold pressure through 20 ..
    // 210 kPa more slowly, lambda moves on a cycle of its own.
    constexpr int kSamples = 3000000;
    auto rpm = [](int i) { return double(10 + i % 60); };          // RPM/100
    auto map = [](int i) { return double(2 + (i / 60) % 20); };    // kPa/10
    auto lambda = [](int i) { return 8 + ((i * 7) / 3 % 9) * 0.5; };   // raw/10
    {
        std::vector<double> values(kSamples);
        for (int k = 0; k < kLogChannelCount; ++k) {
            for (int i = 0; i < kSamples; ++i) values[size_t(i)] = k == 0 ? rpm(i) : k == 10 ? map(i) : k == 6 ? lambda(i) : 0;
            chart->AppendBulk(k, values.data(), kSamples);
        }
    }
    ASSERT_EQ(logging::SampleCount(*chart), kSamples);
    form->cmbLogView->setCurrentIndex(2);
    ScatterPlot* scatter = form->chartScatter;
    ASSERT_TRUE(scatter->isVisible());
    EXPECT_FALSE(chart->isVisible());
    EXPECT_EQ(form->cmbScatter[0]->currentText(), "RPM (rpm)");
    EXPECT_EQ(form->cmbScatter[1]->currentText(), "Map (kPa)");
    EXPECT_EQ(form->cmbScatter[2]->currentText(), "Lambda");
    for (QComboBox* box : form->cmbScatter) EXPECT_FALSE(box->accessibleName().isEmpty());
    EXPECT_EQ(scatter->xAxis->label(), "RPM (rpm)");
    EXPECT_EQ(scatter->yAxis->label(), "Map (kPa)");
    scatter->replot();

    // Where the pointer stands at 3000 rpm and 90 kPa: the samples there and their mean lambda,
    // counted here on their own.
    auto expected = [&](int from, int to) {
        int n = 0;
        double sum = 0;
        for (int i = from; i < to; ++i)
            if (rpm(i) == 30 && map(i) == 9) {
                ++n;
                sum += float(lambda(i));
            }
        return std::pair<int, double>{n, sum / n};
    };
    const QPoint at(int(scatter->xAxis->coordToPixel(30)), int(scatter->yAxis->coordToPixel(9)));
    auto hover = [&] {
        QMouseEvent move(QEvent::MouseMove, at, scatter->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(scatter, &move);
        return scatter->toolTip();
    };
    auto [count, mean] = expected(0, kSamples);
    ASSERT_GT(count, 0);
    EXPECT_EQ(scatter->CellAt(at).samples, count);
    EXPECT_NEAR(scatter->CellAt(at).mean, mean, 1e-6);
    const QString text = hover();
    const QRegularExpression form_(R"(^RPM \(rpm\) (\d+) rpm, Map \(kPa\) (\d+) kPa: Lambda (\d\.\d\d) \(mean of (\d+) samples\)$)");
    const QRegularExpressionMatch m = form_.match(text);
    ASSERT_TRUE(m.hasMatch()) << text.toStdString();
    const double perPixelRpm = 100 / std::fabs(scatter->xAxis->coordToPixel(1) - scatter->xAxis->coordToPixel(0));
    EXPECT_NEAR(m.captured(1).toDouble(), 3000, perPixelRpm + 1);
    EXPECT_NEAR(m.captured(2).toDouble(), 90, 1);
    EXPECT_EQ(m.captured(3), QString::number(mean / 10, 'f', 2));
    EXPECT_EQ(m.captured(4).toInt(), count);

    // A zoom of the time view is what the scatter shows.
    chart->UndoZoom();   // the whole log, as the time view shows it
    chart->ZoomSamples(1500000, 0.1);
    const QCPRange range = chart->xAxis->range();
    const int from = int(std::ceil(range.lower)), to = int(std::floor(range.upper)) + 1;
    EXPECT_EQ(scatter->From(), from);
    EXPECT_EQ(scatter->To(), to);
    scatter->replot();
    EXPECT_NEAR(to - from, kSamples / 10, 2);
    std::tie(count, mean) = expected(from, to);
    ASSERT_GT(count, 0);
    EXPECT_EQ(scatter->CellAt(at).samples, count);
    EXPECT_TRUE(hover().endsWith(QString("(mean of %1 samples)").arg(count))) << hover().toStdString();

    // The choice of view is remembered; the one chart comes back with the lines.
    form->cmbLogView->setCurrentIndex(0);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_FALSE(scatter->isVisible());
}

TEST_F(LogWorkbenchTest, ScatterSelectionIsShadedInTheTimeViewAndLetGoWithEscOrAClickOutside)
{
    // A made log: engine speed holds each of 10 .. 69 (RPM/100) for 100 samples, manifold
    // pressure steps through 2 .. 21 (kPa/10) every 5 samples.
    constexpr int kSamples = 6000;
    auto rpm = [](int i) { return double(10 + (i / 100) % 60); };
    auto map = [](int i) { return double(2 + (i / 5) % 20); };
    {
        std::vector<double> values(kSamples);
        for (int k = 0; k < kLogChannelCount; ++k) {
            for (int i = 0; i < kSamples; ++i) values[size_t(i)] = k == 0 ? rpm(i) : k == 10 ? map(i) : k == 6 ? 10 : 0;
            chart->AppendBulk(k, values.data(), kSamples);
        }
    }
    // The runs of samples at 3000 .. 3500 rpm and 50 .. 80 kPa, found here on their own.
    std::vector<std::pair<int, int>> inside;
    for (int i = 0; i < kSamples; ++i) {
        if (!(rpm(i) >= 30 && rpm(i) <= 35 && map(i) >= 5 && map(i) <= 8)) continue;
        if (!inside.empty() && inside.back().second == i)
            ++inside.back().second;
        else
            inside.push_back({i, i + 1});
    }
    ASSERT_GE(inside.size(), 5u);

    form->cmbLogView->setCurrentIndex(2);
    ScatterPlot* scatter = form->chartScatter;
    ASSERT_TRUE(scatter->isVisible());
    scatter->replot();
    auto send = [scatter](QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, pos, scatter->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(scatter, &e);
    };
    auto pixel = [scatter](double x, double y) {
        return QPoint(qRound(scatter->xAxis->coordToPixel(x)), qRound(scatter->yAxis->coordToPixel(y)));
    };
    // The rectangle's corners half-way between the values, so that only whole values fall in it.
    auto drag = [&](QPoint a, QPoint b) {
        send(QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    };
    auto click = [&](QPoint at) {
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    };
    drag(pixel(29.5, 8.5), pixel(35.5, 4.5));
    ASSERT_TRUE(scatter->HasSelection());
    EXPECT_EQ(scatter->Selected(), inside);
    EXPECT_EQ(chart->Marks(), inside);

    // In the time view the selected samples are shaded, in the one chart and in lanes alike: a
    // pixel column in a selected run differs from the same view without the selection, one
    // half-way between two runs does not.
    const auto& run = inside[inside.size() / 2];
    const auto& next = inside[inside.size() / 2 + 1];
    struct Shot {
        QImage image;
        QRect plot;         // the one chart's, or the first lane's
        int inRun, inGap;   // pixel columns
    };
    auto grabView = [&](int view) {
        form->cmbLogView->setCurrentIndex(view);
        chart->replot();
        Shot shot{chart->grab().toImage(), chart->xAxis->axisRect()->rect(), 0, 0};
        shot.inRun = qRound(chart->xAxis->coordToPixel((run.first + run.second) / 2.0));
        shot.inGap = qRound(chart->xAxis->coordToPixel((run.second + next.first) / 2.0));
        return shot;
    };
    auto differing = [](const Shot& a, const Shot& b, int x) {
        int n = 0;
        for (int y = a.plot.top(); y <= a.plot.bottom(); ++y) n += a.image.pixel(x, y) != b.image.pixel(x, y);
        return n;
    };
    const Shot oneMarked = grabView(0), lanesMarked = grabView(1);
    form->cmbLogView->setCurrentIndex(2);
    QTest::keyClick(scatter, Qt::Key_Escape);
    EXPECT_FALSE(scatter->HasSelection());
    EXPECT_TRUE(chart->Marks().empty());
    const Shot oneClear = grabView(0), lanesClear = grabView(1);
    for (const auto& [marked, clear] : {std::pair{oneMarked, oneClear}, std::pair{lanesMarked, lanesClear}}) {
        ASSERT_EQ(marked.plot, clear.plot);
        EXPECT_GT(differing(marked, clear, marked.inRun), marked.plot.height() / 2) << "a selected run is shaded";
        EXPECT_EQ(differing(marked, clear, marked.inGap), 0) << "between runs nothing is";
    }

    // A click inside the rectangle keeps the selection, one outside lets it go.
    form->cmbLogView->setCurrentIndex(2);
    scatter->replot();
    drag(pixel(29.5, 8.5), pixel(35.5, 4.5));
    ASSERT_EQ(chart->Marks(), inside);
    click(pixel(32, 6));
    EXPECT_EQ(chart->Marks(), inside);
    click(pixel(50, 15));
    EXPECT_FALSE(scatter->HasSelection());
    EXPECT_TRUE(chart->Marks().empty());
    // Another x channel: the rectangle would mean another quantity.
    drag(pixel(29.5, 8.5), pixel(35.5, 4.5));
    ASSERT_TRUE(scatter->HasSelection());
    form->cmbScatter[0]->setCurrentIndex(1);
    EXPECT_TRUE(chart->Marks().empty());
}

TEST_F(LogWorkbenchTest, CellTableOfRpmFuelCountsEachColumnAsAnIndependentTallyDoes)
{
    RecordSamples(0, 400);   // 800 .. 15563 rpm: the last column takes everything beyond 9000
    form->Button2Click(nullptr);
    form->cmbLogView->setCurrentIndex(3);
    ASSERT_EQ(form->cmbLogView->currentText(), "Cell table");
    ASSERT_TRUE(form->gridCells->isVisible());
    EXPECT_EQ(form->cmbCellMap->currentText(), "RPM Fuel");
    EXPECT_EQ(form->cmbCellChannel->currentText(), "Lambda");
    std::vector<QWidget*> controls{form->gridCells, form->cmbCellMap, form->cmbCellChannel, form->btnCellExport,
                                   form->btnCellDefaults, form->lblCellLeftOut, form->panelCellFilters};
    controls.insert(controls.end(), form->chkCellFilter.begin(), form->chkCellFilter.end());
    controls.insert(controls.end(), form->spinCellFilter.begin(), form->spinCellFilter.end());
    for (QWidget* w : controls) {
        EXPECT_FALSE(w->objectName().isEmpty());
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
    }
    auto check = [this](const char* name) { return form->findChild<QCheckBox*>(QString("chkCell") + name); };
    auto threshold = [this](const char* name) { return form->findChild<QDoubleSpinBox*>(QString("spinCell") + name); };

    // The tally: each sample to the breakpoint nearest its speed (halves up, ends held), its
    // lambda as the ratio, read `delay` samples later; a sample left out under the first check
    // it fails: cold, not fuelled, enriched, moving, lambda out of range.
    struct Checks {
        bool warm = true;
        int water = 70;
        bool steady = true;
        int before = 3;
        double rpmWithin = 125, tpsWithin = 0.5;
        bool fuelled = true;
        bool acc = true;
        int accMax = 0;
        bool range = true;
        int lambdaLow = 65, lambdaHigh = 135;   // in hundredths
        bool delayed = true;
        int delay = 2;
    };
    struct Tally {
        std::vector<int> n = std::vector<int>(36, 0);
        std::vector<double> sum = std::vector<double>(36, 0);
        std::array<int, 6> leftOut{};
    };
    auto tally = [](const Checks& c) {
        Tally t;
        constexpr int count = 400;
        auto rpm = [](int i) { return Live(i)[0].toDouble(); };
        auto tps = [](int i) { return Live(i)[1].toDouble(); };
        const int after = c.delayed ? c.delay : 0;
        for (int i = 0; i < count; ++i) {
            const Texts live = Live(i);
            if (i + after >= count) continue;   // no lambda reading left: in no tally
            int reason = 0;
            if (c.warm && live[4].toInt() < c.water) reason = 1;
            else if (c.fuelled && !(live[2].toDouble() > 0)) reason = 2;
            else if (c.acc && live[9].toInt() > c.accMax) reason = 3;
            else if (c.steady) {
                for (int j = i - c.before; j <= i + after && reason == 0; ++j)
                    if (j < 0 || std::fabs(rpm(j) - rpm(i)) > c.rpmWithin || std::fabs(tps(j) - tps(i)) > c.tpsWithin)
                        reason = 4;
            }
            const int lambda = Live(i + after)[6].toInt();
            if (reason == 0 && c.range && (lambda < c.lambdaLow || lambda > c.lambdaHigh)) reason = 5;
            if (reason) {
                ++t.leftOut[size_t(reason)];
                continue;
            }
            const int column = std::clamp(int(std::floor((rpm(i) - 250) / 250 + 0.5)), 0, 35);
            ++t.n[size_t(column)];
            t.sum[size_t(column)] += lambda / 100.0;
        }
        return t;
    };
    auto expectTable = [&](const Checks& c, const char* what) {
        SCOPED_TRACE(what);
        const Tally t = tally(c);
        ASSERT_EQ(form->gridCells->rowCount(), 36);
        EXPECT_EQ(form->gridCells->horizontalHeaderItem(1)->text(), "RPM (rpm)");
        EXPECT_EQ(form->gridCells->horizontalHeaderItem(4)->text(), "Mean Lambda");
        for (int k = 0; k < 36; ++k) {
            EXPECT_EQ(form->gridCells->item(k, 1)->text(), QString::number(250 + 250 * k));
            EXPECT_EQ(form->gridCells->item(k, 2)->text().toInt(), t.n[size_t(k)]) << "column " << k + 1;
            const QString mean = form->gridCells->item(k, 4)->text();
            if (t.n[size_t(k)] == 0) {
                EXPECT_EQ(mean, "") << k;
            } else {
                EXPECT_NEAR(mean.toDouble(), t.sum[size_t(k)] / t.n[size_t(k)], 0.005 + 1e-9) << "column " << k + 1;
            }
        }
        // What each switched-on check left out, named under the table.
        const QString text = form->lblCellLeftOut->text();
        const std::pair<bool, QString> named[] = {{c.warm, "cold"},
                                                  {c.fuelled, "not fuelled"},
                                                  {c.acc, "acceleration enrichment"},
                                                  {c.steady, "transient"},
                                                  {c.range, "lambda out of range"}};
        for (size_t r = 0; r < std::size(named); ++r) {
            const QString part = QString("%1 %2").arg(t.leftOut[r + 1]).arg(named[r].second);
            EXPECT_EQ(text.contains(QRegularExpression("[:,] " + QRegularExpression::escape(part) + "(,|$)")), named[r].first)
                << text.toStdString() << " / " << part.toStdString();
        }
        int counted = 0;
        for (int n : t.n) counted += n;
        EXPECT_TRUE(text.startsWith(QString("Counted %1 of 400 samples").arg(counted))) << text.toStdString();
    };

    // At first the fuel assistant's checks with its defaults, each shown as the default.
    Checks c;
    EXPECT_TRUE(threshold("Warm")->toolTip().contains("default 70"));
    EXPECT_EQ(threshold("SteadyAxis")->value(), 0.5);   // half a column: 125 rpm here
    expectTable(c, "defaults");
    // Thresholds edited: each one moves what counts.
    threshold("Warm")->setValue(85), c.water = 85;
    threshold("SteadySamples")->setValue(2), c.before = 2;
    threshold("Acc")->setValue(3), c.accMax = 3;
    threshold("LambdaLow")->setValue(0.95), c.lambdaLow = 95;
    threshold("LambdaHigh")->setValue(1.10), c.lambdaHigh = 110;
    threshold("Delay")->setValue(3), c.delay = 3;
    expectTable(c, "edited");
    const Tally edited = tally(c);
    for (int r : {1, 3, 4, 5}) EXPECT_GT(edited.leftOut[size_t(r)], 0) << "a test that cannot see check " << r;
    EXPECT_EQ(base::UserSettings().value("logViewer/cells/Acc").toDouble(), 3);
    // Every check off: every sample standing in a column counts, lambda read at the sample.
    for (QCheckBox* box : form->chkCellFilter) box->setChecked(false);
    c.warm = c.steady = c.fuelled = c.acc = c.range = c.delayed = false;
    EXPECT_FALSE(threshold("Acc")->isEnabled());
    expectTable(c, "all off");
    EXPECT_GT(form->gridCells->item(35, 2)->text().toInt(), 100) << "beyond the axis: the last column";
    EXPECT_FALSE(base::UserSettings().value("logViewer/cells/SteadyOn").toBool());
    check("Warm")->setChecked(true), c.warm = true;
    expectTable(c, "warm only, at 85");
    const Tally warmOnly = tally(c);

    // Exported as CSV: the checks said first, then the same counts, numbers with a full stop.
    ui::SetFileDialogHook([this](ui::FileDialog&) { return std::optional<QString>(Path("cells")); });
    form->btnCellExport->click();
    QFile file(Path("cells.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const testsupport::CsvRows rows = testsupport::ReadCsv(file.readAll().toStdString());
    ASSERT_EQ(rows.size(), 38u);
    EXPECT_EQ(rows[0], std::vector<std::string>{"Filters: water at least 85 °C"});
    EXPECT_EQ(rows[1][2], "Samples");
    for (int k = 0; k < 36; ++k) EXPECT_EQ(std::stoi(rows[size_t(k + 2)][2]), warmOnly.n[size_t(k)]) << k;

    // Defaults brings every check back as the assistant makes them.
    form->btnCellDefaults->click();
    expectTable(Checks{}, "defaults again");
    EXPECT_EQ(threshold("Warm")->value(), 70);
}

TEST_F(LogWorkbenchTest, ExportedCsvHoldsEverySampleInTheGaugesUnitsWhateverTheLocale)
{
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));   // the edits write 12,50
    form->Button1Click(nullptr);
    form->ThreadedTimer1->SetEnabled(false);
    RecordSamples(0, 250);
    form->Button2Click(nullptr);
    EXPECT_EQ(form->Button14->text(), "Export CSV…");
    EXPECT_EQ(form->Button14->accessibleName(), "Export CSV…");
    ui::SetFileDialogHook([this](ui::FileDialog& d) {
        EXPECT_EQ(d.Filter, "CSV (comma-separated values)|*.csv");
        return std::optional<QString>(Path("run"));
    });
    form->Button14->click();

    QFile file(Path("run.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const testsupport::CsvRows rows = testsupport::ReadCsv(file.readAll().toStdString());
    ASSERT_EQ(rows.size(), 251u);
    EXPECT_EQ(rows[0][0], "Time (s)");
    EXPECT_EQ(rows[0][1], "RPM (rpm)");
    EXPECT_EQ(rows[0][11], "Map (kPa)");
    double previous = -1;
    for (int i = 0; i < 250; ++i) {
        const std::vector<std::string>& row = rows[size_t(i + 1)];
        ASSERT_EQ(row.size(), size_t(kLogChannelCount + 1));
        const double time = testsupport::CsvNumber(row[0]);
        EXPECT_GE(time, previous);
        previous = time;
        const Texts live = Live(i);
        for (int k = 0; k < kLogChannelCount; ++k) {
            // What the Gauges page showed; lambda as the ratio txtLambdaFloat shows.
            double shown = 0;
            ASSERT_TRUE(base::ParseFloat(live[k], &shown));
            if (k == 6) shown /= 100;
            ASSERT_NEAR(testsupport::CsvNumber(row[size_t(k + 1)]), shown, 1e-9 * std::max(1.0, shown))
                << "sample " << i << " channel " << k << ": " << row[size_t(k + 1)];
        }
    }
    EXPECT_EQ(rows[1][0], "0.000");
    EXPECT_EQ(rows[4][1], "911") << "RPM as the Gauges page shows it, not 9.11";
}

// Colour science for the checks below, written from the published formulas.
using Lab = std::array<double, 3>;
double Linear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double Luminance(const QColor& c)
{
    return 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
}
double Contrast(const QColor& a, const QColor& b)   // WCAG 2 contrast ratio
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
Lab LabOfLinear(double r, double g, double b)
{
    auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    const double x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
    const double y = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
    const double z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
    return {116 * y - 16, 500 * (x - y), 200 * (y - z)};
}
// What a person with deuteranopia sees: Machado, Oliveira and Fernandes (2009), severity 1.0,
// applied to linear RGB.
Lab DeuteranopeLab(const QColor& c)
{
    static const double m[3][3] = {{0.367322, 0.860646, -0.227968},
                                   {0.280085, 0.672501, 0.047413},
                                   {-0.011820, 0.042940, 0.968881}};
    const double in[3] = {Linear(c.redF()), Linear(c.greenF()), Linear(c.blueF())};
    double out[3];
    for (int i = 0; i < 3; ++i) out[i] = std::clamp(m[i][0] * in[0] + m[i][1] * in[1] + m[i][2] * in[2], 0.0, 1.0);
    return LabOfLinear(out[0], out[1], out[2]);
}
double DeltaE2000(const Lab& p, const Lab& q)
{
    const double kPi = 3.14159265358979323846;
    auto rad = [&](double d) { return d * kPi / 180; };
    const double c1 = std::hypot(p[1], p[2]), c2 = std::hypot(q[1], q[2]);
    const double cm7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(cm7 / (cm7 + std::pow(25.0, 7))));
    const double a1 = (1 + g) * p[1], a2 = (1 + g) * q[1];
    const double cp1 = std::hypot(a1, p[2]), cp2 = std::hypot(a2, q[2]);
    auto hue = [&](double b, double a) { return a == 0 && b == 0 ? 0.0 : std::fmod(std::atan2(b, a) * 180 / kPi + 360, 360); };
    const double h1 = hue(p[2], a1), h2 = hue(q[2], a2);
    double dh = 0;
    if (cp1 * cp2 != 0) dh = h2 - h1 > 180 ? h2 - h1 - 360 : (h2 - h1 < -180 ? h2 - h1 + 360 : h2 - h1);
    const double dL = q[0] - p[0], dC = cp2 - cp1, dH = 2 * std::sqrt(cp1 * cp2) * std::sin(rad(dh) / 2);
    const double lm = (p[0] + q[0]) / 2, cm = (cp1 + cp2) / 2;
    double hm = h1 + h2;
    if (cp1 * cp2 != 0) hm = std::fabs(h1 - h2) <= 180 ? hm / 2 : (hm < 360 ? (hm + 360) / 2 : (hm - 360) / 2);
    const double t = 1 - 0.17 * std::cos(rad(hm - 30)) + 0.24 * std::cos(rad(2 * hm)) + 0.32 * std::cos(rad(3 * hm + 6)) -
                     0.20 * std::cos(rad(4 * hm - 63));
    const double dTheta = 30 * std::exp(-std::pow((hm - 275) / 25, 2));
    const double rc = 2 * std::sqrt(std::pow(cm, 7) / (std::pow(cm, 7) + std::pow(25.0, 7)));
    const double sl = 1 + 0.015 * std::pow(lm - 50, 2) / std::sqrt(20 + std::pow(lm - 50, 2));
    const double sc = 1 + 0.045 * cm, sh = 1 + 0.015 * cm * t;
    const double rt = -std::sin(rad(2 * dTheta)) * rc;
    return std::sqrt(std::pow(dL / sl, 2) + std::pow(dC / sc, 2) + std::pow(dH / sh, 2) + rt * (dC / sc) * (dH / sh));
}

TEST_F(LogWorkbenchTest, LinesStandOutFromTheGroundAndStayApartForRedGreenColourBlindness)
{
    // The formulas against published reference values (Sharma, Wu and Dalal's CIEDE2000 data;
    // the contrast of white on black).
    EXPECT_NEAR(DeltaE2000({50, 2.6772, -79.7751}, {50, 0, -82.7485}), 2.0425, 1e-4);
    EXPECT_NEAR(DeltaE2000({50, 2.5, 0}, {73, 25, -18}), 27.1492, 1e-4);
    EXPECT_NEAR(Contrast(Qt::white, Qt::black), 21, 1e-9);

    // WCAG's 3:1 for graphics: every line, shown at first or not, against the chart's ground.
    const QColor ground = LogChart::Background();
    EXPECT_EQ(chart->grab().toImage().pixelColor(1, 1), ground);
    for (int k = 0; k < kLogChannelCount; ++k)
        EXPECT_GE(Contrast(chart->graph(k)->pen().color(), ground), 3.0) << chart->graph(k)->name().toStdString();

    // The nine lines shown at first, as a person with deuteranopia sees them: every two differ
    // by a CIEDE2000 distance of at least 10.
    std::vector<int> shown;
    for (int k = 0; k < kLogChannelCount; ++k)
        if (chart->SeriesVisible(k)) shown.push_back(k);
    ASSERT_EQ(shown.size(), 9u);
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const QCPGraph* a = chart->graph(shown[i]);
            const QCPGraph* b = chart->graph(shown[j]);
            EXPECT_GE(DeltaE2000(DeuteranopeLab(a->pen().color()), DeuteranopeLab(b->pen().color())), 10)
                << a->name().toStdString() << " against " << b->name().toStdString();
        }
}


// A second log of 200 samples, as a file holds it: steady, but for EGT's 900 °C at its sample 50.
QByteArray SecondDrive()
{
    QByteArray text;
    for (int i = 0; i < 200; ++i) {
        const double sample[14] = {30, 5, 3.0, 20, 85, 30, 10, 0, 13.8, 0, 60, i == 50 ? 90.0 : 50.0, 2.5, 0};
        for (double v : sample) text += QByteArray::number(v, 'f', 2) + '\t';
        text += "\r\n";
    }
    return text;
}

TEST_F(LogWorkbenchTest, ASecondLogStandsWhereItIsAlignedAndOnlyTheFirstIsReadOutOrSaved)
{
    RecordSamples(0, 300);
    form->Button2Click(nullptr);
    ASSERT_TRUE(WriteRaw(Path("other.qxl"), SecondDrive()));
    ASSERT_TRUE(WriteRaw(Path("junk.qxl"), "not a log\n"));
    QString shownFile;
    ui::SetFileDialogHook([&](ui::FileDialog&) { return std::optional<QString>(Path(shownFile)); });
    QStringList messages;
    ui::SetMessageHook([&](ui::MessageKind, const QString& text) { messages << text; });
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    chart->setFocus();
    auto keys = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(chart, key, modifiers);
        chart->replot();
    };
    EXPECT_FALSE(form->actSecondLogAlign->isEnabled()) << "nothing to align yet";

    // A file that is no log is refused, and nothing is shown beside the log.
    shownFile = "junk.qxl";
    keys(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("junk.qxl")) << messages[0].toStdString();
    EXPECT_FALSE(chart->HasSecondLog());

    shownFile = "other.qxl";
    keys(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(chart->HasSecondLog());
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(chart->SecondCount(), 200);
    EXPECT_EQ(chart->SecondCaption(), "Second log (lighter, dashed): other.qxl, aligned at the starts");
    EXPECT_EQ(chart->Count(11), 300) << "the first log is untouched";

    // Drawn where it stands, in its own lighter colour, and the pointer reads its values.
    auto spikeAt = [&](double key) { return QPoint(qRound(chart->xAxis->coordToPixel(key)), qRound(chart->yAxis->coordToPixel(90))); };
    int index = -1;
    EXPECT_EQ(chart->SecondSeriesAt(spikeAt(50), &index), 11);
    EXPECT_EQ(index, 50);
    const QImage image = chart->grab().toImage();
    const QColor tint = LogChart::SecondColour(chart->graph(11)->pen().color());
    bool drawn = false;
    for (int dx = -2; dx <= 2 && !drawn; ++dx)
        for (int dy = -3; dy <= 3 && !drawn; ++dy) drawn = image.pixelColor(spikeAt(50) + QPoint(dx, dy)) == tint;
    EXPECT_TRUE(drawn) << "the second log's EGT spike in its lighter colour";
    QMouseEvent hover(QEvent::MouseMove, spikeAt(50), chart->mapToGlobal(spikeAt(50)), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart, &hover);
    EXPECT_EQ(chart->toolTip(), QString("Second log: EGT 900 \u00b0C at 0:00:05.400 (sample 50)"));

    // Moved by keys: three samples later, the spike stands at the first log's sample 53.
    for (int i = 0; i < 3; ++i) keys(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(chart->SecondSeriesAt(spikeAt(53), &index), 11);
    EXPECT_EQ(index, 50);
    EXPECT_EQ(chart->SecondCaption(), "Second log (lighter, dashed): other.qxl, its start at "
                                      + logging::FormatLogTime(form->Log.Times().Milliseconds(3)) + " of the first");

    // Aligned at a sample picked in each: the first log's by the slider, the second's by a click
    // on its line. The click reads nothing out: the readout stays the first log's.
    form->TrackBar1->setValue(120);
    const QString readout = form->gridLog->Cells(11, 1);
    EXPECT_EQ(readout, Live(120)[11]);
    QTest::mouseClick(chart, Qt::LeftButton, {}, spikeAt(53));
    EXPECT_EQ(form->SecondLogPicked, 50);
    EXPECT_EQ(chart->CursorIndex(), 120);
    EXPECT_EQ(form->gridLog->Cells(11, 1), readout);
    keys(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(chart->SecondShift(), 70);
    EXPECT_EQ(chart->SecondSeriesAt(spikeAt(120), &index), 11);
    EXPECT_EQ(index, 50);
    EXPECT_EQ(chart->SecondCaption(), "Second log (lighter, dashed): other.qxl, its start at "
                                      + logging::FormatLogTime(form->Log.Times().Milliseconds(70))
                                      + " of the first; picked its sample 50 at 0:00:05.400");
    EXPECT_EQ(chart->xAxis->range(), QCPRange(0, 299)) << "both logs in view: 70 + 199 lies within the first";
    for (int i = 0; i < 4; ++i) keys(Qt::Key_Right, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(chart->SecondShift(), 110);
    EXPECT_EQ(chart->xAxis->range(), QCPRange(0, 110 + 199)) << "the axis reaches the second log's end";


    // In lanes the second log shares its channel's lane, whose axis reaches its values.
    form->cmbLogView->setCurrentIndex(1);
    chart->replot();
    for (const LogChart::Lane& lane : chart->LaneList()) {
        if (lane.series != 11) continue;
        EXPECT_GE(lane.rect->axis(QCPAxis::atLeft)->range().upper, 90);
        const QPoint inLane(qRound(lane.rect->axis(QCPAxis::atBottom)->coordToPixel(160)),
                            qRound(lane.rect->axis(QCPAxis::atLeft)->coordToPixel(90)));
        EXPECT_EQ(chart->SecondSeriesAt(inLane, &index), 11);
        EXPECT_EQ(index, 50);
    }
    form->cmbLogView->setCurrentIndex(0);

    // Save writes the first log alone.
    shownFile = "saved.qxl";
    form->Button3->click();
    const logging::LogLoadResult saved = logging::ParseLogFile(Path("saved.qxl"), kLogChannelCount);
    ASSERT_EQ(saved.samples.SampleCount(), 300);
    EXPECT_EQ(saved.samples.series[11].At(299), chart->Column(11).At(299));

    // Back to the starts, then ten samples before the first log's: the axis reaches back to it.
    keys(Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
    keys(Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(chart->SecondShift(), -10);
    EXPECT_EQ(chart->xAxis->range(), QCPRange(-10, 299));
    EXPECT_EQ(chart->SecondCaption(),
              "Second log (lighter, dashed): other.qxl, its start 1.080 s before the first's; picked its sample 50 at 0:00:05.400");

    // Closed, the chart is the first log's alone again.
    form->actSecondLogClose->trigger();
    chart->replot();
    EXPECT_FALSE(chart->HasSecondLog());
    EXPECT_EQ(chart->SecondCaption(), "");
    EXPECT_EQ(chart->xAxis->range(), QCPRange(0, 299));
    EXPECT_FALSE(form->actSecondLogMove[1]->isEnabled());
    ui::SetMessageHook({});
    ui::SetFileDialogHook({});
}

}  // namespace
