#include "ui/StringGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QLineEdit>
#include <QStyledItemDelegate>

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
        if (editor) grid_->adoptEditor(editor);
        return editor;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        if (!grid_->DrawFocusSelected() && index == grid_->currentIndex()
            && (option.state & QStyle::State_Selected)) {
            // The view has already laid the selection colour under the cell; cover it.
            QStyleOptionViewItem plain(option);
            plain.state &= ~QStyle::State_Selected;
            const QVariant background = index.data(Qt::BackgroundRole);
            painter->fillRect(option.rect, background.canConvert<QBrush>()
                                               ? background.value<QBrush>()
                                               : option.palette.brush(QPalette::Base));
            QStyledItemDelegate::paint(painter, plain, index);
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                auto* editor = qobject_cast<QWidget*>(object);
                if (editor) {
                    emit commitData(editor);
                    emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
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

void StringGrid::adoptEditor(QWidget* editor)
{
    editor->installEventFilter(this);
    editor_ = qobject_cast<QLineEdit*>(editor);
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
    // Enter on a cell that is not being edited belongs to the OnKeyUp handler, which moves the
    // cursor itself; it must not reach a dialog's default button either.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
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
