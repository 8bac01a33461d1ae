// How the Logging page shows the log: the one chart of every shown channel, a lane per channel,
// or one channel against another. The choices are the user's and are remembered.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <cmath>

#include "app/Mainform.h"
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
    spinCellWater = new QSpinBox(page);
    spinCellWater->setObjectName(QStringLiteral("spinCellWater"));
    spinCellWater->setAccessibleName(QStringLiteral("Cell table: water at least"));
    spinCellWater->setRange(-30, 120);
    spinCellWater->setSpecialValueText(QStringLiteral("any"));   // -30: the sensor's floor, no filter
    spinCellWater->setSuffix(QStringLiteral(" \u00b0C"));
    spinCellWater->setValue(-30);
    btnCellExport = new QPushButton(QStringLiteral("Export table…"), page);
    btnCellExport->setObjectName(QStringLiteral("btnCellExport"));
    btnCellExport->setAccessibleName(QStringLiteral("Export table…"));
    int x = label("lblCellMap", "Map:", kChartPlace.left(), cmbCellMap);
    cmbCellMap->setGeometry(x, kChartPlace.top(), 190, kChooserHeight - 2);
    x = label("lblCellChannel", "Channel:", cmbCellMap->geometry().right() + 10, cmbCellChannel);
    cmbCellChannel->setGeometry(x, kChartPlace.top(), 140, kChooserHeight - 2);
    x = label("lblCellWater", "Water at least:", cmbCellChannel->geometry().right() + 10, spinCellWater);
    spinCellWater->setGeometry(x, kChartPlace.top(), 80, kChooserHeight - 2);
    const int exportWidth = btnCellExport->sizeHint().width();
    btnCellExport->setGeometry(kChartPlace.right() + 1 - exportWidth, kChartPlace.top(), exportWidth, kChooserHeight - 2);
    gridCells = new QTableWidget(page);
    gridCells->setObjectName(QStringLiteral("gridCells"));
    gridCells->setAccessibleName(QStringLiteral("Cell table"));
    gridCells->setGeometry(kChartPlace.adjusted(0, kChooserHeight, 0, 0));
    gridCells->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridCells->verticalHeader()->hide();
    gridCells->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    CellDialog.Filter = QStringLiteral("CSV (comma-separated values)|*.csv");
    CellDialog.FolderKind = QStringLiteral("csv");
    CellDialog.Targets = [](const QString& chosen) { return QStringList{logging::WithCsvExtension(chosen)}; };
    connect(cmbCellMap, &QComboBox::currentIndexChanged, this, [this] { RefreshCellTable(); });
    connect(cmbCellChannel, &QComboBox::currentIndexChanged, this, [this] { RefreshCellTable(); });
    connect(spinCellWater, &QSpinBox::valueChanged, this, [this] { RefreshCellTable(); });
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
    for (QWidget* w : std::initializer_list<QWidget*>{gridCells, cmbCellMap, cmbCellChannel, spinCellWater, btnCellExport})
        w->setVisible(cells);
    for (const char* name : {"lblCellMap", "lblCellChannel", "lblCellWater"})
        if (QLabel* l = Control<QLabel>(QLatin1String(name))) l->setVisible(cells);
    Chart10->setVisible(!scatter && !cells);
    RefreshScatter();
    RefreshCellTable();
}

logging::CellTableSpec TForm1::CellSpec() const
{
    logging::CellTableSpec spec;
    const calibration::MapLayout* map = calibration::MapByNumber(cmbCellMap->currentData().toInt());
    if (!map) return spec;
    spec.axisChannel = AxisLogChannel(*map);
    for (int c = 0; c < map->columns; ++c) spec.breakpoints.push_back(map->breakpoints.first + c * map->breakpoints.step);
    spec.valueChannel = std::max(cmbCellChannel->currentIndex(), 0);
    spec.minWater = spinCellWater->value() > spinCellWater->minimum() ? spinCellWater->value() : -1000;
    return spec;
}

// The statistics over the whole log, or the time range the time view is zoomed to.
namespace {
logging::ColumnStats CellStats(const LogChart& chart, const logging::CellTableSpec& spec, const logging::SampleTimes& times)
{
    std::array<const float*, logging::kLogChannelCount> columns{};
    for (int k = 0; k < logging::kLogChannelCount; ++k) columns[size_t(k)] = chart.Column(k).Data();
    return logging::CellTableStats(columns, logging::SampleCount(chart), spec, &times);
}
}  // namespace

void TForm1::RefreshCellTable()
{
    if (!gridCells || CurrentLogView() != LogView::CellTable) return;
    const logging::CellTableSpec spec = CellSpec();
    const logging::ColumnStats stats = CellStats(*Chart10, spec, Log.Times());
    const QStringList header = logging::CellTableHeader(spec);
    const std::vector<QStringList> rows = logging::CellTableRows(stats, spec, false);
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
    const logging::CellTableSpec spec = CellSpec();
    QString error;
    if (!logging::ExportCellTable(CellStats(*Chart10, spec, Log.Times()), spec, path, &error)) ui::ShowError(this, error);
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
