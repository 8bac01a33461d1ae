// The window worked with the keyboard alone and read by a screen reader: on every page Tab
// reaches every control and lets go of each, every control has a name to be read by and lies
// over no other, Shift+F10 opens a grid's commands, a map cell is named by its column's
// breakpoint, the windows are windows to a screen reader, and the Fuel from lambda panel is
// worked by Tab too and closed by Esc.
#include <QCheckBox>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

#include "calibration/ImageLayout.h"
#include "tests/window/WindowFixture.h"
#include "ui/PageControl.h"
#include "ui/StringGrid.h"

namespace {

class KeyboardTest : public WindowTest {};

// The controls of a page a keyboard user must be able to reach: shown, enabled, taking focus
// by Tab, and not a part of another such control (a spin box's line, a table's editor).
std::vector<QWidget*> TabControls(QWidget* page)
{
    auto takesTab = [](const QWidget* w) {
        return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
    };
    std::vector<QWidget*> controls;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if (!takesTab(w)) continue;
        bool part = false;
        for (QWidget* up = w->parentWidget(); up && up != page; up = up->parentWidget())
            part = part || takesTab(up) || qobject_cast<QAbstractSpinBox*>(up) || qobject_cast<QComboBox*>(up)
                   || qobject_cast<QAbstractItemView*>(up);
        if (!part) controls.push_back(w);
    }
    return controls;
}

