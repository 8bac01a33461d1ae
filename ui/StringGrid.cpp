#include "ui/StringGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPaintEvent>
#include <QContextMenuEvent>
#include <QPainter>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MarkRole = Qt::UserRole + 1;
constexpr int MarkTipRole = Qt::UserRole + 2;
constexpr int CompareRole = Qt::UserRole + 3;

struct Binding {
    StringGrid::Command command;
    QKeyCombination keys;
};

// Keys that never open a cell editor, so they cannot collide with typing a number. The first
// binding of a command is the one the tooltip names.
const Binding Bindings[] = {
    {StringGrid::Command::StepUp, Qt::ControlModifier | Qt::Key_Up},
    {StringGrid::Command::StepDown, Qt::ControlModifier | Qt::Key_Down},
    {StringGrid::Command::TenStepsUp, Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Up},
    {StringGrid::Command::TenStepsDown, Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Down},
    {StringGrid::Command::Interpolate, Qt::ControlModifier | Qt::Key_I},
    {StringGrid::Command::Scale, Qt::ControlModifier | Qt::Key_P},
    {StringGrid::Command::Undo, Qt::ControlModifier | Qt::Key_Z},
    {StringGrid::Command::Redo, Qt::ControlModifier | Qt::Key_Y},
    {StringGrid::Command::Redo, Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z},
    {StringGrid::Command::Copy, Qt::ControlModifier | Qt::Key_C},
    {StringGrid::Command::Copy, Qt::ControlModifier | Qt::Key_Insert},
    {StringGrid::Command::Paste, Qt::ControlModifier | Qt::Key_V},
    {StringGrid::Command::Paste, Qt::ShiftModifier | Qt::Key_Insert},
};

std::optional<StringGrid::Command> CommandOf(const QKeyEvent* event)
{
    const QKeyCombination pressed(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key()));
    for (const Binding& b : Bindings)
        if (b.keys == pressed) return b.command;
    return std::nullopt;
}

}  // namespace

// Qt's own delegate commits an editor through a queued call after Enter, so a handler running
// on the key's release could still read the cell's old text. This delegate commits at once,
// and lets the grid watch each editor it opens so that key releases there reach OnKeyUp.
class StringGridDelegate : public QStyledItemDelegate {
public:
    explicit StringGridDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor) grid_->adoptEditor(editor, index);
        return editor;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const bool plainFocus = !grid_->DrawFocusSelected() && index == grid_->currentIndex();
        const bool marked = index.data(MarkRole).toInt() != 0;
        if (!selected || (!plainFocus && !marked)) {
            QStyledItemDelegate::paint(painter, option, index);
            PaintCompared(painter, option, index);
            return;
        }
        // The focused cell is not drawn selected. A marked cell in a selection keeps its mark's
        // colours and shows the selection as a frame, so that a range just sent still tells
        // which of its cells the ECU has confirmed.
        QStyleOptionViewItem plain(option);
        initStyleOption(&plain, index);
        plain.state &= ~QStyle::State_Selected;
        // The view may have laid the selection colour under the cell already; cover it.
        painter->fillRect(option.rect, plain.backgroundBrush.style() != Qt::NoBrush
                                           ? plain.backgroundBrush
                                           : option.palette.brush(QPalette::Base));
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget);
        if (!plainFocus) {
            painter->save();
            painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
            painter->restore();
        }
        PaintCompared(painter, option, index);
    }

    // A cell that differs from a compared file: a corner triangle, over whatever else is drawn.
    static void PaintCompared(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index)
    {
        if (index.data(CompareRole).toString().isEmpty()) return;
        const QRect r = option.rect;
        const int size = std::min(8, std::min(r.width(), r.height()) / 2);
        const QPoint corner[3] = {r.topRight() - QPoint(size, 0), r.topRight(), r.topRight() + QPoint(0, size)};
        painter->save();
        painter->setPen(Qt::NoPen);
        painter->setBrush(StringGrid::ComparedColor());
        painter->drawPolygon(corner, 3);
        painter->restore();
    }

    // A cell without a tooltip of its own shows the grid's.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() == QEvent::ToolTip && index.data(Qt::ToolTipRole).toString().isEmpty()
            && !grid_->toolTip().isEmpty()) {
            QToolTip::showText(event->globalPos(), grid_->toolTip(), view->viewport(), option.rect);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                auto* editor = qobject_cast<QWidget*>(object);
                if (editor) {
                    grid_->enterClosedEditor_ = true;
                    grid_->enterCommit_ = true;
                    emit commitData(editor);
                    emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
                    grid_->enterCommit_ = false;
                    return true;
                }
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    StringGrid* grid_;
};

