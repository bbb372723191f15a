#include "FakeEventServices.h"

namespace quillmere::testing {

class FakeEventServices::Tap : public EventTap {
public:
    explicit Tap(FakeEventServices& owner) : owner_(owner) {}
    ~Tap() override {
        --owner_.liveTaps;
        if (owner_.tap_ == this)
            owner_.tap_ = nullptr;
    }
    void enable(bool on) override { enabled_ = on; }
    bool isEnabled() const override { return enabled_; }

private:
    FakeEventServices& owner_;
    bool enabled_ = false;
};

std::unique_ptr<EventTap> FakeEventServices::tapCreate(TapLocation, TapPlacement, TapOptions,
                                                       std::uint64_t eventsOfInterest,
                                                       TapCallback callback, void* userInfo) {
    if (refuseTap)
        return nullptr;
    ++tapsCreated;
    ++liveTaps;
    lastMask = eventsOfInterest;
    callback_ = callback;
    userInfo_ = userInfo;
    auto tap = std::make_unique<Tap>(*this);
    tap_ = tap.get();
    return tap;
}

std::optional<Event> FakeEventServices::createEvent() {
    if (failCreateEvent)
        return std::nullopt;
    Event event;
    event.location = pointer;
    return event;
}

std::optional<Event> FakeEventServices::createMouseEvent(EventType type, Point location,
                                                         MouseButton button) {
    if (failMouseEvents)
        return std::nullopt;
    return makeMouseEvent(type, location, button);
}

std::optional<Event> FakeEventServices::createScrollWheelEvent(ScrollUnit units,
                                                               std::int32_t wheelCount,
                                                               std::int32_t wheel1,
                                                               std::int32_t wheel2,
                                                               std::int32_t wheel3) {
    if (failScrollEvents)
        return std::nullopt;
    return makeScrollWheelEvent(units, wheelCount, wheel1, wheel2, wheel3);
}

void FakeEventServices::post(TapLocation location, const Event& event) {
    posted.push_back({location, event});
}

bool FakeEventServices::tapEnabled() const {
    return tap_ && tap_->isEnabled();
}

bool FakeEventServices::deliver(Event event) {
    if (event.timestamp == 0)
        event.timestamp = now;
    if (event.sourceDevice == 0)
        event.sourceDevice = source;
    if (!tapEnabled())
        return true;
    Event* result = callback_(TapProxy{}, event.type, &event, userInfo_);
    return result != nullptr;
}

bool FakeEventServices::right(EventType type, Point at, double dx, double dy) {
    Event event;
    event.type = type;
    event.location = at;
    event.deltaX = dx;
    event.deltaY = dy;
    event.button = MouseButton::right;
    return deliver(event);
}

bool FakeEventServices::rightDown(Point at) {
    return right(EventType::rightMouseDown, at, 0, 0);
}

bool FakeEventServices::rightDrag(double dx, double dy) {
    now += dragInterval;
    return right(EventType::rightMouseDragged, pointer, dx, dy);
}

bool FakeEventServices::rightUp() {
    return right(EventType::rightMouseUp, pointer, 0, 0);
}

void FakeEventServices::disableByTimeout() {
    if (!callback_)
        return;
    if (tap_)
        tap_->enable(false);
    Event note;
    note.type = EventType::tapDisabledByTimeout;
    callback_(TapProxy{}, EventType::tapDisabledByTimeout, &note, userInfo_);
}

std::vector<Event> FakeEventServices::scrolls() const {
    std::vector<Event> out;
    for (const Posted& p : posted)
        if (p.event.type == EventType::scrollWheel)
            out.push_back(p.event);
    return out;
}

} // namespace quillmere::testing
