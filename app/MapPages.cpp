// The map pages (Temp, Fuel, Ignition, Boost): grids and charts built from the map table,
// the decode of the whole image onto every page, and the grids' Enter handler.
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QProxyStyle>
#include <QVBoxLayout>

#include <algorithm>

#include "app/Mainform.h"
#include "calibration/MapTables.h"
#include "calibration/SettingEditors.h"
#include "ui/Beep.h"
#include "ui/MapChart.h"
#include "ui/StringGrid.h"

namespace {

using calibration::MapLayout;

constexpr int RowHeight = 17;

// Four-digit breakpoints in 20 to 22 pixel wide cells: the text may use the whole cell rather
// than lose a digit to the usual cell margins.
class TightCellStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_FocusFrameHMargin) return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QFont GridFont()
{
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setStretch(QFont::Condensed);
    font.setPixelSize(10);
    return font;
}

// Column widths: the 36-site maps fill the page width at 21 pixels; the 16-site maps take 22
// where they stand two abreast, 20 where a settings group shares their row.
int ColumnWidth(const MapLayout& map)
{
    if (map.columns == 36) return 21;
    return map.page == calibration::PageFuel || map.page == calibration::PageIgnition ? 20 : 22;
}

// The chart's axis setup from the table's axis.
MapChart::AxisSetup Setup(const calibration::ChartAxis& axis)
{
    MapChart::AxisSetup setup;
    setup.fixed = axis.fixed;
    setup.min = axis.min;
    setup.max = axis.max;
    setup.labelStep = axis.labelStep;
    if (axis.format) setup.format = QString::fromUtf8(axis.format);
    if (axis.title) setup.title = QString::fromUtf8(axis.title);
    return setup;
}

// What the grid's tooltip tells of its keys; the step is the map's display unit.
QString KeysHelp(const MapLayout& map)
{
    using Command = StringGrid::Command;
    const auto keys = [](Command a, Command b) {
        return StringGrid::CommandKeys(a) + QStringLiteral(" / ") + StringGrid::CommandKeys(b);
    };
    const int step = calibration::ShownStep(map.encoding);
    return QStringLiteral("Type a value and press Enter: every selected cell gets it.\n")
           + keys(Command::StepUp, Command::StepDown) + QStringLiteral(": one step up / down (%1)\n").arg(step)
           + keys(Command::TenStepsUp, Command::TenStepsDown)
           + QStringLiteral(": ten steps up / down (%1)\n").arg(10 * step)
           + StringGrid::CommandKeys(Command::Scale)
           + QStringLiteral(": scale the selection by a percentage\n")
           + StringGrid::CommandKeys(Command::Interpolate)
           + QStringLiteral(": fill the selection on a straight line from its first to its last cell\n")
           + keys(Command::Undo, Command::Redo) + QStringLiteral(": undo / redo an edit of this map\n")
           + keys(Command::Copy, Command::Paste) + QStringLiteral(": copy / paste cells as tab-separated text\n")
           + QStringLiteral("Home / End, Ctrl+Home / Ctrl+End: first / last column\n"
                            "Right-click: every command with its keys\n")
           + QStringLiteral("Italic on yellow: sent, waiting for the ECU's echo. "
                            "Dark red on pink: the ECU never confirmed it.");
}

}  // namespace

void TForm1::RedrawMapChart(const MapLayout& map, bool beepOnBadCell)
{
    MapChart* chart = MapChartOf[std::size_t(map.number)];
    const StringGrid* grid = MapGrid[std::size_t(map.number)];
    if (!chart || !grid) return;
    chart->Clear();
    const calibration::ChartPoints drawn = calibration::PointsFromCells(
        grid->ColCount(), [grid](int col, int row) { return grid->Cells(col, row).toStdString(); });
    for (const auto& [x, y] : drawn.points) chart->AddXY(x, y);
    if (!drawn.complete && beepOnBadCell) ui::Beep();
}

