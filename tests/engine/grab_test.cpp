// The grab state machine: what is swallowed, what passes, what is posted.
#include "EngineFixture.h"

#include <cmath>
#include <limits>

namespace quillmere::testing {
namespace {

using State = GrabScrollManager::State;
using Axis = GrabScrollManager::LockedAxis;

class GrabTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        manager.start();
        log.lines.clear();
    }
};

TEST_F(GrabTest, ClickWithoutDragComesBackAsMarkedClickAtPressPosition) {
    services.pointer = {321.0, 654.0};
    EXPECT_FALSE(services.rightDown({1.0, 2.0}));
    services.pointer = {400.0, 700.0}; // where the pointer is later does not matter
    EXPECT_FALSE(services.rightDrag(2.0, 1.0));
    EXPECT_FALSE(services.rightDrag(1.0, 1.0));
    EXPECT_FALSE(services.rightUp());
    ASSERT_EQ(services.posted.size(), 2u);
    const Event down = services.posted[0].event;
    const Event up = services.posted[1].event;
    EXPECT_EQ(down.type, EventType::rightMouseDown);
    EXPECT_EQ(up.type, EventType::rightMouseUp);
    for (const auto& p : services.posted) {
        EXPECT_EQ(p.location, TapLocation::hid);
        EXPECT_EQ(p.event.userData, 0x5175696C546170);
        EXPECT_EQ(p.event.button, MouseButton::right);
        EXPECT_EQ(p.event.location, (Point{321.0, 654.0}));
    }
    // The marked click passes the tap untouched and changes no state.
    EXPECT_TRUE(services.deliver(down));
    EXPECT_TRUE(services.deliver(up));
    EXPECT_EQ(services.posted.size(), 2u);
    EXPECT_EQ(manager.state(), State::idle);
}

TEST_F(GrabTest, ClickSurvivesMissingPointerButIsLostWithoutEvents) {
    services.failCreateEvent = true; // press position from the incoming event
    services.rightDown({7.0, 8.0});
    services.rightUp();
    ASSERT_EQ(services.posted.size(), 2u);
    EXPECT_EQ(services.posted[0].event.location, (Point{7.0, 8.0}));

    services.posted.clear();
    services.failMouseEvents = true;
    services.rightDown();
    EXPECT_FALSE(services.rightUp()); // the release is still swallowed
    EXPECT_TRUE(services.posted.empty());
    EXPECT_EQ(manager.state(), State::idle);
}

TEST_F(GrabTest, PathLengthIsSummedAndTheCrossingEventScrollsByItsOwnDelta) {
    store.setObject("scrollSpeed", 1.0);
    services.rightDown();
    EXPECT_FALSE(services.rightDrag(0.0, 3.0));
    EXPECT_EQ(manager.state(), State::pending);
    EXPECT_TRUE(services.rightDrag(0.0, 2.0)); // 5.0 reached: passes and scrolls
    EXPECT_EQ(manager.state(), State::scrolling);
    ASSERT_EQ(services.scrolls().size(), 1u);
    EXPECT_EQ(services.scrolls()[0].wheel1, 2);
    EXPECT_TRUE(services.rightDrag(0.0, 1.0));
    EXPECT_DOUBLE_EQ(manager.accumulatedDelta(), 6.0);

    // The path is the sum of Euclidean lengths: (3, 4) alone crosses.
    services.rightUp();
    services.rightDown();
    EXPECT_FALSE(services.rightDrag(2.9, 0.0));
    EXPECT_FALSE(services.rightDrag(-2.0, 0.0)); // back and forth still adds up
    EXPECT_TRUE(services.rightDrag(0.1, 0.0));
    services.rightUp();
    services.rightDown();
    EXPECT_TRUE(services.rightDrag(3.0, 4.0));
}

