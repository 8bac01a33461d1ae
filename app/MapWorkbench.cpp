// The map grids as a tuner's workbench: several cells set at once, steps, interpolation, undo
// and redo, copy and paste; and the honest screen: every byte sent is marked until the ECU
// echoes it, and stays marked when it never does.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

#include "app/Mainform.h"
#include "calibration/MapEditing.h"
#include "ecu/LineOwner.h"
#include "ui/Beep.h"
#include "ui/StatusBar.h"

using calibration::MapLayout;
using calibration::WriteMark;

uint32_t TForm1::SubmitWrites(exchange::JobKind kind, std::vector<exchange::Step> steps)
{
    if (kind == exchange::JobKind::Writes) NoteEdit();   // a point before the first edit of a burst
    // Marked pending once queued and before the first send, whose failure may end the job at once.
    const std::vector<exchange::Step> marked = steps;
    return Line->Submit(kind, std::move(steps), [this, &marked](uint32_t job) { ShowMarks(Marks.Track(job, marked)); });
}

void TForm1::TrackWrites(const exchange::Event& event)
{
    if (event.type == exchange::Event::StepDone && event.step.letter == 'W') WroteSinceRestorePoint = true;
    ShowMarks(Marks.Apply(event));
}

std::optional<uint8_t> TForm1::EcuByte(uint16_t address) const
{
    switch (Marks.Mark(address)) {
    case WriteMark::Pending: return Marks.Sent(address);
    case WriteMark::Failed: return std::nullopt;
    case WriteMark::None: break;
    }
    if (ReadPending || address >= EepromImage.size()) return std::nullopt;
    return EepromImage[address];
}

std::optional<uint8_t> TForm1::ShownByte(uint16_t address) const
{
    // A write on its way shows what was asked; one never confirmed too, under its mark.
    if (const std::optional<uint8_t> byte = EcuByte(address)) return byte;
    if (const std::optional<uint8_t> sent = Marks.Sent(address)) return sent;
    // A read under way (after a port change): the calibration last shown stands until it ends.
    if (imageShown_ && address < EepromImage.size()) return EepromImage[address];
    return std::nullopt;
}

void TForm1::RestoreCell(const MapLayout& map, StringGrid& grid, int col)
{
    const std::optional<uint8_t> byte = ShownByte(static_cast<uint16_t>(map.base + col));
    const QString text = byte ? QString::number(calibration::ShownValue(map.encoding, *byte))
                              : QString::fromStdString(calibration::StartupText(map, 1, col));
    if (grid.Cells(col, 1) == text) return;
    grid.SetCells(col, 1, text);
    RedrawMapChart(map, false);
}

void TForm1::RefuseCell(const MapLayout& map, StringGrid& grid, int col, const std::string& typed)
{
    ui::Beep();   // nothing is sent; the cursor stays on the cell to be typed again
    RestoreCell(map, grid, col);
    ShowEditMessage(QString::fromStdString(calibration::RefusalText(map.title, map.encoding, typed)));
}

void TForm1::StringGrid1EditAbandoned(QObject* Sender, int Col, const QString& Typed, bool Escaped)
{
    auto* grid = qobject_cast<StringGrid*>(Sender);
    const MapLayout* map = grid ? calibration::MapByNumber(grid->Tag()) : nullptr;
    if (!map || Col < 0 || Col >= map->columns) return;
    // The cell kept its text; what the editor held differs when a value was typed and left.
    const bool typedAway = Typed.trimmed() != grid->Cells(Col, 1);
    RestoreCell(*map, *grid, Col);
    if (Escaped) ClearEditMessage();
    else if (typedAway) ShowEditMessage(QStringLiteral("not sent: press Enter to write"));
}

void TForm1::ShowEditMessage(const QString& text)
{
    // Panel 2 belongs to the link, whose watchdog and transfers rewrite it; panel 3 carries the
    // program's word on what the user did (a file that would not open) beside it.
    StatusBar1->SetPanelText(3, text);
    editMessage_ = text;
}

void TForm1::ClearEditMessage()
{
    // Only our own message gives way: a count or an error written since stays.
    if (editMessage_.isEmpty() || StatusBar1->PanelText(3) != editMessage_) return;
    editMessage_.clear();
    StatusBar1->SetPanelText(3, BadReplyCount ? QString::number(BadReplyCount) : QString());
}

void TForm1::EditMapCells(const MapLayout& map, StringGrid& grid, const calibration::CellBytes& cells,
                          EditOrigin origin)
{
    // Planned before anything is sent: what the ECU holds before this edit is what undo restores.
    const bool confirmed = origin == EditOrigin::Confirmed;
    const calibration::EditPlan plan =
        calibration::PlanEdit(map, cells, [this](uint16_t address) { return EcuByte(address); }, confirmed);
    if (!confirmed)
        for (const calibration::CellByte& cell : cells)
            grid.SetCells(cell.column, 1, QString::number(calibration::ShownValue(map.encoding, cell.byte)));
    ClearEditMessage();
    if (!plan.writes.empty()) SubmitWrites(exchange::JobKind::Writes, plan.writes);
    if (origin == EditOrigin::New || confirmed) {
        if (plan.undo) MapEdits[std::size_t(map.number)].Record(*plan.undo);
        else MapEdits[std::size_t(map.number)].Clear();
    }
    RedrawMapChart(map, true);
}

