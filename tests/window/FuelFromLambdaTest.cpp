// Fuel from lambda against the simulated ECU: a log loaded from a file, its proposals drawn
// under the grid, Apply as one edit the ECU echoes, one Ctrl+Z taking all of it back, and the
// log spent for both maps once its proposals are in.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

#include "base/UserSettings.h"
#include "calibration/ImageLayout.h"
#include "calibration/RestorePoints.h"
#include "tests/window/CalibrationFixture.h"
#include "ui/Dialogs.h"
#include "ui/MapChart.h"
#include "ui/LogChart.h"
#include "ui/ProposalStrip.h"
#include "ui/StringGrid.h"

namespace {

class FuelFromLambdaTest : public CalibrationWindowTest {};

// A warm, steady drive through every column of RPM Fuel, 60 samples each, its mixture 10 % lean
// in columns 12 to 20 and on target elsewhere; the sensor reports each mixture two samples late.
// Written as the program writes logs: fourteen "%.2f" fields a line, tab after each, CR LF.
QByteArray MadeLog()
{
    std::vector<double> mixture, rpm;
    for (int k = 0; k < 36; ++k)
        for (int s = 0; s < 60; ++s) {
            rpm.push_back(250 + 250 * k);
            mixture.push_back((k >= 12 && k <= 20 ? 1.10 : 1.00) + (s % 2 ? 0.02 : -0.02));
        }
    QByteArray text;
    for (size_t i = 0; i < rpm.size(); ++i) {
        const double lambda = mixture[i < 2 ? 0 : i - 2];
        const double sample[14] = {rpm[i] / 100, 5, 3.0, 20, 85, 30, lambda * 10, 0, 13.8, 0, 6.0, 70, 2.5, 0};
        for (double v : sample) text += QByteArray::number(v, 'f', 2) + '\t';
        text += "\r\n";
    }
    return text;
}

TEST_F(FuelFromLambdaTest, ApplySendsOneEditTheEcuHoldsAndOneUndoRestoresEveryByte)
{
    ASSERT_NO_FATAL_FAILURE(ReadThenShow(calibration::PageFuel));
    const sim::Image before = ecu->Eeprom();

    QFile file(Path("drive.qxl"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(MadeLog());
    file.close();
    ui::SetFileDialogHook([this](ui::FileDialog&) -> std::optional<QString> { return Path("drive.qxl"); });
    form->Button4->click();
    ASSERT_EQ(form->Chart10->Count(6), 36 * 60);

    form->ButtonFuelFromLambda->click();
    ASSERT_TRUE(form->FuelFromLambdaPanel->isVisible());
    EXPECT_EQ(form->ComboFuelMap->currentText(), QStringLiteral("RPM Fuel"));

    // Exactly columns 12 to 20 are proposed, each raised by the 10 % step (rounded down where
    // a whole value would pass it), in the table and under the grid.
    StringGrid* grid = form->MapGrid[4];
    const ProposalStrip* strip = form->ProposalStripOf[4];
    ASSERT_TRUE(strip->isVisible());
    QTableWidget* table = form->GridFuelColumns;
    std::vector<std::pair<int, int>> expected;
    for (int k = 0; k < 36; ++k) {
        const int current = before[std::size_t(104 + k)];
        const bool lean = k >= 12 && k <= 20;
        EXPECT_EQ(table->item(k, 9)->text(), lean ? QString::number(current * 11 / 10) : QString()) << "column " << k;
        EXPECT_EQ(strip->ColumnText(k).isEmpty(), !lean) << "column " << k;
        if (lean) expected.emplace_back(104 + k, current * 11 / 10);
    }
    const int c12 = before[104 + 12];   // 98 -> 107 (107.8 would pass the step): +9 %
    EXPECT_EQ(strip->ColumnText(12), QStringLiteral("+%1").arg(std::lround(100.0 * (c12 * 11 / 10 - c12) / c12)));
    EXPECT_EQ(table->item(12, 12)->checkState(), Qt::Checked) << "every proposal is sent by default";
    EXPECT_TRUE(form->ProposalStripOf[6]->isHidden());

    // The same log over MAP Fuel Compensation: every sample stood at 60 kPa, whose mean lambda of
    // (9 x 1.10 + 27 x 1.00) / 36 = 1.025 takes the 60 % there to 61.5 %, held to an even 62.
    form->ComboFuelMap->setCurrentIndex(1);
    form->ComboFuelMapChange(form->ComboFuelMap);
    ASSERT_EQ(before[157], 30) << "the simulator's 60 % at 60 kPa";
    EXPECT_EQ(table->rowCount(), 16);
    EXPECT_EQ(table->item(1, 9)->text(), QStringLiteral("62"));
    EXPECT_EQ(table->item(2, 9)->text(), QString());
    EXPECT_FALSE(form->ProposalStripOf[6]->isHidden());
    EXPECT_TRUE(strip->isHidden()) << "one map at a time";
    form->ComboFuelMap->setCurrentIndex(0);
    form->ComboFuelMapChange(form->ComboFuelMap);

    // A locked column and a column whose target is its mixture propose nothing; both are
    // remembered for the next time.
    table->item(13, 11)->setCheckState(Qt::Checked);
    table->item(20, 7)->setText(QStringLiteral("1.10"));
    EXPECT_EQ(table->item(13, 9)->text(), QString());
    EXPECT_EQ(table->item(13, 13)->text(), QStringLiteral("locked"));
    EXPECT_EQ(table->item(20, 9)->text(), QString());
    EXPECT_EQ(base::UserSettings().value("FuelFromLambda/Map4/Locked").toStringList(), QStringList{"13"});
    EXPECT_EQ(base::UserSettings().value("FuelFromLambda/Map4/Targets").toStringList().value(20), QStringLiteral("1.100"));
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [](const std::pair<int, int>& w) { return w.first == 104 + 13 || w.first == 104 + 20; }),
                   expected.end());
    ASSERT_EQ(expected.size(), 7u);
    EXPECT_EQ(form->MapChartOf[4]->ProposalCount(), 7) << "a dot on the chart for each proposal";

    // Apply: one edit through the edit path, its cells marked until the ECU echoes them.
    const size_t undoBefore = form->MapEdits[4].UndoCount();
    size_t mark = Mark();
    form->ButtonFuelApply->click();
    EXPECT_EQ(grid->CellMarkAt(12, 1), StringGrid::CellMark::Pending);
    EXPECT_EQ(grid->Cells(12, 1), QString::number(expected.front().second));
    EXPECT_EQ(form->MapEdits[4].UndoCount(), undoBefore + 1);
    std::vector<std::pair<int, int>> sent;
    for (const sim::Command& c : WaitForWrites(mark, expected.size())) sent.emplace_back(c.address, c.data);
    EXPECT_EQ(sent, expected);
    ASSERT_TRUE(WaitFor([&] { return grid->CellMarkAt(19, 1) == StringGrid::CellMark::None; }));
    sim::Image held = ecu->Eeprom();
    for (auto [address, byte] : expected) EXPECT_EQ(held[std::size_t(address)], byte);
    EXPECT_EQ(form->EepromImage[std::size_t(expected.back().first)], expected.back().second) << "the echo is in the copy";

    // The calibration as it was is kept first, so that the restore points can take it all back.
    const calibration::RestorePoints points;
    const std::vector<calibration::RestorePoint> kept = points.List().points;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front().cause, QStringLiteral("before applying proposals"));
    const calibration::CalibrationRead point = points.Read(kept.front().name);
    ASSERT_EQ(point.image.status, calibration::ImageFileRead::Ok);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), point.image.image.begin()));

    // The log is spent: nothing more from it for this map or the other, and the panel says why.
    EXPECT_TRUE(strip->isHidden());
    EXPECT_EQ(form->MapChartOf[4]->ProposalCount(), 0);
    EXPECT_FALSE(form->ButtonFuelApply->isEnabled());
    EXPECT_TRUE(form->LabelFuelSummary->text().contains(QStringLiteral("A new log is needed")));
    form->ComboFuelMap->setCurrentIndex(1);
    form->ComboFuelMapChange(form->ComboFuelMap);
    EXPECT_EQ(form->ComboFuelMap->currentText(), QStringLiteral("MAP Fuel Compensation"));
    EXPECT_TRUE(form->ProposalStripOf[6]->isHidden());
    EXPECT_FALSE(form->ButtonFuelApply->isEnabled());
    EXPECT_TRUE(table->item(4, 13)->text().contains(QStringLiteral("a new log is needed")));

    // One Ctrl+Z in the grid takes the whole of it back: every byte as before.
    grid->setFocus();
    mark = Mark();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyRelease(grid, Qt::Key_Control, Qt::NoModifier);
    WaitForWrites(mark, expected.size());
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom() == before; }, 3000));
    EXPECT_EQ(WritesSince(mark).size(), expected.size());
    EXPECT_EQ(grid->Cells(12, 1), QString::number(before[104 + 12]));
}

}  // namespace
