// The spin controls write settings to the ECU on every click, so a click must move exactly one
// step, never past the end of its range, and never report a click that moved nothing.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <vector>

#include "ui/UpDown.h"

namespace {

struct Click {
    UpDown::TUDBtnType button;
    QString editText;   // what the edit showed when the handler ran
    int position;
};

class UpDownTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.resize(200, 60);
        edit = new QLineEdit(&form);
        edit->setGeometry(10, 10, 60, 21);
        spin = new UpDown(&form);
        spin->SetMin(0);
        spin->SetMax(255);
        spin->SetAssociate(edit);
        spin->OnClick = [this](QObject* sender, UpDown::TUDBtnType button) {
            EXPECT_EQ(sender, spin);
            clicks.push_back({button, edit->text(), spin->Position()});
        };
        form.show();
    }
    void set(int min, int max, int increment, int position)
    {
        spin->SetMin(min);
        spin->SetMax(max);
        spin->SetIncrement(increment);
        spin->SetPosition(position);
        clicks.clear();
    }
    void up() { QTest::mouseClick(spin->UpButton(), Qt::LeftButton); }
    void down() { QTest::mouseClick(spin->DownButton(), Qt::LeftButton); }

    QWidget form;
    QLineEdit* edit = nullptr;
    UpDown* spin = nullptr;
    std::vector<Click> clicks;
};

TEST_F(UpDownTest, SitsRightOfItsEditWithTheEditsHeight)
{
    EXPECT_EQ(spin->geometry().left(), edit->geometry().right() + 1);
    EXPECT_EQ(spin->y(), edit->y());
    EXPECT_EQ(spin->height(), edit->height());
    EXPECT_TRUE(spin->isVisible());
    edit->move(30, 25);
    EXPECT_EQ(spin->geometry().left(), edit->geometry().right() + 1);
    EXPECT_EQ(spin->y(), 25);
    EXPECT_EQ(spin->Associate(), edit);
}

TEST_F(UpDownTest, StepsAndStopsAtBothEndsWithoutRaisingAClick)
{
    set(0, 255, 1, 254);
    EXPECT_EQ(edit->text(), "254");
    up();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].button, UpDown::btNext);
    EXPECT_EQ(clicks[0].editText, "255");   // the edit shows the number before the handler runs
    EXPECT_EQ(clicks[0].position, 255);
    up();
    EXPECT_EQ(clicks.size(), 1u);
    EXPECT_EQ(edit->text(), "255");

    set(0, 255, 1, 1);
    down();
    down();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].button, UpDown::btPrev);
    EXPECT_EQ(spin->Position(), 0);
    EXPECT_EQ(edit->text(), "0");

    // The ignition lock: range 0 to 20 in one step of 20.
    set(0, 20, 20, 0);
    up();
    up();
    down();
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].editText, "20");
    EXPECT_EQ(clicks[1].editText, "0");
}

TEST_F(UpDownTest, NegativeIncrementTurnsTheArrowsRound)
{
    set(-30, 0, -1, 0);
    up();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].editText, "-1");
    down();
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[1].editText, "0");
    down();   // would go to 1, beyond the top of the range
    EXPECT_EQ(clicks.size(), 2u);
    set(-30, 0, -1, -30);
    up();
    EXPECT_TRUE(clicks.empty());
    EXPECT_EQ(edit->text(), "-30");
}

TEST_F(UpDownTest, ValuesOutsideTheRangeAreShownAsTheyAre)
{
    set(0, 35, 1, 200);
    EXPECT_EQ(spin->Position(), 200);
    EXPECT_EQ(edit->text(), "200");

    // A click starts from the number in the edit, as the user typed it, and lands in range.
    edit->setText("100");
    down();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].editText, "35");
    // Text that is no number: the click starts from the position.
    spin->SetPosition(10);
    edit->setText("12a");
    up();
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[1].editText, "11");
    edit->setText(" 7 ");
    up();
    EXPECT_EQ(clicks.back().editText, "8");
}

TEST_F(UpDownTest, ArrowKeysInTheEditStepLikeClicks)
{
    set(0, 255, 1, 5);
    edit->setReadOnly(true);   // the lock's edit is read-only and still steps
    QTest::keyClick(edit, Qt::Key_Up);
    QTest::keyClick(edit, Qt::Key_Up);
    QTest::keyClick(edit, Qt::Key_Down);
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].button, UpDown::btNext);
    EXPECT_EQ(clicks[0].editText, "6");
    EXPECT_EQ(clicks[2].button, UpDown::btPrev);
    EXPECT_EQ(edit->text(), "6");
    set(0, 255, 1, 0);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_TRUE(clicks.empty());
    // Other keys stay the edit's own.
    edit->setReadOnly(false);
    edit->clear();
    QTest::keyClicks(edit, "17");
    EXPECT_EQ(edit->text(), "17");
    EXPECT_TRUE(clicks.empty());
}

}  // namespace
