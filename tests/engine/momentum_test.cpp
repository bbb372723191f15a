// The glide after a release: where it starts, how it decays and ends, its
// timing, and what interrupts it.
#include "EngineFixture.h"

#include <chrono>
#include <cmath>

namespace quillmere::testing {
namespace {

using namespace std::chrono_literals;

class MomentumTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        store.setObject("scrollSpeed", 1.0);
    }
    std::vector<Event> glide() const {
        std::vector<Event> out;
        for (const Event& e : services.scrolls())
            if (e.momentumPhase != 0)
                out.push_back(e);
        return out;
    }
    // Eight drag events of 30 per tick, released.
    void thirty() { run("d m:0,30 m:0,30 m:0,30 m:0,30 m:0,30 m:0,30 m:0,30 m:0,30 u"); }
};

TEST_F(MomentumTest, ThirtyGlidesFor151EventsAndClosesOnTick152) {
    thirty();
    EXPECT_EQ(manager.averageVelocity(), (std::pair<double, double>{0.0, 30.0}));
    timers.advance(15ms);
    EXPECT_TRUE(glide().empty()); // nothing before the first tick
    timers.advance(1ms);
    ASSERT_EQ(glide().size(), 1u);
    timers.runUntilIdle();
    const auto events = glide();
    ASSERT_EQ(events.size(), 152u);
    EXPECT_EQ(events[0].wheel1, 29);
    EXPECT_EQ(events[4].wheel1, 25);
    int nonZero = 0;
    for (std::size_t i = 0; i < 151; ++i) {
        EXPECT_EQ(describe(events[i]),
                  "G:" + std::to_string(events[i].wheel1) + ",0/" + (i == 0 ? "1" : "2"));
        EXPECT_EQ(events[i].isContinuous, 1);
        nonZero += events[i].wheel1 != 0;
    }
    EXPECT_EQ(nonZero, 111);
    EXPECT_EQ(describe(events.back()), "G:0,0/8");
    // Tick n falls at exactly n x 16 ms after the release: 2.432 s at the end.
    ASSERT_EQ(timers.tickTimes.size(), 152u);
    for (std::size_t i = 0; i < timers.tickTimes.size(); ++i)
        EXPECT_EQ(timers.tickTimes[i], 16ms * (i + 1));
    EXPECT_EQ(timers.activeTimers(), 0u);
}

TEST_F(MomentumTest, TheGlideStartsFromTheDragsLastTicksAndEndsByAbsoluteValue) {
    struct Case {
        const char* script;
        double vx, vy; // the drag's movement per tick at its end
        int events;    // glide events with the closing one; -1: not counted
    };
    const Case cases[] = {
        {"d m:0,5 m:0,1 m:0,1 m:0,1 m:0,1 m:0,1 m:0,1 m:0,1 m:0,1 u", 0, 1, 40}, // 5 is out
        {"k:scrollSpeed=0.99 k:diagonalScroll=true d m:0,6 m:1,1 m:1,1 m:1,1 m:1,1 m:1,1 "
         "m:1,1 m:1,1 m:1,1 u",
         0.99, 0.99, 0},                                       // below 1: none
        {"k:diagonalScroll=true d m:-20,-10 u", -20, -10, -1}, // one tick: its own
        {"d m:0,6 m:0,3 m:0,0 u", 0, 3, -1},                   // a short drag: its own
        {"d m:0,10 m:0,20 m:0,30 m:0,40 m:0,50 m:0,60 m:0,70 m:0,80 m:0,90 m:0,100 m:0,110 "
         "m:0,120 u",
         0, 85, -1}, // only the last 128 ms: 50 to 120
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        services.posted.clear();
        store.clear();
        store.setObject("scrollSpeed", 1.0);
        run(c.script);
        EXPECT_NEAR(manager.averageVelocity().first, c.vx, 1e-9);
        EXPECT_NEAR(manager.averageVelocity().second, c.vy, 1e-9);
        timers.runUntilIdle();
        if (c.events >= 0) {
            EXPECT_EQ(glide().size(), static_cast<std::size_t>(c.events));
        }
        if (c.events != 0) {
            ASSERT_FALSE(glide().empty());
            EXPECT_EQ(glide().back().momentumPhase, 8);
            // It ends only when both speeds are below 0.3.
            EXPECT_LT(std::abs(manager.momentumVX()), 0.3);
            EXPECT_LT(std::abs(manager.momentumVY()), 0.3);
            EXPECT_GE(std::max(std::abs(manager.momentumVX()), std::abs(manager.momentumVY())),
                      0.3 * 0.97);
        }
    }
}

TEST_F(MomentumTest, APressStopsTheGlideSilentlyTheSwitchDoesNotAndANewOneRestarts) {
    thirty();
    timers.advance(160ms);
    EXPECT_EQ(glide().size(), 10u);
    const double vy = manager.momentumVY();
    run("d"); // interrupted at once, without a closing event
    timers.advance(5s);
    EXPECT_EQ(glide().size(), 10u);
    EXPECT_EQ(manager.momentumVY(), vy); // the fields keep their last values
    run("u");

    services.posted.clear();
    thirty();
    timers.advance(32ms);
    manager.stop(); // switched off: the glide plays out
    manager.isEnabled = false;
    timers.runUntilIdle();
    EXPECT_EQ(glide().size(), 152u);

    manager.startMomentumScroll(); // restarted from the same drag
    EXPECT_EQ(manager.momentumVY(), 30.0);
    services.posted.clear();
    timers.advance(16ms);
    ASSERT_EQ(glide().size(), 1u);
    EXPECT_EQ(describe(glide()[0]), "G:29,0/1");
}

TEST_F(MomentumTest, EventsThatCannotBeMadeAreSkippedAndTheSeriesStillEnds) {
    thirty();
    services.failScrollEvents = true;
    timers.advance(16ms * 10);
    services.failScrollEvents = false;
    timers.advance(16ms);
    ASSERT_EQ(glide().size(), 1u);
    EXPECT_EQ(glide()[0].momentumPhase, 2); // the first phase was spent on a lost event
    EXPECT_EQ(glide()[0].wheel1, static_cast<int>(30.0 * std::pow(0.97, 11)));
    services.failScrollEvents = true;
    timers.runUntilIdle();
    EXPECT_FALSE(manager.isMomentumRunning()); // ends although the closing event was lost
}

} // namespace
} // namespace quillmere::testing
