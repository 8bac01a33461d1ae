// Fuel from lambda: the panel beside the Fuel page. It reads the log on display (recorded or
// loaded), asks logging/FuelFromLambda what each column of "RPM Fuel" or "MAP Fuel
// Compensation" would need, shows it column by column, draws the proposals under the map's
// grid, and applies the ticked ones as one edit through the same path as typing.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/Mainform.h"
#include "base/NumberFormat.h"
#include "base/UserSettings.h"
#include "calibration/ImageLayout.h"
#include "calibration/MapEditing.h"
#include "logging/LogViewer.h"
#include "ui/Beep.h"
#include "ui/LogChart.h"
#include "ui/MapChart.h"
#include "ui/ProposalStrip.h"
#include "ui/StringGrid.h"

namespace {

using calibration::MapLayout;
using logging::FuelFilter;
using logging::FuelRules;
using logging::ProposalState;

const QString SettingGroup = QStringLiteral("FuelFromLambda");

// Every threshold of the panel, in its order: the field it sets, its range and its unit.
struct Threshold {
    const char* key;          // settings key and object name suffix
    const char* label;
    const char* unit;         // nullptr: the map axis' unit
    int decimals;
    double min, max, step;
    double (*get)(const FuelFilter&, const FuelRules&);
    void (*set)(FuelFilter&, FuelRules&, double);
};

const Threshold Thresholds[] = {
    {"WarmWater", "Warm: water from", "\u00b0C", 0, -30, 150, 1,
     [](const FuelFilter& f, const FuelRules&) { return f.warmWaterC; },
     [](FuelFilter& f, FuelRules&, double v) { f.warmWaterC = v; }},
    {"SteadySamples", "Steady over samples before", "", 0, 0, 20, 1,
     [](const FuelFilter& f, const FuelRules&) { return double(f.steadySamples); },
     [](FuelFilter& f, FuelRules&, double v) { f.steadySamples = int(std::lround(v)); }},
    {"SteadyAxis", "Steady: axis moved at most", nullptr, 0, 0, 5000, 5,
     [](const FuelFilter& f, const FuelRules&) { return f.steadyAxisChange; },
     [](FuelFilter& f, FuelRules&, double v) { f.steadyAxisChange = v; }},
    {"SteadyThrottle", "Steady: throttle moved at most", "sites", 2, 0, 16, 0.25,
     [](const FuelFilter& f, const FuelRules&) { return f.steadyThrottleChange; },
     [](FuelFilter& f, FuelRules&, double v) { f.steadyThrottleChange = v; }},
    {"AccMax", "Acceleration enrichment at most", "", 0, 0, 255, 1,
     [](const FuelFilter& f, const FuelRules&) { return f.accMax; },
     [](FuelFilter& f, FuelRules&, double v) { f.accMax = v; }},
    {"LambdaLow", "Lambda sensor reads from", "", 2, 0, 2.55, 0.01,
     [](const FuelFilter& f, const FuelRules&) { return f.lambdaLow; },
     [](FuelFilter& f, FuelRules&, double v) { f.lambdaLow = v; }},
    {"LambdaHigh", "Lambda sensor reads up to", "", 2, 0, 2.55, 0.01,
     [](const FuelFilter& f, const FuelRules&) { return f.lambdaHigh; },
     [](FuelFilter& f, FuelRules&, double v) { f.lambdaHigh = v; }},
    {"LambdaDelay", "Lambda read samples later", "", 0, 0, 20, 1,
     [](const FuelFilter& f, const FuelRules&) { return double(f.lambdaDelay); },
     [](FuelFilter& f, FuelRules&, double v) { f.lambdaDelay = int(std::lround(v)); }},
    {"MinSamples", "Samples a column needs", "", 0, 1, 1000000, 1,
     [](const FuelFilter&, const FuelRules& r) { return double(r.minSamples); },
     [](FuelFilter&, FuelRules& r, double v) { r.minSamples = int(std::lround(v)); }},
    {"MaxStep", "Largest step", "%", 1, 0.5, 50, 0.5,
     [](const FuelFilter&, const FuelRules& r) { return r.maxStepPercent; },
     [](FuelFilter&, FuelRules& r, double v) { r.maxStepPercent = v; }},
};
constexpr int ThresholdCount = int(sizeof Thresholds / sizeof Thresholds[0]);

// The table's columns.
enum Col { ColAxis, ColSamples, ColTime, ColMean, ColSpread, ColLow, ColHigh, ColTarget, ColNow, ColProposed,
           ColChange, ColLock, ColApply, ColWhy, ColCount };
const char* const Headings[ColCount] = {"Column", "Samples", "Time (s)", "Mean \u03bb", "Spread", "Min \u03bb",
                                        "Max \u03bb", "Target \u03bb", "Now", "Proposed", "Change", "Lock",
                                        "Apply", "Why"};

int AxisChannel(int map) { return map == 6 ? logging::kMapChannel : logging::kRpmChannel; }
QString AxisUnit(int map) { return map == 6 ? QStringLiteral("kPa") : QStringLiteral("rpm"); }

QString Key(int map, const char* name) { return SettingGroup + QStringLiteral("/Map%1/%2").arg(map).arg(name); }

QString Fixed(double v, int decimals) { return base::DisplayLocale().toString(v, 'f', decimals); }

QString Formula(int map, const FuelRules& rules)
{
    const QString step = Fixed(rules.maxStepPercent, 1);
    if (map == 6)
        return QStringLiteral(
                   "MAP Fuel Compensation is the percentage the ECU multiplies the fuel by (100 = unchanged), "
                   "so a column's fuel goes with its value: proposed % = shown % \u00d7 mean \u03bb / target \u03bb, "
                   "at most \u00b1%1 % a time, rounded to the even values the cell holds.")
            .arg(step);
    return QStringLiteral(
               "RPM Fuel is the fuel itself: proposed = shown value \u00d7 mean \u03bb / target \u03bb, "
               "at most \u00b1%1 % a time, rounded to a whole value.")
        .arg(step);
}

std::vector<double> RememberedTargets(int map, int columns, double fallback)
{
    const QStringList saved = base::UserSettings().value(Key(map, "Targets")).toStringList();
    std::vector<double> targets(size_t(columns), fallback);
    for (int k = 0; k < columns && k < saved.size(); ++k) {
        bool ok = false;
        const double v = saved[k].toDouble(&ok);   // kept with a full stop, whatever the locale
        if (ok && v > 0) targets[size_t(k)] = v;
    }
    return targets;
}

void RememberTargets(int map, const std::vector<double>& targets)
{
    QStringList saved;
    for (double v : targets) saved << QString::number(v, 'f', 3);
    base::UserSettings().setValue(Key(map, "Targets"), saved);
}

std::vector<bool> RememberedLocks(int map, int columns)
{
    std::vector<bool> locked(size_t(columns), false);
    for (const QString& k : base::UserSettings().value(Key(map, "Locked")).toStringList()) {
        bool ok = false;
        const int col = k.toInt(&ok);
        if (ok && col >= 0 && col < columns) locked[size_t(col)] = true;
    }
    return locked;
}

void RememberLocks(int map, const std::vector<bool>& locked)
{
    QStringList saved;
    for (size_t k = 0; k < locked.size(); ++k)
        if (locked[k]) saved << QString::number(k);
    base::UserSettings().setValue(Key(map, "Locked"), saved);
}

// A cell of the table updated in place: the table is refreshed from inside its own change
// signal (a tick, a target typed), when the item that changed must not be taken away.
QTableWidgetItem* Cell(QTableWidget* table, int row, int col, const QString& text,
                       Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter)
{
    QTableWidgetItem* item = table->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, col, item);
    }
    item->setText(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(align);
    item->setData(Qt::ForegroundRole, QVariant());
    return item;
}

