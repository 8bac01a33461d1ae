// The Logging page and the recording buttons of the Gauges page. The log is the fourteen series
// of Chart10 and nothing else: recording appends to them, the files read and write them, the
// readout row and the slider look into them.
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>

#include <algorithm>
#include <functional>
#include <numeric>

#include "app/Mainform.h"
#include "ecu/Threadedtimer.h"
#include "logging/LogCsv.h"
#include "logging/LogViewer.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"
#include "ui/ScatterPlot.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"

namespace {

using logging::kLogChannelCount;
using logging::kLogChannels;

constexpr int kStatusPanelLogging = 4;
constexpr int kLogFilterIndex = 2;   // "Quenrix Log|*.qxl" in the dialogs' shared filter
const QString kLogFolder = QStringLiteral("logs");   // the folder logs were last saved to or loaded from
constexpr int kGridCellWidth = 46;      // inside the grid lines
constexpr int kGridLine = 1;
constexpr int kCheckBoxTop = 495;
constexpr int kExportTop = 521;         // the row under the check boxes
constexpr int kCheckRowRight = 790;     // the page's usable width
constexpr int kBlockLeft = 16;          // the chart, the buttons and the grid form one block
constexpr int kBlockRight = 772;
constexpr int kMinCheckGap = 4;
constexpr double kSmallestPointSize = 6.5;
const QString kLoggingText = QStringLiteral("LOGGING");
const QString kNotLoggingText = QStringLiteral("       ");   // seven spaces

// The largest font, from `base` down, with which texts fit a space of fixed pixels. Narrower
// comes before smaller: a condensed face keeps its height and reads better.
QFont FittingFont(const QFont& base, const std::function<bool(const QFont&)>& fits)
{
    QFont font = base;
    for (double size = QFontInfo(base).pointSizeF(); size >= kSmallestPointSize; size -= 0.5) {
        for (int stretch : {int(QFont::Unstretched), int(QFont::SemiCondensed), int(QFont::Condensed)}) {
            font.setPointSizeF(size);
            font.setStretch(stretch);
            if (fits(font)) return font;
        }
    }
    return font;
}

}  // namespace

