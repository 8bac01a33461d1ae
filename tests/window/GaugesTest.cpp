// The Gauges page against the simulated ECU: its groups, labels and names, the live replies
// end to end into boxes, duty bar and status flags, a typed box that breaks the duty
// calculation, and the lambda display.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <string_view>

#include "ecu/Threadedtimer.h"
#include "live/Cgauges.h"
#include "tests/window/WindowFixture.h"
#include "base/NumberFormat.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

class GaugesTest : public WindowTest {
protected:
    // "0" + separator + "13": the screen's decimal separator, whatever the system uses.
    static QString Dec(const char* whole, const char* fraction)
    {
        return QLatin1String(whole) + base::DisplayLocale().decimalPoint() + QLatin1String(fraction);
    }
    QLineEdit* Box(const char* name) const { return form->Control<QLineEdit>(QLatin1String(name)); }
    // Polling with the engine held still, every live reply fixed by the test.
    void StartFixedPolling()
    {
        ecu->FreezeEngine(true);
        ASSERT_TRUE(WaitForReadComplete());
        ASSERT_TRUE(form->ThreadedTimer1->Enabled());
    }
    bool WaitText(const char* box, const QString& text)
    {
        return WaitFor([&] { return Box(box)->text() == text; }, 3000);
    }
};

TEST_F(GaugesTest, BoxesStandInTheirGroupsWithTheirLabelsAsNames)
{
    struct Row {
        const char* group;   // nullptr: on the page itself
        const char* label;
        const char* box;
    };
    const Row rows[] = {
        {"!", "RPM:", "txtRPM"},
        {"!", "TPS:", "txtTPS"},
        {"!", "Fuel:", "txtFuel"},
        {"!", "Advance:", "txtAdvance"},
        {"Engine", "MAP (kPa)", "txtVacuum"},
        {"Engine", "Battery voltage:", "txtVolt"},
        {"Engine", "Acc:", "txtAcc"},
        {"Temperatures", "Air temp:", "txtAirTemp"},
        {"Temperatures", "Water temp:", "txtWaterTemp"},
        {"Temperatures", "Injection corr:", "txtFuelCorrection"},
        {"Temperatures", "Ignition corr:", "txtAdvCorrection"},
        {"Exhaust", "EGT:", "txtEGT"},
        {"Exhaust", "Lambda", "txtLambdaFloat"},
        {nullptr, "Wastegate", "txtPWM"},
        {nullptr, "Oil Pressure:", "txtOil"},
    };
    QWidget* page = form->TabSheet[3];
    const QList<QLabel*> labels = page->findChildren<QLabel*>();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.box);
        QLineEdit* edit = Box(row.box);
        ASSERT_NE(edit, nullptr);
        if (row.group) {
            auto* group = qobject_cast<QGroupBox*>(edit->parentWidget());
            ASSERT_NE(group, nullptr);
            EXPECT_EQ(group->title(), QLatin1String(row.group));
            EXPECT_EQ(group->parentWidget(), page);
        } else {
            EXPECT_EQ(edit->parentWidget(), page);
        }
        EXPECT_EQ(edit->accessibleName(), QLatin1String(row.label));
        const auto label = std::find_if(labels.begin(), labels.end(), [&](QLabel* l) { return l->buddy() == edit; });
        ASSERT_NE(label, labels.end());
        EXPECT_EQ((*label)->text(), QLatin1String(row.label));
        EXPECT_TRUE(edit->isVisible());
        EXPECT_EQ(edit->text(), QStringLiteral("0"));
        EXPECT_TRUE(edit->font().bold());
        // Read-only except the two boxes a tuner may type into.
        const bool typed = std::string_view(row.box) == "txtRPM" || std::string_view(row.box) == "txtFuel";
        EXPECT_EQ(edit->isReadOnly(), !typed);
    }
    EXPECT_EQ(Box("txtLambdaFloat")->font().pixelSize(), 27);
    EXPECT_TRUE(Box("txtLambda")->isHidden());
    EXPECT_EQ(Box("txtLambda")->text(), QStringLiteral("0"));
    // txtPOT belongs to the Setup page.
    QLineEdit* pot = Box("txtPOT");
    ASSERT_NE(pot, nullptr);
    EXPECT_FALSE(page->isAncestorOf(pot));
    EXPECT_FALSE(pot->isReadOnly());

    // The gauges where the exhaust and duty groups expect them.
    auto* exhaust = qobject_cast<QGroupBox*>(form->CGauge1->parentWidget());
    ASSERT_NE(exhaust, nullptr);
    EXPECT_EQ(exhaust->title(), QStringLiteral("Exhaust"));
    EXPECT_EQ(form->CGauge2->parentWidget(), exhaust);
    EXPECT_EQ(form->CGauge1->geometry(), QRect(184, 24, 49, 57));
    EXPECT_EQ(form->CGauge2->geometry(), QRect(184, 80, 49, 57));
    auto* duty = qobject_cast<QGroupBox*>(form->DutyGauge->parentWidget());
    ASSERT_NE(duty, nullptr);
    EXPECT_EQ(duty->title(), QStringLiteral("Duty"));
    EXPECT_EQ(form->DutyGauge->geometry(), QRect(32, 24, 177, 36));
    EXPECT_EQ(form->Button12->parentWidget(), page);
    EXPECT_EQ(form->Button13->parentWidget(), page);
    EXPECT_EQ(form->Button12->text(), QStringLiteral("Start Logging"));
    EXPECT_EQ(form->Button13->text(), QStringLiteral("Stop Logging"));

    // Nothing shown overlaps anything else, and all of it lies within the page.
    std::vector<std::pair<QString, QRect>> shown;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        QWidget* parent = w->parentWidget();
        const bool placed = parent == page || (qobject_cast<QGroupBox*>(parent) && parent->parentWidget() == page);
        if (!placed || !w->isVisible()) continue;
        const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
        EXPECT_TRUE(page->rect().contains(r)) << w->objectName().toStdString();
        shown.emplace_back(w->objectName(), r);
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const QRect& a = shown[i].second;
            const QRect& b = shown[j].second;
            if (a.contains(b) || b.contains(a)) continue;   // a group and what it holds
            // The two lambda bars share one frame line: the lean bar's bottom row is the rich bar's top.
            if (shown[i].first.startsWith(QStringLiteral("CGauge")) && shown[j].first.startsWith(QStringLiteral("CGauge")))
                continue;
            EXPECT_FALSE(a.intersects(b)) << shown[i].first.toStdString() << " / " << shown[j].first.toStdString();
        }
}

