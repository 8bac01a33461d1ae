// How the Logging page shows the log: the one chart of every shown channel, a lane per channel,
// or one channel against another. The choices are the user's and are remembered.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>

#include <cmath>

#include "app/Mainform.h"
#include "base/NumberFormat.h"
#include "base/UserSettings.h"
#include "calibration/ImageLayout.h"
#include "calibration/OperatingPoint.h"
#include "logging/LogCsv.h"
#include "ui/Dialogs.h"
#include "logging/LogViewer.h"
#include "ui/LogChart.h"
#include "ui/ScatterPlot.h"

namespace {

const QString kViewKey = QStringLiteral("logViewer/view");
// The remembered texts, by LogView; a text not among them (a later version's view) is the one chart.
const char* const kViewNames[] = {"chart", "lanes", "scatter", "cells"};
constexpr int kRpmFuelMap = 4;   // the map whose columns the cell table offers first

// The log channel a map's axis is laid out over.
int AxisLogChannel(const calibration::MapLayout& map)
{
    switch (calibration::AxisChannelOf(map)) {
    case calibration::AxisChannel::EngineSpeed: return 0;
    case calibration::AxisChannel::ManifoldPressure: return 10;
    case calibration::AxisChannel::ThrottleSite: return 1;
    case calibration::AxisChannel::WaterTemperature: return 4;
    case calibration::AxisChannel::AirTemperature: return 5;
    }
    return 0;
}
const char* const kScatterKeys[] = {"logViewer/scatterX", "logViewer/scatterY", "logViewer/scatterColour"};
const char* const kScatterNames[] = {"cmbScatterX", "cmbScatterY", "cmbScatterColour"};
const char* const kScatterAccessible[] = {"Scatter x channel", "Scatter y channel", "Scatter colour channel"};
const char* const kScatterLabels[] = {"x:", "y:", "colour:"};
constexpr int kScatterDefaults[] = {0, 10, 6};   // engine speed, manifold pressure, lambda
// The cell table's checks on which samples count: the fuel assistant's, with its defaults.
struct CellCheck {
    const char* name;         // objectName suffix and settings key
    const char* text;
    const char* tip;
};
const CellCheck kCellChecks[] = {
    {"Warm", "Warm: water at least", "Samples of a colder engine do not count"},
    {"Steady", "Steady over", "Samples where the map's axis or the throttle moved over the samples before "
                              "(and until lambda is read) do not count"},
    {"Fuelled", "Fuelled", "Samples without injection (a fuel cut on the overrun reads lean) do not count"},
    {"Acc", "Acc at most", "Samples with acceleration enrichment above this do not count"},
    {"Lambda", "Lambda from", "Samples whose lambda lies outside the sensor's range do not count"},
    {"Delay", "Lambda read", "Lambda is read this many samples later: the sensor lags the injection"},
};
enum CellCheckIndex { kWarm, kSteady, kFuelled, kAcc, kLambdaRange, kDelay };
struct CellThreshold {
    const char* name;
    const char* accessible;
    int check;                // the check it belongs to
    double low, high, step;
    int decimals;
    const char* prefix;
    const char* suffix;
    double (*fallback)();     // the assistant's default
};
logging::FuelFilter AssistantDefaults() { return logging::FuelFilter::ForAxis(logging::kRpmChannel); }
const CellThreshold kCellThresholds[] = {
    {"Warm", "Water at least", kWarm, -30, 120, 1, 0, "", " \u00b0C", [] { return AssistantDefaults().warmWaterC; }},
    {"SteadySamples", "Steady over samples", kSteady, 1, 50, 1, 0, "", " samples",
     [] { return double(AssistantDefaults().steadySamples); }},
    // Half a column, whatever the map: 125 rpm on RPM Fuel, 10 kPa on MAP Fuel Compensation.
    {"SteadyAxis", "Axis within columns", kSteady, 0.05, 10, 0.05, 2, "axis \u00b1", " col", [] { return 0.5; }},
    {"SteadyThrottle", "Throttle within", kSteady, 0, 16, 0.25, 2, "TPS \u00b1", "",
     [] { return AssistantDefaults().steadyThrottleChange; }},
    {"Acc", "Acc at most", kAcc, 0, 255, 1, 0, "", "", [] { return AssistantDefaults().accMax; }},
    {"LambdaLow", "Lambda from", kLambdaRange, 0.40, 2.00, 0.01, 2, "", "", [] { return AssistantDefaults().lambdaLow; }},
    {"LambdaHigh", "Lambda to", kLambdaRange, 0.40, 2.00, 0.01, 2, "to ", "", [] { return AssistantDefaults().lambdaHigh; }},
    {"Delay", "Lambda read samples later", kDelay, 1, 20, 1, 0, "", " samples later",
     [] { return double(AssistantDefaults().lambdaDelay); }},
};
QString CellKey(const char* name) { return QStringLiteral("logViewer/cells/") + QLatin1String(name); }

constexpr int kViewTop = 521;
constexpr int kViewRight = 772;
const QRect kChartPlace(16, 56, 750, 377);
constexpr int kChooserHeight = 24;

}  // namespace