QTableWidgetItem* Tick(QTableWidget* table, int row, int col, bool checked, bool enabled)
{
    QTableWidgetItem* item = table->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, col, item);
    }
    item->setFlags(enabled ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable : Qt::ItemIsSelectable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

// Puts a widget under a map grid, in the grid's own block of the page layout.
void PlaceUnder(QLayout* layout, QWidget* grid, QWidget* strip)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayout* inner = layout->itemAt(i)->layout();
        if (!inner) continue;
        if (auto* box = qobject_cast<QBoxLayout*>(inner)) {
            const int at = box->indexOf(grid);
            if (at >= 0) {
                box->insertWidget(at + 1, strip, 0, Qt::AlignLeft);
                return;
            }
        }
        PlaceUnder(inner, grid, strip);
    }
}

}  // namespace

void TForm1::BuildFuelFromLambda()
{
    QWidget* sheet = TabSheet[calibration::PageFuel];

    // The button stands under the "Base fuel" group.
    ButtonFuelFromLambda = new QPushButton(QStringLiteral("Fuel from lambda\u2026"), sheet);
    ButtonFuelFromLambda->setObjectName(QStringLiteral("ButtonFuelFromLambda"));
    ButtonFuelFromLambda->setAccessibleName(QStringLiteral("Fuel from lambda"));
    ButtonFuelFromLambda->setToolTip(QStringLiteral(
        "Proposals for RPM Fuel or MAP Fuel Compensation from the lambda of the log on display"));
    if (auto* grid = qobject_cast<QGridLayout*>(sheet->layout())) {
        auto* group = sheet->findChild<QGroupBox*>(QStringLiteral("GroupBoxBaseFuel"));
        const int at = group ? grid->indexOf(group) : -1;
        if (at >= 0) {
            int r, c, rs, cs;
            grid->getItemPosition(at, &r, &c, &rs, &cs);
            delete grid->takeAt(at);
            auto* column = new QVBoxLayout;
            column->setSpacing(8);
            column->addWidget(group, 0, Qt::AlignLeft);
            column->addWidget(ButtonFuelFromLambda, 0, Qt::AlignLeft);
            column->addStretch(1);
            grid->addLayout(column, r, c, rs, cs);
            // On Tab too the button follows the setting it stands under.
            if (auto* setting = group->findChild<QLineEdit*>()) QWidget::setTabOrder(setting, ButtonFuelFromLambda);
        }
    }
    connect(ButtonFuelFromLambda, &QPushButton::clicked, this, [this] { ButtonFuelFromLambdaClick(ButtonFuelFromLambda); });

    // A line under each grid for its proposals.
    for (int number : {4, 6}) {
        StringGrid* grid = MapGrid[std::size_t(number)];
        const MapLayout& map = *calibration::MapByNumber(number);
        auto* strip = new ProposalStrip(map.columns, grid->columnWidth(0), grid->frameWidth(), sheet);
        strip->setObjectName(QStringLiteral("ProposalStrip%1").arg(number));
        strip->setAccessibleName(QStringLiteral("Proposals for %1").arg(QString::fromUtf8(map.title)));
        PlaceUnder(sheet->layout(), grid, strip);
        ProposalStripOf[std::size_t(number)] = strip;
    }

    // The panel.
    FuelFromLambdaPanel = new QWidget(this, Qt::Tool);
    FuelFromLambdaPanel->setObjectName(QStringLiteral("FuelFromLambdaPanel"));
    FuelFromLambdaPanel->setWindowTitle(QStringLiteral("Fuel from lambda"));
    FuelFromLambdaPanel->setAccessibleName(FuelFromLambdaPanel->windowTitle());
    FuelFromLambdaPanel->resize(980, 640);
    FuelFromLambdaPanel->installEventFilter(this);   // Esc closes it (eventFilter)
    auto* outer = new QVBoxLayout(FuelFromLambdaPanel);

    auto* top = new QHBoxLayout;
    auto* mapLabel = new QLabel(QStringLiteral("&Map:"), FuelFromLambdaPanel);
    ComboFuelMap = new QComboBox(FuelFromLambdaPanel);
    ComboFuelMap->setObjectName(QStringLiteral("ComboFuelMap"));
    ComboFuelMap->setAccessibleName(QStringLiteral("Map"));
    for (int number : {4, 6}) ComboFuelMap->addItem(QString::fromUtf8(calibration::MapByNumber(number)->title), number);
    mapLabel->setBuddy(ComboFuelMap);
    FuelMap = base::UserSettings().value(SettingGroup + QStringLiteral("/Map"), 4).toInt() == 6 ? 6 : 4;
    ComboFuelMap->setCurrentIndex(FuelMap == 6 ? 1 : 0);
    auto button = [this](const QString& text, const char* name, const QString& accessible, const QString& tip) {
        auto* b = new QPushButton(text, FuelFromLambdaPanel);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(accessible);
        b->setToolTip(tip);
        return b;
    };
    ButtonFuelAnalyse = button(QStringLiteral("A&nalyse log"), "ButtonFuelAnalyse", QStringLiteral("Analyse log"),
                               QStringLiteral("Read the log on display again (it may have grown since)"));
    ButtonFuelApply = button(QStringLiteral("&Apply"), "ButtonFuelApply", QStringLiteral("Apply"),
                             QStringLiteral("Send the ticked proposals to the ECU as one edit (Ctrl+Z in the grid undoes it)"));
    ButtonFuelDismiss = button(QStringLiteral("&Dismiss"), "ButtonFuelDismiss", QStringLiteral("Dismiss"),
                               QStringLiteral("Take the proposals away; nothing is sent"));
    top->addWidget(mapLabel);
    top->addWidget(ComboFuelMap);
    top->addWidget(ButtonFuelAnalyse);
    top->addStretch(1);
    top->addWidget(ButtonFuelApply);
    top->addWidget(ButtonFuelDismiss);
    outer->addLayout(top);

    auto* middle = new QHBoxLayout;
    auto* thresholds = new QGroupBox(QStringLiteral("Which samples count"), FuelFromLambdaPanel);
    thresholds->setObjectName(QStringLiteral("GroupFuelThresholds"));
    thresholds->setAccessibleName(thresholds->title());
    auto* form = new QFormLayout(thresholds);
    for (const Threshold& t : Thresholds) {
        auto* box = new QDoubleSpinBox(thresholds);
        box->setObjectName(QStringLiteral("SpinFuel%1").arg(QLatin1String(t.key)));
        box->setDecimals(t.decimals);
        box->setRange(t.min, t.max);
        box->setSingleStep(t.step);
        box->setKeyboardTracking(false);   // one analysis when the number is complete, not per digit
        auto* label = new QLabel(thresholds);
        label->setBuddy(box);
        form->addRow(label, box);
        FuelThresholdBox.push_back(box);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, box] { FuelThresholdChange(box); });
    }
    ButtonFuelDefaults = button(QStringLiteral("Defaults"), "ButtonFuelDefaults", QStringLiteral("Defaults"),
                                QStringLiteral("Every threshold back to its default"));
    form->addRow(ButtonFuelDefaults);
    middle->addWidget(thresholds, 0, Qt::AlignTop);

    auto* right = new QVBoxLayout;
    LabelFuelFormula = new QLabel(FuelFromLambdaPanel);
    LabelFuelFormula->setObjectName(QStringLiteral("LabelFuelFormula"));
    LabelFuelFormula->setAccessibleName(QStringLiteral("Formula"));
    LabelFuelFormula->setWordWrap(true);
    LabelFuelSummary = new QLabel(FuelFromLambdaPanel);
    LabelFuelSummary->setObjectName(QStringLiteral("LabelFuelSummary"));
    LabelFuelSummary->setAccessibleName(QStringLiteral("Analysis"));
    LabelFuelSummary->setWordWrap(true);
    ButtonFuelTargets = button(QStringLiteral("All targets 1.00"), "ButtonFuelTargets", QStringLiteral("All targets 1.00"),
                               QStringLiteral("Every column's target lambda back to 1.00"));
    right->addWidget(LabelFuelFormula);
    right->addWidget(LabelFuelSummary);
    right->addWidget(ButtonFuelTargets, 0, Qt::AlignLeft);
    right->addStretch(1);
    middle->addLayout(right, 1);
    outer->addLayout(middle);

    GridFuelColumns = new QTableWidget(0, ColCount, FuelFromLambdaPanel);
    GridFuelColumns->setObjectName(QStringLiteral("GridFuelColumns"));
    GridFuelColumns->setAccessibleName(QStringLiteral("Columns"));
    GridFuelColumns->setTabKeyNavigation(false);   // the arrows go from cell to cell; Tab goes on
    QStringList headings;
    for (const char* h : Headings) headings << QString::fromUtf8(h);
    GridFuelColumns->setHorizontalHeaderLabels(headings);
    GridFuelColumns->verticalHeader()->hide();
    GridFuelColumns->verticalHeader()->setDefaultSectionSize(GridFuelColumns->fontMetrics().height() + 6);
    GridFuelColumns->horizontalHeader()->setStretchLastSection(true);
    GridFuelColumns->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                     | QAbstractItemView::AnyKeyPressed);
    GridFuelColumns->setToolTip(QStringLiteral(
        "Target \u03bb: type the lambda wanted in a column (remembered). Lock: the column is never proposed "
        "(remembered). Apply: which proposals Apply sends."));
    outer->addWidget(GridFuelColumns, 1);

    connect(ComboFuelMap, &QComboBox::activated, this, [this] { ComboFuelMapChange(ComboFuelMap); });
    connect(ButtonFuelAnalyse, &QPushButton::clicked, this, [this] { ButtonFuelAnalyseClick(ButtonFuelAnalyse); });
    connect(ButtonFuelApply, &QPushButton::clicked, this, [this] { ButtonFuelApplyClick(ButtonFuelApply); });
    connect(ButtonFuelDismiss, &QPushButton::clicked, this, [this] { ButtonFuelDismissClick(ButtonFuelDismiss); });
    connect(ButtonFuelDefaults, &QPushButton::clicked, this, [this] { ButtonFuelDefaultsClick(ButtonFuelDefaults); });
    connect(ButtonFuelTargets, &QPushButton::clicked, this, [this] { ButtonFuelTargetsClick(ButtonFuelTargets); });
    connect(GridFuelColumns, &QTableWidget::cellChanged, this, [this](int row, int col) { GridFuelColumnsChange(row, col); });
    FuelShowThresholds();
    FuelShow();
}

