// StringGrid: a table of texts with one fixed header row (row 0) and editable rows below it,
// edited like a spreadsheet: typing on a cell opens its editor with the typed character, Enter
// confirms. Handlers learn of keys through OnKeyUp, raised when a key is released, and by then
// the cell already holds what the user sees in it. Editing commands (steps, interpolation, undo,
// copy and paste) arrive through OnCommand; a cell can be marked (its value waits for, or never
// got, a confirmation), and the grid draws the mark whatever else it draws.
#pragma once

#include <QColor>
#include <QPointer>
#include <QTableWidget>

#include <functional>
#include <optional>
#include <vector>

class QLineEdit;
class StringGridDelegate;

class StringGrid : public QTableWidget {
    Q_OBJECT
public:
    enum class CellMark { None, Pending, Failed };
    enum class Command { StepUp, StepDown, TenStepsUp, TenStepsDown, Interpolate, Undo, Redo, Copy, Paste };

    explicit StringGrid(int colCount, int rowCount = 2, QWidget* parent = nullptr);

    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    // Text of a cell; an empty string outside the grid.
    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    // The current (focused) cell. SetCol moves the cursor within the editable row it is on
    // (row 1 when none is current yet); an open editor is committed first.
    int Col() const;
    void SetCol(int col);
    int Row() const;

    int ColCount() const { return columnCount(); }
    int RowCount() const { return rowCount(); }

    void SetDefaultColWidth(int px);
    void SetDefaultRowHeight(int px);
    void SetScrollBars(bool shown);

    // Draw the focused cell with the selection colour too; off by default, so that the
    // focused cell stands out from a selected range by its focus frame only.
    void SetDrawFocusSelected(bool on);
    bool DrawFocusSelected() const { return drawFocusSelected_; }

    // True while a cell editor is open; the open editor, or nullptr.
    bool EditorMode() const;
    QLineEdit* InplaceEditor() const;
    // True when the last Enter confirmed a cell editor (a value was typed), false when it came
    // on a cell that was not being edited.
    bool EnterClosedEditor() const { return enterClosedEditor_; }

    // The selected columns of a row, in column order; and a range of that row selected.
    std::vector<int> SelectedCols(int row = 1) const;
    void SelectCols(int first, int last, int row = 1);

    // A cell drawn as holding a value not yet confirmed (italic on pale yellow) or never
    // confirmed (dark red on pale red), with the tooltip saying so; None draws it plainly.
    void SetCellMark(int col, int row, CellMark mark, const QString& toolTip = QString());
    CellMark CellMarkAt(int col, int row) const;
    QString CellToolTip(int col, int row) const;
    static QColor MarkBackground(CellMark mark);
    static QColor MarkForeground(CellMark mark);

    // The keys of a command as the tooltip names them ("Ctrl+Up").
    static QString CommandKeys(Command command);

    // Raised on the release of a key in the grid or in its open cell editor, with Qt key codes;
    // both Enter keys arrive as Qt::Key_Return.
    std::function<void(QObject* Sender, int Key)> OnKeyUp;
    // Raised when a command's keys are pressed on a cell that is not being edited. Unassigned,
    // the keys do what the table does by default.
    std::function<void(QObject* Sender, Command command)> OnCommand;

    // How a cell editor closed without Enter: left for another cell or control (Tab, a click,
    // a page change, another window), or given up with Escape.
    enum class EditEnd { Left, Escaped };
    // Raised when a cell editor closes without Enter, with the cell and the text typed in it.
    // Assigned, only Enter puts typed text into a cell: a cell left keeps what it held. Unassigned,
    // the grid takes typed text whichever way the editor closes, as Qt's tables do.
    std::function<void(QObject* Sender, int col, int row, const QString& typed, EditEnd how)> OnEditAbandoned;

protected:
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class StringGridDelegate;
    QTableWidgetItem* ensureItem(int col, int row);
    void styleHeaderItem(QTableWidgetItem* item) const;
    void raiseKeyUp(QKeyEvent* event);
    void adoptEditor(QWidget* editor, const QModelIndex& index);

    QPointer<QLineEdit> editor_;   // the last editor opened
    QPersistentModelIndex editorIndex_;   // its cell, until it closes
    bool enterCommit_ = false;     // Enter is putting the editor's text into its cell
    int tag_ = 0;
    bool drawFocusSelected_ = false;
    bool enterClosedEditor_ = false;
};
