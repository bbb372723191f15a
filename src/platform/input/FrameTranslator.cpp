#include "FrameTranslator.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quillmere::input {

namespace {

std::int32_t clampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

Event FrameTranslator::rightButtonEvent(EventType type, std::int64_t timestamp) const {
    Event event;
    event.type = type;
    event.button = MouseButton::right;
    event.timestamp = timestamp;
    event.sourceDevice = source_;
    return event;
}

Event FrameTranslator::releaseOnRemoval(std::int64_t timestamp) const {
    return rightButtonEvent(EventType::rightMouseUp, timestamp);
}

void FrameTranslator::translate(std::span<const input_event> frame, FrameSink& sink,
                                std::int64_t timestamp) {
    motion_.clear();
    std::int64_t sumX = 0;
    std::int64_t sumY = 0;
    for (const input_event& ev : frame) {
        if (ev.type == EV_KEY && ev.code == gestureCode_) {
            // Only real changes count: a repeat or a value the button already
            // has (possible after a resync) is dropped, as the kernel would.
            const bool down = ev.value != 0;
            if (ev.value == 2 || down == rightDown_)
                continue;
            rightDown_ = down;
            if (down && middleEmulated_ && othersDown_ != 0)
                chord_ = true;
            if (chord_) {
                chord_ = down;
                sink.pass(makeEvent(EV_KEY, gestureCode_, down ? 1 : 0));
                continue;
            }
            Event event = rightButtonEvent(
                down ? EventType::rightMouseDown : EventType::rightMouseUp, timestamp);
            const bool passedOn = sink.offer(event);
            heldBack_ = down && !passedOn;
            if (passedOn)
                sink.pass(makeEvent(EV_KEY, gestureCode_, down ? 1 : 0));
        } else if (ev.type == EV_KEY && ev.code >= BTN_LEFT && ev.code < BTN_LEFT + 8) {
            const std::uint8_t bit = static_cast<std::uint8_t>(1u << (ev.code - BTN_LEFT));
            if (ev.value == 1 && heldBack_) {
                heldBack_ = false;
                chord_ = true;
                Event release = rightButtonEvent(EventType::rightMouseUp, timestamp);
                sink.endGesture(release);
                sink.pass(makeEvent(EV_KEY, gestureCode_, 1));
            }
            if (ev.value != 2)
                othersDown_ = ev.value ? othersDown_ | bit : othersDown_ & ~bit;
            sink.pass(ev);
        } else if (ev.type == EV_REL && (ev.code == REL_X || ev.code == REL_Y)) {
            motion_.push_back(ev);
            (ev.code == REL_X ? sumX : sumY) += ev.value;
        } else {
            sink.pass(ev);
        }
    }
    if (!rightDown_ || chord_) {
        for (const input_event& ev : motion_)
            sink.pass(ev);
        return;
    }
    if (sumX == 0 && sumY == 0)
        return; // no movement, no drag
    Event drag = rightButtonEvent(EventType::rightMouseDragged, timestamp);
    drag.deltaX = static_cast<double>(sumX) * pointsPerCount_;
    drag.deltaY = static_cast<double>(sumY) * pointsPerCount_;
    if (!sink.offer(drag))
        return;
    heldBack_ = false; // scrolling: a press now is no chord
    if (sumX != 0)
        sink.pass(makeEvent(EV_REL, REL_X, clampToInt32(sumX)));
    if (sumY != 0)
        sink.pass(makeEvent(EV_REL, REL_Y, clampToInt32(sumY)));
}

} // namespace quillmere::input