void TForm1::FuelShowThresholds()
{
    const FuelFilter filterDefaults = FuelFilter::ForAxis(AxisChannel(FuelMap));
    const FuelRules rulesDefaults;
    QSettings settings = base::UserSettings();
    for (int i = 0; i < ThresholdCount; ++i) {
        const Threshold& t = Thresholds[i];
        QDoubleSpinBox* box = FuelThresholdBox[size_t(i)];
        const double fallback = t.get(filterDefaults, rulesDefaults);
        const QString unit = t.unit ? QString::fromUtf8(t.unit) : AxisUnit(FuelMap);
        const QString name = QString::fromUtf8(t.label);
        const QString shownDefault = Fixed(fallback, t.decimals) + (unit.isEmpty() ? QString() : QStringLiteral(" ") + unit);
        if (auto* label = qobject_cast<QLabel*>(static_cast<QFormLayout*>(box->parentWidget()->layout())->labelForField(box)))
            label->setText(QStringLiteral("%1 (default %2):").arg(name, shownDefault));
        box->setAccessibleName(name);
        box->setAccessibleDescription(QStringLiteral("default %1").arg(shownDefault));
        box->setSuffix(unit.isEmpty() ? QString() : QStringLiteral(" ") + unit);
        const QSignalBlocker quiet(box);
        box->setValue(settings.value(Key(FuelMap, t.key), fallback).toDouble());
    }
}