void TForm1::BuildMapPage(int page)
{
    QWidget* sheet = TabSheet[page];
    // One style for all grids, owned by the window; found again by its name for later pages.
    const QString styleName = QStringLiteral("MapGridStyle");
    QStyle* style = findChild<QStyle*>(styleName, Qt::FindDirectChildrenOnly);
    if (!style) {
        style = new TightCellStyle;
        style->setObjectName(styleName);
        style->setParent(this);
    }

    // One block per map: the chart over its grid.
    std::map<int, QVBoxLayout*> blocks;
    for (const MapLayout& map : calibration::Maps) {
        if (map.page != page) continue;
        const int width = ColumnWidth(map);

        auto* grid = new StringGrid(map.columns, 2, sheet);
        grid->setObjectName(QLatin1String(map.grid));
        grid->setAccessibleName(QString::fromUtf8(map.title));
        grid->SetTag(map.number);
        grid->setStyle(style);
        grid->setFont(GridFont());
        grid->setTextElideMode(Qt::ElideNone);
        grid->SetDefaultColWidth(width);
        grid->SetDefaultRowHeight(RowHeight);
        if (map.number == 4 || map.number == 7 || map.number == 11) grid->SetScrollBars(false);
        if (map.number == 7) grid->SetDrawFocusSelected(true);
        grid->setFixedSize(map.columns * width + 2 * grid->frameWidth(), 2 * RowHeight + 2 * grid->frameWidth());
        grid->OnKeyUp = [this](QObject* sender, int key) { StringGrid1KeyUp(sender, key); };
        grid->OnCommand = [this](QObject* sender, StringGrid::Command command) { StringGrid1Command(sender, command); };
        grid->OnMenu = [this, grid](QObject*, QMenu* menu) { AddCompareCommands(menu, grid, 0); };
        grid->OnEditAbandoned = [this](QObject* sender, int col, int, const QString& typed, StringGrid::EditEnd how) {
            StringGrid1EditAbandoned(sender, col, typed, how == StringGrid::EditEnd::Escaped);
        };
        grid->setToolTip(KeysHelp(map));
        grid->setAccessibleDescription(grid->toolTip());

        auto* chart = new MapChart(sheet);
        chart->setObjectName(QLatin1String(map.chart));
        chart->SetTitle(QString::fromUtf8(map.title));
        chart->SetValueAxis(Setup(map.valueAxis));
        chart->SetXAxis(Setup(map.xAxis));
        if (map.rightAxis) chart->SetRightAxis(map.rightAxis->min, map.rightAxis->max);
        chart->setMinimumSize(200, 120);

        MapGrid[map.number] = grid;
        MapChartOf[map.number] = chart;

        auto* block = new QVBoxLayout;
        block->setSpacing(2);
        block->addWidget(chart, 1);
        block->addWidget(grid, 0, Qt::AlignLeft);
        blocks[map.number] = block;
    }

    auto* layout = new QGridLayout(sheet);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(8);

    // A group of settings standing on a map page, its rows one under the other.
    auto settingsGroup = [&](const char* objectName, std::initializer_list<int> addresses, int labelWidth) {
        const calibration::SettingLayout* first = calibration::SettingByAddress(*addresses.begin());
        auto* group = new QGroupBox(QString::fromUtf8(first->group), sheet);
        group->setObjectName(QLatin1String(objectName));
        group->setAccessibleName(group->title());
        int y = 24;
        for (int address : addresses) {
            const bool labelled = calibration::SettingByAddress(address)->label != nullptr;
            BuildSettingRow(address, group, QPoint(10, y),
                            labelled ? SettingLabels::Left : SettingLabels::None, labelWidth);
            y += 27;
        }
        const int unitRoom = labelWidth > 0 ? 48 : 0;
        group->setFixedSize(std::max(110, 10 + labelWidth + 40 + 17 + unitRoom + 10), y + 4);
        return group;
    };

    switch (page) {
    case calibration::PageTemp:
        layout->addLayout(blocks[1], 0, 0);
        layout->addLayout(blocks[2], 0, 1);
        layout->addLayout(blocks[3], 1, 0);
        layout->addLayout(blocks[13], 1, 1);
        break;
    case calibration::PageFuel:
    case calibration::PageIgnition: {
        const bool fuel = page == calibration::PageFuel;
        layout->addLayout(blocks[fuel ? 4 : 7], 0, 0, 1, 3);
        layout->addLayout(blocks[fuel ? 5 : 8], 1, 0);
        layout->addLayout(blocks[fuel ? 6 : 9], 1, 1);
        QGroupBox* group = fuel ? settingsGroup("GroupBoxBaseFuel", {442}, 0)
                                : settingsGroup("GroupBoxIgnitionTrim", {452}, 0);
        layout->addWidget(group, 1, 2, Qt::AlignTop | Qt::AlignLeft);
        layout->setRowStretch(0, 5);
        layout->setRowStretch(1, 4);
        layout->setColumnStretch(0, 1);
        layout->setColumnStretch(1, 1);
        break;
    }
    case calibration::PageBoost: {
        layout->addLayout(blocks[12], 0, 0);
        layout->addLayout(blocks[11], 0, 1);
        auto* groups = new QHBoxLayout;
        groups->setSpacing(10);
        groups->addWidget(settingsGroup("GroupBoxPwmTrim", {432}, 0), 0, Qt::AlignTop);
        groups->addWidget(settingsGroup("GroupBoxAntiLag", {433, 434, 435, 436, 437}, 104), 0, Qt::AlignTop);
        groups->addStretch(1);
        layout->addLayout(groups, 1, 0, 1, 2);
        layout->setRowStretch(0, 1);
        break;
    }
    default: break;
    }
}