void TForm1::BuildLoggingPage()
{
    QWidget* page = TabSheet[4];

    TrackBar1 = new QSlider(Qt::Horizontal, page);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setAccessibleName(QStringLiteral("Sample"));
    TrackBar1->setGeometry(55, 8, 699, 45);
    TrackBar1->setRange(0, 0);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(1);
    TrackBar1->hide();
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(TrackBar1); });

    Chart10 = new LogChart(page);
    Chart10->setObjectName(QStringLiteral("Chart10"));
    Chart10->setAccessibleName(QStringLiteral("Log chart"));
    Chart10->setGeometry(16, 56, 750, 377);
    logging::AddLogSeries(*Chart10);   // construction step 5: titles, colours, shown or hidden
    Chart10->OnSeriesClick = [this](int, int valueIndex) { LineSeries10Click(Chart10, valueIndex); };
    Chart10->OnDblClick = [this] { Chart10DblClick(Chart10); };
    Chart10->HoverText = [this](int series, int index) { return logging::HoverText(*Chart10, series, index, Log.Times()); };
    Chart10->SetSampleClock([this](int index) { return double(Log.Times().Milliseconds(index)) / 1000.0; });
    Chart10->SetTimeLabel(logging::TimeAxisLabel(Log.Times()));

    auto button = [page](QPushButton*& b, const char* name, const char* caption, int top) {
        b = new QPushButton(QLatin1String(caption), page);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(QLatin1String(caption));
        b->setGeometry(16, top, 81, 25);
    };
    button(Button3, "Button3", "Save", 432);
    button(Button4, "Button4", "Load", 456);
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(Button3); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(Button4); });

    // Under the check boxes: the export, and the sample the readout row shows with its time.
    Button14 = new QPushButton(QStringLiteral("Export CSV…"), page);
    Button14->setObjectName(QStringLiteral("Button14"));
    Button14->setAccessibleName(QStringLiteral("Export CSV…"));
    Button14->setGeometry(16, kExportTop, std::max(81, Button14->sizeHint().width()), 25);
    connect(Button14, &QPushButton::clicked, this, [this] { Button14Click(Button14); });
    CsvDialog.Filter = QStringLiteral("CSV (comma-separated values)|*.csv");
    CsvDialog.FolderKind = QStringLiteral("csv");
    CsvDialog.Targets = [](const QString& chosen) { return QStringList{logging::WithCsvExtension(chosen)}; };
    lblSampleTime = new QLabel(page);
    lblSampleTime->setObjectName(QStringLiteral("lblSampleTime"));
    lblSampleTime->setAccessibleName(QStringLiteral("Sample time"));
    const int captionLeft = std::max(104, Button14->geometry().right() + 9);   // in line with the grid
    BuildLogViews(page);   // the view's choice stands at the row's right end
    lblSampleTime->setGeometry(captionLeft, kExportTop, cmbLogView->x() - 8 - captionLeft, 25);

    // A read-only table: row 0 the headings, row 1 the latest sample or the replayed one.
    gridLog = new StringGrid(kLogChannelCount, 2, page);
    gridLog->setObjectName(QStringLiteral("gridLog"));
    gridLog->setAccessibleName(QStringLiteral("Log values"));
    gridLog->setGeometry(104, 432, 668, 54);
    gridLog->SetDefaultColWidth(kGridCellWidth + kGridLine);   // a column holds its grid line
    gridLog->SetDefaultRowHeight((gridLog->height() - 2 * gridLog->frameWidth()) / 2);
    gridLog->SetScrollBars(false);
    gridLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridLog->setSelectionMode(QAbstractItemView::NoSelection);
    // The headings were sized for a narrower font than most desktops use; rather than cut
    // "Fuel (ms)" to "Fuel...", their row takes a narrower or smaller font where needed.
    const int margin = 2 * (gridLog->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, gridLog) + 1);
    const QFont headingFont = FittingFont(gridLog->font(), [&](const QFont& font) {
        const QFontMetrics metrics(font);
        for (const logging::LogChannel& c : kLogChannels)
            if (metrics.horizontalAdvance(QLatin1String(c.heading)) + margin > kGridCellWidth) return false;
        return true;
    });
    for (int k = 0; k < kLogChannelCount; ++k) {
        gridLog->SetCells(k, 0, QLatin1String(kLogChannels[k].heading));   // construction step 4
        gridLog->item(0, k)->setFont(headingFont);
        gridLog->item(0, k)->setTextAlignment(Qt::AlignCenter);
        gridLog->item(1, k)->setTextAlignment(Qt::AlignCenter);
    }

    // The boxes stand in channel order; their numbers do not, so each finds its channel by Tag.
    for (int k = 0; k < kLogChannelCount; ++k) {
        const logging::LogChannel& c = kLogChannels[k];
        auto* box = new QCheckBox(QLatin1String(c.checkBoxCaption), page);
        box->setObjectName(QLatin1String(c.checkBoxName));
        box->setAccessibleName(QLatin1String(c.checkBoxCaption));
        box->setProperty("Tag", k);
        box->setChecked(c.initiallyVisible);
        connect(box, &QCheckBox::toggled, this, [this, box] { CheckBox1Click(box); });
        ChannelBox[k] = box;
        LogSourceEdit[k] = Control<QLineEdit>(QLatin1String(c.sourceEdit));   // built by the Gauges page
    }
    PlaceChannelBoxes();

    // "Start Logging" and "Stop Logging" stand on the Gauges page, which places them.
    connect(Button12, &QPushButton::clicked, this, [this] { Button1Click(Button12); });
    connect(Button13, &QPushButton::clicked, this, [this] { Button2Click(Button13); });
}

