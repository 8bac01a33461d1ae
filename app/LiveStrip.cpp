// Live values where the tuning happens: the switch "Live values on map pages" (remembered per
// user, off at first start), a strip of the engine's main values on each map page, and the
// operating point on every map of the page shown; and the scale command's prompt.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Mainform.h"
#include "base/UserSettings.h"
#include "calibration/MapScaling.h"
#include "calibration/OperatingPoint.h"
#include "ui/LiveStrip.h"
#include "ui/MapChart.h"
#include "ui/PageControl.h"
#include "ui/TextPrompt.h"

namespace {

const QString SettingKey = QStringLiteral("MapPages/LiveValues");

// A value asked for every 108 ms that has not come for this long (nine cycles) is no longer
// the engine's.
constexpr qint64 FreshMs = 1000;

bool IsMapPage(int page)
{
    return page == calibration::PageTemp || page == calibration::PageFuel || page == calibration::PageIgnition
           || page == calibration::PageBoost;
}

// The strip's values: the Gauges page's boxes, in the Gauges page's formats, and the reply
// each comes with.
struct StripValue {
    const char* name;
    const char* unit;
    QLineEdit* TForm1::*box;
    char letter;
};
const StripValue StripValues[] = {
    {"RPM", "rpm", &TForm1::txtRPM, 'a'},
    {"TPS", "", &TForm1::txtTPS, 'b'},
    {"MAP", "kPa", &TForm1::txtVacuum, 'b'},
    {"Water", "\u00b0C", &TForm1::txtWaterTemp, 'd'},
    {"Air", "\u00b0C", &TForm1::txtAirTemp, 'd'},
    {"Lambda", "", &TForm1::txtLambdaFloat, 'f'},
    {"Advance", "\u00b0", &TForm1::txtAdvance, 'a'},
    {"Fuel", "ms", &TForm1::txtFuel, 'c'},
};

// The reply that carries a map's axis value.
char AxisLetter(calibration::AxisChannel channel)
{
    switch (channel) {
    case calibration::AxisChannel::EngineSpeed: return 'a';
    case calibration::AxisChannel::ManifoldPressure:
    case calibration::AxisChannel::ThrottleSite: return 'b';
    case calibration::AxisChannel::WaterTemperature:
    case calibration::AxisChannel::AirTemperature: return 'd';
    }
    return 'a';
}

}  // namespace

void TForm1::BuildLiveOnMaps()
{
    liveClock_ = new QElapsedTimer;
    liveClock_->start();

    CheckBoxLiveOnMaps = new QCheckBox(QStringLiteral("Live values on map pages"), TabSheet[calibration::PageSetup]);
    CheckBoxLiveOnMaps->setObjectName(QStringLiteral("CheckBoxLiveOnMaps"));
    CheckBoxLiveOnMaps->setAccessibleName(CheckBoxLiveOnMaps->text());
    CheckBoxLiveOnMaps->setToolTip(QStringLiteral(
        "Poll the engine's live values while a map page is shown, and show them and the "
        "operating point there"));
    CheckBoxLiveOnMaps->setGeometry(540, 320, 242, 22);
    CheckBoxLiveOnMaps->setChecked(base::UserSettings().value(SettingKey, false).toBool());

    std::vector<LiveStrip::Item> items;
    for (const StripValue& v : StripValues) items.push_back({QString::fromUtf8(v.name), QString::fromUtf8(v.unit)});
    for (int page : {calibration::PageTemp, calibration::PageFuel, calibration::PageIgnition, calibration::PageBoost}) {
        QWidget* sheet = TabSheet[std::size_t(page)];
        auto* strip = new LiveStrip(items, sheet);
        strip->setObjectName(QStringLiteral("LiveStrip%1").arg(page + 1));
        strip->setAccessibleName(QStringLiteral("Live values"));
        strip->SetOn(CheckBoxLiveOnMaps->isChecked());
        strip->OnSwitchOn = [this] { SetLiveOnMapPages(true); };
        // Above the maps, across the page.
        if (auto* grid = qobject_cast<QGridLayout*>(sheet->layout())) {
            // Move the page's layout one row down: a new row 0 holds the strip.
            const int rows = grid->rowCount();
            std::vector<std::tuple<QLayoutItem*, int, int, int, int>> kept;
            for (int i = grid->count() - 1; i >= 0; --i) {
                int r, c, rs, cs;
                grid->getItemPosition(i, &r, &c, &rs, &cs);
                kept.emplace_back(grid->takeAt(i), r, c, rs, cs);
            }
            std::vector<int> stretch;
            for (int r = 0; r < rows; ++r) stretch.push_back(grid->rowStretch(r));
            for (auto& [item, r, c, rs, cs] : kept) grid->addItem(item, r + 1, c, rs, cs, item->alignment());
            for (int r = 0; r < rows; ++r) grid->setRowStretch(r + 1, stretch[std::size_t(r)]);
            grid->setRowStretch(0, 0);
            grid->addWidget(strip, 0, 0, 1, std::max(1, grid->columnCount()));
        }
        LiveStripOf[std::size_t(page)] = strip;
    }
    connect(CheckBoxLiveOnMaps, &QCheckBox::toggled, this, [this](bool on) { SetLiveOnMapPages(on); });

    // Values that stop coming (a silent link, polling paused by a long job) turn into "—".
    LiveFreshness = new QTimer(this);
    LiveFreshness->setObjectName(QStringLiteral("LiveFreshness"));
    LiveFreshness->setInterval(250);
    connect(LiveFreshness, &QTimer::timeout, this, [this] { RefreshLiveOnMaps(); });
    LiveFreshness->start();
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { RefreshLiveOnMaps(); });
}

