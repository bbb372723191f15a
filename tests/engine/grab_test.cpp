// The grab state machine: what is swallowed, what passes, what is posted.
#include "EngineFixture.h"

#include <limits>

namespace quillmere::testing {
namespace {

using State = GrabScrollManager::State;

class GrabTest : public EngineTest {};

TEST_F(GrabTest, Scripts) {
    struct Case {
        const char* what;
        const char* script;
        const char* answers;
        const char* posted;
    };
    const Case cases[] = {
        {"a click without a drag", "d m:2,1 m:1,1 u", "s s s s", "C"},
        {"the path adds up; the crossing event scrolls by its own delta",
         "k:scrollSpeed=1 d m:0,3 m:0,2 m:0,1 u", "s s p p s", "S:2,0/1 S:1,0/2 S:0,0/8"},
        {"the path is Euclidean", "d m:3,4 u", "s p s", "S:12,9/1 S:0,0/8"},
        {"back and forth adds up too", "k:scrollSpeed=1 d m:2.9,0 m:-2,0 m:0.1,0 u", "s s s p s",
         "S:0,0/8"},
        {"an axis locks when a sum reaches 10, for the rest of the grab",
         "k:scrollSpeed=1 d m:3,4 m:3,5 m:2,1 m:50,0 u", "s p p p p s",
         "S:4,3/1 S:5,3/2 S:1,0/2 S:0,0/8"},
        {"a tie locks vertically", "k:scrollSpeed=1 d m:5,5 m:5,5 u", "s p p s",
         "S:5,5/1 S:5,0/2 S:0,0/8"},
        {"more travel across locks horizontally", "k:scrollSpeed=1 d m:-8,1 m:-3,1 u", "s p p s",
         "S:1,-8/1 S:0,-3/2 S:0,0/8"},
        {"diagonal scrolling never locks",
         "k:scrollSpeed=1 k:diagonalScroll=true d m:4,3 m:4,3 m:4,3 u", "s p p p s",
         "S:3,4/1 S:3,4/2 S:3,4/2 S:0,0/8"},
        {"fractions carry within a drag; phase 1 waits for a whole unit",
         "k:scrollSpeed=1 d m:0,4.9 m:0,0.2 m:0,0.6 m:0,0.6 m:0,-1.7 m:0,2 u", "s s p p p p p s",
         "S:1,0/1 S:-1,0/2 S:1,0/2 S:0,0/8"},
        {"a press starts from nothing carried", "k:scrollSpeed=1 d m:0,5.2 u d m:0,5.9 u",
         "s p s s p s", "S:5,0/1 S:0,0/8 S:5,0/1 S:0,0/8"},
        {"the axis switches, even mid-grab",
         "k:scrollSpeed=1 k:diagonalScroll=true k:enableVerticalScroll=false d m:6,8 "
         "k:enableHorizontalScroll=false m:6,8 u",
         "s p p s", "S:0,6/1 S:0,0/8"},
        {"a setting that is no Boolean reads as its default; reverse acts at once",
         "k:scrollSpeed=1 k:diagonalScroll=true k:enableHorizontalScroll='no' d m:0,8 "
         "k:reverseScroll=false m:-2,8 u",
         "s p p s", "S:8,0/1 S:-8,2/2 S:0,0/8"},
        {"with momentum: pixels and phases whatever the unit setting",
         "k:usePixelScrolling=false d m:0,6 m:0,1 u", "s p p s", "S:18,0/1 S:3,0/2 S:0,0/8"},
        {"without momentum: plain lines, nothing at release",
         "k:momentumScroll=false k:usePixelScrolling=false d m:0,6 m:0,1 u", "s p p s",
         "L:18,0/0 L:3,0/0"},
        {"without momentum, in pixels", "k:momentumScroll=false d m:0,6 u", "s p s", "S:18,0/0"},
        {"drags and releases outside a grab pass", "m:10,10 u", "p p", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.clear();
        const Outcome out = run(c.script);
        EXPECT_EQ(out.answers, c.answers);
        EXPECT_EQ(out.posted, c.posted);
        timers.runUntilIdle(); // no glide runs into the next case
        EXPECT_EQ(manager.state(), State::idle);
    }
}

TEST_F(GrabTest, SpeedRule) {
    const std::pair<const char*, const char*> speeds[] = {
        {"-", "S:30,0/1"},
        {"0", "S:30,0/1"},
        {"-4", "S:30,0/1"},
        {"0.5", "S:5,0/1"},
        {"80", "S:800,0/1"}, // outside the slider's range too
        {"'2.5'", "S:25,0/1"},
        {"'fast'", "S:30,0/1"},
        {"true", "S:10,0/1"},
        {"nan", "S:30,0/1"},
        {"inf", "S:30,0/1"},
        // A huge speed clamps to the wheel's range instead of overflowing.
        {"1e12", "S:2147483647,0/1"},
    };
    for (auto [speed, first] : speeds) {
        const Outcome out = run(std::string("k:scrollSpeed=") + speed + " d m:0,10 u");
        EXPECT_EQ(out.posted.substr(0, out.posted.find(' ')), first) << speed;
        timers.runUntilIdle();
    }
}

TEST_F(GrabTest, ClicksComeBackMarkedAtThePressPositionUnlessTheyCannotBeMade) {
    services.pointer = {321.0, 654.0};
    run("d");
    services.pointer = {400.0, 700.0}; // where the pointer is later does not matter
    run("m:2,1 u");
    ASSERT_EQ(services.posted.size(), 2u);
    for (const auto& [location, event] : services.posted) {
        EXPECT_EQ(event.button, MouseButton::right);
        EXPECT_EQ(event.location, (Point{321.0, 654.0}));
        EXPECT_TRUE(services.deliver(event)) << "a marked event passes untouched";
    }
    EXPECT_EQ(services.posted.size(), 2u);

    services.failCreateEvent = true; // the press position from the incoming event
    services.posted.clear();
    services.rightDown({7.0, 8.0});
    services.rightUp();
    ASSERT_EQ(services.posted.size(), 2u);
    EXPECT_EQ(services.posted[0].event.location, (Point{7.0, 8.0}));
    services.failMouseEvents = true; // lost, but the release is still swallowed
    EXPECT_EQ(run("d u").answers, "s s");
    EXPECT_EQ(services.posted.size(), 2u);
}

TEST_F(GrabTest, AHugeSpeedNeverPostsNonFiniteAmountsAndItsGlideEnds) {
    const Outcome out = run("k:scrollSpeed=1e308 d m:0,10 u"); // 1e309: dropped
    EXPECT_EQ(out.posted, "S:0,0/8");
    timers.runUntilIdle(100000);
    EXPECT_EQ(timers.activeTimers(), 0u);
    // The glide starts from the sample clamped into the wheel's range.
    EXPECT_EQ(services.scrolls().at(1).wheel1, static_cast<std::int32_t>(2147483647.0 * 0.97));
    EXPECT_EQ(services.scrolls().back().momentumPhase, 8);
}

TEST_F(GrabTest, TheSwitchStartAndStopAndTapFailures) {
    manager.isEnabled = false; // switched off: everything passes, nothing changes
    EXPECT_EQ(run("d m:10,0 u").answers, "p p p");
    manager.isEnabled = true;
    EXPECT_EQ(services.lastMask, 0x98u);
    manager.start(); // already started: nothing, not even a log line
    EXPECT_EQ(services.tapsCreated, 1);
    EXPECT_TRUE(log.lines.empty());

    run("d m:0,20");
    manager.stop(); // mid-grab: idle, tap gone, the release reaches the system
    EXPECT_EQ(manager.state(), State::idle);
    EXPECT_EQ(services.liveTaps, 0);
    EXPECT_EQ(run("u").answers, "p");
    manager.stop(); // stopped again: still logs and stays idle
    EXPECT_EQ(log.lines, std::vector<std::string>(2, "[Quillmere] 이벤트 탭 비활성화됨"));

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

    // The system switching the tap off: on again at once, the grab kept.
    run("d m:0,2");
    services.disableByTimeout();
    EXPECT_TRUE(services.tapEnabled());
    EXPECT_EQ(run("u").posted, "C");
}

} // namespace
} // namespace quillmere::testing