void TForm1::BuildLogViews(QWidget* page)
{
    cmbLogView = new QComboBox(page);
    cmbLogView->setObjectName(QStringLiteral("cmbLogView"));
    cmbLogView->setAccessibleName(QStringLiteral("View"));
    cmbLogView->setToolTip(QStringLiteral("How the log is shown: every channel in one chart, each in a lane of its own, "
                                          "or one channel against another"));
    cmbLogView->addItem(QStringLiteral("One chart"));
    cmbLogView->addItem(QStringLiteral("Lanes"));
    cmbLogView->addItem(QStringLiteral("Scatter"));
    cmbLogView->addItem(QStringLiteral("Cell table"));
    const int width = std::max(120, cmbLogView->sizeHint().width());
    cmbLogView->setGeometry(kViewRight - width, kViewTop, width, 25);
    const QString remembered = base::UserSettings().value(kViewKey).toString();
    for (int v = 0; v < cmbLogView->count(); ++v)
        if (remembered == QLatin1String(kViewNames[v])) cmbLogView->setCurrentIndex(v);
    connect(cmbLogView, &QComboBox::currentIndexChanged, this, [this] { cmbLogViewChange(cmbLogView); });

    // The scatter stands where the chart does, its three choosers in a row above the plot.
    chartScatter = new ScatterPlot(page);
    chartScatter->setObjectName(QStringLiteral("chartScatter"));
    chartScatter->setAccessibleName(QStringLiteral("Scatter plot"));
    chartScatter->setGeometry(kChartPlace.adjusted(0, kChooserHeight, 0, 0));
    chartScatter->Format = [](ScatterPlot::Role, double) { return QString(); };
    int left = kChartPlace.left();
    const QSettings settings = base::UserSettings();
    for (int r = 0; r < 3; ++r) {
        auto* label = new QLabel(QLatin1String(kScatterLabels[r]), page);
        label->setObjectName(QStringLiteral("lbl") + QLatin1String(kScatterNames[r] + 3));
        label->setGeometry(left, kChartPlace.top(), label->sizeHint().width() + 4, kChooserHeight - 2);
        left = label->geometry().right() + 1;
        auto* box = new QComboBox(page);
        box->setObjectName(QLatin1String(kScatterNames[r]));
        box->setAccessibleName(QLatin1String(kScatterAccessible[r]));
        for (int k = 0; k < logging::kLogChannelCount; ++k) box->addItem(logging::NameWithUnit(k));
        const int chosen = settings.value(QLatin1String(kScatterKeys[r]), kScatterDefaults[r]).toInt();
        box->setCurrentIndex(chosen >= 0 && chosen < logging::kLogChannelCount ? chosen : kScatterDefaults[r]);
        box->setGeometry(left, kChartPlace.top(), 150, kChooserHeight - 2);
        label->setBuddy(box);
        left = box->geometry().right() + 12;
        cmbScatter[size_t(r)] = box;
        connect(box, &QComboBox::currentIndexChanged, this, [this, box] { cmbScatterChange(box); });
    }
    chartScatter->Format = [this](ScatterPlot::Role role, double value) {
        const int k = cmbScatter[size_t(role)]->currentIndex();
        QString text = logging::ReadoutText(k, value);
        const QString unit = logging::DisplayUnit(k);
        return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
    };
    cmbScatterChange(nullptr);
    // Samples picked in the scatter are shaded where they lie in time, in the one chart and in lanes.
    chartScatter->OnSelectionChanged = [this] { Chart10->SetMarks(chartScatter->Selected()); };
    // The cell table: a row of choices above the table, where the scatter has its own.
    auto label = [page](const char* name, const char* text, int x, QWidget* buddy) {
        auto* l = new QLabel(QLatin1String(text), page);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(x, kChartPlace.top(), l->sizeHint().width() + 4, kChooserHeight - 2);
        l->setBuddy(buddy);
        return l->geometry().right() + 1;
    };
    cmbCellMap = new QComboBox(page);
    cmbCellMap->setObjectName(QStringLiteral("cmbCellMap"));
    cmbCellMap->setAccessibleName(QStringLiteral("Cell table map"));
    for (const calibration::MapLayout& map : calibration::Maps) cmbCellMap->addItem(QLatin1String(map.title), map.number);
    cmbCellMap->setCurrentIndex(std::max(cmbCellMap->findData(kRpmFuelMap), 0));
    cmbCellChannel = new QComboBox(page);
    cmbCellChannel->setObjectName(QStringLiteral("cmbCellChannel"));
    cmbCellChannel->setAccessibleName(QStringLiteral("Cell table channel"));
    for (int k = 0; k < logging::kLogChannelCount; ++k) cmbCellChannel->addItem(logging::NameWithUnit(k));
    cmbCellChannel->setCurrentIndex(6);   // lambda
    btnCellExport = new QPushButton(QStringLiteral("Export table…"), page);
    btnCellExport->setObjectName(QStringLiteral("btnCellExport"));
    btnCellExport->setAccessibleName(QStringLiteral("Export table…"));
    int x = label("lblCellMap", "Map:", kChartPlace.left(), cmbCellMap);
    cmbCellMap->setGeometry(x, kChartPlace.top(), 190, kChooserHeight - 2);
    x = label("lblCellChannel", "Channel:", cmbCellMap->geometry().right() + 10, cmbCellChannel);
    cmbCellChannel->setGeometry(x, kChartPlace.top(), 140, kChooserHeight - 2);
    const int exportWidth = btnCellExport->sizeHint().width();
    btnCellExport->setGeometry(kChartPlace.right() + 1 - exportWidth, kChartPlace.top(), exportWidth, kChooserHeight - 2);
    // The checks in two rows under the choices, what they left out under them, then the table.
    panelCellFilters = new QWidget(page);
    panelCellFilters->setObjectName(QStringLiteral("panelCellFilters"));
    panelCellFilters->setAccessibleName(QStringLiteral("Cell table filters"));
    panelCellFilters->setGeometry(kChartPlace.left(), kChartPlace.top() + kChooserHeight, kChartPlace.width(), 2 * kChooserHeight + 4);
    auto* rows = new QVBoxLayout(panelCellFilters);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    std::array<QHBoxLayout*, 2> row{new QHBoxLayout, new QHBoxLayout};
    const QSettings cellSettings = base::UserSettings();
    for (int c = 0; c < int(std::size(kCellChecks)); ++c) {
        const CellCheck& check = kCellChecks[c];
        auto* box = new QCheckBox(QLatin1String(check.text), panelCellFilters);
        box->setObjectName(QStringLiteral("chkCell") + QLatin1String(check.name));
        box->setAccessibleName(QStringLiteral("Cell table check: ") + QLatin1String(check.text));
        box->setToolTip(QLatin1String(check.tip) + QStringLiteral(" (on by default)"));
        box->setChecked(cellSettings.value(CellKey(check.name) + QStringLiteral("On"), true).toBool());
        chkCellFilter[size_t(c)] = box;
        QHBoxLayout* into = row[c < kAcc ? 0 : 1];
        into->addWidget(box);
        for (int t = 0; t < int(std::size(kCellThresholds)); ++t) {
            const CellThreshold& th = kCellThresholds[t];
            if (th.check != c) continue;
            auto* spin = new QDoubleSpinBox(panelCellFilters);
            spin->setObjectName(QStringLiteral("spinCell") + QLatin1String(th.name));
            spin->setAccessibleName(QStringLiteral("Cell table: ") + QLatin1String(th.accessible));
            spin->setDecimals(th.decimals);
            spin->setRange(th.low, th.high);
            spin->setSingleStep(th.step);
            spin->setPrefix(QString::fromUtf8(th.prefix));
            spin->setSuffix(QString::fromUtf8(th.suffix));
            const QString shownDefault = base::FormatFixed(th.fallback(), th.decimals);
            spin->setToolTip(QStringLiteral("default %1").arg(shownDefault));
            spin->setAccessibleDescription(QStringLiteral("default %1").arg(shownDefault));
            spin->setValue(cellSettings.value(CellKey(th.name), th.fallback()).toDouble());
            spinCellFilter[size_t(t)] = spin;
            into->addWidget(spin);
            connect(spin, &QDoubleSpinBox::valueChanged, this, [this, spin] { CellFilterChange(spin); });
        }
        into->addSpacing(10);
        connect(box, &QCheckBox::toggled, this, [this, box] { CellFilterChange(box); });
    }
    btnCellDefaults = new QPushButton(QStringLiteral("Defaults"), panelCellFilters);
    btnCellDefaults->setObjectName(QStringLiteral("btnCellDefaults"));
    btnCellDefaults->setAccessibleName(QStringLiteral("Cell table filter defaults"));
    btnCellDefaults->setToolTip(QStringLiteral("Every check on, every threshold at its default"));
    row[1]->addStretch(1);
    row[1]->addWidget(btnCellDefaults);
    row[0]->addStretch(1);
    rows->addLayout(row[0]);
    rows->addLayout(row[1]);
    connect(btnCellDefaults, &QPushButton::clicked, this, [this] { btnCellDefaultsClick(btnCellDefaults); });
    CellFilterChange(nullptr);   // thresholds of a check switched off shown as such
    lblCellLeftOut = new QLabel(page);
    lblCellLeftOut->setObjectName(QStringLiteral("lblCellLeftOut"));
    lblCellLeftOut->setAccessibleName(QStringLiteral("Cell table: samples left out"));
    lblCellLeftOut->setGeometry(kChartPlace.left(), panelCellFilters->geometry().bottom() + 2, kChartPlace.width(), kChooserHeight - 4);
    gridCells = new QTableWidget(page);
    gridCells->setObjectName(QStringLiteral("gridCells"));
    gridCells->setAccessibleName(QStringLiteral("Cell table"));
    gridCells->setGeometry(kChartPlace.adjusted(0, lblCellLeftOut->geometry().bottom() + 2 - kChartPlace.top(), 0, 0));
    gridCells->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridCells->setTabKeyNavigation(false);   // the arrows go from cell to cell; Tab leaves the table
    gridCells->verticalHeader()->hide();
    gridCells->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    CellDialog.Filter = QStringLiteral("CSV (comma-separated values)|*.csv");
    CellDialog.FolderKind = QStringLiteral("csv");
    CellDialog.Targets = [](const QString& chosen) { return QStringList{logging::WithCsvExtension(chosen)}; };
    connect(cmbCellMap, &QComboBox::currentIndexChanged, this, [this] { RefreshCellTable(); });
    connect(cmbCellChannel, &QComboBox::currentIndexChanged, this, [this] { RefreshCellTable(); });
    connect(btnCellExport, &QPushButton::clicked, this, [this] { btnCellExportClick(btnCellExport); });

    // Points follow the time view: what it is zoomed to is what the scatter shows.
    connect(Chart10->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] { RefreshScatter(); });
    ShowLogView();
}

