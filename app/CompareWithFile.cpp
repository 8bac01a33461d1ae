// A calibration file held up against what the ECU holds, on every page, sending nothing until
// the tuner takes cells or settings from it.
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "app/Mainform.h"
#include "calibration/ImageLayout.h"
#include "ecu/LineOwner.h"
#include "ui/Beep.h"
#include "ui/StatusBar.h"

namespace {

const char* const CalibrationKind = "calibrations";   // the folder Load and Save remember

}  // namespace

QString TForm1::CompareToolTip(uint16_t address, calibration::Encoding encoding) const
{
    const auto ecu = [this](uint16_t a) { return EcuByte(a); };
    if (!Compared.Differs(address, ecu)) return {};
    return Compared.ToolTip(address, encoding, EcuByte(address));
}

void TForm1::ButtonCompareClick(QObject*)
{
    OpenDialog1.FolderKind = QLatin1String(CalibrationKind);
    if (!OpenDialog1.Execute(this)) return;
    const QString imageFile = OpenDialog1.FileName;
    const calibration::CalibrationRead read = calibration::ReadCalibrationFiles(imageFile);
    switch (read.image.status) {
    case calibration::ImageFileRead::CannotOpen:
        ui::ShowError(this, calibration::CannotOpenMessage(imageFile, read.image.reason));
        return;
    case calibration::ImageFileRead::WrongSize:
        ui::ShowError(this, calibration::WrongSizeMessage(imageFile, read.image.size));
        return;
    case calibration::ImageFileRead::Ok: break;
    }
    Compared.Begin(read.image.image, QFileInfo(imageFile).fileName());
    ShowComparison();
}

void TForm1::ButtonEndCompareClick(QObject*)
{
    Compared.End();
    ShowComparison();   // every mark of the comparison goes
}

void TForm1::ShowComparison()
{
    for (const calibration::MapLayout& map : calibration::Maps) {
        StringGrid* grid = MapGrid[std::size_t(map.number)];
        if (!grid) continue;
        for (int col = 0; col < map.columns; ++col)
            grid->SetCellCompared(col, 1, CompareToolTip(uint16_t(map.base + col), map.encoding));
    }
    for (const calibration::SettingLayout& setting : calibration::Settings) {
        // Redrawn only when its word changes: a setting's mark repaints the whole edit.
        const QString tip = CompareToolTip(uint16_t(setting.address), setting.encoding);
        if (tip != settingCompareTip_[setting.address]) ShowSettingMark(setting.address);
    }
    ButtonEndCompare->setEnabled(Compared.Active());
    const QString what =
        Compared.Active()
            ? QStringLiteral("Comparing with %1: %2 bytes differ from the ECU")
                  .arg(Compared.Name())
                  .arg(Compared.CountDiffering([this](uint16_t a) { return EcuByte(a); }))
            : QString();
    ButtonEndCompare->setToolTip(what);
    ButtonEndCompare->setAccessibleDescription(what);
}

void TForm1::BeforeTakingFromFile()
{
    KeepRestorePoint(QStringLiteral("before taking cells from a compared file"));   // the calibration as it was
}

void TForm1::TakeFromFile(StringGrid* grid)
{
    const calibration::MapLayout* map = grid ? calibration::MapByNumber(grid->Tag()) : nullptr;
    if (!map || !Compared.Active()) return;
    std::vector<int> columns = grid->SelectedCols();
    if (columns.empty()) columns.push_back(grid->Col());
    const calibration::CellBytes cells =
        Compared.TakeColumns(*map, columns, [this](uint16_t a) { return EcuByte(a); });
    if (cells.empty()) {
        ui::Beep();
        ShowEditMessage(QStringLiteral("nothing to take: the ECU holds the file's values there"));
        return;
    }
    BeforeTakingFromFile();
    EditMapCells(*map, *grid, cells, EditOrigin::New);
    ShowComparison();
}

void TForm1::TakeSettingFromFile(int address)
{
    const calibration::SettingLayout* setting = calibration::SettingByAddress(address);
    const auto edit = SettingEdit.find(address);
    if (!setting || edit == SettingEdit.end() || CompareToolTip(uint16_t(address), setting->encoding).isEmpty()) return;
    BeforeTakingFromFile();
    // As if typed and left: the one way a setting goes to the ECU.
    edit->second->setText(QString::number(calibration::ShownValue(setting->encoding, Compared.FileByte(uint16_t(address)))));
    txtIdleFuelExit(edit->second);
    ShowComparison();
}

void TForm1::AddCompareCommands(QMenu* menu, StringGrid* grid, int settingAddress)
{
    menu->addSeparator();
    if (Compared.Active()) {
        QAction* take = menu->addAction(QStringLiteral("Take from file"));
        take->setObjectName(QStringLiteral("ActionTakeFromFile"));
        const bool differs = grid ? true : !CompareToolTip(uint16_t(settingAddress),
                                                           calibration::SettingByAddress(settingAddress)->encoding).isEmpty();
        take->setEnabled(differs);
        connect(take, &QAction::triggered, this, [this, grid, settingAddress] {
            if (grid) TakeFromFile(grid);
            else TakeSettingFromFile(settingAddress);
        });
        QAction* end = menu->addAction(QStringLiteral("End comparison\tEsc"));
        end->setObjectName(QStringLiteral("ActionEndComparison"));
        connect(end, &QAction::triggered, this, [this] { ButtonEndCompareClick(ButtonEndCompare); });
    } else {
        QAction* compare = menu->addAction(QStringLiteral("Compare with file…"));
        compare->setObjectName(QStringLiteral("ActionCompareWithFile"));
        connect(compare, &QAction::triggered, this, [this] { ButtonCompareClick(ButtonCompare); });
    }
}
