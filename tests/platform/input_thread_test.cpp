// The input thread: settings published to it whole, the engine living on it
// while another thread switches it, and a failure that ends the process.
// This file also runs in the ThreadSanitizer build.
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/input/InputThread.h"
#include "support/FakeEventServices.h"
#include "support/LogCapture.h"
#include "support/ManualTimerFactory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace quillmere {
namespace {

TEST(SettingsSnapshot, ReadersSeeWholePublicationsOnly) {
    SettingsSnapshot snapshot;
    ScrollSettings a;
    a.reverseScroll = true;
    a.scrollSpeed = 7.0;
    ScrollSettings b;
    b.reverseScroll = false;
    b.diagonalScroll = true;
    b.scrollSpeed = 13.5;
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
// value that is not a Boolean reads as its default, the engine tests show
// (GrabTest.Scripts).
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
        bool grabbing = true;
        thread.loop().runAndWait([&] {
            tap = engine.hasEventTap();
            grabbing = thread.services().isActive();
        });
        EXPECT_FALSE(tap);
        EXPECT_FALSE(grabbing);
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
            input::InputThread thread("/nonexistent/uinput");
            thread.loop().post([] { throw std::runtime_error("broken handler"); });
            for (;;)
                ::pause();
        },
        ::testing::ExitedWithCode(EXIT_FAILURE),
        "\\[Quillmere\\] the input thread failed \\(broken handler\\); quitting so that the "
        "kernel releases every mouse");
}

} // namespace
} // namespace quillmere