FuelFilter TForm1::FuelFilterShown() const
{
    FuelFilter filter = FuelFilter::ForAxis(AxisChannel(FuelMap));
    FuelRules rules;
    for (int i = 0; i < ThresholdCount; ++i) Thresholds[i].set(filter, rules, FuelThresholdBox[size_t(i)]->value());
    return filter;
}

FuelRules TForm1::FuelRulesShown() const
{
    FuelFilter filter;
    FuelRules rules;
    for (int i = 0; i < ThresholdCount; ++i) Thresholds[i].set(filter, rules, FuelThresholdBox[size_t(i)]->value());
    return rules;
}

void TForm1::FuelAnalyse()
{
    const MapLayout& map = *calibration::MapByNumber(FuelMap);
    std::vector<double> breakpoints;
    for (int k = 0; k < map.columns; ++k) breakpoints.push_back(calibration::Breakpoint(map, k));
    logging::LogView view;
    for (int k = 0; k < logging::kLogChannelCount; ++k) view.channel[size_t(k)] = Chart10->Column(k).Data();
    view.count = logging::SampleCount(*Chart10);
    view.times = &Log.Times();
    // Samples from before proposals of this log were applied ran on the calibration since changed.
    if (FuelApplied && FuelApplied->log == Log.Generation()) view.from = std::min(FuelApplied->samples, view.count);
    // One pass over the stored columns on the window thread: a few tens of milliseconds for
    // millions of samples, and the chart's columns cannot change under it.
    FuelLambda = logging::AnalyseLambda(view, AxisChannel(FuelMap), breakpoints, FuelFilterShown());
    FuelLambdaLog = Log.Generation();
    FuelNotApplied.clear();
    FuelPropose();
}