TEST_F(GrabTest, AxisLocksOnceEitherSumReachesTenAndTiesLockVertically) {
    store.setObject("scrollSpeed", 1.0);
    services.rightDown();
    services.rightDrag(3.0, 4.0); // crosses; sums x 3, y 4
    services.rightDrag(3.0, 5.0); // sums x 6, y 9: still both axes
    EXPECT_EQ(manager.lockedAxis(), Axis::none);
    auto scrolls = services.scrolls();
    ASSERT_EQ(scrolls.size(), 2u);
    EXPECT_EQ(scrolls[1].wheel1, 5);
    EXPECT_EQ(scrolls[1].wheel2, 3);
    services.rightDrag(2.0, 1.0); // y reaches 10: vertical wins, this event too
    EXPECT_EQ(manager.lockedAxis(), Axis::vertical);
    scrolls = services.scrolls();
    EXPECT_EQ(scrolls.back().wheel1, 1);
    EXPECT_EQ(scrolls.back().wheel2, 0);
    services.rightDrag(50.0, 0.0); // locked for the rest of the grab
    EXPECT_EQ(services.scrolls().size(), 3u);
    services.rightUp();

    // A tie at the threshold locks vertically.
    services.rightDown();
    services.rightDrag(5.0, 5.0);
    services.rightDrag(5.0, 5.0);
    EXPECT_EQ(manager.lockedAxis(), Axis::vertical);
    services.rightUp();

    // More horizontal travel locks horizontally; each grab starts afresh.
    services.rightDown();
    services.rightDrag(-8.0, 1.0);
    services.rightDrag(-3.0, 1.0);
    EXPECT_EQ(manager.lockedAxis(), Axis::horizontal);
    EXPECT_EQ(services.scrolls().back().wheel1, 0);
    EXPECT_EQ(services.scrolls().back().wheel2, -3);
}

TEST_F(GrabTest, DiagonalScrollNeverLocks) {
    store.setBool("diagonalScroll", true);
    store.setObject("scrollSpeed", 1.0);
    services.rightDown();
    for (int i = 0; i < 10; ++i)
        services.rightDrag(4.0, 3.0);
    EXPECT_EQ(manager.lockedAxis(), Axis::none);
    for (const Event& s : services.scrolls()) {
        EXPECT_EQ(s.wheel1, 3);
        EXPECT_EQ(s.wheel2, 4);
    }
}

TEST_F(GrabTest, SpeedRule) {
    auto firstWheel = [&](SettingsValue speed) {
        store.setObject("scrollSpeed", speed);
        services.posted.clear();
        services.rightDown();
        services.rightDrag(0.0, 10.0);
        services.rightUp();
        return services.scrolls().at(0).wheel1;
    };
    EXPECT_EQ(firstWheel(SettingsValue{}), 30); // absent
    EXPECT_EQ(firstWheel(0.0), 30);             // not above 0
    EXPECT_EQ(firstWheel(-4.0), 30);
    EXPECT_EQ(firstWheel(0.5), 5);                  // taken as it is
    EXPECT_EQ(firstWheel(80.0), 800);               // outside the slider's range too
    EXPECT_EQ(firstWheel(std::string("2.5")), 25);  // a decimal string reads as a number
    EXPECT_EQ(firstWheel(std::string("fast")), 30); // any other string reads as 0
    EXPECT_EQ(firstWheel(true), 10);                // a Boolean reads as 1
    EXPECT_EQ(firstWheel(std::numeric_limits<double>::quiet_NaN()), 30);
    EXPECT_EQ(firstWheel(std::numeric_limits<double>::infinity()), 30);
    // A huge speed clamps to the signed 32-bit range instead of overflowing.
    EXPECT_EQ(firstWheel(1e12), std::numeric_limits<std::int32_t>::max());
}

TEST_F(GrabTest, HugeSpeedNeverPostsNonFiniteAmountsAndMomentumEnds) {
    store.setObject("scrollSpeed", 1e308);
    services.rightDown();
    services.rightDrag(0.0, 10.0); // 1e309 overflows to infinity: dropped
    EXPECT_TRUE(services.scrolls().empty());
    services.rightUp();
    timers.runUntilIdle(100000);
    EXPECT_EQ(timers.activeTimers(), 0u);
    const auto scrolls = services.scrolls();
    ASSERT_FALSE(scrolls.empty());
    EXPECT_EQ(scrolls.back().momentumPhase, 8);
    // The glide starts from the clamped sample, inside the wheel range.
    EXPECT_EQ(scrolls.at(1).wheel1, static_cast<std::int32_t>(2147483647.0 * 0.97));
}

