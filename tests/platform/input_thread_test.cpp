// The input thread: settings published to it whole, the engine living on it
// while another thread switches it, and a failure that ends the process.
// This file also runs in the ThreadSanitizer build.
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
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace quillmere {
namespace {

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

// That a change of the installed store reaches the engine at once, and a
// value that is not a Boolean reads as its default, the engine tests show.
TEST(SettingsSnapshot, InstallingAStorePublishesItAndNoOtherStoreIsPublished) {
    MemorySettingsStore store;
    store.setBool("diagonalScroll", true); // before it is installed
    ScrollConfig::setDefaults(&store);
    EXPECT_TRUE(ScrollConfig::diagonalScroll());
    MemorySettingsStore other;
    other.setBool("diagonalScroll", false);
    EXPECT_TRUE(ScrollConfig::diagonalScroll());
    ScrollConfig::setDefaults(nullptr);
    EXPECT_FALSE(ScrollConfig::diagonalScroll());
}

TEST(EngineOnTheInputThread, StartStopTheSwitchAndSettingsAreSafeFromAnotherThread) {
    input::EventLoop loop;
    std::thread owner([&] { loop.run(); });
    testing::FakeEventServices services;
    testing::ManualTimerFactory timers;
    MemorySettingsStore store;
    ScrollConfig::setDefaults(&store);
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
}

TEST(InputThread, WithoutUinputTheTapIsRefusedWithItsReasonAndTheThreadEndsCleanly) {
    testing::LogCapture log;
    {
        input::InputThread thread("/nonexistent/uinput");
        GrabScrollManager engine(thread.services(), thread.timers(), &thread.loop());
        engine.start();
        bool tap = true;
        thread.loop().runAndWait(
            [&] { tap = engine.hasEventTap() || thread.services().isActive(); });
        EXPECT_FALSE(tap);
        EXPECT_NE(thread.threadId(), ::gettid());
    }
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "[Quillmere] cannot open /nonexistent/uinput for writing: No such file or "
                  "directory",
                  "[Quillmere] CGEvent tap 생성 실패 — 접근성 권한을 확인하세요."}));
}

TEST(InputThreadDeathTest, AFailureOnTheThreadEndsTheProcessWithOneLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The line goes out through the writer thread, as in the app.
            input::QueuedLog::install();
            input::InputThread thread("/nonexistent/uinput");
            thread.loop().post([] { throw std::runtime_error("broken handler"); });
            for (;;)
                ::pause();
        },
        ::testing::ExitedWithCode(EXIT_FAILURE),
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
    // Fill the pipe, then make writes to it block again.
    ::fcntl(STDERR_FILENO, F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    long filled = 0;
    for (ssize_t n; (n = ::write(STDERR_FILENO, filler.data(), filler.size())) > 0;)
        filled += n;
    ::fcntl(STDERR_FILENO, F_SETFL, 0);

    input::QueuedLog::install(8);
    for (int i = 0; i < 100; ++i) // would block for good with a plain write
        Log::write("line " + std::to_string(i));

    std::string text;
    std::thread reader([&] {
        char buffer[4096];
        while (text.find("dropped") == std::string::npos || text.back() != '\n') {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                return;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    });
    const bool flushed = input::QueuedLog::flush(std::chrono::seconds(20));
    Log::setSink({});
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(pipeFds[1]);
    reader.join();
    ::close(pipeFds[0]);
    ASSERT_TRUE(flushed);

    // Every line is either written, in order, or counted where it went missing.
    std::istringstream out(text.substr(static_cast<std::size_t>(filled)));
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
} // namespace quillmere
