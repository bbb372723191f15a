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
    std::unique_ptr<EventTap> tapCreate(TapLocation, TapPlacement, TapOptions, std::uint64_t,
                                        TapCallback callback, void* userInfo) override {
        if (refuseTap)
            return nullptr;
        ++tapsCreated;
        callback_ = callback;
        userInfo_ = userInfo;
        auto tap = std::make_unique<Tap>(*this);
        tap_ = tap.get();
        return tap;
    }
    std::optional<Event> createEvent() override {
        return failCreateEvent ? std::nullopt : std::optional(Event{});
    }
    std::optional<Event> createMouseEvent(EventType type, Point at, MouseButton button) override {
        return failMouseEvents ? std::nullopt : std::optional(makeMouseEvent(type, at, button));
    }
    std::optional<Event> createScrollWheelEvent(ScrollUnit units, std::int32_t wheelCount,
                                                std::int32_t wheel1, std::int32_t wheel2,
                                                std::int32_t wheel3) override {
        if (failScrollEvents)
            return std::nullopt;
        return makeScrollWheelEvent(units, wheelCount, wheel1, wheel2, wheel3);
    }
    void post(TapLocation, const Event& event) override { posted.push_back(event); }

    // Feed one right-button event from mouse `source` through the live tap as
    // the system would: each returns whether it was passed on (true) or
    // swallowed (false). With no tap, or a disabled one, the event passes
    // untouched. Each drag comes `dragInterval` after the one before (one
    // drag per momentum tick, unless told else).
    bool rightDown() { return right(EventType::rightMouseDown, 0, 0); }
    bool rightDrag(double dx, double dy) {
        now_ += dragInterval;
        return right(EventType::rightMouseDragged, dx, dy);
    }
    bool rightUp() { return right(EventType::rightMouseUp, 0, 0); }
    // Sends the "tap disabled by timeout" notification to the callback.
    void disableByTimeout() {
        if (tap_)
            tap_->enable(false);
        Event note;
        note.type = EventType::tapDisabledByTimeout;
        if (callback_)
            callback_(TapProxy{}, note.type, &note, userInfo_);
    }

    // Test controls.
    bool refuseTap = false;
    bool failCreateEvent = false;
    bool failMouseEvents = false;
    bool failScrollEvents = false;
    std::int64_t dragInterval = 16'000'000;
    std::uint64_t source = 1;

    // What happened.
    std::vector<Event> posted;
    int tapsCreated = 0;
    bool tapEnabled() const { return tap_ && tap_->isEnabled(); }

private:
    struct Tap : EventTap {
        explicit Tap(FakeEventServices& owner) : owner(owner) {}
        ~Tap() override {
            if (owner.tap_ == this)
                owner.tap_ = nullptr;
        }
        void enable(bool on) override { enabled = on; }
        bool isEnabled() const override { return enabled; }
        FakeEventServices& owner;
        bool enabled = false;
    };
    bool right(EventType type, double dx, double dy) {
        Event event = makeMouseEvent(type, {}, MouseButton::right);
        event.deltaX = dx;
        event.deltaY = dy;
        event.timestamp = now_;
        event.sourceDevice = source;
        return !tapEnabled() || callback_(TapProxy{}, event.type, &event, userInfo_);
    }
    std::int64_t now_ = 0;
    Tap* tap_ = nullptr;
    TapCallback callback_ = nullptr;
    void* userInfo_ = nullptr;
};

} // namespace quillmere::testing
