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
class QMenu;
class StringGridDelegate;

class StringGrid : public QTableWidget {
    Q_OBJECT
public:
    enum class CellMark { None, Pending, Failed };
    enum class Command {
        StepUp, StepDown, TenStepsUp, TenStepsDown, Interpolate, Undo, Redo, Copy, Paste,
        Scale,      // by a percentage the handler asks for
        SetValue,   // opens the current cell's editor: what is typed and confirmed goes to the selection
    };

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
    // A cell that differs from a file held up against it: a blue corner, which leaves the write
    // marks' colours readable, and `toolTip` after the mark's own. An empty text takes it away.
    void SetCellCompared(int col, int row, const QString& toolTip);
    bool CellCompared(int col, int row) const;
    static QColor ComparedColor() { return {30, 90, 200}; }

    // The keys of a command as the tooltip names them ("Ctrl+Up").
    static QString CommandKeys(Command command);
    // Every command in the order the grid's right-click menu lists them, with its name there.
    static const std::vector<Command>& MenuCommands();
    static QString CommandName(Command command);
    // The right-click menu: every command with its keys beside it; choosing one raises OnCommand
    // (SetValue opens the cell's editor). The caller owns the menu.
    QMenu* CreateCommandMenu(QWidget* parent);

    // The operating point: the engine's place on the map's axis as a column position (12.4 is
    // four tenths of the way from column 12 to 13), or none. The column the engine is in gets a
    // frame, which leaves a cell's mark colours visible, and a marker in the header row stands at
    // the exact position. Only what moved is repainted; an unchanged position repaints nothing.
    // `description` goes in front of the grid's accessible description (its tooltip follows).
    void SetOperatingPoint(std::optional<double> position, const QString& description = QString());
    std::optional<double> OperatingPoint() const { return operatingPoint_; }
    int OperatingColumn() const;   // -1 with none
    // How often the grid's cells were painted: what an unchanged operating point must not raise.
    quint64 PaintCount() const { return paints_; }

    // Raised on the release of a key in the grid or in its open cell editor, with Qt key codes;
    // both Enter keys arrive as Qt::Key_Return.
    std::function<void(QObject* Sender, int Key)> OnKeyUp;
    // Raised when a command's keys are pressed on a cell that is not being edited. Unassigned,
    // the keys do what the table does by default.
    std::function<void(QObject* Sender, Command command)> OnCommand;
    // Raised with the right-click menu before it opens, for the owner's own commands.
    std::function<void(QObject* Sender, QMenu* menu)> OnMenu;

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
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class StringGridDelegate;
    QTableWidgetItem* ensureItem(int col, int row);
    void styleHeaderItem(QTableWidgetItem* item) const;
    void updateToolTip(QTableWidgetItem* item);   // the mark's text and the comparison's
    void raiseKeyUp(QKeyEvent* event);
    void adoptEditor(QWidget* editor, const QModelIndex& index);
    int operatingX() const;        // the header marker's tip
    QRect operatingRect() const;   // what the operating point's marks cover, in the viewport
    void runCommand(Command command);

    QPointer<QLineEdit> editor_;   // the last editor opened
    QPersistentModelIndex editorIndex_;   // its cell, until it closes
    bool enterCommit_ = false;     // Enter is putting the editor's text into its cell
    int tag_ = 0;
    bool drawFocusSelected_ = false;
    bool enterClosedEditor_ = false;
    std::optional<double> operatingPoint_;
    QRect operatingDrawn_;         // where its marks were last drawn
    quint64 paints_ = 0;
};