// The boxes' own places where their captions fit there. Where they would run into each other
// (a wider font than the places were made for), they spread evenly under the chart in a font
// that leaves every caption whole.
void TForm1::PlaceChannelBoxes()
{
    auto widths = [this] {
        std::array<int, kLogChannelCount> w{};
        for (int k = 0; k < kLogChannelCount; ++k) w[k] = ChannelBox[k]->sizeHint().width();
        return w;
    };
    std::array<int, kLogChannelCount> w = widths();
    bool fits = true;
    for (int k = 0; k < kLogChannelCount; ++k) {
        const int right = k + 1 < kLogChannelCount ? kLogChannels[k + 1].checkBoxLeft : kCheckRowRight;
        fits = fits && kLogChannels[k].checkBoxLeft + w[k] <= right;
    }
    if (fits) {
        for (int k = 0; k < kLogChannelCount; ++k)
            ChannelBox[k]->setGeometry(kLogChannels[k].checkBoxLeft, kCheckBoxTop, w[k], ChannelBox[k]->sizeHint().height());
        return;
    }
    const int span = kBlockRight - kBlockLeft;
    const QFont font = FittingFont(ChannelBox[0]->font(), [&](const QFont& f) {
        for (QCheckBox* box : ChannelBox) box->setFont(f);
        w = widths();
        return std::accumulate(w.begin(), w.end(), 0) + (kLogChannelCount - 1) * kMinCheckGap <= span;
    });
    for (QCheckBox* box : ChannelBox) box->setFont(font);
    w = widths();
    const int total = std::accumulate(w.begin(), w.end(), 0);
    const double gap = double(span - total) / (kLogChannelCount - 1);
    double left = kBlockLeft;
    for (int k = 0; k < kLogChannelCount; ++k) {
        ChannelBox[k]->setGeometry(int(left + 0.5), kCheckBoxTop, w[k], ChannelBox[k]->sizeHint().height());
        left += w[k] + gap;
    }
}

