#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/Accelerometer.h"
#include "support/ManualClockScope.h"

using namespace platform;

namespace {

struct Reading {
    double x, y, z, at;
};

class Recorder : public AccelerometerDelegate {
public:
    std::vector<Reading> readings;
    std::function<void(Accelerometer&)> onReading;
    void accelerometerDidAccelerate(Accelerometer& a, const Acceleration& r) override {
        readings.push_back({r.x, r.y, r.z, r.timestamp});
        if (onReading)
            onReading(a);
    }
};

class AccelerometerTest : public ::testing::Test {
protected:
    void SetUp() override { Accelerometer::resetForTesting(); }
    void TearDown() override { Accelerometer::resetForTesting(); }
    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    fwtest::ManualClockScope clock;
};

TEST_F(AccelerometerTest, InjectedReadingsArriveOnePerIntervalInOrder) {
    auto recorder = std::make_shared<Recorder>();
    accelerometer.setUpdateInterval(0.25);
    accelerometer.setDelegate(recorder);
    const double start = clock.clock().monotonic();
    accelerometer.injectAcceleration(0.1, 0.2, -1.0);
    accelerometer.injectAcceleration(1.5, -0.5, 0.0);
    accelerometer.injectAcceleration(0.0, 0.0, -1.0);

    clock.drain();
    EXPECT_TRUE(recorder->readings.empty()); // nothing before the first interval
    clock.advance(0.24);
    EXPECT_TRUE(recorder->readings.empty());
    clock.advance(0.01);
    ASSERT_EQ(recorder->readings.size(), 1u);
    clock.advance(1.0);
    ASSERT_EQ(recorder->readings.size(), 3u);
    const Reading expected[] = {{0.1, 0.2, -1.0, 0.25}, {1.5, -0.5, 0.0, 0.5}, {0.0, 0.0, -1.0, 0.75}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(recorder->readings[i].x, expected[i].x);
        EXPECT_EQ(recorder->readings[i].y, expected[i].y);
        EXPECT_EQ(recorder->readings[i].z, expected[i].z);
        EXPECT_DOUBLE_EQ(recorder->readings[i].at - start, expected[i].at) << "reading " << i;
    }
    EXPECT_EQ(accelerometer.pendingReadingCount(), 0u);
    // At rest nothing more arrives.
    clock.advance(10);
    EXPECT_EQ(recorder->readings.size(), 3u);
}

TEST_F(AccelerometerTest, IntervalChangesAndTheFastestRate) {
    auto recorder = std::make_shared<Recorder>();
    accelerometer.setDelegate(recorder);
    // The default interval (0) and anything shorter than the fastest rate read as that rate.
    EXPECT_EQ(accelerometer.updateInterval(), 0);
    for (int i = 0; i < 3; ++i)
        accelerometer.injectAcceleration(i, 0, 0);
    clock.advance(Accelerometer::kMinimumUpdateInterval * 3);
    EXPECT_EQ(recorder->readings.size(), 3u);

    // A delegate that changes the interval from inside a reading changes the next ones.
    recorder->readings.clear();
    accelerometer.setUpdateInterval(1.0 / 60);
    recorder->onReading = [](Accelerometer& a) { a.setUpdateInterval(2.0); };
    accelerometer.injectAcceleration(1, 1, 1);
    accelerometer.injectAcceleration(2, 2, 2);
    clock.advance(1.0 / 60);
    ASSERT_EQ(recorder->readings.size(), 1u);
    clock.advance(1.9);
    EXPECT_EQ(recorder->readings.size(), 1u);
    clock.advance(0.1);
    EXPECT_EQ(recorder->readings.size(), 2u);
}

TEST_F(AccelerometerTest, ReadingsStopWithTheirListener) {
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    accelerometer.setUpdateInterval(0.1);

    // No listener: a reading goes nowhere and is not kept for a later one.
    accelerometer.injectAcceleration(9, 9, 9);
    EXPECT_EQ(accelerometer.pendingReadingCount(), 0u);

    accelerometer.setDelegate(first);
    accelerometer.injectAcceleration(1, 0, 0);
    accelerometer.injectAcceleration(2, 0, 0);
    clock.advance(0.1);
    ASSERT_EQ(first->readings.size(), 1u);
    // Handing the accelerometer to another listener drops what was meant for the first.
    accelerometer.setDelegate(second);
    clock.advance(1);
    EXPECT_EQ(first->readings.size(), 1u);
    EXPECT_TRUE(second->readings.empty());

    // A listener that goes away (or is cleared) stops the readings; nothing dangles.
    accelerometer.injectAcceleration(3, 0, 0);
    second.reset();
    clock.advance(1);
    EXPECT_EQ(accelerometer.pendingReadingCount(), 0u);
    EXPECT_FALSE(accelerometer.delegate());

    // Setting the same listener again keeps its readings.
    accelerometer.setDelegate(first);
    accelerometer.injectAcceleration(4, 0, 0);
    accelerometer.setDelegate(first);
    clock.advance(0.1);
    ASSERT_EQ(first->readings.size(), 2u);
    EXPECT_EQ(first->readings.back().x, 4);
}

} // namespace
