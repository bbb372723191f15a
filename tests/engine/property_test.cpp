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

#if defined(__SANITIZE_ADDRESS__)
constexpr long defaultEvents = 1'000'000;
#else
constexpr long defaultEvents = 10'000'000;
#endif

// Random picks: mostly ordinary values, often the extremes a real stream or
// a hand-edited settings file can hold.
class RandomDriver {
public:
    explicit RandomDriver(std::uint64_t seed) : rng_(seed) {}

    double delta() {
        constexpr double inf = std::numeric_limits<double>::infinity();
        const double odd[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.0,
                              real(-1e300, 1e300)};
        return pick(4) ? real(-8.0, 8.0) : odd[pick(5)];
    }
    SettingsValue speed() {
        const SettingsValue odd[] = {
            SettingsValue{},     -1.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
            std::string("12.5"), true};
        return pick(10) < 4 ? SettingsValue{real(0.1, 50.0)} : odd[pick(6)];
    }
    // Time between drag events: mostly a mouse's report interval, sometimes
    // stamps that repeat, go backwards or jump an hour (a resume, a clock change).
    std::int64_t interval() {
        const std::int64_t odd[] = {0, -static_cast<std::int64_t>(real(1, 1e9)), 3'600'000'000'000};
        return pick(4) ? static_cast<std::int64_t>(real(125'000, 16'000'000)) : odd[pick(3)];
    }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

private:
    double real(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(rng_);
    }
    std::mt19937_64 rng_;
};

class PropertyTest : public EngineTest {};

TEST_F(PropertyTest, RandomStreamsKeepTheInvariants) {
    long events = defaultEvents;
    if (const char* env = std::getenv("QUILLMERE_PROPERTY_EVENTS"))
        events = std::atol(env);
    RandomDriver random(20261206);
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
            // A second press without a release abandons the old one.
            const std::size_t before = services.posted.size();
            pressSwallowed = !services.rightDown();
            if (pressSwallowed) {
                ASSERT_FALSE(manager.isMomentumRunning()) << "a grabbed press cancels the glide";
                path = 0.0;
                postedAtPress = before;
            }
        } else if (what < 70) {
            const double dx = random.delta(), dy = random.delta();
            services.dragInterval = random.interval();
            services.rightDrag(dx, dy);
            if (pressSwallowed)
                path += std::hypot(std::isfinite(dx) ? dx : 0.0, std::isfinite(dy) ? dy : 0.0);
        } else if (what < 80) {
            endOfPress(!services.rightUp());
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