// The controls in the order Tab first gives them the focus, pressed in `window` until each had
// it or 400 presses went by: a control that keeps Tab for itself, or takes one press per cell of
// a long table, leaves the ones after it out.
std::vector<QWidget*> TabOrder(QWidget* window, const std::vector<QWidget*>& controls)
{
    std::vector<QWidget*> order;
    for (int press = 0; press < 400 && order.size() < controls.size(); ++press) {
        QWidget* focused = window->focusWidget();
        if (!focused) break;
        for (QWidget* w : controls)
            if ((w == focused || w->isAncestorOf(focused)) && std::find(order.begin(), order.end(), w) == order.end())
                order.push_back(w);
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    return order;
}

TEST_F(KeyboardTest, TabReachesAndLeavesEveryControlOfEveryPageAndEachHasANameToBeReadBy)
{
    ASSERT_TRUE(WaitForReadComplete());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

    for (int page = 0; page < 7; ++page) {
        QTest::keyClick(form.get(), Qt::Key(Qt::Key_F1 + page));
        ASSERT_EQ(form->PageControl1->ActivePageIndex(), page);
        const std::vector<QWidget*> controls = TabControls(form->TabSheet[size_t(page)]);
        ASSERT_GT(controls.size(), 2u) << "page " << page;
        for (QWidget* w : controls) {
            SCOPED_TRACE(w->metaObject()->className());
            EXPECT_FALSE(w->objectName().isEmpty()) << "page " << page;
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        }
        // None lies over another, where the mouse could not reach the one beneath (sharing a
        // border line, as the Logging page's Save and Load do, is no harm).
        QWidget* sheet = form->TabSheet[size_t(page)];
        auto placed = [sheet](const QWidget* w) { return QRect(w->mapTo(sheet, QPoint(0, 0)), w->size()); };
        for (size_t i = 0; i < controls.size(); ++i)
            for (size_t j = i + 1; j < controls.size(); ++j) {
                const QRect both = placed(controls[i]) & placed(controls[j]);
                EXPECT_FALSE(both.width() > 1 && both.height() > 1)
                    << controls[i]->objectName().toStdString() << " and " << controls[j]->objectName().toStdString();
            }

        // Tab through the page (a grid takes one Tab a cell) until every control had the focus.
        const std::vector<QWidget*> order = TabOrder(form.get(), controls);
        for (QWidget* w : controls)
            EXPECT_TRUE(std::find(order.begin(), order.end(), w) != order.end())
                << "page " << page << ": Tab never reaches " << w->objectName().toStdString();

        auto at = [&order](const QWidget* w) { return std::find(order.begin(), order.end(), w) - order.begin(); };
        if (page == 5) {   // the POT box, made before its page, stands after "Acceleration"
            EXPECT_GT(at(form->txtPOT), at(form->SettingEdit.at(449)));
            EXPECT_LT(at(form->txtPOT), at(form->SettingEdit.at(439)));
        }
        if (page == calibration::PageFuel) {   // the button right after the setting above it, "Base fuel"
            EXPECT_EQ(at(form->ButtonFuelFromLambda), at(form->SettingEdit.at(442)) + 1);
        }
        if (page == 4) {   // the rows under the log view left to right, top to bottom, the view's choice last
            EXPECT_LT(at(form->Button4), at(form->gridLog));
            EXPECT_LT(at(form->gridLog), at(form->ChannelBox[0]));
            EXPECT_LT(at(form->ChannelBox[13]), at(form->Button14));
            EXPECT_LT(at(form->Button14), at(form->btnSecondLog));
            EXPECT_LT(at(form->btnSecondLog), at(form->cmbLogView));   // (the log's calibration between them is off here)
        }
    }

    // Shift+F10 opens a grid's commands where a keyboard has no Menu key.
    StringGrid* grid = form->MapGrid[4];
    QTest::keyClick(form.get(), Qt::Key_F2);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QStringList commands;
    for (const QAction* action : menu->actions()) commands << action->text().section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(commands.contains(QStringLiteral("Undo"))) << commands.join(", ").toStdString();
    menu->close();

    // A screen reader names a map cell's column by its breakpoint, as row 0 shows it.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid);
    ASSERT_TRUE(table && table->tableInterface());
    QAccessibleInterface* cell = table->tableInterface()->cellAt(1, 2);
    ASSERT_TRUE(cell && cell->tableCellInterface());
    const QList<QAccessibleInterface*> heads = cell->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(heads.size(), 1);
    EXPECT_EQ(heads[0]->text(QAccessible::Name), grid->Cells(2, 0));
    EXPECT_EQ(grid->Cells(2, 0), QStringLiteral("750"));
}

TEST_F(KeyboardTest, FuelFromLambdaPanelIsWorkedByTabAndClosedByEscOnceNoControlWantsIt)
{
    ASSERT_TRUE(WaitForReadComplete());
    QTest::keyClick(form.get(), Qt::Key_F2);
    form->ButtonFuelFromLambda->click();
    ASSERT_TRUE(form->FuelFromLambdaPanel->isVisible());
    // Both are windows to a screen reader, announced by their titles.
    for (QWidget* window : {static_cast<QWidget*>(form.get()), form->FuelFromLambdaPanel})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window);

    // Tab reaches all of the panel; its table of columns is left with one Tab, not one a cell.
    const std::vector<QWidget*> controls = TabControls(form->FuelFromLambdaPanel);
    ASSERT_GT(controls.size(), 10u);
    form->ComboFuelMap->setFocus();
    const std::vector<QWidget*> order = TabOrder(form->FuelFromLambdaPanel, controls);
    for (QWidget* w : controls) {
        EXPECT_TRUE(std::find(order.begin(), order.end(), w) != order.end()) << w->objectName().toStdString();
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
    form->GridFuelColumns->setFocus();
    QTest::keyClick(form->GridFuelColumns, Qt::Key_Tab);
    EXPECT_NE(form->FuelFromLambdaPanel->focusWidget(), form->GridFuelColumns);

    // In a threshold's box the key goes to the panel: the box has no use for it.
    auto* box = form->FuelFromLambdaPanel->findChild<QAbstractSpinBox*>();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(form->FuelFromLambdaPanel->isVisible());
    EXPECT_TRUE(form->isVisible());

    // A cell being typed in gives up the typing first; the panel stays.
    form->ButtonFuelFromLambda->click();
    ASSERT_TRUE(form->FuelFromLambdaPanel->isVisible());
    QTableWidget* columns = form->GridFuelColumns;
    int target = 0;
    while (target < columns->columnCount() && !columns->horizontalHeaderItem(target)->text().startsWith("Target"))
        ++target;
    ASSERT_LT(target, columns->columnCount());
    const QModelIndex cell = columns->model()->index(0, target);
    ASSERT_TRUE(columns->model()->flags(cell) & Qt::ItemIsEditable);
    columns->setCurrentIndex(cell);
    columns->edit(cell);
    const QList<QWidget*> editors = columns->viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    auto open = std::find_if(editors.begin(), editors.end(), [](const QWidget* w) { return w->isVisible(); });
    ASSERT_NE(open, editors.end());
    const QPointer<QWidget> editor(*open);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(editor && editor->isVisible());
    EXPECT_TRUE(form->FuelFromLambdaPanel->isVisible());
    QTest::keyClick(columns, Qt::Key_Escape);
    EXPECT_FALSE(form->FuelFromLambdaPanel->isVisible());
}

}  // namespace
