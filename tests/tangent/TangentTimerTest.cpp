// TGTimer on the manual clock: one-shot waits, the immediate action at interval 0, and stops.
#include <gtest/gtest.h>

#include "support/ManualClockScope.h"
#include "tangent/TGTimer.h"

using tangent::TGTimer;

namespace {

struct Counter {
    int fired = 0;
    void timeComplete(TGTimer&) { ++fired; }
};

} // namespace

TEST(TangentTimer, OneShotWaitsAndStops) {
    fwtest::ManualClockScope clock;
    auto counter = std::make_shared<Counter>();
    auto timer = TGTimer::create(std::weak_ptr<Counter>(counter), &Counter::timeComplete);

    timer->startTimer(); // interval 0: at once, synchronously
    EXPECT_EQ(counter->fired, 1);
    EXPECT_FALSE(timer->isActive());

    timer->setInterval(-3);
    EXPECT_EQ(timer->interval(), 0);
    timer->setInterval(2);
    timer->startTimer();
    EXPECT_TRUE(timer->isActive());
    clock.advance(1.9);
    EXPECT_EQ(counter->fired, 1);
    clock.advance(0.1);
    EXPECT_EQ(counter->fired, 2);
    EXPECT_FALSE(timer->isActive());
    clock.advance(10);
    EXPECT_EQ(counter->fired, 2); // one-shot

    timer->startTimer();
    timer->setInterval(0); // storing 0 stops a running wait
    EXPECT_FALSE(timer->isActive());
    timer->setInterval(2);
    timer->startTimer();
    timer->stopTimer();
    clock.advance(5);
    EXPECT_EQ(counter->fired, 2);

    timer->startTimer();
    timer.reset(); // a freed timer never fires
    clock.advance(5);
    EXPECT_EQ(counter->fired, 2);
}

TEST(TangentTimer, ActionMayRestartTheTimer) {
    fwtest::ManualClockScope clock;
    struct Restarter {
        int fired = 0;
        void timeComplete(TGTimer& timer) {
            if (++fired < 3)
                timer.startTimer();
        }
    };
    auto target = std::make_shared<Restarter>();
    auto timer = TGTimer::create(std::weak_ptr<Restarter>(target), &Restarter::timeComplete);
    timer->setInterval(1);
    timer->startTimer();
    clock.advance(1);
    EXPECT_TRUE(timer->isActive());
    clock.advance(1);
    clock.advance(1);
    EXPECT_EQ(target->fired, 3);
    EXPECT_FALSE(timer->isActive());
}
