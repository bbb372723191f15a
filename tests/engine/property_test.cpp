// Millions of random events through the engine, checked against what must
// always hold: no crash, every swallowed press answered by a click or a
// scroll gesture, every glide ends, nothing non-finite inside the engine,
// whatever the deltas, the settings and the time stamps.
#include "EngineFixture.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace quillmere::testing {
namespace {

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
constexpr long defaultEvents = 1'000'000;
#else
constexpr long defaultEvents = 10'000'000;
#endif

class RandomDriver {
public:
    RandomDriver(EngineTest& unused, std::uint64_t seed) : rng_(seed) { (void)unused; }

    double delta() {
        switch (pick(20)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return pick(2) ? std::numeric_limits<double>::infinity()
                           : -std::numeric_limits<double>::infinity();
        case 2:
            return std::uniform_real_distribution<double>(-1e300, 1e300)(rng_);
        case 3:
            return 0.0;
        default:
            return std::uniform_real_distribution<double>(-8.0, 8.0)(rng_);
        }
    }

    SettingsValue speed() {
        switch (pick(10)) {
        case 0:
            return SettingsValue{};
        case 1:
            return -1.0;
        case 2:
            return 1e300;
        case 3:
            return std::numeric_limits<double>::quiet_NaN();
        case 4:
            return std::string("12.5");
        case 5:
            return true;
        default:
            return std::uniform_real_distribution<double>(0.1, 50.0)(rng_);
        }
    }

    // Time between drag events: mostly a mouse's report interval, sometimes
    // stamps that repeat, go backwards or jump (a resume, a clock change).
    std::int64_t interval() {
        switch (pick(12)) {
        case 0:
            return 0;
        case 1:
            return -std::uniform_int_distribution<std::int64_t>(1, 1'000'000'000)(rng_);
        case 2:
            return 3'600'000'000'000; // an hour
        default:
            return std::uniform_int_distribution<std::int64_t>(125'000, 16'000'000)(rng_);
        }
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

private:
    std::mt19937_64 rng_;
};

class PropertyTest : public EngineTest {};

TEST_F(PropertyTest, RandomStreamsKeepTheInvariants) {
    long events = defaultEvents;
    if (const char* env = std::getenv("QUILLMERE_PROPERTY_EVENTS"))
        events = std::atol(env);
    RandomDriver random(*this, 20261206);
    manager.start();
    log.lines.reserve(1024);
    const char* boolKeys[] = {"diagonalScroll",         "reverseScroll",  "enableVerticalScroll",
                              "enableHorizontalScroll", "momentumScroll", "usePixelScrolling"};

    // What the test knows of the press it is in, independent of the engine.
    bool pressSwallowed = false;
    double path = 0.0;
    std::size_t postedAtPress = 0;
    long clicks = 0, scrollGestures = 0, glides = 0;

    auto endOfPress = [&](bool releaseSwallowed) {
        if (!pressSwallowed)
            return;
        pressSwallowed = false;
        ASSERT_TRUE(releaseSwallowed);
        const auto& posted = services.posted;
        bool click = false;
        for (std::size_t i = postedAtPress; i < posted.size(); ++i) {
            const Event& e = posted[i].event;
            if (e.type == EventType::rightMouseDown) {
                ASSERT_EQ(e.userData, GrabScrollManager::clickMarker);
                ASSERT_LT(i + 1, posted.size());
                ASSERT_EQ(posted[i + 1].event.type, EventType::rightMouseUp);
                click = true;
            }
        }
        // Below 5 points the press comes back as one click; beyond it, the
        // gesture was a scroll and no click is made.
        if (path < GrabScrollManager::dragThreshold) {
            ASSERT_TRUE(click || services.failMouseEvents);
            ++clicks;
        } else {
            ASSERT_FALSE(click);
            ++scrollGestures;
        }
    };

    for (long n = 0; n < events; ++n) {
        const int what = random.pick(100);
        if (what < 8) {
            if (pressSwallowed) // a second press without a release: the old one is abandoned
                pressSwallowed = false;
            const std::size_t before = services.posted.size();
            const bool passed = services.rightDown();
            if (!passed) {
                ASSERT_FALSE(manager.isMomentumRunning()) << "a grabbed press cancels the glide";
                pressSwallowed = true;
                path = 0.0;
                postedAtPress = before;
            }
        } else if (what < 70) {
            const double dx = random.delta(), dy = random.delta();
            services.dragInterval = random.interval();
            services.rightDrag(dx, dy);
            if (pressSwallowed) {
                const double fx = std::isfinite(dx) ? dx : 0.0;
                const double fy = std::isfinite(dy) ? dy : 0.0;
                path += std::hypot(fx, fy);
            }
        } else if (what < 80) {
            const bool passed = services.rightUp();
            endOfPress(!passed);
            if (::testing::Test::HasFatalFailure())
                return;
        } else if (what < 88) {
            timers.advance(std::chrono::milliseconds(random.pick(40)));
        } else if (what < 91) {
            store.setObject("scrollSpeed", random.speed());
        } else if (what < 95) {
            const char* key = boolKeys[random.pick(6)];
            if (random.pick(5) == 0)
                store.setObject(key, std::string("yes"));
            else
                store.setBool(key, random.pick(2) == 1);
        } else if (what < 96) {
            manager.stop();
            pressSwallowed = false;
            if (random.pick(2))
                manager.start();
        } else if (what < 97) {
            manager.isEnabled = !manager.isEnabled;
            pressSwallowed = false;
        } else if (what < 98) {
            services.disableByTimeout();
            ASSERT_TRUE(!manager.hasEventTap() || services.tapEnabled());
        } else if (what < 99) {
            services.failScrollEvents = random.pick(4) == 0;
            services.failMouseEvents = random.pick(8) == 0;
            services.failCreateEvent = random.pick(4) == 0;
        } else if (!manager.hasEventTap()) {
            manager.start();
        }

        // Nothing inside the engine is ever non-finite.
        ASSERT_TRUE(std::isfinite(manager.momentumVX()) && std::isfinite(manager.momentumVY()));
        ASSERT_FALSE(std::isnan(manager.accumulatedDelta()));
        const auto [vx, vy] = manager.averageVelocity();
        ASSERT_TRUE(std::isfinite(vx) && std::isfinite(vy));

        // Keep memory flat: check the glide grammar of what was posted, then drop it.
        if (services.posted.size() > 4096 && !pressSwallowed) {
            services.posted.clear();
            postedAtPress = 0;
        }
        if (log.lines.size() > 512)
            log.lines.clear();
        if (manager.isMomentumRunning() && random.pick(1000) == 0) {
            // Every glide ends by itself, with its closing event, in bounded time.
            services.failScrollEvents = false;
            services.posted.clear();
            postedAtPress = 0;
            const std::uint64_t ticks = timers.runUntilIdle(100'000);
            ASSERT_LT(ticks, 100'000u);
            ASSERT_FALSE(manager.isMomentumRunning());
            ASSERT_FALSE(services.posted.empty());
            ASSERT_EQ(services.posted.back().event.momentumPhase, 8);
            ++glides;
        }
    }
    services.failScrollEvents = false;
    timers.runUntilIdle(100'000);
    EXPECT_EQ(timers.activeTimers(), 0u);
    // The stream really exercised all three outcomes.
    EXPECT_GT(clicks, 100);
    EXPECT_GT(scrollGestures, 100);
    EXPECT_GT(glides, 10);
}

} // namespace
} // namespace quillmere::testing