TEST_F(GaugesTest, GaugeSettingsAndStartStates)
{
    struct Expect {
        TCGauge* gauge;
        TCGaugeKind kind;
        bool text;
        QColor fore, back;
        int min, max, progress;
    };
    const Expect gauges[] = {
        {form->CGauge1, gkVerticalBar, false, QColor(0, 0, 255), QColor(255, 255, 255), 100, 150, 100},
        {form->CGauge2, gkVerticalBar, false, QColor(255, 255, 255), QColor(255, 0, 0), 50, 100, 50},
        {form->DutyGauge, gkHorizontalBar, true, QColor(0, 255, 0), QColor(0, 0, 0), 0, 100, 0},
    };
    for (const Expect& e : gauges) {
        SCOPED_TRACE(e.gauge->objectName().toStdString());
        EXPECT_EQ(e.gauge->Kind(), e.kind);
        EXPECT_EQ(e.gauge->ShowText(), e.text);
        EXPECT_EQ(e.gauge->ForeColor(), e.fore);
        EXPECT_EQ(e.gauge->BackColor(), e.back);
        EXPECT_EQ(e.gauge->MinValue(), e.min);
        EXPECT_EQ(e.gauge->MaxValue(), e.max);
        EXPECT_EQ(e.gauge->Progress(), e.progress);
        EXPECT_EQ(e.gauge->BorderStyle(), bsSingle);
    }
    EXPECT_EQ(form->DutyGauge->Font().pixelSize(), 11);
    // Until the first lambda value the lower bar is all red and the upper one empty.
    const QImage lower = form->CGauge2->RenderImage();
    EXPECT_EQ(lower.pixelColor(24, 2), QColor(255, 0, 0));
    EXPECT_EQ(lower.pixelColor(24, 54), QColor(255, 0, 0));
}

