// Momentum timers on timerfd, driven by the real Qt event loop.
#include "platform/TimerfdTimer.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace quillmere {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs the Qt loop until the predicate holds or the time is up; counts the
// passes through the loop so that tests can tell which ticks ran together.
int pumpPass = 0;
template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        ++pumpPass;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        std::this_thread::sleep_for(200us);
    }
    return true;
}

TEST(TimerfdTimer, TicksKeepTheirAbsoluteDeadlinesAndLateTicksAreCaughtUp) {
    TimerfdTimerFactory factory;
    struct Tick {
        Clock::duration at;
        int pass;
    };
    std::vector<Tick> ticks;
    const auto start = Clock::now();
    auto timer = factory.scheduleRepeating(30ms, 10ms, [&] {
        ticks.push_back({Clock::now() - start, pumpPass});
        // The second tick (due at 40 ms) holds the loop up past 95 ms, over
        // the deadlines of ticks 3 to 7.
        if (ticks.size() == 2)
            std::this_thread::sleep_for(55ms);
    });
    ASSERT_TRUE(pumpUntil([&] { return ticks.size() >= 12; }));
    timer.reset();
    // No tick ran before its deadline: tick n is due at 30 + 10 (n - 1) ms,
    // counted from the start, not from the tick before.
    for (std::size_t n = 0; n < ticks.size(); ++n)
        EXPECT_GE(ticks[n].at, 30ms + n * 10ms) << "tick " << n + 1;
    // Ticks 3 to 7 fell due during the hold-up: they ran at once, right
    // after it (some maybe with tick 2, when the loop came late to it),
    // instead of being pushed back one interval after another.
    std::set<int> passes;
    for (std::size_t n = 2; n <= 6; ++n)
        passes.insert(ticks[n].pass);
    EXPECT_LE(passes.size(), 2u) << "late ticks were deferred";
}

TEST(TimerfdTimer, CancelStopsTicksAndATickMayDestroyItsOwnTimer) {
    TimerfdTimerFactory factory;
    int cancelledTicks = 0;
    auto cancelled = factory.scheduleRepeating(1ms, 1ms, [&] { ++cancelledTicks; });
    cancelled->cancel();

    int selfTicks = 0;
    std::unique_ptr<RepeatingTimer> self;
    // The handler owns state that would dangle if the timer's death freed
    // it mid-call (caught by the sanitizer build).
    auto payload = std::make_shared<int>(7);
    self = factory.scheduleRepeating(2ms, 1ms, [&, payload] {
        ++selfTicks;
        std::this_thread::sleep_for(5ms); // several expirations pile up
        self.reset();
        EXPECT_EQ(*payload, 7);
    });
    ASSERT_TRUE(pumpUntil([&] { return selfTicks > 0; }));
    pumpUntil([] { return false; }, 30ms);
    EXPECT_EQ(selfTicks, 1) << "piled-up ticks ran after the timer was destroyed";
    EXPECT_EQ(cancelledTicks, 0);
}

TEST(TimerfdTimer, ZeroIntervalTicksOnceAndZeroDelayTicksAtOnce) {
    TimerfdTimerFactory factory;
    int ticks = 0;
    auto timer = factory.scheduleRepeating(0ms, 0ms, [&] { ++ticks; });
    ASSERT_TRUE(pumpUntil([&] { return ticks > 0; }, 1000ms));
    pumpUntil([] { return false; }, 30ms);
    EXPECT_EQ(ticks, 1);
}

} // namespace
} // namespace quillmere
