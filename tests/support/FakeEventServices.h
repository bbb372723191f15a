#pragma once
// A scripted event service: records every tap created and every event
// posted, lets a test feed events through the tap callback, and can be told
// to refuse the tap or the creation of events.

#include "engine/EventServices.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::testing {

class FakeEventServices : public EventServices {
public:
    struct Posted {
        TapLocation location;
        Event event;
    };

    std::unique_ptr<EventTap> tapCreate(TapLocation location, TapPlacement placement,
                                        TapOptions options, std::uint64_t eventsOfInterest,
                                        TapCallback callback, void* userInfo) override;
    std::optional<Event> createEvent() override;
    std::optional<Event> createMouseEvent(EventType type, Point location,
                                          MouseButton button) override;
    std::optional<Event> createScrollWheelEvent(ScrollUnit units, std::int32_t wheelCount,
                                                std::int32_t wheel1, std::int32_t wheel2,
                                                std::int32_t wheel3) override;
    void post(TapLocation location, const Event& event) override;

    // Feeds one event through the live tap as the system would: returns
    // whether it was passed on (true) or swallowed (false). With no tap, or
    // a disabled one, the event passes untouched. An event without a time
    // stamp or a source gets `now` and `source`; each drag first moves `now`
    // on by `dragInterval` (one drag per momentum tick, unless told else).
    bool deliver(Event event);
    bool rightDown(Point at = {});
    bool rightDrag(double dx, double dy);
    bool rightUp();
    // Sends the "tap disabled by timeout" notification to the callback.
    void disableByTimeout();

    // Test controls.
    bool refuseTap = false;
    bool failCreateEvent = false;
    bool failMouseEvents = false;
    bool failScrollEvents = false;
    Point pointer{100.0, 200.0};
    std::int64_t now = 0;
    std::int64_t dragInterval = 16'000'000;
    std::uint64_t source = 1;

    // What happened.
    std::vector<Posted> posted;
    int tapsCreated = 0;
    int liveTaps = 0;
    std::uint64_t lastMask = 0;
    bool tapEnabled() const;
    std::vector<Event> scrolls() const;

private:
    class Tap;
    bool right(EventType type, Point at, double dx, double dy);
    Tap* tap_ = nullptr;
    TapCallback callback_ = nullptr;
    void* userInfo_ = nullptr;
};

} // namespace quillmere::testing
