// The input thread: its own loop and timers on the real kernel's epoll,
// eventfd and timerfd (no devices needed), settings published to it whole,
// the engine living on it while another thread switches it, and a failure
// that ends the process. This file also runs in the ThreadSanitizer build.
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/input/InputThread.h"
#include "platform/input/QueuedLog.h"
#include "support/FakeEventServices.h"
#include "support/LogCapture.h"
#include "support/ManualTimerFactory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quillmere::input {
namespace {

using namespace std::chrono_literals;

// A timer's deadlines are absolute and the loop reads each timer once per
// round, so ticks that fell due meanwhile run together in that round: with
// an interval of a nanosecond, many are due at every read.
TEST(LoopTimer, TicksDueTogetherRunInOneGoUntilTheTimerEnds) {
    EventLoop loop;
    LoopTimerFactory timers(loop);
    // An eventfd that stays readable: its handler counts the loop's rounds.
    const int fd = eventfd(1, EFD_CLOEXEC);
    int round = 0;
    loop.watch(fd, [&] { ++round; });
    int strayTicks = 0; // of a timer cancelled at once and of one due in an hour
    auto cancelled = timers.scheduleRepeating(0ns, 1ns, [&] { ++strayTicks; });
    cancelled->cancel();
    auto later = timers.scheduleRepeating(1h, 1ns, [&] { ++strayTicks; });
    std::vector<int> rounds; // of each tick
    std::unique_ptr<RepeatingTimer> self;
    // State the handler owns would dangle if the timer's end freed it
    // mid-call (the sanitizer builds catch that).
    auto payload = std::make_shared<int>(7);
    self = timers.scheduleRepeating(0ns, 1ns, [&, payload] {
        rounds.push_back(round);
        if (rounds.size() == 5) {
            self.reset();
            loop.quit(); // after this round
        }
        EXPECT_EQ(*payload, 7);
    });
    auto limit = timers.scheduleRepeating(5s, 0ns, [&] { loop.quit(); });
    loop.run();
    ASSERT_FALSE(self);
    loop.unwatch(fd);
    ::close(fd);
    EXPECT_EQ(rounds, std::vector<int>(5, rounds.front())) << "ticks ran after their timer ended";
    EXPECT_EQ(strayTicks, 0);
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

// A failure of the loop ends the process: InputThreadDeathTest shows it.
TEST(EventLoop, HandlersMayUnwatchThemselvesAndOthers) {
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
            loop.quit(); // after this round
        });
    loop.run();
    EXPECT_EQ(calls, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(SettingsSnapshot, ReadersSeeWholePublicationsOnly) {
    SettingsSnapshot snapshot;
    const ScrollSettings a{.reverseScroll = true, .scrollSpeed = 7.0};
    const ScrollSettings b{.diagonalScroll = true, .reverseScroll = false, .scrollSpeed = 13.5};
    snapshot.publish(a);
    std::atomic<bool> done{false};
    long mixed = 0;
    std::thread reader([&] {
        while (!done) {
            const ScrollSettings seen = snapshot.read();
            mixed += !(seen == a || seen == b);
        }
    });
    for (int i = 0; i < 200000; ++i)
        snapshot.publish(i % 2 ? a : b);
    done = true;
    reader.join();
    EXPECT_EQ(mixed, 0);
}

TEST(EngineOnTheInputThread, PublishedSettingsStartStopAndTheSwitchAreSafeFromAnotherThread) {
    EventLoop loop;
    std::thread owner([&] { loop.run(); });
    testing::FakeEventServices services;
    testing::ManualTimerFactory timers;
    // A store's settings are published when it is installed, and then its
    // changes only (that they reach the engine at once the engine tests show).
    MemorySettingsStore store, other;
    store.setBool("diagonalScroll", true);
    ScrollConfig::setDefaults(&store);
    other.setBool("diagonalScroll", false);
    EXPECT_TRUE(ScrollConfig::diagonalScroll());
    GrabScrollManager engine(services, timers, &loop);
    testing::LogCapture log;
    engine.start();
    // Grabs on the input thread while this thread flips the switch and the
    // settings: the sanitizer build checks that nothing is shared unsafely.
    std::atomic<bool> flipping{true};
    loop.post([&] {
        for (int i = 0; i < 2000; ++i) {
            services.rightDown();
            for (int d = 0; d < 8; ++d)
                services.rightDrag(0, 2);
            services.rightUp();
        }
        flipping = false;
    });
    for (int i = 0; flipping; ++i) {
        engine.isEnabled = !engine.isEnabled;
        store.setObject("scrollSpeed", 1.0 + i % 50);
    }
    engine.isEnabled = true;
    engine.stop();
    loop.runAndWait([&] {
        EXPECT_FALSE(engine.hasEventTap());
        EXPECT_EQ(engine.state(), GrabScrollManager::State::idle);
    });
    loop.quit();
    owner.join();
    ScrollConfig::setDefaults(nullptr);
    EXPECT_FALSE(ScrollConfig::diagonalScroll());
}

// Without uinput the tap is refused, and the log says why before the engine
// says it has none; a failure on the thread then ends the process with one
// line. The lines go out through the writer thread, as in the app.
TEST(InputThreadDeathTest, WithoutUinputTheTapIsRefusedAndAFailureEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QueuedLog::install();
            InputThread thread("/nonexistent/uinput");
            GrabScrollManager(thread.services(), thread.timers(), &thread.loop()).start();
            thread.loop().post([] { throw std::runtime_error("broken handler"); });
            for (;;)
                ::pause();
        },
        ::testing::ExitedWithCode(EXIT_FAILURE),
        "\\[Quillmere\\] cannot open /nonexistent/uinput for writing: No such file or directory\n"
        "\\[Quillmere\\] CGEvent tap [^\n]+\n"
        "\\[Quillmere\\] the input thread failed \\(broken handler\\); quitting so that the "
        "kernel releases every mouse");
}

// Standard error stops taking anything (a paused terminal, a stuck
// journal): logging goes on without waiting, keeps the first lines, and
// says where and how many it dropped once standard error takes lines again.
TEST(QueuedLog, AStalledStandardErrorNeverHoldsUpALogLine) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    // A pipe of one page, full: writes to it block.
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    const std::string filled(4096, '.');
    ASSERT_EQ(::write(STDERR_FILENO, filled.data(), filled.size()), 4096);

    QueuedLog::install(8);
    for (int i = 0; i < 100; ++i) // would block for good with a plain write
        Log::write("line " + std::to_string(i));

    std::string text;
    std::thread reader([&] { // until the last end of the pipe closes
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
    });
    const bool flushed = QueuedLog::flush(std::chrono::seconds(20));
    Log::setSink({});
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(pipeFds[1]);
    reader.join();
    ::close(pipeFds[0]);
    ASSERT_TRUE(flushed);

    // Every line is either written, in order, or counted where it went missing.
    std::istringstream out(text.substr(filled.size()));
    int next = 0;
    int kept = 0;
    int dropReports = 0;
    for (std::string line; std::getline(out, line);) {
        int count = 0;
        if (std::sscanf(line.c_str(), "[Quillmere] %d log line(s) dropped", &count) == 1) {
            next += count;
            ++dropReports;
        } else {
            ASSERT_EQ(line, "line " + std::to_string(next++));
            ++kept;
        }
    }
    EXPECT_EQ(next, 100);
    EXPECT_GE(kept, 8);
    EXPECT_GE(dropReports, 1);
}

} // namespace
} // namespace quillmere::input