// The page was laid out for the window's default size. A larger window gives the view (the one
// chart or the lanes, the scatter, the cell table) all it grows by; what stands under the view
// moves down with its bottom, and what ends at the right edge keeps its distance from it. The
// choosers above the view keep their places, and the check boxes theirs under the grid they
// belong to. Smaller than the default, nothing shrinks. Each control is placed from where the
// page was built, so that back at the default size every one stands exactly there again.
void TForm1::PlaceLoggingPage()
{
    if (!Chart10) return;
    if (loggingHomes_.empty())
        for (QWidget* w : TabSheet[4]->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            loggingHomes_.emplace_back(w, w->geometry());
    const QSize growth = (size() - DefaultSize).expandedTo(QSize(0, 0));
    auto among = [](const QWidget* w, std::initializer_list<const QWidget*> set) {
        return std::find(set.begin(), set.end(), w) != set.end();
    };
    int viewBottom = 0;
    for (const auto& [w, home] : loggingHomes_)
        if (w == Chart10) viewBottom = home.bottom();
    for (const auto& [w, home] : loggingHomes_) {
        if (!w) continue;
        QRect place = home;
        if (among(w, {Chart10, chartScatter, gridCells})) {
            place.adjust(0, 0, growth.width(), growth.height());
        } else {
            if (home.top() >= viewBottom) place.translate(0, growth.height());
            if (among(w, {TrackBar1, panelCellFilters, lblCellLeftOut, lblSampleTime}))   // across the page
                place.adjust(0, 0, growth.width(), 0);
            else if (among(w, {cmbLogView, ButtonLogCalibration, btnSecondLog, btnCellExport}))   // at the right end
                place.translate(growth.width(), 0);
        }
        if (w->geometry() != place) w->setGeometry(place);
    }
    // A longer slider holds more ticks.
    TrackBar1->setTickInterval(logging::SliderTickInterval(TrackBar1->maximum(), TrackBar1->width()));
}

// The controls were made in the order the page was put together, not the order it is read in:
// the scatter's choosers come before their plot, and the rows under the view from left to right
// and top to bottom, the view's choice last.
void TForm1::OrderLoggingPageTabs()
{
    std::vector<QWidget*> order{cmbScatter[0], cmbScatter[1], cmbScatter[2], chartScatter, Button3, Button4, gridLog};
    order.insert(order.end(), ChannelBox.begin(), ChannelBox.end());
    order.insert(order.end(), {Button14, btnSecondLog, ButtonLogCalibration, cmbLogView});
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TForm1::Button1Click(QObject*)
{
    if (!ConfirmDiscardLog()) return;
    LoggingActive = 1;
    LogSamplesWaited = 0;
    StatusBar1->SetPanelText(kStatusPanelLogging, kLoggingText);
    TrackBar1->hide();   // before the position is reset, so that the reset shows nothing
    chartScatter->ClearSelection();   // it picked samples of the log going away
    logging::ClearLog(*Chart10);
    Log.StartRecording();
    Chart10->SetTimeLabel(logging::TimeAxisLabel(Log.Times()));
    ShowLogCalibrationOffer();
    lblSampleTime->clear();
    Chart10->UndoZoom();   // a zoom into the old log would hide the new one
    TrackBar1->setValue(0);
    TrackBar1->setMaximum(0);
    ThreadedTimer1->SetEnabled(true);
}

void TForm1::Button2Click(QObject*)
{
    // The last stretch ran on what the ECU holds now.
    if (LoggingActive && Log.AwaitsPoint()) CurrentRestorePoint();
    LoggingActive = 0;
    StatusBar1->SetPanelText(kStatusPanelLogging, kNotLoggingText);
    const logging::StopSlider slider = logging::SliderAfterStop(logging::SampleCount(*Chart10));
    TrackBar1->setTickInterval(logging::SliderTickInterval(slider.maximum, TrackBar1->width()));
    TrackBar1->setMaximum(slider.maximum);
    if (slider.show) TrackBar1->show();
    RefreshScatter();
    RefreshCellTable();
}

void TForm1::AddLogSample()
{
    const bool allHeard = std::all_of(LogChannelHeard.begin(), LogChannelHeard.end(), [](bool heard) { return heard; });
    if (!allHeard && LogSamplesWaited < LogWaitSamples) {
        ++LogSamplesWaited;
        return;
    }
    std::array<QString, kLogChannelCount> texts;
    for (int k = 0; k < kLogChannelCount; ++k) texts[k] = LogSourceEdit[k] ? LogSourceEdit[k]->text() : QString();
    // All fourteen points or none: a text that does not convert drops the whole sample, and
    // the row goes on showing the last sample the log holds.
    if (!logging::AppendSample(*Chart10, texts)) return;
    const int index = logging::SampleCount(*Chart10) - 1;
    // The row writes the sample as the log holds it, as a click on it later will: one sample,
    // one text (lambda 1.11, not the raw 111 of the live edit).
    if (const auto row = logging::Readout(*Chart10, index))
        for (int k = 0; k < kLogChannelCount; ++k) gridLog->SetCells(k, 1, (*row)[k]);
    const bool nominal = Log.Times().Nominal();
    Log.RecordSample(index, logging::SampleTimes::Clock::now());
    if (Log.Times().Nominal() != nominal) Chart10->SetTimeLabel(logging::TimeAxisLabel(Log.Times()));
    // The row shows the newest sample: so do the cursor and the caption.
    Chart10->SetCursorIndex(index);
    lblSampleTime->setText(logging::SampleTimeText(Log.Times(), index));
}

bool TForm1::ConfirmDiscardLog()
{
    const int samples = logging::SampleCount(*Chart10);
    if (!Log.Unsaved(samples)) return true;
    return ui::Ask(this, logging::DiscardQuestion(samples), QStringLiteral("Discard"), QStringLiteral("Cancel"));
}

void TForm1::Button3Click(QObject*)
{
    SaveDialog1.FilterIndex = kLogFilterIndex;
    SaveDialog1.FolderKind = kLogFolder;
    SaveDialog1.Targets = [](const QString& chosen) { return QStringList{logging::WithLogExtension(chosen)}; };
    if (!SaveDialog1.Execute(this)) return;
    const QString path = logging::WithLogExtension(SaveDialog1.FileName);
    const logging::ChartLogStore store(*Chart10);
    QString error;
    // A log that did not reach the disk must not pass for saved: the run may exist nowhere else.
    if (!logging::WriteLogFile(store, path, &error)) {
        ui::ShowError(this, error);
        return;
    }
    Log.MarkSaved();
    SaveLogCalibrations(path);   // beside it: the log file stays as it always was
}

std::optional<logging::LogLoadResult> TForm1::ChooseAndReadLog(QString* path)
{
    OpenDialog1.FilterIndex = kLogFilterIndex;
    OpenDialog1.FolderKind = kLogFolder;
    if (!OpenDialog1.Execute(this)) return std::nullopt;
    *path = OpenDialog1.FileName;
    const int series = Chart10->SeriesCount();
    const logging::LogMemoryEstimate need = logging::EstimateLogMemory(*path, series);
    if (need.TooBig() && !ui::Ask(this, logging::BigLogQuestion(*path, need), QStringLiteral("Load"), QStringLiteral("Cancel")))
        return std::nullopt;
    logging::LogLoadResult load = logging::ParseLogFile(*path, series);
    if (load.Refused()) {
        ui::ShowError(this, logging::LoadRefusalMessage(*path, load, series));
        return std::nullopt;
    }
    return load;
}

void TForm1::Button4Click(QObject*)
{
    // The file is read before the chart is emptied: a file that is no log must not wipe a run.
    QString path;
    std::optional<logging::LogLoadResult> read = ChooseAndReadLog(&path);
    if (!read) return;
    logging::LogLoadResult& load = *read;
    const int series = Chart10->SeriesCount();
    if (!ConfirmDiscardLog()) return;
    chartScatter->ClearSelection();   // it picked samples of the log going away
    logging::ClearLog(*Chart10);
    logging::ChartLogStore store(*Chart10);
    // Worded before the chart takes the columns over: it counts the samples read.
    const QString shortfall = logging::LoadShortfallMessage(path, load, series);
    logging::AppendSamples(store, std::move(load.samples));   // the chart takes the columns as read
    Log.AdoptLoaded();
    Chart10->SetTimeLabel(logging::TimeAxisLabel(Log.Times()));
    LoadLogCalibrations(path);
    lblSampleTime->clear();   // the row still shows a sample of the old log, if any
    Chart10->UndoZoom();
    TrackBar1->show();
    const logging::LoadSlider slider =
        logging::SliderAfterLoad(logging::SampleCount(*Chart10), TrackBar1->value());
    TrackBar1->setTickInterval(logging::SliderTickInterval(slider.maximum, TrackBar1->width()));
    // A shorter log pulls the position back to its last sample, and the shown slider's change
    // handler reads that sample out.
    TrackBar1->setMaximum(slider.maximum);
    TrackBar1->setValue(slider.position);
    RefreshScatter();
    RefreshCellTable();
    if (!shortfall.isEmpty()) ui::ShowWarning(this, shortfall);
}

void TForm1::Button14Click(QObject*)
{
    if (!CsvDialog.Execute(this)) return;
    const QString path = logging::WithCsvExtension(CsvDialog.FileName);
    const logging::ChartLogStore store(*Chart10);
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);   // millions of samples take seconds
    const bool exported = logging::ExportCsv(store, Log.Times(), path, &error);
    QApplication::restoreOverrideCursor();
    if (!exported) ui::ShowError(this, error);
}

void TForm1::LineSeries10Click(QObject*, int ValueIndex)
{
    // Whichever line was clicked, the row shows all fourteen channels of that sample, and the
    // cursor and the caption say which sample it is.
    const auto row = logging::Readout(*Chart10, ValueIndex);
    if (!row) return;
    for (int k = 0; k < kLogChannelCount; ++k) gridLog->SetCells(k, 1, (*row)[k]);
    Chart10->SetCursorIndex(ValueIndex);
    lblSampleTime->setText(logging::SampleTimeText(Log.Times(), ValueIndex));
}

void TForm1::TrackBar1Change(QObject*)
{
    // Hidden is the slider's own state, not the page's: a shown slider on another page still
    // reads out.
    if (TrackBar1->isHidden()) return;
    LineSeries10Click(TrackBar1, TrackBar1->value());
}

void TForm1::CheckBox1Click(QObject* Sender)
{
    auto* box = qobject_cast<QCheckBox*>(Sender);
    if (!box) return;
    Chart10->SetSeriesVisible(box->property("Tag").toInt(), box->isChecked());
}

void TForm1::Chart10DblClick(QObject*)
{
    Chart10->UndoZoom();
}
