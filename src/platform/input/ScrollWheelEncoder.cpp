#include "ScrollWheelEncoder.h"

#include <cmath>
#include <limits>

namespace quillmere::input {

namespace {
input_event relEvent(std::uint16_t code, std::int32_t value) {
    input_event ev{};
    ev.type = EV_REL;
    ev.code = code;
    ev.value = value;
    return ev;
}
} // namespace

void ScrollWheelEncoder::encode(const Event& scroll, std::vector<input_event>& out) {
    const double scale = scroll.units == ScrollUnit::line ? hiResPerLine : hiResPerPixel;
    encodeAxis(vertical_, static_cast<double>(scroll.wheel1) * scale, REL_WHEEL_HI_RES, REL_WHEEL,
               out);
    // Wheel 2 only exists when the event declares at least two wheels.
    const double horizontal = scroll.wheelCount >= 2 ? -static_cast<double>(scroll.wheel2) : 0.0;
    encodeAxis(horizontal_, horizontal * scale, REL_HWHEEL_HI_RES, REL_HWHEEL, out);
}

void ScrollWheelEncoder::reset() {
    vertical_ = Axis{};
    horizontal_ = Axis{};
}

void ScrollWheelEncoder::encodeAxis(Axis& axis, double hiRes, std::uint16_t hiResCode,
                                    std::uint16_t legacyCode, std::vector<input_event>& out) {
    if (hiRes == 0.0 || !std::isfinite(hiRes))
        return;
    const double exact = hiRes + axis.remainder;
    double whole = std::trunc(exact);
    axis.remainder = exact - whole;
    // An evdev value is 32 bits wide. Only a huge stored speed gets near
    // that; the excess is dropped rather than carried, so that one wild
    // event cannot keep the wheel turning afterwards.
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (whole < lowest || whole > highest) {
        whole = whole < lowest ? lowest : highest;
        axis.remainder = 0.0;
    }
    const auto units = static_cast<std::int32_t>(whole);
    if (units == 0)
        return;
    // Legacy steps follow the kernel's own hi-res wheel drivers: the units
    // since the last step build up, and every full 120 of them (toward zero,
    // either sign) is one step; a reversal first works off what has built up.
    axis.sinceStep += units;
    const std::int64_t steps = axis.sinceStep / hiResPerDetent;
    axis.sinceStep -= steps * hiResPerDetent;
    out.push_back(relEvent(hiResCode, units));
    if (steps != 0)
        out.push_back(relEvent(legacyCode, static_cast<std::int32_t>(steps)));
}

} // namespace quillmere::input
