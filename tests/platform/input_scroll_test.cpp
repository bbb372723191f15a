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

TEST(ScrollWheelEncoder, PixelsAndLinesScaleToHiResUnitsWithALegacyStepPerDetent) {
    ScrollWheelEncoder encoder;
    // 2 units per pixel: 50 pixels are 100 units, short of a detent.
    EXPECT_EQ(encode(encoder, scroll(50, 0)), (Wheel{{REL_WHEEL_HI_RES, 100}}));
    // 10 more pixels complete the detent: one legacy step in the same frame.
    EXPECT_EQ(encode(encoder, scroll(10, 0)), (Wheel{{REL_WHEEL_HI_RES, 20}, {REL_WHEEL, 1}}));
    // Three lines are one detent; the pixels before left nothing over.
    EXPECT_EQ(encode(encoder, scroll(3, 0, ScrollUnit::line)),
              (Wheel{{REL_WHEEL_HI_RES, 120}, {REL_WHEEL, 1}}));
    // A big movement gives several steps at once.
    EXPECT_EQ(encode(encoder, scroll(-10, 0, ScrollUnit::line)),
              (Wheel{{REL_WHEEL_HI_RES, -400}, {REL_WHEEL, -3}}));
}

TEST(ScrollWheelEncoder, HorizontalSignIsFlippedAxesAreIndependentAndZeroWritesNothing) {
    ScrollWheelEncoder encoder;
    // Positive wheel 2 scrolls left; on evdev left is negative.
    EXPECT_EQ(encode(encoder, scroll(30, 60)),
              (Wheel{{REL_WHEEL_HI_RES, 60}, {REL_HWHEEL_HI_RES, -120}, {REL_HWHEEL, -1}}));
    EXPECT_EQ(encode(encoder, scroll(30, -1)),
              (Wheel{{REL_WHEEL_HI_RES, 60}, {REL_WHEEL, 1}, {REL_HWHEEL_HI_RES, 2}}));
    // A single-wheel event has no horizontal amount whatever wheel 2 holds.
    EXPECT_EQ(encode(encoder, scroll(0, 50, ScrollUnit::pixel, 1)), Wheel{});
    // Zero amounts write nothing.
    EXPECT_EQ(encode(encoder, scroll(0, 0)), Wheel{});
    EXPECT_EQ(encode(encoder, scroll(0, 0, ScrollUnit::line)), Wheel{});
}

TEST(ScrollWheelEncoder, ReversalWorksOffWhatBuiltUpBeforeStepping) {
    ScrollWheelEncoder encoder;
    EXPECT_EQ(encode(encoder, scroll(50, 0)), (Wheel{{REL_WHEEL_HI_RES, 100}}));
    // Back by 110 units: the sum is -10, no detent in either direction.
    EXPECT_EQ(encode(encoder, scroll(-55, 0)), (Wheel{{REL_WHEEL_HI_RES, -110}}));
    // 110 more down reaches -120: one step down.
    EXPECT_EQ(encode(encoder, scroll(-55, 0)), (Wheel{{REL_WHEEL_HI_RES, -110}, {REL_WHEEL, -1}}));
    // Jitter right after a step does not step back and forth.
    EXPECT_EQ(encode(encoder, scroll(59, 0)), (Wheel{{REL_WHEEL_HI_RES, 118}}));
    EXPECT_EQ(encode(encoder, scroll(1, 0)), (Wheel{{REL_WHEEL_HI_RES, 2}, {REL_WHEEL, 1}}));
    EXPECT_EQ(encode(encoder, scroll(-1, 0)), (Wheel{{REL_WHEEL_HI_RES, -2}}));
    EXPECT_EQ(encode(encoder, scroll(1, 0)), (Wheel{{REL_WHEEL_HI_RES, 2}}));
    // reset() forgets a partial detent.
    EXPECT_EQ(encode(encoder, scroll(59, 0)), (Wheel{{REL_WHEEL_HI_RES, 118}}));
    encoder.reset();
    EXPECT_EQ(encode(encoder, scroll(1, 0)), (Wheel{{REL_WHEEL_HI_RES, 2}}));
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
    encoder.reset();
    for (int i = 0; i < 80; ++i)
        for (auto [code, value] : encode(encoder, scroll(1, 0)))
            (code == REL_WHEEL ? steps : units) += value;
    EXPECT_EQ(units, 120);
    EXPECT_EQ(steps, 1);
}

TEST(ScrollWheelEncoder, AmountsBeyondTheEvdevRangeAreClampedNotWrapped) {
    ScrollWheelEncoder encoder;
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    Wheel up = encode(encoder, scroll(most, least, ScrollUnit::line));
    ASSERT_EQ(up.size(), 4u);
    EXPECT_EQ(up[0], std::make_pair(std::uint16_t{REL_WHEEL_HI_RES}, most));
    EXPECT_EQ(up[1], std::make_pair(std::uint16_t{REL_WHEEL}, most / 120));
    // wheel 2 at its most negative means "left" as far as it goes: right is
    // negated to the largest positive value, not wrapped to a negative one.
    EXPECT_EQ(up[2], std::make_pair(std::uint16_t{REL_HWHEEL_HI_RES}, most));
    // Nothing of the excess is carried into the next event.
    EXPECT_EQ(encode(encoder, scroll(1, 0)), (Wheel{{REL_WHEEL_HI_RES, 2}}));
}

} // namespace
} // namespace quillmere::input
