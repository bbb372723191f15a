// The input thread's own loop and its timers, on the real kernel's epoll,
// eventfd and timerfd (no devices needed).
#include "platform/input/EventLoop.h"
#include "platform/input/LoopTimer.h"

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quillmere::input {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
    // An eventfd that stays readable: its handler counts the loop's rounds,
    // which tells the ticks that ran in one go.
    const int fd = eventfd(1, EFD_CLOEXEC);
    int round = 0;
    loop.watch(fd, [&] { ++round; });
    std::vector<std::pair<Clock::duration, int>> ticks; // when, in which round
    const auto start = Clock::now();
    auto timer = timers.scheduleRepeating(30ms, 10ms, [&] {
        ticks.emplace_back(Clock::now() - start, round);
        // The second tick (due at 40 ms) holds the loop up past 95 ms, over
        // the deadlines of ticks 3 to 7.
        if (ticks.size() == 2)
            std::this_thread::sleep_for(55ms);
    });
    ASSERT_TRUE(runUntil(loop, timers, [&] { return ticks.size() >= 10; }));
    loop.unwatch(fd);
    ::close(fd);
    // Tick n is due at 30 + 10 (n - 1) ms from the start, not from the tick
    // before, and never runs early.
    for (std::size_t n = 0; n < ticks.size(); ++n)
        EXPECT_GE(ticks[n].first, 30ms + n * 10ms) << "tick " << n + 1;
    // Ticks 3 to 7 fell due during the hold-up: they ran together right
    // after it instead of being pushed back one interval after another.
    std::set<int> rounds;
    for (std::size_t n = 2; n <= 6; ++n)
        rounds.insert(ticks[n].second);
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
    long counter = 0;           // only ever touched on the loop's thread
    std::vector<int> posted[4]; // likewise, one list per posting thread
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int i = 0; i < 200; ++i) {
                loop.runAndWait([&] {
                    EXPECT_TRUE(loop.inLoopThread());
                    ++counter;
                });
                loop.post([&posted, c, i] { posted[c].push_back(i); });
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
    for (const std::vector<int>& list : posted)
        EXPECT_TRUE(list.size() == 200 && std::is_sorted(list.begin(), list.end()));
    // Once the loop has ended, work runs at once on the caller's thread.
    bool ran = false;
    loop.runAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(EventLoop, HandlersMayUnwatchThemselvesAndOthersAndAFailureEndsTheLoop) {
    EventLoop loop;
    const int fds[] = {eventfd(1, EFD_CLOEXEC), eventfd(1, EFD_CLOEXEC)};
    int calls = 0;
    // Whichever runs first takes both out: the other must not run, even
    // though it was ready in the same round.
    for (int fd : fds)
        loop.watch(fd, [&] {
            ++calls;
            loop.unwatch(fds[0]);
            loop.unwatch(fds[1]);
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
    loop.runAndWait([] {}); // both were ready from the first round: it is over
    loop.runAndWait([] { throw std::runtime_error("broken handler"); });
    owner.join();
    EXPECT_EQ(failure, "broken handler");
    bool ranAfterFailure = false;
    loop.runAndWait([&] { ranAfterFailure = true; });
    EXPECT_FALSE(ranAfterFailure);
    EXPECT_EQ(calls, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
} // namespace quillmere::input