void TForm1::StringGrid1Command(QObject* Sender, StringGrid::Command Command)
{
    auto* grid = qobject_cast<StringGrid*>(Sender);
    const MapLayout* map = grid ? calibration::MapByNumber(grid->Tag()) : nullptr;
    if (!map) return;
    calibration::EditHistory& history = MapEdits[std::size_t(map->number)];

    std::vector<int> columns = grid->SelectedCols();
    if (columns.empty()) columns.push_back(grid->Col());
    const calibration::ColumnText text = [grid](int col) { return grid->Cells(col, 1).toStdString(); };

    std::optional<calibration::CellBytes> cells;
    switch (Command) {
    case StringGrid::Command::StepUp: cells = calibration::StepColumns(*map, columns, text, 1); break;
    case StringGrid::Command::StepDown: cells = calibration::StepColumns(*map, columns, text, -1); break;
    case StringGrid::Command::TenStepsUp: cells = calibration::StepColumns(*map, columns, text, 10); break;
    case StringGrid::Command::TenStepsDown: cells = calibration::StepColumns(*map, columns, text, -10); break;
    case StringGrid::Command::Interpolate: cells = calibration::InterpolateColumns(*map, columns, text); break;
    case StringGrid::Command::Scale: {
        bool cancelled = false;
        cells = AskScaleColumns(*map, columns, text, cancelled);
        if (cancelled) return;
        break;
    }
    case StringGrid::Command::SetValue: return;   // the grid opens the cell's editor itself
    case StringGrid::Command::Undo:
    case StringGrid::Command::Redo: {
        const bool undo = Command == StringGrid::Command::Undo;
        if (const std::optional<calibration::MapEdit> edit = undo ? history.Undo() : history.Redo())
            EditMapCells(*map, *grid, calibration::CellsOf(*edit, undo), undo ? EditOrigin::Undo : EditOrigin::Redo);
        return;
    }
    case StringGrid::Command::Copy:
        QGuiApplication::clipboard()->setText(QString::fromStdString(calibration::CopyColumns(columns, text)));
        return;
    case StringGrid::Command::Paste:
        cells = calibration::PasteColumns(*map, columns, QGuiApplication::clipboard()->text().toStdString());
        if (cells && !cells->empty()) grid->SelectCols(cells->front().column, cells->back().column);
        break;
    }
    if (!cells) {
        ui::Beep();   // refused like a typed value the map cannot hold: nothing is sent
        return;
    }
    EditMapCells(*map, *grid, *cells, EditOrigin::New);
}

QString TForm1::MarkToolTip(uint16_t address, calibration::Encoding encoding) const
{
    const std::optional<uint8_t> sent = Marks.Sent(address);
    if (!sent) return QString();
    if (Marks.Doubted(address))
        return QString::fromStdString(calibration::DoubtText(calibration::ShownValue(encoding, *sent)));
    return QString::fromStdString(calibration::MarkText(Marks.Mark(address), calibration::ShownValue(encoding, *sent)));
}

void TForm1::ShowMarks(const std::vector<calibration::MarkChange>& changes)
{
    for (const calibration::MarkChange& change : changes) {
        if (change.stored) ShowEchoedValue(change);
        if (const std::optional<calibration::MapCell> cell = calibration::MapCellAt(change.address)) {
            StringGrid* grid = MapGrid[std::size_t(cell->map->number)];
            if (!grid) continue;
            StringGrid::CellMark look = StringGrid::CellMark::None;
            switch (Marks.Mark(change.address)) {
            case WriteMark::Pending: look = StringGrid::CellMark::Pending; break;
            case WriteMark::Failed: look = StringGrid::CellMark::Failed; break;
            case WriteMark::None: break;
            }
            grid->SetCellMark(cell->column, 1, look, MarkToolTip(change.address, cell->map->encoding));
        } else if (calibration::SettingByAddress(change.address)) {
            ShowSettingMark(change.address);
        }
    }
}

void TForm1::ShowEchoedValue(const calibration::MarkChange& change)
{
    // Once echoed, a cell shows what the ECU stored, not what was typed: an odd number in the
    // doubled map is stored halved, and the ECU may store another byte than the one sent. Left
    // alone is a cell being typed into, or one the tuner has typed another value into since.
    const std::optional<calibration::MapCell> cell = calibration::MapCellAt(change.address);
    const calibration::SettingLayout* setting = calibration::SettingByAddress(change.address);
    if (cell) {
        StringGrid* grid = MapGrid[std::size_t(cell->map->number)];
        if (!grid || (grid->EditorMode() && grid->Col() == cell->column)) return;
        const QString text = grid->Cells(cell->column, 1);
        if (!change.decodedSince && calibration::ShownToByte(cell->map->encoding, text.toStdString()) != change.sent)
            return;
        const QString shown = QString::number(calibration::ShownValue(cell->map->encoding, *change.stored));
        if (shown == text) return;
        grid->SetCells(cell->column, 1, shown);
        RedrawMapChart(*cell->map, false);
    } else if (setting) {
        const auto edit = SettingEdit.find(setting->address);
        const auto spin = SettingSpin.find(setting->address);
        if (edit == SettingEdit.end() || spin == SettingSpin.end()) return;
        const QString text = edit->second->text();
        if (!change.decodedSince
            && calibration::SettingTextToByte(setting->encoding, text.toStdString()) != change.sent)
            return;
        const int shown = calibration::ShownValue(setting->encoding, *change.stored);
        if (text != QString::number(shown)) spin->second->SetPosition(shown);
    }
}
