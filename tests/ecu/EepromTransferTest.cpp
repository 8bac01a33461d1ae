#include "ecu/EepromTransfer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace transfer;

TEST(EepromWalks, ReadAsksForEveryAddressFromItsStartToTheLast)
{
    const auto all = ReadSteps(0);
    ASSERT_EQ(all.size(), 500u);
    for (uint16_t a = 0; a < 500; ++a) EXPECT_EQ(all[a], (exchange::Step{'R', a, 0}));

    // The hidden button's walk: from 20, its first frame carrying 14.
    const auto from20 = ReadSteps(20, 14);
    ASSERT_EQ(from20.size(), 480u);
    EXPECT_EQ(from20.front(), (exchange::Step{'R', 20, 14}));
    EXPECT_EQ(from20[1], (exchange::Step{'R', 21, 0}));
    EXPECT_EQ(from20.back(), (exchange::Step{'R', 499, 0}));

    // A read resumed at the last address asks for it alone.
    EXPECT_EQ(ReadSteps(499).size(), 1u);
}

TEST(EepromWalks, UploadWritesTheImageAsItWasWhenTheUploadBegan)
{
    std::array<uint8_t, 500> image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const auto steps = UploadSteps(image.data());
    image.fill(0);   // later changes of the image do not reach the steps
    ASSERT_EQ(steps.size(), 500u);
    for (uint16_t a = 0; a < 500; ++a) EXPECT_EQ(steps[a], (exchange::Step{'W', a, static_cast<uint8_t>(a * 7 + 3)}));
}

TEST(EepromWalks, TextsOfProgressEndAndFailure)
{
    EXPECT_EQ(ReadProgressText(0), "Reading eeprom - 0");
    EXPECT_EQ(UploadProgressText(499), "Uploading eeprom - 499");
    EXPECT_EQ(ReadStoppedText(181), "Status- read stopped at 181");
    EXPECT_EQ(UploadFailedText(10), "Status- upload failed at 10");
    EXPECT_EQ(WriteFailedText(443), "Status- write to 443 failed");
    // Every panel text begins with "Status- " and leaves the idle "Status- ECU connected" to the idle link.
    EXPECT_EQ(UploadDoneText(0), "Status- upload complete");
    EXPECT_EQ(UploadDoneText(1), "Status- uploaded, 1 byte differs");
    EXPECT_EQ(UploadDoneText(3), "Status- uploaded, 3 bytes differ");
}

TEST(EepromWalks, FailedUploadSaysWhatTheEcuHolds)
{
    const std::string none = UploadFailedMessage(0, false);
    EXPECT_NE(none.find("did not answer at address 0"), std::string::npos) << none;
    EXPECT_NE(none.find("holds none of the file"), std::string::npos) << none;

    const std::string part = UploadFailedMessage(181, false);
    EXPECT_NE(part.find("first 181 bytes of the file (addresses 0 to 180)"), std::string::npos) << part;
    EXPECT_NE(part.find("old values after them"), std::string::npos) << part;
    EXPECT_NE(part.find("Load the file again"), std::string::npos) << part;

    EXPECT_NE(UploadFailedMessage(5, true).find("broken off at address 5"), std::string::npos);
    // An echo within the part sent that named another byte is not said to hold the file's.
    const std::string other = UploadFailedMessage(181, false, {}, {{30, 9}, {200, 1}});
    EXPECT_NE(other.find("(addresses 0 to 180), except at address 30, where it reported storing another byte, and its old"),
              std::string::npos) << other;

    // Stopped on purpose at 120: every address falls in exactly one sentence, an echo that named
    // another byte and an address in doubt beyond the stop included.
    std::array<uint8_t, MemorySize> file{};
    file.fill(7);
    UploadCheck check;
    check.Begin(file.data(), false);
    for (uint16_t a = 0; a < 120; ++a) check.Echo(a, a == 30 ? 9 : 7);
    check.Doubt(119);
    check.Doubt(120);
    check.Doubt(300);   // an echo nobody asked for named it
    const std::string stopped = check.StoppedMessage(120);
    EXPECT_NE(stopped.find("stopped at address 120"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("file's bytes at addresses 0 to 29, 31 to 118 (confirmed)"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("may hold the file's bytes at addresses 119, 120, 300 (sent"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("other bytes than the file at address 30 (9, the file 7)"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("old values at addresses 121 to 299, 301 to 499."), std::string::npos) << stopped;
}