TEST_F(GrabTest, FractionsCarryOverWithinADragAndTheFirstPhaseWaitsForAWholeUnit) {
    store.setObject("scrollSpeed", 1.0);
    services.rightDown();
    services.rightDrag(0.0, 5.2); // posts 5, phase 1; the 0.2 is this grab's only
    services.rightUp();
    timers.runUntilIdle();
    services.posted.clear();

    services.rightDown(); // a press starts from nothing carried
    services.rightDrag(0.0, 4.9);
    services.rightDrag(0.0, 0.2); // crosses with 0.2: nothing whole yet
    services.rightDrag(0.0, 0.6); // 0.8
    EXPECT_TRUE(services.posted.empty());
    EXPECT_TRUE(manager.isFirstScrollEvent());
    services.rightDrag(0.0, 0.6);  // 1.4: the first whole unit, phase 1
    services.rightDrag(0.0, -1.7); // -0.3: back to 0
    services.rightDrag(0.0, 2.0);  // 1.7: 1 again
    const auto scrolls = services.scrolls();
    ASSERT_EQ(scrolls.size(), 3u);
    EXPECT_EQ(scrolls[0].wheel1, 1);
    EXPECT_EQ(scrolls[0].scrollPhase, 1);
    EXPECT_EQ(scrolls[1].wheel1, -1);
    EXPECT_EQ(scrolls[2].wheel1, 1);
    EXPECT_EQ(scrolls[2].scrollPhase, 2);
}

TEST_F(GrabTest, AxisSwitchesAndDirection) {
    store.setObject("scrollSpeed", 1.0);
    store.setBool("diagonalScroll", true);
    store.setBool("enableVerticalScroll", false);
    services.rightDown();
    services.rightDrag(6.0, 8.0);
    EXPECT_EQ(services.scrolls().at(0).wheel1, 0);
    EXPECT_EQ(services.scrolls().at(0).wheel2, 6);
    store.setBool("enableHorizontalScroll", false);
    services.rightDrag(6.0, 8.0); // both off: nothing posted
    EXPECT_EQ(services.scrolls().size(), 1u);
    services.rightUp();

    store.setObject("enableVerticalScroll", SettingsValue{});
    store.setObject("enableHorizontalScroll", std::string("false")); // not a Boolean: default
    services.posted.clear();
    services.rightDown();
    services.rightDrag(0.0, 8.0); // dragging down with reverse on scrolls positive
    EXPECT_EQ(services.scrolls().at(0).wheel1, 8);
    store.setBool("reverseScroll", false); // acts on the very next event of the same grab
    services.rightDrag(-2.0, 8.0);
    EXPECT_EQ(services.scrolls().at(1).wheel1, -8);
    EXPECT_EQ(services.scrolls().at(1).wheel2, 2);
}