void TForm1::FuelPropose()
{
    FuelProposals.clear();
    if (!FuelLambda) return;
    const MapLayout& map = *calibration::MapByNumber(FuelMap);
    logging::FuelMapCells cells;
    cells.step = calibration::ShownStep(map.encoding);
    cells.low = calibration::ShownValue(map.encoding, 0);
    cells.high = calibration::ShownValue(map.encoding, 255);
    for (int k = 0; k < map.columns; ++k) {
        const std::optional<uint8_t> byte = EcuByte(uint16_t(map.base + k));
        cells.cells.push_back({byte ? std::optional<int>(calibration::ShownValue(map.encoding, *byte)) : std::nullopt});
    }
    const FuelRules rules = FuelRulesShown();
    FuelProposals = logging::ProposeFuel(*FuelLambda, cells, RememberedTargets(FuelMap, map.columns, rules.defaultTarget),
                                         RememberedLocks(FuelMap, map.columns), rules);
    // Nothing recorded since proposals of this log were applied: every column says so.
    if (FuelApplied && FuelApplied->log == Log.Generation() && FuelLambda->Counted() == 0)
        for (logging::ColumnProposal& p : FuelProposals)
            if (p.state == ProposalState::TooFew) {
                p.state = ProposalState::Withdrawn;
                p.why = QStringLiteral("this log's proposals were applied: a new log is needed");
            }
}