StringGrid::StringGrid(int colCount, int rowCount, QWidget* parent)
    : QTableWidget(qMax(rowCount, 1), qMax(colCount, 1), parent)
{
    // Row 0 is the header; Qt's own headers would be a second one.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setItemDelegate(new StringGridDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    for (int row = 0; row < this->rowCount(); ++row)
        for (int col = 0; col < columnCount(); ++col) ensureItem(col, row);
    if (this->rowCount() > 1) setCurrentCell(1, 0);
}

void StringGrid::styleHeaderItem(QTableWidgetItem* item) const
{
    // Not enabled: the view then never makes it current, edits it or selects it, by key or
    // mouse. The explicit colours keep it from being drawn greyed out like a disabled cell.
    item->setFlags(Qt::NoItemFlags);
    item->setBackground(palette().button());
    item->setForeground(palette().buttonText());
}

QTableWidgetItem* StringGrid::ensureItem(int col, int row)
{
    QTableWidgetItem* it = item(row, col);
    if (it) return it;
    it = new QTableWidgetItem;
    if (row == 0) styleHeaderItem(it);
    setItem(row, col, it);
    return it;
}

QString StringGrid::Cells(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void StringGrid::SetCells(int col, int row, const QString& text)
{
    if (col < 0 || col >= columnCount() || row < 0 || row >= rowCount()) return;
    QTableWidgetItem* it = ensureItem(col, row);
    if (it->text() != text) it->setText(text);
    // Row 0 is the grid's own header. The view's hidden header says the same, so that a screen
    // reader names a cell's column by its breakpoint or heading instead of by its number.
    if (row == 0) {
        QTableWidgetItem* head = horizontalHeaderItem(col);
        if (!head) setHorizontalHeaderItem(col, head = new QTableWidgetItem);
        if (head->text() != text) head->setText(text);
    }
}

int StringGrid::Col() const
{
    return currentColumn();
}

int StringGrid::Row() const
{
    return currentRow();
}

void StringGrid::SetCol(int col)
{
    if (col < 0 || col >= columnCount() || rowCount() < 2) return;
    const int row = currentRow() >= 1 ? currentRow() : 1;
    setCurrentCell(row, col);
}

void StringGrid::SetDefaultColWidth(int px)
{
    if (px < 1) return;
    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(qMin(header->minimumSectionSize(), px));
    header->setDefaultSectionSize(px);
    for (int col = 0; col < columnCount(); ++col) setColumnWidth(col, px);
}

void StringGrid::SetDefaultRowHeight(int px)
{
    if (px < 1) return;
    QHeaderView* header = verticalHeader();
    header->setMinimumSectionSize(qMin(header->minimumSectionSize(), px));
    header->setDefaultSectionSize(px);
    for (int row = 0; row < rowCount(); ++row) setRowHeight(row, px);
}

void StringGrid::SetScrollBars(bool shown)
{
    const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
}

void StringGrid::SetDrawFocusSelected(bool on)
{
    if (drawFocusSelected_ == on) return;
    drawFocusSelected_ = on;
    viewport()->update();
}

bool StringGrid::EditorMode() const
{
    return state() == QAbstractItemView::EditingState;
}

QLineEdit* StringGrid::InplaceEditor() const
{
    return EditorMode() ? editor_.data() : nullptr;
}

void StringGrid::adoptEditor(QWidget* editor, const QModelIndex& index)
{
    editor->installEventFilter(this);
    editor_ = qobject_cast<QLineEdit*>(editor);
    editorIndex_ = index;
}

void StringGrid::commitData(QWidget* editor)
{
    // Every way out of the editor but Enter would commit (Tab, a click elsewhere, a new current
    // cell); with a handler for abandoned edits, those keep the cell as it was.
    if (OnEditAbandoned && !enterCommit_) return;
    QTableWidget::commitData(editor);
}

void StringGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Taken before the editor goes; Tab opens the next cell's editor on the way out.
    const bool byEnter = enterCommit_;
    const auto* line = qobject_cast<QLineEdit*>(editor);
    const QString typed = line ? line->text() : QString();
    QPersistentModelIndex index;
    if (editor && editor == editor_.data()) std::swap(index, editorIndex_);   // a second close finds none
    QTableWidget::closeEditor(editor, hint);
    if (byEnter || !OnEditAbandoned || !index.isValid()) return;
    OnEditAbandoned(this, index.column(), index.row(), typed,
                    hint == QAbstractItemDelegate::RevertModelCache ? EditEnd::Escaped : EditEnd::Left);
}

