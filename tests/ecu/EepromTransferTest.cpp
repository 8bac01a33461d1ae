#include "ecu/EepromTransfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace transfer;

// Drives the walk the way the window does: each reply asks for the next address.
TEST(EepromRead, WholeWalkShowsEveryAddressAndCompletesOnce)
{
    std::vector<std::string> statuses;
    int stored = 0, completions = 0;
    uint16_t address = 0;
    for (int exchange = 0; exchange < 600; ++exchange) {
        const ReadStep step = OnReadReply(address);
        stored += step.store;
        if (step.status) statuses.push_back(*step.status);
        if (step.outcome == ReadStep::Complete) {
            ++completions;
            EXPECT_EQ(step.endStatus, "Status- ECU connected");
            break;
        }
        ASSERT_EQ(step.outcome, ReadStep::Next) << "address " << address;
        EXPECT_FALSE(step.endStatus);
        ASSERT_EQ(step.nextAddress, address + 1);
        address = step.nextAddress;
    }
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(stored, 500);
    ASSERT_EQ(statuses.size(), 500u);
    for (int a = 0; a < 500; ++a) EXPECT_EQ(statuses[std::size_t(a)], "Reading eeprom - " + std::to_string(a));
}

TEST(EepromRead, AddressAboveTheImageFailsWithoutStoring)
{
    for (uint16_t a : {uint16_t(500), uint16_t(0xFFFF)}) {
        const ReadStep step = OnReadReply(a);
        EXPECT_FALSE(step.store);
        EXPECT_FALSE(step.status);
        EXPECT_EQ(step.endStatus, "Status- error reading eeprom");
        EXPECT_EQ(step.outcome, ReadStep::Failed);
    }
}

TEST(EepromUpload, WholeWalkShowsEveryAddressAndCompletesOnce)
{
    std::vector<std::string> statuses;
    int completions = 0;
    uint16_t address = 0;
    for (int exchange = 0; exchange < 600; ++exchange) {
        const UploadStep step = OnWriteReply(address, true);
        EXPECT_TRUE(step.store);
        if (step.status) statuses.push_back(*step.status);
        if (step.outcome == UploadStep::Complete) {
            ++completions;
            EXPECT_EQ(step.endStatus, "Status- ECU connected");
            break;
        }
        ASSERT_EQ(step.outcome, UploadStep::Next) << "address " << address;
        ASSERT_EQ(step.nextAddress, address + 1);
        address = step.nextAddress;
    }
    EXPECT_EQ(completions, 1);
    ASSERT_EQ(statuses.size(), 500u);
    EXPECT_EQ(statuses.front(), "Uploading eeprom - 0");
    EXPECT_EQ(statuses.back(), "Uploading eeprom - 499");
}

// The echo of a single editor write only updates the image: no text, no next write.
TEST(EepromUpload, WithoutAnUploadAnEchoOnlyStores)
{
    for (uint16_t a : {uint16_t(0), uint16_t(452), uint16_t(499)}) {
        const UploadStep step = OnWriteReply(a, false);
        EXPECT_TRUE(step.store);
        EXPECT_FALSE(step.status);
        EXPECT_FALSE(step.endStatus);
        EXPECT_EQ(step.outcome, UploadStep::Stop);
    }
    EXPECT_FALSE(OnWriteReply(500, false).store);
}

TEST(EepromUpload, AddressAboveTheImageFailsWithoutStoring)
{
    const UploadStep step = OnWriteReply(500, true);
    EXPECT_FALSE(step.store);
    EXPECT_FALSE(step.status);
    EXPECT_EQ(step.endStatus, "Status- error reading eeprom");
    EXPECT_EQ(step.outcome, UploadStep::Failed);
}