TForm1::LogView TForm1::CurrentLogView() const
{
    return cmbLogView ? LogView(std::max(cmbLogView->currentIndex(), 0)) : LogView::OneChart;
}

void TForm1::cmbLogViewChange(QObject*)
{
    base::UserSettings().setValue(kViewKey, QLatin1String(kViewNames[int(CurrentLogView())]));
    ShowLogView();
}

void TForm1::ShowLogView()
{
    const LogView view = CurrentLogView();
    const bool scatter = view == LogView::Scatter;
    Chart10->SetLanes(view == LogView::Lanes);
    chartScatter->setVisible(scatter);
    for (QComboBox* box : cmbScatter) {
        box->setVisible(scatter);
        if (QWidget* label = Control<QLabel>(QStringLiteral("lbl") + box->objectName().mid(3))) label->setVisible(scatter);
    }
    const bool cells = view == LogView::CellTable;
    for (QWidget* w : std::initializer_list<QWidget*>{gridCells, cmbCellMap, cmbCellChannel, panelCellFilters,
                                                      lblCellLeftOut, btnCellExport})
        w->setVisible(cells);
    for (const char* name : {"lblCellMap", "lblCellChannel"})
        if (QLabel* l = Control<QLabel>(QLatin1String(name))) l->setVisible(cells);
    Chart10->setVisible(!scatter && !cells);
    RefreshScatter();
    RefreshCellTable();
}

