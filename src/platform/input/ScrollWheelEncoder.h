#pragma once
// Turns the engine's scroll-wheel events into the wheel axes of one evdev
// frame, the way a high-resolution wheel mouse reports them: the hi-res axes
// (120 units per detent) carry every movement, and a legacy step follows
// each time a full detent has built up, so that libinput (which reads only
// the hi-res axes) and older clients (which read only the legacy ones) both
// scroll. Pure code: no devices, testable anywhere.

#include "engine/Event.h"

#include <linux/input.h>

#include <cstdint>
#include <vector>

namespace quillmere::input {

class ScrollWheelEncoder {
public:
    // One detent is 120 hi-res units. A pixel is 2 of them, so a detent
    // scrolls 60 pixels, close to what Qt, Firefox and Chromium scroll per
    // notch; a line is 40, so a detent is three lines.
    static constexpr double hiResPerPixel = 2.0;
    static constexpr double hiResPerLine = 40.0;
    static constexpr std::int64_t hiResPerDetent = 120;

    // Appends the wheel events of one frame (no SYN_REPORT) for a scroll
    // event to out. Wheel 1 (vertical, positive up) keeps its sign on
    // REL_WHEEL_HI_RES; wheel 2 (horizontal, positive left) is negated for
    // REL_HWHEEL_HI_RES, where positive is right. An event whose amounts
    // give no hi-res unit appends nothing.
    void encode(const Event& scroll, std::vector<input_event>& out);

    // Forgets the remainders and the partial detents of both axes.
    void reset();

private:
    struct Axis {
        // The fraction of a hi-res unit the conversion could not yet write.
        double remainder = 0.0;
        // Hi-res units written since the last legacy step (|value| < 120).
        std::int64_t sinceStep = 0;
    };
    static void encodeAxis(Axis& axis, double hiRes, std::uint16_t hiResCode,
                           std::uint16_t legacyCode, std::vector<input_event>& out);

    Axis vertical_;
    Axis horizontal_;
};

} // namespace quillmere::input
