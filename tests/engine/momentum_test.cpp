// The glide after a release: averaging, decay, the closing event, timing and
// interruption.
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
        manager.start();
    }

    // A grab whose last eight vertical samples are all `sample`, then release.
    void glideFrom(double first, double sample, int count = 8) {
        services.rightDown();
        services.rightDrag(0.0, first);
        for (int i = 0; i < count; ++i)
            services.rightDrag(0.0, sample);
        services.rightUp();
    }

    std::vector<Event> momentumEvents() const {
        std::vector<Event> out;
        for (const Event& e : services.scrolls())
            if (e.momentumPhase != 0)
                out.push_back(e);
        return out;
    }
};

TEST_F(MomentumTest, ThirtyGlidesFor151EventsAndClosesOnTick152) {
    glideFrom(30.0, 30.0, 7); // eight samples of 30
    EXPECT_EQ(manager.averageVelocity(), (std::pair<double, double>{0.0, 30.0}));
    ASSERT_TRUE(manager.isMomentumRunning());
    EXPECT_TRUE(momentumEvents().empty()); // nothing before the first tick

    timers.advance(15ms);
    EXPECT_TRUE(momentumEvents().empty());
    timers.advance(1ms);
    ASSERT_EQ(momentumEvents().size(), 1u);

    timers.runUntilIdle();
    const auto glide = momentumEvents();
    ASSERT_EQ(glide.size(), 152u);
    EXPECT_EQ(glide[0].wheel1, 29);
    EXPECT_EQ(glide[1].wheel1, 28);
    EXPECT_EQ(glide[2].wheel1, 27);
    EXPECT_EQ(glide[3].wheel1, 26);
    EXPECT_EQ(glide[4].wheel1, 25);
    int nonZero = 0;
    for (std::size_t i = 0; i < 151; ++i) {
        const Event& e = glide[i];
        EXPECT_EQ(e.momentumPhase, i == 0 ? 1 : 2);
        EXPECT_EQ(e.scrollPhase, 0);
        EXPECT_EQ(e.isContinuous, 1);
        EXPECT_EQ(e.units, ScrollUnit::pixel);
        EXPECT_EQ(e.wheel2, 0);
        nonZero += e.wheel1 != 0;
    }
    EXPECT_EQ(nonZero, 111);
    const Event& last = glide.back();
    EXPECT_EQ(last.momentumPhase, 8);
    EXPECT_EQ(last.scrollPhase, 0);
    EXPECT_EQ(last.isContinuous, 1);
    EXPECT_EQ(last.wheel1, 0);
    // Tick n falls at exactly n x 16 ms after the release: 2.432 s at the end.
    ASSERT_EQ(timers.tickTimes.size(), 152u);
    for (std::size_t i = 0; i < timers.tickTimes.size(); ++i)
        EXPECT_EQ(timers.tickTimes[i], 16ms * (i + 1));
    EXPECT_FALSE(manager.isMomentumRunning());
    EXPECT_EQ(timers.activeTimers(), 0u);
}

TEST_F(MomentumTest, StartsAtExactlyOneButNotBelow) {
    glideFrom(5.0, 1.0); // the 5.0 sample falls out of the last eight
    EXPECT_EQ(manager.averageVelocity().second, 1.0);
    timers.runUntilIdle();
    auto glide = momentumEvents();
    ASSERT_EQ(glide.size(), 40u);
    for (std::size_t i = 0; i < 39; ++i) {
        EXPECT_EQ(glide[i].wheel1, 0); // posted although they scroll nothing
        EXPECT_NE(glide[i].momentumPhase, 8);
    }
    EXPECT_EQ(glide[39].momentumPhase, 8);

    services.posted.clear();
    store.setObject("scrollSpeed", 0.99);
    store.setBool("diagonalScroll", true);
    services.rightDown();
    services.rightDrag(0.0, 6.0);
    for (int i = 0; i < 8; ++i)
        services.rightDrag(1.0, 1.0); // 0.99 on both axes
    services.rightUp();
    EXPECT_FALSE(manager.isMomentumRunning());
    timers.advance(10s);
    // The end-of-drag event is the last event of the gesture.
    ASSERT_FALSE(services.posted.empty());
    EXPECT_EQ(services.posted.back().event.scrollPhase, 8);
    EXPECT_TRUE(momentumEvents().empty());
}

