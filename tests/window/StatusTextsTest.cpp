// The window's font against the status bar's fixed panel widths: every text the program
// writes into a panel must be readable whole. Run as well at QT_SCALE_FACTOR=2 (see
// CMakeLists.txt), where fonts and widths scale together but round differently.
#include <QFontInfo>
#include <QLabel>

#include <utility>
#include <vector>

#include "ecu/Polling.h"
#include "tests/window/WindowFixture.h"
#include "ui/StatusBar.h"

namespace {

class StatusTextsTest : public WindowTest {};

TEST_F(StatusTextsTest, EveryStatusTextFitsItsPanelInTheWindowFont)
{
    StatusBar* bar = form->StatusBar1;
    const QFontInfo font(bar->Panel(2)->font());
    EXPECT_EQ(font.pointSize(), 8) << font.family().toStdString();
    std::vector<int> given;
    for (int i = 0; i < bar->PanelCount(); ++i) given.push_back(bar->Panel(i)->width());

    using polling::TextConnected, polling::TextLinkLost, polling::TextNotConnected, polling::TextReadError;
    const std::vector<std::pair<int, QString>> texts = {
        {0, QStringLiteral("23:59:59")},
        {0, TForm1::ClockText()},
        {1, QStringLiteral("Version: 25.5")},
        {2, QString::fromLatin1(TextNotConnected)},
        {2, QString::fromLatin1(TextConnected)},
        {2, QString::fromLatin1(TextLinkLost)},
        {2, QString::fromLatin1(TextReadError)},
        {2, QString::fromLatin1(polling::TextReading) + QStringLiteral("499")},
        {2, QString::fromLatin1(polling::TextUploading) + QStringLiteral("499")},
        {3, QStringLiteral("99999")},
        {4, QStringLiteral("LOGGING")},
        {5, QStringLiteral("Trigged")},
        {6, QStringLiteral("Synced")},
        {6, QStringLiteral("SYNC ERROR")},
        {7, QStringLiteral("Pump")},
        {8, QStringLiteral("Fan")},
        {9, QStringLiteral("Launch")},
        {10, QStringLiteral("Als")},
        {13, QStringLiteral("255")},
    };
    for (const auto& [panel, text] : texts) {
        bar->SetPanelText(panel, text);
        QLabel* label = bar->Panel(panel);
        // Drawn whole in the panel as it was laid out, not in one widened for it.
        EXPECT_EQ(label->width(), given[size_t(panel)]) << text.toStdString();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width() - label->indent())
            << "\"" << text.toStdString() << "\" in panel " << panel << ", font " << font.family().toStdString();
    }
    // "Status- error opening file" is left out: no 8-point font fits it into panel 3's
    // 60 pixels, so that panel widens while it shows it (tests/ui/StatusBarTest.cpp).
}

}  // namespace