void TForm1::FuelShow()
{
    const MapLayout& map = *calibration::MapByNumber(FuelMap);
    const FuelRules rules = FuelRulesShown();
    LabelFuelFormula->setText(Formula(FuelMap, rules));
    const std::vector<double> targets = RememberedTargets(FuelMap, map.columns, rules.defaultTarget);
    const std::vector<bool> locked = RememberedLocks(FuelMap, map.columns);

    // The summary: what the log gave, and why nothing may come of it.
    const int samples = logging::SampleCount(*Chart10);
    QString summary;
    const bool spent = FuelApplied && FuelApplied->log == Log.Generation();
    if (spent)
        summary = QStringLiteral("Proposals from this log were applied to %1: its samples up to then cannot correct "
                                 "either map again (the same error would be corrected twice). A new log is needed: "
                                 "record one or load one. ")
                      .arg(QString::fromUtf8(calibration::MapByNumber(FuelApplied->map)->title));
    if (!FuelLambda) {
        summary += QStringLiteral("Nothing analysed.");
    } else if (samples == 0) {
        summary += QStringLiteral("The log on display holds no samples: record one (Gauges page) or load one (Logging page).");
    } else {
        const logging::ColumnStats& s = *FuelLambda;
        const int from = spent ? std::min(FuelApplied->samples, samples) : 0;
        QStringList left;
        for (int r = int(logging::LeftOut::Cold); r <= int(logging::LeftOut::LambdaRange); ++r)
            left << QStringLiteral("%1 %2").arg(s.leftOut[size_t(r)]).arg(logging::LeftOutName(logging::LeftOut(r)));
        left << QStringLiteral("%1 without a lambda reading").arg(s.noValue);
        if (s.noColumn) left << QStringLiteral("%1 without a value on the axis").arg(s.noColumn);
        summary += QStringLiteral("%1 samples looked at, %2 counted. Left out: %3. %4 columns proposed.")
                       .arg(samples - from)
                       .arg(s.Counted())
                       .arg(left.join(QStringLiteral(", ")))
                       .arg(logging::ProposedColumns(FuelProposals).size());
    }
    LabelFuelSummary->setText(summary);

    {
        const QSignalBlocker quiet(GridFuelColumns);
        GridFuelColumns->setRowCount(map.columns);
        for (int k = 0; k < map.columns; ++k) {
            const logging::ColumnProposal* p = k < int(FuelProposals.size()) ? &FuelProposals[size_t(k)] : nullptr;
            auto text = [](bool has, double v, int decimals) { return has ? Fixed(v, decimals) : QString(); };
            const bool stats = p && p->stat.samples > 0;
            QTableWidget* t = GridFuelColumns;
            Cell(t, k, ColAxis, QStringLiteral("%1 %2").arg(calibration::Breakpoint(map, k)).arg(AxisUnit(FuelMap)));
            Cell(t, k, ColSamples, p ? QString::number(p->stat.samples) : QString());
            Cell(t, k, ColTime, text(stats, p ? p->stat.seconds : 0, 1));
            Cell(t, k, ColMean, text(stats, p ? p->stat.mean : 0, 3));
            Cell(t, k, ColSpread, text(stats, p ? p->stat.spread : 0, 3));
            Cell(t, k, ColLow, text(stats, p ? p->stat.low : 0, 2));
            Cell(t, k, ColHigh, text(stats, p ? p->stat.high : 0, 2));
            QTableWidgetItem* target = Cell(t, k, ColTarget, Fixed(targets[size_t(k)], 2));
            target->setFlags(target->flags() | Qt::ItemIsEditable);
            Cell(t, k, ColNow, p && p->current ? QString::number(*p->current) : QString());
            const bool proposed = p && p->state == ProposalState::Proposed;
            Cell(t, k, ColProposed, proposed ? QString::number(*p->proposed) : QString());
            QTableWidgetItem* change = Cell(
                t, k, ColChange, proposed ? QStringLiteral("%1%2 %").arg(p->percent > 0 ? "+" : "").arg(Fixed(p->percent, 1)) : QString());
            if (proposed) change->setForeground(ProposalStrip::Colour(p->percent));
            Tick(t, k, ColLock, locked[size_t(k)], true);
            Tick(t, k, ColApply, proposed && !FuelNotApplied.count(k), proposed);
            Cell(t, k, ColWhy, p ? p->why : QString(), Qt::AlignLeft | Qt::AlignVCenter);
        }
        GridFuelColumns->resizeColumnsToContents();
    }

    // The proposals under the grid of the map they are for; none under the other.
    for (int number : {4, 6}) {
        std::vector<std::optional<ProposalStrip::Proposal>> line;
        if (number == FuelMap)
            for (const logging::ColumnProposal& p : FuelProposals) {
                if (p.state != ProposalState::Proposed) {
                    line.emplace_back();
                    continue;
                }
                line.push_back(ProposalStrip::Proposal{
                    p.percent, QStringLiteral("%1 at %2 %3: %4 \u2192 %5 (%6%7 %), mean \u03bb %8 for %9")
                                   .arg(QString::fromUtf8(map.title))
                                   .arg(calibration::Breakpoint(map, p.column))
                                   .arg(AxisUnit(FuelMap))
                                   .arg(*p.current)
                                   .arg(*p.proposed)
                                   .arg(p.percent > 0 ? "+" : "")
                                   .arg(Fixed(p.percent, 1))
                                   .arg(Fixed(p.stat.mean, 3))
                                   .arg(Fixed(p.target, 2))});
            }
        ProposalStripOf[std::size_t(number)]->SetProposals(line);
        // And on the chart: a dot at each proposed value beside the line of what the ECU holds.
        std::vector<QPointF> dots;
        if (number == FuelMap)
            for (const logging::ColumnProposal& p : FuelProposals)
                if (p.state == ProposalState::Proposed)
                    dots.emplace_back(calibration::Breakpoint(map, p.column), *p.proposed);
        MapChartOf[std::size_t(number)]->SetProposals(dots, QColor(0, 130, 60));
    }
    ButtonFuelApply->setEnabled(!logging::ProposedColumns(FuelProposals).empty());
    ButtonFuelDismiss->setEnabled(FuelLambda.has_value());
}

