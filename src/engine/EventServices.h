#pragma once
// The engine's window on the platform's input-event services: an event tap
// that sees right-button events before the desktop does, the pointer
// location, event creation and posting. The Linux implementation lives in
// src/platform; tests use a scripted fake.

#include "Event.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace quillmere {

// Opaque handle passed to tap callbacks; the engine never uses it.
struct TapProxy {
    void* opaque = nullptr;
};

// The tap callback returns the event it received to pass it on, or nullptr
// to swallow it. It is called on the main thread.
using TapCallback = Event* (*)(TapProxy proxy, EventType type, Event* event, void* userInfo);

// Event-type mask bits: 1 << type.
inline constexpr std::uint64_t eventMaskBit(EventType type) {
    return std::uint64_t{1} << static_cast<std::uint32_t>(type);
}

enum class TapPlacement : std::int32_t { headInsert = 0, tailAppend = 1 };
enum class TapOptions : std::int32_t { defaultTap = 0, listenOnly = 1 };

// A created tap. Destroying it releases it; a disabled tap delivers nothing.
class EventTap {
public:
    virtual ~EventTap() = default;
    virtual void enable(bool on) = 0;
    virtual bool isEnabled() const = 0;
};

class EventServices {
public:
    virtual ~EventServices() = default;

    // Creates a tap on the main loop; nullptr when refused (no input access).
    virtual std::unique_ptr<EventTap> tapCreate(TapLocation location, TapPlacement placement,
                                                TapOptions options, std::uint64_t eventsOfInterest,
                                                TapCallback callback, void* userInfo) = 0;

    // An empty event whose location is the current pointer location;
    // nothing when it cannot be made.
    virtual std::optional<Event> createEvent() = 0;

    // A mouse-button event at a point; nothing when it cannot be made.
    virtual std::optional<Event> createMouseEvent(EventType type, Point location,
                                                  MouseButton button) = 0;

    // A scroll-wheel event with up to three wheel amounts; nothing when it
    // cannot be made.
    virtual std::optional<Event> createScrollWheelEvent(ScrollUnit units, std::int32_t wheelCount,
                                                        std::int32_t wheel1, std::int32_t wheel2,
                                                        std::int32_t wheel3) = 0;

    // Posts an event into the input stream at the given location.
    virtual void post(TapLocation location, const Event& event) = 0;
};

} // namespace quillmere