TEST_F(GaugesTest, LiveRepliesEndToEnd)
{
    ecu->SetLiveReply('A', 3000, 100);
    ecu->SetLiveReply('B', 95, 2);        // TPS 0.125 rounds half away from zero
    ecu->SetLiveReply('C', 576, 128);     // 18.00 ms at 3000 rpm: duty exactly 90
    ecu->SetLiveReply('D', 60, 115);
    ecu->SetLiveReply('E', 138, 7);
    ecu->SetLiveReply('F', 512, 87);
    ecu->SetLiveReply('G', 90, 105);
    ecu->SetLiveReply('H', 850, 20);
    ecu->SetStatusFlags(0x42);            // "Synced" and the sync error bit
    StartFixedPolling();

    ASSERT_TRUE(WaitText("txtOil", QStringLiteral("2")));
    ASSERT_TRUE(WaitFor([&] { return form->StatusBar1->PanelText(13) == QStringLiteral("66"); }, 3000));
    // Let a whole cycle pass after everything is in, so the duty has seen its final rpm.
    Pump(150);
    EXPECT_EQ(Box("txtRPM")->text(), QStringLiteral("3000"));
    EXPECT_EQ(Box("txtAdvance")->text(), QStringLiteral("0"));
    EXPECT_EQ(Box("txtVacuum")->text(), QStringLiteral("95"));
    EXPECT_EQ(Box("txtTPS")->text(), Dec("0", "13"));
    EXPECT_EQ(Box("txtPWM")->text(), QStringLiteral("50"));
    EXPECT_EQ(Box("txtFuel")->text(), Dec("18", "00"));
    EXPECT_EQ(Box("txtWaterTemp")->text(), QStringLiteral("85"));
    EXPECT_EQ(Box("txtAirTemp")->text(), QStringLiteral("30"));
    EXPECT_EQ(Box("txtVolt")->text(), Dec("13", "80"));
    EXPECT_EQ(Box("txtAcc")->text(), QStringLiteral("7"));
    EXPECT_EQ(Box("txtLambda")->text(), QStringLiteral("87"));
    EXPECT_EQ(Box("txtLambdaFloat")->text(), Dec("0", "87"));
    EXPECT_EQ(Box("txtPOT")->text(), QStringLiteral("512"));
    EXPECT_EQ(Box("txtAdvCorrection")->text(), QStringLiteral("5"));
    EXPECT_EQ(Box("txtFuelCorrection")->text(), QStringLiteral("-10"));
    EXPECT_EQ(Box("txtEGT")->text(), QStringLiteral("850"));
    EXPECT_EQ(form->DutyGauge->Progress(), 90);
    EXPECT_EQ(form->DutyGauge->accessibleDescription(), QStringLiteral("90%"));   // read out as drawn
    EXPECT_EQ(form->DutyGauge->ForeColor(), QColor(0, 255, 0));   // 90 is not above 90

    // Status flags: the sync error replaces "Synced"; the rest blank.
    EXPECT_EQ(form->StatusBar1->PanelText(6), QStringLiteral("SYNC ERROR"));
    for (int panel : {5, 7, 8, 9, 10}) EXPECT_EQ(form->StatusBar1->PanelText(panel), QStringLiteral("       ")) << panel;
    EXPECT_EQ(form->StatusBar1->PanelText(1), QStringLiteral("Version: 2.3"));   // from the read's 'v'

    // Oil in the general format; a hair over 90 % duty turns the bar red.
    ecu->SetLiveReply('H', 850, 25);
    ecu->SetLiveReply('C', 577, 255);
    ASSERT_TRUE(WaitText("txtOil", Dec("2", "5")));
    ASSERT_TRUE(WaitText("txtPWM", QStringLiteral("100")));
    EXPECT_EQ(form->DutyGauge->ForeColor(), QColor(255, 0, 0));
    EXPECT_EQ(form->DutyGauge->Progress(), 90);
    // Far past 100 % the bar is simply full.
    ecu->SetLiveReply('C', 640, 0);
    ASSERT_TRUE(WaitText("txtFuel", Dec("20", "00")));
    EXPECT_EQ(form->DutyGauge->Progress(), 100);
    EXPECT_EQ(form->BadReplyCount, 0);
}