void TForm1::ButtonFuelFromLambdaClick(QObject*)
{
    FuelAnalyse();
    FuelShow();
    FuelFromLambdaPanel->show();
    FuelFromLambdaPanel->raise();
    FuelFromLambdaPanel->activateWindow();
}

void TForm1::ComboFuelMapChange(QObject*)
{
    FuelMap = ComboFuelMap->currentData().toInt() == 6 ? 6 : 4;
    base::UserSettings().setValue(SettingGroup + QStringLiteral("/Map"), FuelMap);
    FuelShowThresholds();
    FuelAnalyse();
    FuelShow();
}

void TForm1::FuelThresholdChange(QObject* Sender)
{
    const auto it = std::find(FuelThresholdBox.begin(), FuelThresholdBox.end(), Sender);
    if (it == FuelThresholdBox.end()) return;
    const Threshold& t = Thresholds[it - FuelThresholdBox.begin()];
    base::UserSettings().setValue(Key(FuelMap, t.key), (*it)->value());
    if (!FuelLambda) return FuelShow();
    FuelAnalyse();
    FuelShow();
}

void TForm1::ButtonFuelAnalyseClick(QObject*)
{
    FuelAnalyse();
    FuelShow();
}

void TForm1::ButtonFuelDismissClick(QObject*)
{
    FuelLambda.reset();
    FuelProposals.clear();
    FuelShow();
}