TEST_F(MomentumTest, NegativeAndHorizontalGlidesEndByAbsoluteValue) {
    store.setBool("diagonalScroll", true);
    services.rightDown();
    services.rightDrag(-20.0, -10.0);
    services.rightUp();
    EXPECT_EQ(manager.averageVelocity(), (std::pair<double, double>{-20.0, -10.0}));
    timers.runUntilIdle();
    const auto glide = momentumEvents();
    ASSERT_FALSE(glide.empty());
    EXPECT_EQ(glide[0].wheel2, -19); // trunc(-19.4)
    EXPECT_EQ(glide[0].wheel1, -9);  // trunc(-9.7)
    EXPECT_EQ(glide.back().momentumPhase, 8);
    // It ends only when the larger (horizontal) speed falls below 0.3.
    EXPECT_LT(std::abs(manager.momentumVX()), 0.3);
    EXPECT_GE(std::abs(manager.momentumVX() / 0.97), 0.3);
}

TEST_F(MomentumTest, ShortGrabsAverageTheirOwnSamples) {
    services.rightDown();
    services.rightDrag(0.0, 12.0); // release right after the crossing event
    services.rightUp();
    EXPECT_EQ(manager.averageVelocity().second, 12.0);
    timers.runUntilIdle();
    services.rightDown();
    services.rightDrag(0.0, 6.0);
    services.rightDrag(0.0, 3.0);
    services.rightDrag(0.0, 0.0);
    services.rightUp();
    EXPECT_EQ(manager.averageVelocity().second, 3.0);
    // Only the last 128 ms count: at one drag per tick, the last eight.
    timers.runUntilIdle();
    services.rightDown();
    for (int i = 1; i <= 12; ++i)
        services.rightDrag(0.0, 10.0 * i);
    services.rightUp();
    EXPECT_EQ(manager.averageVelocity().second, 85.0); // 50 to 120
}

TEST_F(MomentumTest, PressStopsTheGlideSilentlyButStopDoesNot) {
    glideFrom(30.0, 30.0, 7);
    timers.advance(160ms);
    const auto before = momentumEvents().size();
    EXPECT_EQ(before, 10u);
    const double vy = manager.momentumVY();
    services.rightDown(); // a new grab interrupts at once, without a closing event
    EXPECT_FALSE(manager.isMomentumRunning());
    timers.advance(5s);
    EXPECT_EQ(momentumEvents().size(), before);
    EXPECT_EQ(manager.momentumVY(), vy); // the fields keep their last values
    services.rightUp();

    // Switching the engine off does not end a glide: it plays out.
    services.posted.clear();
    glideFrom(30.0, 30.0, 7);
    timers.advance(32ms);
    manager.stop();
    manager.isEnabled = false;
    timers.runUntilIdle();
    EXPECT_EQ(momentumEvents().size(), 152u);
    EXPECT_EQ(momentumEvents().back().momentumPhase, 8);
}

TEST_F(MomentumTest, ANewGlideReplacesARunningOne) {
    glideFrom(30.0, 30.0, 7);
    timers.advance(48ms);
    manager.startMomentumScroll(); // same history, restarted from the average
    EXPECT_EQ(timers.activeTimers(), 1u);
    EXPECT_EQ(manager.momentumVY(), 30.0);
    services.posted.clear();
    timers.advance(16ms);
    ASSERT_EQ(momentumEvents().size(), 1u);
    EXPECT_EQ(momentumEvents()[0].momentumPhase, 1);
    EXPECT_EQ(momentumEvents()[0].wheel1, 29);
}

TEST_F(MomentumTest, EventsThatCannotBeMadeAreSkippedAndTheSeriesStillEnds) {
    glideFrom(30.0, 30.0, 7);
    services.failScrollEvents = true;
    timers.advance(16ms * 10);
    services.failScrollEvents = false;
    timers.advance(16ms);
    auto glide = momentumEvents();
    ASSERT_EQ(glide.size(), 1u);
    EXPECT_EQ(glide[0].momentumPhase, 2); // the first phase was spent on a lost event
    EXPECT_EQ(glide[0].wheel1, static_cast<int>(30.0 * std::pow(0.97, 11)));
    services.failScrollEvents = true;
    timers.runUntilIdle();
    EXPECT_FALSE(manager.isMomentumRunning()); // ends although the closing event was lost
    EXPECT_EQ(momentumEvents().size(), 1u);
}

} // namespace
} // namespace quillmere::testing
