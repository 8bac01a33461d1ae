#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTabBar>

#include <vector>

#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

const std::vector<int> kWidths{60, 80, 160, 60, 60, 50, 75, 40, 40, 50, 40, 40, 40, 30};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST(StatusBar, PanelsKeepTheirWidthsInOrder)
{
    StatusBar bar(kWidths);
    bar.resize(1200, bar.height());
    bar.show();
    ASSERT_EQ(bar.PanelCount(), 14);
    int left = -1;
    for (int i = 0; i < bar.PanelCount(); ++i) {
        EXPECT_EQ(bar.Panel(i)->width(), kWidths[size_t(i)]) << "panel " << i;
        EXPECT_GT(bar.Panel(i)->x(), left);
        left = bar.Panel(i)->x();
        EXPECT_EQ(bar.Panel(i)->accessibleName(), QString("Status panel %1").arg(i));
    }
}

TEST(StatusBar, ATextTooWideForItsPanelWidensItWhileShown)
{
    StatusBar bar(kWidths);
    bar.resize(1200, bar.height());
    QLabel* narrow = bar.Panel(3);
    const int nextLeft = bar.Panel(4)->x();
    const QString error = "Status- error opening file";
    bar.SetPanelText(3, error);
    EXPECT_GT(narrow->width(), 60);
    EXPECT_LE(narrow->fontMetrics().horizontalAdvance(error), narrow->contentsRect().width() - narrow->indent());
    // The panels right of it move along rather than cover its end.
    EXPECT_EQ(bar.Panel(4)->x() - nextLeft, narrow->width() - 60);
    EXPECT_EQ(bar.Panel(4)->width(), 60);

    bar.SetPanelText(3, "7");
    EXPECT_EQ(narrow->width(), 60);
    EXPECT_EQ(bar.Panel(4)->x(), nextLeft);
}

TEST(StatusBar, TextsArePlainAndRewritingTheSameTextPaintsNothing)
{
    StatusBar bar(kWidths);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    bar.SetPanelText(2, "Status- ECO  NOT connected");
    bar.SetPanelText(3, "<b>1</b>");
    bar.SetPanelText(14, "nowhere");
    EXPECT_EQ(bar.PanelText(2), "Status- ECO  NOT connected");
    EXPECT_EQ(bar.Panel(2)->accessibleDescription(), "Status- ECO  NOT connected");
    EXPECT_EQ(bar.Panel(3)->textFormat(), Qt::PlainText);
    EXPECT_EQ(bar.PanelText(14), "");
    QApplication::processEvents();

    PaintCounter counter;
    bar.Panel(2)->installEventFilter(&counter);
    bar.SetPanelText(2, "Status- ECO  NOT connected");
    bar.SetColor(StatusBar::ButtonFace());
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    bar.SetPanelText(2, "Status- ECU connected");
    QApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
}

TEST(StatusBar, ColourFillsTheWholeBar)
{
    StatusBar bar(kWidths);
    bar.resize(1000, bar.height());
    EXPECT_EQ(bar.Color(), StatusBar::ButtonFace());
    EXPECT_EQ(StatusBar::ButtonFace(), QApplication::palette().color(QPalette::Button));
    bar.SetColor(Qt::red);
    EXPECT_EQ(bar.Color(), QColor(Qt::red));
    // Right of the last panel and inside a panel, the bar shows its colour.
    const QImage image = bar.grab().toImage();
    EXPECT_EQ(image.pixelColor(990, bar.height() / 2), QColor(Qt::red));
    const QRect panel = bar.Panel(4)->geometry();
    EXPECT_EQ(image.pixelColor(panel.center()), QColor(Qt::red));
    bar.SetColor(StatusBar::ButtonFace());
    EXPECT_EQ(bar.grab().toImage().pixelColor(990, bar.height() / 2), StatusBar::ButtonFace());
}

TEST(PageControl, OnlyTheUsersPageChangesRaiseOnChange)
{
    PageControl pages;
    int changes = 0;
    pages.OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &pages);
        ++changes;
    };
    for (const char* caption : {"Temp", "Fuel", "Ignition", "Gauges"})
        pages.addTab(new QWidget, caption);
    pages.resize(400, 300);
    pages.show();
    EXPECT_EQ(changes, 0);   // adding pages moved the current page, the user did not

    pages.SetActivePageIndex(3);
    EXPECT_EQ(pages.ActivePageIndex(), 3);
    EXPECT_EQ(changes, 0);

    QTabBar* bar = pages.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(pages.ActivePageIndex(), 1);
    EXPECT_EQ(changes, 1);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(changes, 1);   // the page shown already: no change
    QTest::keyClick(&pages, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pages.ActivePageIndex(), 2);
    EXPECT_EQ(changes, 2);

    pages.removeTab(2);   // the page shown goes away: the program's doing
    pages.addTab(new QWidget, "Logging");
    EXPECT_EQ(changes, 2);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_EQ(changes, 3);
}

}  // namespace