TEST_F(GaugesTest, ANonNumberTypedIntoRpmCountsOneBadReplyAndLeavesTheDutyBar)
{
    ecu->SetLiveReply('A', 3000, 100);
    ecu->SetLiveReply('C', 64, 0);   // 2.00 ms at 3000 rpm: duty 10
    StartFixedPolling();
    ASSERT_TRUE(WaitFor([&] { return form->DutyGauge->Progress() == 10; }, 3000));
    // Stop polling, so that no 'a' reply writes the rpm back, then type into the box.
    QTest::keyClick(form.get(), Qt::Key_F5);
    Pump(50);
    const int badBefore = form->BadReplyCount;
    Box("txtRPM")->setText(QStringLiteral("3k"));

    ecu->SetLiveReply('C', 640, 128);
    form->SendCommand('C', 0, 0);
    ASSERT_TRUE(WaitFor([&] { return form->BadReplyCount == badBefore + 1; }, 3000));
    Pump(20);
    EXPECT_EQ(form->BadReplyCount, badBefore + 1);
    EXPECT_EQ(form->StatusBar1->PanelText(3), QString::number(badBefore + 1));
    // Both boxes of 'c' were written before the duty failed; the bar is as it was.
    EXPECT_EQ(Box("txtPWM")->text(), QStringLiteral("50"));
    EXPECT_EQ(Box("txtFuel")->text(), Dec("20", "00"));
    EXPECT_EQ(form->DutyGauge->Progress(), 10);
    EXPECT_EQ(form->DutyGauge->ForeColor(), QColor(0, 255, 0));
    EXPECT_EQ(Box("txtRPM")->text(), QStringLiteral("3k"));
}

TEST_F(GaugesTest, LambdaDisplay)
{
    struct Case {
        int raw;
        const char* whole;
        const char* fraction;
        int upper, lower;
    };
    const Case cases[] = {
        {100, "1", "00", 100, 100}, {99, "0", "99", 100, 99},  {150, "1", "50", 150, 100},
        {200, "2", "00", 150, 100}, {50, "0", "50", 100, 50},  {0, "0", "00", 100, 50},
        {123, "1", "23", 123, 100}, {255, "2", "55", 150, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        form->ProcessReply('f', 0, static_cast<uint8_t>(c.raw));
        EXPECT_EQ(form->txtLambda->text(), QString::number(c.raw));
        EXPECT_EQ(form->txtLambdaFloat->text(), Dec(c.whole, c.fraction));
        EXPECT_EQ(form->CGauge1->Progress(), c.upper);
        EXPECT_EQ(form->CGauge2->Progress(), c.lower);
    }
    // Lambda 0.99: the lower bar is white almost to the top, a red sliver above it.
    form->ProcessReply('f', 0, 99);
    const QImage lower = form->CGauge2->RenderImage();
    EXPECT_EQ(lower.pixelColor(24, 1), QColor(255, 0, 0));
    EXPECT_EQ(lower.pixelColor(24, 54), QColor(255, 255, 255));
    const QImage upper = form->CGauge1->RenderImage();
    EXPECT_EQ(upper.pixelColor(24, 54), QColor(255, 255, 255));   // lean bar empty

    // The same value again changes nothing and raises no change; a new one raises one change
    // of the ratio box (the handler's second run finds everything in place).
    int ratioChanges = 0;
    QObject::connect(form->txtLambdaFloat, &QLineEdit::textChanged, form.get(), [&] { ++ratioChanges; });
    const int paints = form->CGauge2->PaintCount();
    form->ProcessReply('f', 0, 99);
    EXPECT_EQ(ratioChanges, 0);
    EXPECT_EQ(form->CGauge2->PaintCount(), paints);
    form->ProcessReply('f', 0, 98);
    EXPECT_EQ(ratioChanges, 1);

    // A raw text that is not an integer leaves the display as it is.
    form->txtLambda->setText(QStringLiteral("rich"));
    EXPECT_EQ(form->txtLambdaFloat->text(), Dec("0", "98"));
    EXPECT_EQ(form->CGauge2->Progress(), 98);
    EXPECT_EQ(form->CGauge1->Progress(), 100);
}

TEST_F(GaugesTest, AnEqualTextIsNotWrittenAgain)
{
    QLineEdit* rpm = Box("txtRPM");
    int changes = 0;
    QObject::connect(rpm, &QLineEdit::textChanged, form.get(), [&] { ++changes; });
    form->ProcessReply('a', 3000, 100);
    form->ProcessReply('a', 3000, 100);
    EXPECT_EQ(changes, 1);
    // A tuner's cursor in the rpm box stays where it is while the value holds.
    rpm->setCursorPosition(1);
    form->ProcessReply('a', 3000, 100);
    EXPECT_EQ(rpm->cursorPosition(), 1);
    form->ProcessReply('a', 3100, 100);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(rpm->text(), QStringLiteral("3100"));
}

}  // namespace