logging::CellTableQuery TForm1::CellQuery() const
{
    logging::CellTableQuery query;
    const calibration::MapLayout* map = calibration::MapByNumber(cmbCellMap->currentData().toInt());
    if (!map) return query;
    query.axisChannel = AxisLogChannel(*map);
    for (int c = 0; c < map->columns; ++c) query.breakpoints.push_back(map->breakpoints.first + c * map->breakpoints.step);
    query.valueChannel = std::max(cmbCellChannel->currentIndex(), 0);
    logging::FuelFilter& f = query.filter;
    f.checkWarm = chkCellFilter[kWarm]->isChecked();
    f.checkSteady = chkCellFilter[kSteady]->isChecked();
    f.checkFuelled = chkCellFilter[kFuelled]->isChecked();
    f.checkEnrichment = chkCellFilter[kAcc]->isChecked();
    f.checkLambdaRange = chkCellFilter[kLambdaRange]->isChecked();
    f.delayLambda = chkCellFilter[kDelay]->isChecked();
    auto value = [this](int t) { return spinCellFilter[size_t(t)]->value(); };
    f.warmWaterC = value(0);
    f.steadySamples = int(std::lround(value(1)));
    f.steadyAxisChange = value(2) * map->breakpoints.step;   // columns into the axis unit
    f.steadyThrottleChange = value(3);
    f.accMax = value(4);
    f.lambdaLow = value(5);
    f.lambdaHigh = value(6);
    f.lambdaDelay = int(std::lround(value(7)));
    return query;
}

