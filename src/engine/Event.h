#pragma once
// Plain input-event value type shared by the engine and the platform's event
// services. It carries every field the engine reads or writes; the platform
// layer translates it to and from real device events.

#include <cstdint>

namespace quillmere {

// Event type numbers as the engine sees them.
enum class EventType : std::uint32_t {
    null = 0,
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    scrollWheel = 22,
    tapDisabledByTimeout = 0xFFFFFFFEu,
    tapDisabledByUserInput = 0xFFFFFFFFu,
};

struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

enum class ScrollUnit : std::int32_t { pixel = 0, line = 1 };

enum class MouseButton : std::int32_t { left = 0, right = 1, center = 2 };

// Where an event is posted: the head of the input stream, before every tap.
enum class TapLocation : std::int32_t { hid = 0, session = 1, annotatedSession = 2 };

// Numbers of the event fields the engine uses.
namespace EventField {
inline constexpr int mouseEventDeltaX = 4;
inline constexpr int mouseEventDeltaY = 5;
inline constexpr int sourceUserData = 42;
inline constexpr int scrollWheelEventIsContinuous = 88;
inline constexpr int scrollWheelEventScrollPhase = 99;
inline constexpr int scrollWheelEventMomentumPhase = 123;
} // namespace EventField

struct Event {
    EventType type = EventType::null;
    Point location;
    // Mouse deltas of a drag or move (fields 4 and 5), in points.
    double deltaX = 0.0;
    double deltaY = 0.0;
    // Field 42: a 64-bit value that stays with the event through every tap.
    std::int64_t userData = 0;
    // Scroll-wheel events: units, wheel count and the three wheel amounts
    // (wheel 1 vertical, positive up; wheel 2 horizontal, positive left).
    ScrollUnit units = ScrollUnit::pixel;
    std::int32_t wheelCount = 0;
    std::int32_t wheel1 = 0;
    std::int32_t wheel2 = 0;
    std::int32_t wheel3 = 0;
    // Fields 99, 123 and 88.
    std::int64_t scrollPhase = 0;
    std::int64_t momentumPhase = 0;
    std::int64_t isContinuous = 0;
    // Button of a mouse event.
    MouseButton button = MouseButton::left;
    // When it happened: nanoseconds on a monotonic clock (0 when unknown).
    std::int64_t timestamp = 0;
    // The device it came from, or, for what the engine posts, the device
    // whose gesture it belongs to (0: none in particular).
    std::uint64_t sourceDevice = 0;

    friend bool operator==(const Event&, const Event&) = default;
};

// A mouse-button event at a point.
inline Event makeMouseEvent(EventType type, Point location, MouseButton button) {
    Event event;
    event.type = type;
    event.location = location;
    event.button = button;
    return event;
}

// A scroll-wheel event carrying up to three wheel amounts.
inline Event makeScrollWheelEvent(ScrollUnit units, std::int32_t wheelCount, std::int32_t wheel1,
                                  std::int32_t wheel2, std::int32_t wheel3) {
    Event event;
    event.type = EventType::scrollWheel;
    event.units = units;
    event.wheelCount = wheelCount;
    event.wheel1 = wheel1;
    event.wheel2 = wheel2;
    event.wheel3 = wheel3;
    return event;
}

} // namespace quillmere