bool TForm1::LiveOnMapPages() const { return CheckBoxLiveOnMaps && CheckBoxLiveOnMaps->isChecked(); }

void TForm1::SetLiveOnMapPages(bool on)
{
    if (CheckBoxLiveOnMaps->isChecked() != on) {
        CheckBoxLiveOnMaps->setChecked(on);   // comes back here through its signal
        return;
    }
    base::UserSettings().setValue(SettingKey, on);
    for (LiveStrip* strip : LiveStripOf)
        if (strip) strip->SetOn(on);
    PageControl1Change(PageControl1);
    RefreshLiveOnMaps();
}

bool TForm1::PageWantsPolling() const
{
    const int page = PageControl1->ActivePageIndex();
    return page == calibration::PageGauges || (LiveOnMapPages() && IsMapPage(page));
}

bool TForm1::LiveFresh(char letter) const
{
    const int i = letter - 'a';
    if (i < 0 || i >= int(liveReplyAt_.size()) || liveReplyAt_[std::size_t(i)] < 0) return false;
    return liveClock_->elapsed() - liveReplyAt_[std::size_t(i)] <= FreshMs;
}

void TForm1::ShowLiveOnMaps(char letter, uint16_t address, uint8_t data)
{
    const int i = letter - 'a';
    if (i < 0 || i >= int(liveReplyAt_.size())) return;
    liveReplyAt_[std::size_t(i)] = liveClock_->elapsed();
    liveFields_[std::size_t(i)] = {address, data};
    // Only what this reply carries; the rest keeps what it shows until the freshness clock looks.
    const int page = PageControl1->ActivePageIndex();
    if (!IsMapPage(page)) return;
    LiveStrip* strip = LiveStripOf[std::size_t(page)];
    if (strip && strip->On())
        for (int v = 0; v < int(std::size(StripValues)); ++v)
            if (StripValues[v].letter == letter) strip->SetValue(v, (this->*StripValues[v].box)->text());
    PlaceOperatingPoints(page, letter);
}

void TForm1::PlaceOperatingPoints(int page, char letter)
{
    const auto [address, data] = liveFields_[std::size_t(letter - 'a')];
    for (const calibration::MapLayout& map : calibration::Maps) {
        if (map.page != page || AxisLetter(calibration::AxisChannelOf(map)) != letter) continue;
        StringGrid* grid = MapGrid[std::size_t(map.number)];
        MapChart* chart = MapChartOf[std::size_t(map.number)];
        double value = 0;
        switch (calibration::AxisChannelOf(map)) {
        case calibration::AxisChannel::EngineSpeed:
        case calibration::AxisChannel::ManifoldPressure: value = address; break;
        case calibration::AxisChannel::ThrottleSite: value = calibration::ThrottleSite(data); break;
        case calibration::AxisChannel::WaterTemperature: value = int(data) - 30; break;
        case calibration::AxisChannel::AirTemperature: value = int(address) - 30; break;
        }
        const calibration::AxisSpot spot = calibration::SpotOnAxis(map, value);
        if (grid) grid->SetOperatingPoint(spot.position, QString::fromStdString(calibration::SpotText(map, spot)));
        if (chart) chart->SetOperatingPoint(spot.axisValue);
    }
}

void TForm1::RefreshLiveOnMaps()
{
    const int page = PageControl1->ActivePageIndex();
    if (!IsMapPage(page)) return;
    LiveStrip* strip = LiveStripOf[std::size_t(page)];
    if (strip && strip->On())
        for (int v = 0; v < int(std::size(StripValues)); ++v)
            strip->SetValue(v, LiveFresh(StripValues[v].letter) ? (this->*StripValues[v].box)->text()
                                                                : LiveStrip::NoValue());
    for (const calibration::MapLayout& map : calibration::Maps) {
        if (map.page != page) continue;
        const char letter = AxisLetter(calibration::AxisChannelOf(map));
        if (LiveFresh(letter)) {
            PlaceOperatingPoints(page, letter);
            continue;
        }
        if (StringGrid* grid = MapGrid[std::size_t(map.number)]) grid->SetOperatingPoint(std::nullopt);
        if (MapChart* chart = MapChartOf[std::size_t(map.number)]) chart->SetOperatingPoint(std::nullopt);
    }
}

std::optional<calibration::CellBytes> TForm1::AskScaleColumns(const calibration::MapLayout& map,
                                                               const std::vector<int>& columns,
                                                               const calibration::ColumnText& text, bool& cancelled)
{
    cancelled = false;
    const std::optional<QString> typed = ui::AskText(
        this, QStringLiteral("Scale by a percentage"),
        QStringLiteral("Scale the %1 selected cells of \"%2\" by (percent, e.g. 5 or -2.5):")
            .arg(columns.size())
            .arg(QString::fromUtf8(map.title)),
        QStringLiteral("0"));
    if (!typed) {
        cancelled = true;
        return std::nullopt;
    }
    const std::optional<int> hundredths = calibration::ParsePercent(typed->toStdString());
    if (!hundredths) return std::nullopt;
    return calibration::ScaleColumns(map, columns, text, *hundredths);
}