void TForm1::CellFilterChange(QObject* Sender)
{
    QSettings settings = base::UserSettings();
    for (int c = 0; c < int(std::size(kCellChecks)); ++c) {
        QCheckBox* box = chkCellFilter[size_t(c)];
        if (Sender == box) settings.setValue(CellKey(kCellChecks[c].name) + QStringLiteral("On"), box->isChecked());
        // A threshold of a check switched off has no say: shown, but not to be edited.
        for (int t = 0; t < int(std::size(kCellThresholds)); ++t)
            if (kCellThresholds[t].check == c) spinCellFilter[size_t(t)]->setEnabled(box->isChecked());
    }
    for (int t = 0; t < int(std::size(kCellThresholds)); ++t)
        if (Sender == spinCellFilter[size_t(t)]) settings.setValue(CellKey(kCellThresholds[t].name), spinCellFilter[size_t(t)]->value());
    RefreshCellTable();
}

void TForm1::btnCellDefaultsClick(QObject*)
{
    {
        QSettings settings = base::UserSettings();
        for (const CellCheck& check : kCellChecks) settings.remove(CellKey(check.name) + QStringLiteral("On"));
        for (const CellThreshold& th : kCellThresholds) settings.remove(CellKey(th.name));
    }
    for (QCheckBox* box : chkCellFilter) {
        const QSignalBlocker quiet(box);
        box->setChecked(true);
    }
    for (int t = 0; t < int(std::size(kCellThresholds)); ++t) {
        const QSignalBlocker quiet(spinCellFilter[size_t(t)]);
        spinCellFilter[size_t(t)]->setValue(kCellThresholds[t].fallback());
    }
    CellFilterChange(nullptr);
}