TEST_F(GrabTest, UnitsAndPhasesFollowTheMomentumSetting) {
    store.setBool("usePixelScrolling", false);
    services.rightDown();
    services.rightDrag(0.0, 6.0);
    services.rightDrag(0.0, 1.0);
    services.rightUp();
    auto scrolls = services.scrolls();
    ASSERT_EQ(scrolls.size(), 3u); // two drags and the end-of-drag event
    for (const Event& s : scrolls) {
        EXPECT_EQ(s.units, ScrollUnit::pixel); // momentum on: always pixels
        EXPECT_EQ(s.wheelCount, 2);
        EXPECT_EQ(s.wheel3, 0);
        EXPECT_EQ(s.momentumPhase, 0);
        EXPECT_EQ(s.isContinuous, 1);
    }
    EXPECT_EQ(scrolls[0].scrollPhase, 1);
    EXPECT_EQ(scrolls[1].scrollPhase, 2);
    EXPECT_EQ(scrolls[2].scrollPhase, 8);
    EXPECT_EQ(scrolls[2].wheel1, 0);
    EXPECT_EQ(scrolls[2].wheel2, 0);
    timers.runUntilIdle();

    // Without momentum: plain line events, nothing at release, no glide.
    store.setBool("momentumScroll", false);
    services.posted.clear();
    services.rightDown();
    services.rightDrag(0.0, 6.0);
    services.rightDrag(0.0, 1.0); // one point at speed 3: three lines
    EXPECT_FALSE(services.rightUp());
    scrolls = services.scrolls();
    ASSERT_EQ(scrolls.size(), 2u);
    EXPECT_EQ(scrolls[1].units, ScrollUnit::line);
    EXPECT_EQ(scrolls[1].wheel1, 3);
    EXPECT_EQ(scrolls[1].scrollPhase, 0);
    EXPECT_EQ(scrolls[1].isContinuous, 0);
    EXPECT_FALSE(manager.isMomentumRunning());
    store.setBool("usePixelScrolling", true);
    services.rightDown();
    services.rightDrag(0.0, 6.0);
    EXPECT_EQ(services.scrolls().back().units, ScrollUnit::pixel);
}

TEST_F(GrabTest, EventsOutsideAGrabPassUnchanged) {
    EXPECT_TRUE(services.rightDrag(10.0, 10.0)); // button already down when the tap started
    EXPECT_TRUE(services.rightUp());
    Event other;
    other.type = EventType::leftMouseDown;
    EXPECT_TRUE(services.deliver(other));
    EXPECT_TRUE(services.posted.empty());
    EXPECT_EQ(manager.state(), State::idle);

    manager.isEnabled = false; // switched off: everything passes, no state changes
    EXPECT_TRUE(services.rightDown());
    EXPECT_TRUE(services.rightDrag(10.0, 0.0));
    EXPECT_TRUE(services.rightUp());
    EXPECT_EQ(manager.state(), State::idle);
    EXPECT_TRUE(services.posted.empty());
}

TEST_F(GrabTest, StartStopAndTapFailures) {
    EXPECT_EQ(services.lastMask, 0x98u);
    EXPECT_EQ(services.lastLocation, TapLocation::session);
    EXPECT_TRUE(services.tapEnabled());
    manager.start(); // already started: nothing, not even a log line
    EXPECT_EQ(services.tapsCreated, 1);
    EXPECT_TRUE(log.lines.empty());

    services.rightDown();
    services.rightDrag(0.0, 20.0);
    manager.stop(); // mid-grab: idle, tap gone, the release reaches the system
    EXPECT_EQ(manager.state(), State::idle);
    EXPECT_EQ(services.liveTaps, 0);
    EXPECT_TRUE(services.rightUp());
    manager.stop(); // stopped again: still logs and stays idle
    EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] 이벤트 탭 비활성화됨",
                                                   "[Quillmere] 이벤트 탭 비활성화됨"}));

    log.lines.clear();
    services.refuseTap = true;
    manager.start();
    EXPECT_FALSE(manager.hasEventTap());
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "[Quillmere] CGEvent tap 생성 실패 — 접근성 권한을 확인하세요."}));
    services.refuseTap = false; // a later start tries again
    manager.start();
    EXPECT_TRUE(manager.hasEventTap());
    EXPECT_EQ(log.lines.back(), "[Quillmere] 이벤트 탭 활성화됨");
}

TEST_F(GrabTest, TapSwitchedOffBySystemIsSwitchedOnAgainKeepingTheGrab) {
    services.rightDown();
    services.rightDrag(0.0, 2.0);
    services.disableByTimeout();
    EXPECT_TRUE(services.tapEnabled());
    EXPECT_EQ(manager.state(), State::pending);
    EXPECT_FALSE(services.rightUp());
    EXPECT_EQ(services.posted.size(), 2u);
}

} // namespace
} // namespace quillmere::testing