void StringGrid::raiseKeyUp(QKeyEvent* event)
{
    if (event->isAutoRepeat()) return;   // one key-up per physical release
    int key = event->key();
    if (key == Qt::Key_Enter) key = Qt::Key_Return;
    if (OnKeyUp) OnKeyUp(this, key);
}

void StringGrid::keyPressEvent(QKeyEvent* event)
{
    enterClosedEditor_ = false;
    // Enter on a cell that is not being edited belongs to the OnKeyUp handler, which moves the
    // cursor itself; it must not reach a dialog's default button either.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    // Home and End go to the first and last column of the row, with or without Ctrl, as in a
    // spreadsheet; the table's own Ctrl+Home aims at the header row, which takes no cursor.
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Home || event->key() == Qt::Key_End)
        && (mods == Qt::NoModifier || mods == Qt::ControlModifier) && !EditorMode()) {
        event->accept();
        clearSelection();
        SetCol(event->key() == Qt::Key_Home ? 0 : columnCount() - 1);
        return;
    }
    if (OnCommand && !EditorMode()) {
        if (const std::optional<Command> command = CommandOf(event)) {
            event->accept();
            OnCommand(this, *command);
            return;
        }
    }
    QTableWidget::keyPressEvent(event);
}

QString StringGrid::CommandKeys(Command command)
{
    for (const Binding& b : Bindings)
        if (b.command == command) return QKeySequence(b.keys).toString(QKeySequence::NativeText);
    return QString();
}

const std::vector<StringGrid::Command>& StringGrid::MenuCommands()
{
    static const std::vector<Command> commands = {
        Command::SetValue, Command::StepUp, Command::StepDown, Command::TenStepsUp, Command::TenStepsDown,
        Command::Scale, Command::Interpolate, Command::Copy, Command::Paste, Command::Undo, Command::Redo,
    };
    return commands;
}

QString StringGrid::CommandName(Command command)
{
    switch (command) {
    case Command::SetValue: return QStringLiteral("Set value");
    case Command::StepUp: return QStringLiteral("Step up");
    case Command::StepDown: return QStringLiteral("Step down");
    case Command::TenStepsUp: return QStringLiteral("Ten steps up");
    case Command::TenStepsDown: return QStringLiteral("Ten steps down");
    case Command::Scale: return QStringLiteral("Scale by a percentage\u2026");
    case Command::Interpolate: return QStringLiteral("Interpolate");
    case Command::Copy: return QStringLiteral("Copy");
    case Command::Paste: return QStringLiteral("Paste");
    case Command::Undo: return QStringLiteral("Undo");
    case Command::Redo: return QStringLiteral("Redo");
    }
    return QString();
}