void TForm1::ButtonFuelDefaultsClick(QObject*)
{
    QSettings settings = base::UserSettings();
    for (const Threshold& t : Thresholds) settings.remove(Key(FuelMap, t.key));
    FuelShowThresholds();
    if (FuelLambda) FuelAnalyse();
    FuelShow();
}

void TForm1::ButtonFuelTargetsClick(QObject*)
{
    base::UserSettings().remove(Key(FuelMap, "Targets"));
    FuelPropose();
    FuelShow();
}

void TForm1::GridFuelColumnsChange(int row, int column)
{
    const MapLayout& map = *calibration::MapByNumber(FuelMap);
    QTableWidgetItem* item = GridFuelColumns->item(row, column);
    if (!item || row < 0 || row >= map.columns) return;
    if (column == ColTarget) {
        std::vector<double> targets = RememberedTargets(FuelMap, map.columns, FuelRulesShown().defaultTarget);
        double v = 0;
        // A lambda a sensor can read; anything else is refused and the old target stands.
        if (base::ParseFloat(item->text(), &v) && v >= 0.5 && v <= 2.0) {
            targets[size_t(row)] = v;
            RememberTargets(FuelMap, targets);
        } else {
            ui::Beep();
        }
    } else if (column == ColLock) {
        std::vector<bool> locked = RememberedLocks(FuelMap, map.columns);
        locked[size_t(row)] = item->checkState() == Qt::Checked;
        RememberLocks(FuelMap, locked);
    } else if (column == ColApply) {
        if (item->checkState() == Qt::Checked) FuelNotApplied.erase(row);
        else FuelNotApplied.insert(row);
        return;   // only what Apply sends changes
    } else {
        return;
    }
    FuelPropose();
    FuelShow();
}

void TForm1::ButtonFuelApplyClick(QObject*)
{
    const MapLayout& map = *calibration::MapByNumber(FuelMap);
    StringGrid* grid = MapGrid[std::size_t(FuelMap)];
    // Proposals of a log no longer on display are not sent: the new log's are shown instead,
    // to be looked at before they are applied.
    if (!FuelLambda || FuelLambdaLog != Log.Generation()) {
        ui::Beep();
        FuelAnalyse();
        FuelShow();
        return;
    }
    // Against what the ECU holds now: a cell changed since the analysis is scaled from its new value.
    FuelPropose();
    calibration::CellBytes cells;
    for (const logging::ColumnProposal& p : FuelProposals) {
        if (p.state != ProposalState::Proposed || FuelNotApplied.count(p.column)) continue;
        const std::optional<uint8_t> byte = calibration::ShownToByte(map.encoding, std::to_string(*p.proposed));
        if (byte) cells.push_back({p.column, *byte});
    }
    if (cells.empty()) {
        ui::Beep();
        FuelShow();
        return;
    }
    KeepRestorePoint(QStringLiteral("before applying proposals"));   // the calibration as it was
    EditMapCells(map, *grid, cells, EditOrigin::New);
    FuelApplied = FuelAppliedFrom{Log.Generation(), logging::SampleCount(*Chart10), FuelMap};
    FuelAnalyse();   // what is left of the log: nothing until it grows or another is loaded
    FuelShow();
}
