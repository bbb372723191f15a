// The input thread's own loop and its timers, on the real kernel's epoll,
// eventfd and timerfd (no devices needed).
#include "platform/input/EventLoop.h"
#include "platform/input/LoopTimer.h"

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quillmere::input {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// An eventfd that stays readable: its handler counts the loop's rounds, so
// that a test can tell which timer ticks ran in one go.
struct RoundCounter {
    explicit RoundCounter(EventLoop& loop) : loop(loop), fd(eventfd(1, EFD_CLOEXEC)) {
        loop.watch(fd, [this] { ++rounds; });
    }
    ~RoundCounter() {
        loop.unwatch(fd);
        ::close(fd);
    }
    EventLoop& loop;
    int fd;
    int rounds = 0;
};

// Runs the loop on this thread until done() holds after a handler, or the
// time is up (then false).
template <typename Done> bool runUntil(EventLoop& loop, LoopTimerFactory& timers, Done done) {
    bool met = false;
    auto check = timers.scheduleRepeating(0ms, 1ms, [&] {
        if ((met = done()))
            loop.quit();
    });
    auto limit = timers.scheduleRepeating(5s, 0ms, [&] { loop.quit(); });
    loop.run();
    return met;
}

TEST(LoopTimer, TicksKeepAbsoluteDeadlinesAndLateTicksAreCaughtUpInOneGo) {
    EventLoop loop;
    LoopTimerFactory timers(loop);
    RoundCounter counter(loop);
    struct Tick {
        Clock::duration at;
        int round;
    };
    std::vector<Tick> ticks;
    const auto start = Clock::now();
    auto timer = timers.scheduleRepeating(30ms, 10ms, [&] {
        ticks.push_back({Clock::now() - start, counter.rounds});
        // The second tick (due at 40 ms) holds the loop up past 95 ms, over
        // the deadlines of ticks 3 to 7.
        if (ticks.size() == 2)
            std::this_thread::sleep_for(55ms);
    });
    ASSERT_TRUE(runUntil(loop, timers, [&] { return ticks.size() >= 10; }));
    // Tick n is due at 30 + 10 (n - 1) ms from the start, not from the tick
    // before, and never runs early.
    for (std::size_t n = 0; n < ticks.size(); ++n)
        EXPECT_GE(ticks[n].at, 30ms + n * 10ms) << "tick " << n + 1;
    // Ticks 3 to 7 fell due during the hold-up: they ran together right
    // after it instead of being pushed back one interval after another.
    std::set<int> rounds;
    for (std::size_t n = 2; n <= 6; ++n)
        rounds.insert(ticks[n].round);
    EXPECT_LE(rounds.size(), 2u) << "late ticks were deferred";
}

TEST(LoopTimer, CancelledTimersStayQuietATickMayEndItsOwnTimerAndZeroIntervalTicksOnce) {
    EventLoop loop;
    LoopTimerFactory timers(loop);
    int cancelledTicks = 0;
    auto cancelled = timers.scheduleRepeating(1ms, 1ms, [&] { ++cancelledTicks; });
    cancelled->cancel();

    int selfTicks = 0;
    std::unique_ptr<RepeatingTimer> self;
    // State the handler owns would dangle if the timer's end freed it
    // mid-call (the sanitizer build catches that).
    auto payload = std::make_shared<int>(7);
    self = timers.scheduleRepeating(2ms, 1ms, [&, payload] {
        ++selfTicks;
        std::this_thread::sleep_for(5ms); // several expirations pile up
        self.reset();
        EXPECT_EQ(*payload, 7);
    });
    int onceTicks = 0;
    auto once = timers.scheduleRepeating(0ms, 0ms, [&] { ++onceTicks; });
    // A later timer's first tick shows the earlier ones had their chance.
    bool later = false;
    auto marker = timers.scheduleRepeating(40ms, 0ms, [&] { later = true; });
    ASSERT_TRUE(runUntil(loop, timers, [&] { return later; }));
    EXPECT_EQ(selfTicks, 1) << "piled-up ticks ran after the timer was destroyed";
    EXPECT_EQ(cancelledTicks, 0);
    EXPECT_EQ(onceTicks, 1);
}

TEST(EventLoop, WorkHandedOverFromOtherThreadsRunsOnTheLoopInOrderAndIsWaitedFor) {
    EventLoop loop;
    std::thread owner([&] { loop.run(); });
    long counter = 0; // only ever touched on the loop's thread
    std::vector<int> order;
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int i = 0; i < 200; ++i) {
                loop.runAndWait([&] {
                    EXPECT_TRUE(loop.inLoopThread());
                    ++counter;
                });
                loop.post([&order, c] { order.push_back(c); });
            }
        });
    for (std::thread& caller : callers)
        caller.join();
    long seen = 0;
    loop.runAndWait([&] { seen = counter; });
    EXPECT_EQ(seen, 800);
    loop.quit();
    owner.join();
    // Posts from one thread keep their order; all of them ran before the end.
    EXPECT_EQ(order.size(), 800u);
    // Once the loop has ended, work runs at once on the caller's thread.
    bool ran = false;
    loop.runAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(EventLoop, HandlersMayUnwatchThemselvesAndOthersAndAFailureEndsTheLoop) {
    EventLoop loop;
    int a = eventfd(1, EFD_CLOEXEC);
    int b = eventfd(1, EFD_CLOEXEC);
    int aCalls = 0;
    int bCalls = 0;
    // Whichever runs first takes both out: the other must not run, even
    // though it was ready in the same round.
    loop.watch(a, [&] {
        ++aCalls;
        loop.unwatch(a);
        loop.unwatch(b);
    });
    loop.watch(b, [&] {
        ++bCalls;
        loop.unwatch(a);
        loop.unwatch(b);
    });
    // Work that throws ends the loop with the exception; the thread that
    // handed it over is not left waiting, and later work never runs.
    std::string failure;
    std::thread owner([&] {
        try {
            loop.run();
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
    });
    loop.runAndWait([] {}); // a and b were ready from the first round: it is over
    loop.runAndWait([] { throw std::runtime_error("broken handler"); });
    owner.join();
    EXPECT_EQ(failure, "broken handler");
    bool ranAfterFailure = false;
    loop.runAndWait([&] { ranAfterFailure = true; });
    EXPECT_FALSE(ranAfterFailure);
    EXPECT_EQ(aCalls + bCalls, 1);
    ::close(a);
    ::close(b);
}

} // namespace
} // namespace quillmere::input
