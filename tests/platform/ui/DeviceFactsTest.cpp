#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/ui/Device.h"
#include "platform/ui/Pasteboard.h"

using namespace platform;

namespace {

class DeviceFactsTest : public ::testing::Test {
protected:
    void TearDown() override {
        Device::resetForTesting();
        Pasteboard::resetForTesting();
    }
    Device& device = Device::current();
};

TEST_F(DeviceFactsTest, BatteryReadsUnknownUntilMonitoringIsOn) {
    Device::setBatteryReading(BatteryReading{0.75f, DeviceBatteryState::Charging});
    EXPECT_FALSE(device.isBatteryMonitoringEnabled());
    EXPECT_EQ(device.batteryLevel(), -1.0f);
    EXPECT_EQ(device.batteryState(), DeviceBatteryState::Unknown);

    device.setBatteryMonitoringEnabled(true);
    EXPECT_EQ(device.batteryLevel(), 0.75f);
    EXPECT_EQ(device.batteryState(), DeviceBatteryState::Charging);

    struct Case {
        float given;
        float read;
    };
    for (auto c : {Case{0.0f, 0.0f}, Case{1.0f, 1.0f}, Case{1.5f, -1.0f}, Case{-0.2f, -1.0f},
                   Case{std::numeric_limits<float>::quiet_NaN(), -1.0f}}) {
        Device::setBatteryReading(BatteryReading{c.given, DeviceBatteryState::Unplugged});
        EXPECT_EQ(device.batteryLevel(), c.read) << c.given;
    }

    Device::resetForTesting();
    EXPECT_FALSE(device.isBatteryMonitoringEnabled());
    EXPECT_TRUE(device.isMultitaskingSupported());
}

TEST_F(DeviceFactsTest, GeneralPasteboardKeepsTheLastTextFromAnyThread) {
    auto& board = Pasteboard::generalPasteboard();
    EXPECT_EQ(&board, &Pasteboard::generalPasteboard());
    EXPECT_FALSE(board.string());
    board.setString("tel:555-0100");
    EXPECT_EQ(board.string(), "tel:555-0100");
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&board, i] {
            for (int k = 0; k < 100; ++k)
                board.setString("writer " + std::to_string(i));
        });
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(board.string()->rfind("writer ", 0), 0u);
    board.setString("");
    EXPECT_EQ(board.string(), "");
}

} // namespace