void TForm1::Button10Click(QObject*)
{
    for (const MapLayout& map : calibration::Maps)
        if (MapChart* chart = MapChartOf[map.number]) chart->Clear();

    // Row 1 of one column, then that column's point read back from the grid.
    auto decodeColumn = [this](int number, int col) {
        const MapLayout& map = *calibration::MapByNumber(number);
        StringGrid* grid = MapGrid[number];
        const int shown = calibration::ShownValue(map.encoding, EepromImage[std::size_t(map.base + col)]);
        grid->SetCells(col, 1, QString::number(shown));
        bool xOk = false, yOk = false;
        const int x = grid->Cells(col, 0).toInt(&xOk);
        const int y = grid->Cells(col, 1).toInt(&yOk);
        if (xOk && yOk) MapChartOf[number]->AddXY(x, y);
    };
    for (int col = 0; col < MapGrid[1]->ColCount(); ++col)
        for (int number : calibration::NarrowMapDecodeOrder) decodeColumn(number, col);
    for (int col = 0; col < 36; ++col)
        for (int number : calibration::WideMapDecodeOrder) decodeColumn(number, col);

    for (int address : calibration::SettingDecodeOrder)
        SettingSpin[address]->SetPosition(
            calibration::SettingShownValue(*calibration::SettingByAddress(address), EepromImage));

    const uint8_t lock = EepromImage[calibration::LockAddress];
    if (!calibration::LockByteValid(lock)) ShowInvalidLock(lock);

    UpDown7->SetPosition(calibration::SettingShownValue(
        *calibration::SettingByAddress(calibration::PrimingAddress), EepromImage));

    imageShown_ = true;
    // The pages now show the image: bytes the ECU has reported since their write failed are
    // true again. Undo starts afresh from the calibration on screen.
    ShowMarks(Marks.Decoded());
    for (calibration::EditHistory& history : MapEdits) history.Clear();
    if (FuelLambda) {   // proposals shown scale what the pages now hold
        FuelPropose();
        FuelShow();
    }
}

void TForm1::StringGrid1KeyUp(QObject* Sender, int Key)
{
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;   // both Enter keys
    auto* grid = qobject_cast<StringGrid*>(Sender);
    if (!grid) return;
    const MapLayout* map = calibration::MapByNumber(grid->Tag());
    if (!map) return;

    const int col = grid->Col();
    const std::string typed = grid->Cells(col, 1).toStdString();
    // A value typed into a cell of a selected range goes to the whole range. Enter on a range
    // without typing sends the focused cell alone, as it always has.
    const std::vector<int> selected = grid->SelectedCols();
    if (grid->EnterClosedEditor() && selected.size() > 1
        && std::find(selected.begin(), selected.end(), col) != selected.end()) {
        const std::optional<calibration::CellBytes> cells = calibration::SetColumns(*map, selected, typed);
        if (!cells) {
            RefuseCell(*map, *grid, col, typed);
            return;
        }
        EditMapCells(*map, *grid, *cells, EditOrigin::New);
        return;
    }

    const std::optional<calibration::CellWrite> write = calibration::ConfirmCell(*map, col, typed);
    if (!write) {
        RefuseCell(*map, *grid, col, typed);   // not a number, or not one the map's byte can hold
        return;
    }
    EditMapCells(*map, *grid, {{col, write->data}}, EditOrigin::Confirmed);
    grid->SetCol(calibration::NextColumn(*map, col));
}
