// Millions of random events through the engine, checked against what must
// always hold: no crash, every swallowed press answered by a click or a
// scroll gesture, every glide ends, nothing non-finite inside the engine,
// whatever the deltas, the settings and the time stamps.
#include "EngineFixture.h"

#include <algorithm>
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

class PropertyTest : public EngineTest {};

TEST_F(PropertyTest, RandomStreamsKeepTheInvariants) {
    long events = defaultEvents;
    if (const char* env = std::getenv("QUILLMERE_PROPERTY_EVENTS"))
        events = std::atol(env);
    std::mt19937_64 rng(20261206);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const auto real = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(rng);
    };
    // Mostly ordinary values, often the extremes a real stream or a
    // hand-edited settings file can hold.
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const auto delta = [&] {
        const double odd[] = {nan, inf, -inf, 0.0, real(-1e300, 1e300)};
        return pick(4) ? real(-8.0, 8.0) : odd[pick(5)];
    };
    const SettingsValue oddSpeeds[] = {SettingsValue{},     -1.0, 1e300, nan,
                                       std::string("12.5"), true};
    // Time between drag events: mostly a mouse's report interval, sometimes
    // stamps that repeat, go backwards or jump an hour (a resume, a clock change).
    const auto interval = [&]() -> std::int64_t {
        const std::int64_t odd[] = {0, -static_cast<std::int64_t>(real(1, 1e9)), 3'600'000'000'000};
        return pick(4) ? static_cast<std::int64_t>(real(125'000, 16'000'000)) : odd[pick(3)];
    };
    log.lines.reserve(1024);
    const char* boolKeys[] = {"diagonalScroll",         "reverseScroll",  "enableVerticalScroll",
                              "enableHorizontalScroll", "momentumScroll", "usePixelScrolling"};

    // What the test knows of the press it is in, independent of the engine.
    bool pressSwallowed = false;
    double path = 0.0;
    std::size_t postedAtPress = 0;
    long clicks = 0, scrollGestures = 0, glides = 0;

    for (long n = 0; n < events; ++n) {
        const int what = pick(100);
        if (what < 8) {
            // A second press without a release abandons the old one.
            pressSwallowed = !services.rightDown();
            if (pressSwallowed) {
                ASSERT_FALSE(manager.isMomentumRunning()) << "a grabbed press cancels the glide";
                path = 0.0;
                postedAtPress = services.posted.size();
            }
        } else if (what < 70) {
            const double dx = delta(), dy = delta();
            services.dragInterval = interval();
            services.rightDrag(dx, dy);
            if (pressSwallowed)
                path += std::hypot(std::isfinite(dx) ? dx : 0.0, std::isfinite(dy) ? dy : 0.0);
        } else if (what < 80) {
            const bool releasePassed = services.rightUp();
            if (pressSwallowed) {
                pressSwallowed = false;
                ASSERT_FALSE(releasePassed);
                const bool click = std::any_of(
                    services.posted.begin() + static_cast<std::ptrdiff_t>(postedAtPress),
                    services.posted.end(),
                    [](const auto& p) { return p.type == EventType::rightMouseDown; });
                // Below 5 points the press comes back as one click; beyond
                // it, the gesture was a scroll and no click is made.
                if (path < GrabScrollManager::dragThreshold) {
                    ASSERT_TRUE(click || services.failMouseEvents);
                    ++clicks;
                } else {
                    ASSERT_FALSE(click);
                    ++scrollGestures;
                }
            }
        } else if (what < 88) {
            timers.advance(std::chrono::milliseconds(pick(40)));
        } else if (what < 91) {
            store.setObject("scrollSpeed",
                            pick(10) < 4 ? SettingsValue{real(0.1, 50.0)} : oddSpeeds[pick(6)]);
        } else if (what < 95) {
            const char* key = boolKeys[pick(6)];
            store.setObject(key, pick(5) == 0 ? SettingsValue{std::string("yes")}
                                              : SettingsValue{pick(2) == 1});
        } else if (what < 96) {
            manager.stop();
            pressSwallowed = false;
            if (pick(2))
                manager.start();
        } else if (what < 97) {
            manager.isEnabled = !manager.isEnabled;
            pressSwallowed = false;
        } else if (what < 98) {
            services.disableByTimeout();
            ASSERT_TRUE(!manager.hasEventTap() || services.tapEnabled());
        } else if (what < 99) {
            services.failScrollEvents = pick(4) == 0;
            services.failMouseEvents = pick(8) == 0;
            services.failCreateEvent = pick(4) == 0;
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
        if (manager.isMomentumRunning() && pick(1000) == 0) {
            // Every glide ends by itself, with its closing event, in bounded time.
            services.failScrollEvents = false;
            services.posted.clear();
            postedAtPress = 0;
            const std::uint64_t ticks = timers.runUntilIdle(100'000);
            ASSERT_LT(ticks, 100'000u);
            ASSERT_FALSE(manager.isMomentumRunning());
            ASSERT_FALSE(services.posted.empty());
            ASSERT_EQ(services.posted.back().momentumPhase, 8);
            ++glides;
        }
    }
    services.failScrollEvents = false;
    EXPECT_LT(timers.runUntilIdle(100'000), 100'000u) << "a timer left running";
    // The stream really exercised all three outcomes.
    EXPECT_GT(clicks, 100);
    EXPECT_GT(scrollGestures, 100);
    EXPECT_GT(glides, 10);
}

} // namespace
} // namespace quillmere::testing