QMenu* StringGrid::CreateCommandMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("GridCommandMenu"));
    menu->setAccessibleName(QStringLiteral("Cell commands"));
    for (const Command command : MenuCommands()) {
        if (command == Command::Scale || command == Command::Copy || command == Command::Undo) menu->addSeparator();
        // The keys stand in the menu's key column; a set value is typed and confirmed with Enter.
        const QString keys = command == Command::SetValue ? QStringLiteral("Enter") : CommandKeys(command);
        QAction* action = menu->addAction(CommandName(command) + QLatin1Char('\t') + keys);
        action->setData(static_cast<int>(command));
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    }
    return menu;
}

void StringGrid::runCommand(Command command)
{
    if (command == Command::SetValue) {
        if (currentIndex().isValid()) edit(currentIndex());
        return;
    }
    if (OnCommand) OnCommand(this, command);
}

void StringGrid::contextMenuEvent(QContextMenuEvent* event)
{
    // A right click on a cell outside the selection works on that cell, as in a spreadsheet.
    const QModelIndex index = indexAt(event->pos());
    if (event->reason() == QContextMenuEvent::Mouse && index.isValid() && index.row() >= 1
        && !selectionModel()->isSelected(index))
        setCurrentCell(index.row(), index.column());
    QMenu* menu = CreateCommandMenu(this);
    if (OnMenu) OnMenu(this, menu);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

int StringGrid::OperatingColumn() const
{
    if (!operatingPoint_) return -1;
    return std::clamp(int(std::floor(*operatingPoint_ + 0.5)), 0, columnCount() - 1);
}

int StringGrid::operatingX() const
{
    // The header marker: a small triangle whose tip points down at the exact position, measured
    // between the centres of the columns either side.
    const int lower = std::clamp(int(std::floor(*operatingPoint_)), 0, columnCount() - 1);
    const int upper = std::min(lower + 1, columnCount() - 1);
    const double fraction = *operatingPoint_ - lower;
    const double lowerCentre = columnViewportPosition(lower) + columnWidth(lower) / 2.0;
    const double upperCentre = columnViewportPosition(upper) + columnWidth(upper) / 2.0;
    return int(std::lround(lowerCentre + fraction * (upperCentre - lowerCentre)));
}

QRect StringGrid::operatingRect() const
{
    if (!operatingPoint_ || rowCount() < 2) return QRect();
    const int column = OperatingColumn();
    const int x = operatingX();
    const int headerBottom = rowViewportPosition(0) + rowHeight(0);
    const QRect marker(x - 4, headerBottom - 5, 9, 5);
    const QRect frame(columnViewportPosition(column), rowViewportPosition(1), columnWidth(column), rowHeight(1));
    return marker.united(frame);
}

void StringGrid::SetOperatingPoint(std::optional<double> position, const QString& description)
{
    if (position && !std::isfinite(*position)) position.reset();
    const QString accessible = description.isEmpty() ? toolTip() : description + QLatin1Char('\n') + toolTip();
    if (accessibleDescription() != accessible) setAccessibleDescription(accessible);
    operatingPoint_ = position;
    const QRect now = operatingRect();
    // Same pixels (the frame's column and the marker's place): nothing to paint.
    if (now == operatingDrawn_) return;
    const QRect old = operatingDrawn_;
    operatingDrawn_ = now;
    if (!isVisible()) return;
    QRegion dirty;
    if (!old.isNull()) dirty += old.adjusted(-1, -1, 1, 1);
    if (!now.isNull()) dirty += now.adjusted(-1, -1, 1, 1);
    if (!dirty.isEmpty()) viewport()->update(dirty);
}

void StringGrid::paintEvent(QPaintEvent* event)
{
    ++paints_;
    QTableWidget::paintEvent(event);
    if (!operatingPoint_) return;
    // Drawn over the cells: a frame leaves the cell's own colours, and so any write mark, in view.
    operatingDrawn_ = operatingRect();
    const int column = OperatingColumn();
    QPainter painter(viewport());
    const QColor ink(0, 90, 200);
    const QRect frame(columnViewportPosition(column), rowViewportPosition(1), columnWidth(column), rowHeight(1));
    painter.setPen(QPen(ink, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(1, 1, -1, -1));
    const int x = operatingX();
    const int bottom = rowViewportPosition(0) + rowHeight(0);
    const QPoint tip[3] = {QPoint(x - 4, bottom - 5), QPoint(x + 4, bottom - 5), QPoint(x, bottom - 1)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPolygon(tip, 3);
}

std::vector<int> StringGrid::SelectedCols(int row) const
{
    std::vector<int> cols;
    for (const QModelIndex& index : selectedIndexes())
        if (index.row() == row) cols.push_back(index.column());
    std::sort(cols.begin(), cols.end());
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    return cols;
}

void StringGrid::SelectCols(int first, int last, int row)
{
    if (first > last) std::swap(first, last);
    first = std::max(first, 0);
    last = std::min(last, columnCount() - 1);
    if (row < 1 || row >= rowCount() || first > last) return;
    clearSelection();
    setRangeSelected(QTableWidgetSelectionRange(row, first, row, last), true);
}

QColor StringGrid::MarkBackground(CellMark mark)
{
    switch (mark) {
    case CellMark::Pending: return {255, 244, 176};
    case CellMark::Failed: return {255, 204, 204};
    case CellMark::None: break;
    }
    return {};
}

QColor StringGrid::MarkForeground(CellMark mark)
{
    return mark == CellMark::Failed ? QColor(150, 0, 0) : QColor();
}

void StringGrid::SetCellMark(int col, int row, CellMark mark, const QString& toolTip)
{
    if (col < 0 || col >= columnCount() || row < 1 || row >= rowCount()) return;
    QTableWidgetItem* it = ensureItem(col, row);
    it->setData(MarkRole, static_cast<int>(mark));
    const QColor background = MarkBackground(mark);
    const QColor foreground = MarkForeground(mark);
    it->setData(Qt::BackgroundRole, background.isValid() ? QVariant(QBrush(background)) : QVariant());
    it->setData(Qt::ForegroundRole, foreground.isValid() ? QVariant(QBrush(foreground)) : QVariant());
    if (mark == CellMark::Pending) {
        QFont italic = font();
        italic.setItalic(true);
        it->setData(Qt::FontRole, italic);
    } else {
        it->setData(Qt::FontRole, QVariant());
    }
    it->setData(MarkTipRole, toolTip);
    updateToolTip(it);
}

void StringGrid::SetCellCompared(int col, int row, const QString& toolTip)
{
    if (col < 0 || col >= columnCount() || row < 1 || row >= rowCount()) return;
    QTableWidgetItem* it = item(row, col);
    if (!it && toolTip.isEmpty()) return;
    it = ensureItem(col, row);
    if (it->data(CompareRole).toString() == toolTip) return;
    it->setData(CompareRole, toolTip);
    updateToolTip(it);
}

bool StringGrid::CellCompared(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it && !it->data(CompareRole).toString().isEmpty();
}

void StringGrid::updateToolTip(QTableWidgetItem* it)
{
    QStringList parts;
    for (const int role : {MarkTipRole, CompareRole})
        if (const QString text = it->data(role).toString(); !text.isEmpty()) parts << text;
    const QString toolTip = parts.join(QLatin1Char('\n'));
    it->setData(Qt::ToolTipRole, toolTip.isEmpty() ? QVariant() : QVariant(toolTip));
    it->setData(Qt::AccessibleDescriptionRole, toolTip.isEmpty() ? QVariant() : QVariant(toolTip));
}

StringGrid::CellMark StringGrid::CellMarkAt(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it ? static_cast<CellMark>(it->data(MarkRole).toInt()) : CellMark::None;
}

QString StringGrid::CellToolTip(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it ? it->toolTip() : QString();
}

void StringGrid::keyReleaseEvent(QKeyEvent* event)
{
    raiseKeyUp(event);
    event->accept();
}

bool StringGrid::eventFilter(QObject* watched, QEvent* event)
{
    // Only cell editors are watched this way (see adoptEditor). The release is consumed so
    // that it cannot travel on to the grid and be reported twice.
    if (event->type() == QEvent::KeyRelease && watched != this && watched != viewport()
        && qobject_cast<QLineEdit*>(watched)) {
        raiseKeyUp(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}