// The statistics over the whole log (a zoom of the time view does not narrow them).
namespace {
logging::ColumnStats CellStats(const LogChart& chart, const logging::CellTableQuery& query, const logging::SampleTimes& times)
{
    std::array<const float*, logging::kLogChannelCount> columns{};
    for (int k = 0; k < logging::kLogChannelCount; ++k) columns[size_t(k)] = chart.Column(k).Data();
    return logging::CellTableStats(columns, logging::SampleCount(chart), query, &times);
}
}  // namespace

void TForm1::RefreshCellTable()
{
    if (!gridCells || CurrentLogView() != LogView::CellTable) return;
    const logging::CellTableQuery query = CellQuery();
    const logging::ColumnStats stats = CellStats(*Chart10, query, Log.Times());
    const QStringList header = logging::CellTableHeader(query);
    const std::vector<QStringList> rows = logging::CellTableRows(stats, query, false);
    lblCellLeftOut->setText(logging::CellTableLeftOutText(stats, query));
    gridCells->clear();
    gridCells->setColumnCount(int(header.size()));
    gridCells->setHorizontalHeaderLabels(header);
    gridCells->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < rows[size_t(r)].size(); ++c) {
            auto* item = new QTableWidgetItem(rows[size_t(r)][c]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            gridCells->setItem(r, c, item);
        }
}

void TForm1::btnCellExportClick(QObject*)
{
    if (!CellDialog.Execute(this)) return;
    const QString path = logging::WithCsvExtension(CellDialog.FileName);
    const logging::CellTableQuery query = CellQuery();
    QString error;
    if (!logging::ExportCellTable(CellStats(*Chart10, query, Log.Times()), query, path, &error)) ui::ShowError(this, error);
}

void TForm1::cmbScatterChange(QObject* Sender)
{
    for (int r = 0; r < 3; ++r) {
        const int k = cmbScatter[size_t(r)]->currentIndex();
        chartScatter->SetChannel(ScatterPlot::Role(r), {&Chart10->Column(k), logging::NameWithUnit(k), logging::ReadoutShift(k)});
        if (Sender == cmbScatter[size_t(r)]) base::UserSettings().setValue(QLatin1String(kScatterKeys[r]), k);
    }
    RefreshScatter();
}

void TForm1::RefreshScatter()
{
    if (!chartScatter || CurrentLogView() != LogView::Scatter) return;
    const int samples = logging::SampleCount(*Chart10);
    int from = 0, to = samples;
    if (Chart10->Zoomed()) {
        const QCPRange range = Chart10->xAxis->range();
        from = std::clamp(int(std::ceil(range.lower)), 0, samples);
        to = std::clamp(int(std::floor(range.upper)) + 1, from, samples);
    }
    chartScatter->SetSampleRange(from, to);
    chartScatter->Refresh();
}
