// The wheel events a scroll posted by the engine turns into.
#include "platform/input/ScrollWheelEncoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quillmere::input {
namespace {

using Wheel = std::vector<std::pair<std::uint16_t, std::int32_t>>;

Event scroll(std::int32_t vertical, std::int32_t horizontal, ScrollUnit units = ScrollUnit::pixel,
             std::int32_t wheelCount = 2) {
    return makeScrollWheelEvent(units, wheelCount, vertical, horizontal, 0);
}

Wheel encode(ScrollWheelEncoder& encoder, const Event& event) {
    std::vector<input_event> out;
    encoder.encode(event, out);
    Wheel result;
    for (const input_event& ev : out) {
        EXPECT_EQ(ev.type, EV_REL);
        result.emplace_back(ev.code, ev.value);
    }
    return result;
}

// 2 hi-res units per pixel and 40 per line; a legacy step for each detent
// of 120 built up. Each case runs on an encoder of its own.
TEST(ScrollWheelEncoder, ScrollsBecomeHiResUnitsWithALegacyStepPerDetent) {
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    const auto line = ScrollUnit::line;
    const struct {
        const char* name;
        std::vector<std::pair<Event, Wheel>> steps;
    } cases[] = {
        {"pixels and lines, a step once a detent is complete",
         {{scroll(50, 0), {{REL_WHEEL_HI_RES, 100}}},
          {scroll(10, 0), {{REL_WHEEL_HI_RES, 20}, {REL_WHEEL, 1}}},
          {scroll(3, 0, line), {{REL_WHEEL_HI_RES, 120}, {REL_WHEEL, 1}}},
          {scroll(-10, 0, line), {{REL_WHEEL_HI_RES, -400}, {REL_WHEEL, -3}}}}},
        {"horizontal is negated (left is negative on evdev), axes are independent",
         {{scroll(30, 60), {{REL_WHEEL_HI_RES, 60}, {REL_HWHEEL_HI_RES, -120}, {REL_HWHEEL, -1}}},
          {scroll(30, -1), {{REL_WHEEL_HI_RES, 60}, {REL_WHEEL, 1}, {REL_HWHEEL_HI_RES, 2}}},
          {scroll(0, 50, ScrollUnit::pixel, 1), {}}, // one wheel: wheel 2 means nothing
          {scroll(0, 0), {}},
          {scroll(0, 0, line), {}}}},
        {"a reversal works off what built up; jitter after a step does not step back",
         {{scroll(50, 0), {{REL_WHEEL_HI_RES, 100}}},
          {scroll(-55, 0), {{REL_WHEEL_HI_RES, -110}}},
          {scroll(-55, 0), {{REL_WHEEL_HI_RES, -110}, {REL_WHEEL, -1}}},
          {scroll(59, 0), {{REL_WHEEL_HI_RES, 118}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}, {REL_WHEEL, 1}}},
          {scroll(-1, 0), {{REL_WHEEL_HI_RES, -2}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}}}}},
        {"amounts beyond the evdev range are clamped, not wrapped, and not carried",
         {{scroll(most, least, line),
           {{REL_WHEEL_HI_RES, most},
            {REL_WHEEL, most / 120},
            {REL_HWHEEL_HI_RES, most},
            {REL_HWHEEL, most / 120}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScrollWheelEncoder encoder;
        for (const auto& [event, expected] : c.steps)
            EXPECT_EQ(encode(encoder, event), expected);
    }
}

TEST(ScrollWheelEncoder, FractionalRemainderIsCarriedPerAxis) {
    // 1.5 units per pixel: every second pixel carries a half unit over.
    ScrollWheelEncoder encoder(1.5, 40.0);
    EXPECT_EQ(encode(encoder, scroll(1, -1)),
              (Wheel{{REL_WHEEL_HI_RES, 1}, {REL_HWHEEL_HI_RES, 1}}));
    EXPECT_EQ(encode(encoder, scroll(1, 0)), (Wheel{{REL_WHEEL_HI_RES, 2}}));
    // The horizontal half unit waited for its own axis.
    EXPECT_EQ(encode(encoder, scroll(0, -1)), (Wheel{{REL_HWHEEL_HI_RES, 2}}));
    // Over 80 pixels (120 units) exactly one step, whatever the split.
    int units = 0;
    int steps = 0;
    for (int i = 0; i < 80; ++i)
        for (auto [code, value] : encode(encoder, scroll(1, 0)))
            (code == REL_WHEEL ? steps : units) += value;
    EXPECT_EQ(units, 120);
    EXPECT_EQ(steps, 1);
}

} // namespace
} // namespace quillmere::input
