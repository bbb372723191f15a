// The same feel whatever the mouse: the same hand movement scrolls and
// glides alike at any report rate, no distance is lost to rounding, wild
// time stamps cannot run the glide away, and each mouse has its own gesture.
#include "EngineFixture.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quillmere::testing {
namespace {

using namespace std::chrono_literals;
using State = GrabScrollManager::State;

class FeelTest : public EngineTest {
protected:
    struct Outcome {
        long scrolled = 0;  // sum of the drag's wheel 1
        int firstGlide = 0; // wheel 1 of the first momentum event
        std::size_t glideTicks = 0;
    };
    // A press, then `points` of downward movement in equal steps at `hertz`
    // for `ms` milliseconds, then the release and the glide to its end.
    Outcome drag(double points, int hertz, int ms) {
        services.posted.clear();
        services.dragInterval = 1'000'000'000 / hertz;
        const int events = hertz * ms / 1000;
        services.rightDown();
        for (int i = 0; i < events; ++i)
            services.rightDrag(0.0, points / events);
        services.rightUp();
        timers.runUntilIdle();
        Outcome out;
        for (const Event& e : services.scrolls()) {
            if (e.momentumPhase == 0)
                out.scrolled += e.wheel1;
            else if (e.momentumPhase == 1)
                out.firstGlide = e.wheel1;
            if (e.momentumPhase != 0)
                ++out.glideTicks;
        }
        return out;
    }
};

TEST_F(FeelTest, TheSameDragScrollsAndGlidesAlikeAtEveryReportRate) {
    // 200 points in 400 ms: 8 points per 16 ms tick, 24 pixels at speed 3.
    const Outcome reference = drag(200.0, 125, 400);
    EXPECT_NEAR(reference.scrolled, 600, 0.05 * 600) << "every point past the threshold scrolls";
    for (int hertz : {125, 500, 1000, 8000}) {
        SCOPED_TRACE(std::to_string(hertz) + " Hz");
        const Outcome o = drag(200.0, hertz, 400);
        // The crossing event's movement scrolls too; what came before it
        // (under 5 points) does not, so the total depends on the rate only
        // by less than one report's worth.
        EXPECT_NEAR(o.scrolled, reference.scrolled, 0.05 * reference.scrolled);
        EXPECT_NEAR(o.firstGlide, 24 * 0.97, 0.15 * 24);
        EXPECT_NEAR(static_cast<double>(o.glideTicks), static_cast<double>(reference.glideTicks),
                    2.0);
    }
}

TEST_F(FeelTest, FractionsAddUpToTheTruncatedSumOfTheExactAmounts) {
    store.setObject("scrollSpeed", 1.0);
    store.setBool("diagonalScroll", true);
    const std::vector<std::pair<double, double>> steps[] = {
        std::vector<std::pair<double, double>>(400, {0.05, 0.3}), // 8000 Hz at a crawl
        {{0.0, 5.0}, {0.4, -0.7}, {0.4, -0.7}, {-0.9, 2.2}, {0.3, -4.6}, {0.2, 0.45}},
    };
    for (const auto& drag : steps) {
        services.posted.clear();
        services.rightDown();
        double exactX = 0.0, exactY = 0.0;
        bool scrolling = false;
        for (auto [dx, dy] : drag) {
            services.rightDrag(dx, dy);
            scrolling = scrolling || manager.state() == State::scrolling;
            if (scrolling) {
                exactX += dx; // reverse scrolling: the amounts have the drag's sign
                exactY += dy;
            }
        }
        services.rightUp();
        long sumX = 0, sumY = 0;
        for (const Event& e : services.scrolls())
            if (e.momentumPhase == 0) {
                sumX += e.wheel2;
                sumY += e.wheel1;
            }
        EXPECT_EQ(sumY, static_cast<long>(std::trunc(exactY)));
        EXPECT_EQ(sumX, static_cast<long>(std::trunc(exactX)));
        timers.runUntilIdle();
    }
}

TEST_F(FeelTest, WildTimeStampsKeepTheGlideFiniteBoundedAndEnding) {
    struct Case {
        const char* what;
        std::vector<std::int64_t> intervals; // before each drag event, ns
    };
    const Case cases[] = {
        {"repeating", std::vector<std::int64_t>(30, 0)},
        {"backwards", {16'000'000, -5'000'000'000, 1'000'000, -1, 16'000'000, -16'000'000}},
        {"a jump after a resume", {16'000'000, 16'000'000, 3'600'000'000'000, 16'000'000}},
        {"a burst", {16'000'000, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        services.posted.clear();
        services.rightDown();
        // The largest movement within any 16 ms the stamps tell of (a stamp
        // that goes back counts as no time passed).
        std::vector<std::int64_t> times;
        double bound = 0.0;
        for (std::int64_t interval : c.intervals) {
            services.dragInterval = interval;
            services.rightDrag(0.0, 10.0);
            times.push_back(std::max(services.now, times.empty() ? services.now : times.back()));
            const auto within = std::count_if(times.begin(), times.end(), [&](std::int64_t t) {
                return times.back() - t < DragVelocity::tickNs;
            });
            bound = std::max(bound, 30.0 * static_cast<double>(within));
        }
        const auto [vx, vy] = manager.averageVelocity();
        services.rightUp();
        EXPECT_TRUE(std::isfinite(vx) && std::isfinite(vy));
        EXPECT_LE(std::abs(vy), bound);
        EXPECT_LT(timers.runUntilIdle(10'000), 10'000u) << "the glide never ended";
        EXPECT_FALSE(manager.isMomentumRunning());
    }
}

TEST_F(FeelTest, EachMouseHasItsOwnGestureAndItsEventsGoBackToIt) {
    const std::uint64_t a = 11, b = 22;
    services.source = a;
    services.rightDown();
    services.rightDrag(0.0, 10.0);
    // B's right button meanwhile passes untouched: no reset, no click.
    services.source = b;
    EXPECT_TRUE(services.rightDown());
    EXPECT_TRUE(services.rightDrag(0.0, 50.0));
    EXPECT_TRUE(services.rightUp());
    EXPECT_EQ(manager.state(), State::scrolling);
    services.source = a;
    services.rightDrag(0.0, 10.0);
    EXPECT_FALSE(services.rightUp()); // A's release ends A's drag and starts its glide
    ASSERT_TRUE(manager.isMomentumRunning());
    // While A glides, B clicks: it passes and the glide goes on.
    services.source = b;
    EXPECT_TRUE(services.rightDown());
    EXPECT_TRUE(services.rightUp());
    EXPECT_TRUE(manager.isMomentumRunning());
    timers.runUntilIdle();
    for (const auto& posted : services.posted) {
        EXPECT_EQ(posted.event.sourceDevice, a);
        EXPECT_NE(posted.event.type, EventType::rightMouseDown) << "a click nobody made";
    }
    // Once A's glide has ended, B may start a gesture of its own.
    services.posted.clear();
    EXPECT_FALSE(services.rightDown());
    EXPECT_FALSE(services.rightUp());
    ASSERT_EQ(services.posted.size(), 2u);
    EXPECT_EQ(services.posted[0].event.sourceDevice, b);
}

} // namespace
} // namespace quillmere::testing
