#pragma once
// The grab-scroll engine: holds back a right-button press, turns a right drag
// of 5 points or more into scroll-wheel events, gives a click without a drag
// back as a marked right click, and glides on with momentum after release.
//
//            right down            drag, path >= 5           right up
//   idle ───────────────> pending ─────────────────> scrolling ───────> idle
//    ^  <─────────────────   │                                 (glide: momentum
//    │     right up: click   │                                  timer runs on)
//    └───────────────────────┘
//   A right down in any state cancels a glide and starts over in pending.
//
// The engine lives on one thread (the input thread): the tap callback, the
// handlers, the posts and the momentum timer all run there. start() and
// stop() may be called from any thread and are carried over to it; isEnabled
// may be read and written anywhere. Settings come from the published
// snapshot (ScrollConfig::current()), read once per event.

#include "EngineThread.h"
#include "Event.h"
#include "EventServices.h"
#include "Timer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace quillmere {

// A fixed-capacity list of the last samples, oldest first; it never
// allocates, so a drag event costs no heap work.
class SampleHistory {
public:
    static constexpr std::size_t capacity = 8;
    void clear() { count_ = 0; }
    void append(double value);
    void removeOldest();
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    double operator[](std::size_t i) const { return values_[i]; }
    double sum() const;

private:
    // One spare slot: a ninth sample is appended before the oldest goes.
    std::array<double, capacity + 1> values_{};
    std::size_t count_ = 0;
};

class GrabScrollManager {
public:
    enum class State { idle, pending, scrolling };
    enum class LockedAxis { none, vertical, horizontal };

    // "QuilTap" in ASCII, first character most significant.
    static constexpr std::int64_t clickMarker = 0x5175696C546170;
    static constexpr int momentumPhaseField = EventField::scrollWheelEventMomentumPhase;
    static constexpr int isContinuousField = EventField::scrollWheelEventIsContinuous;

    static constexpr double dragThreshold = 5.0;
    static constexpr double axisLockThreshold = 10.0;
    static constexpr std::uint64_t tapEventMask = 0x98;
    static constexpr double minimumMomentumVelocity = 1.0;
    static constexpr double momentumDecay = 0.97;
    static constexpr double momentumStopSpeed = 0.3;
    static constexpr std::chrono::milliseconds momentumInterval{16};
    // Scroll phase values.
    static constexpr std::int64_t phaseBegan = 1;
    static constexpr std::int64_t phaseChanged = 2;
    static constexpr std::int64_t phaseCancelled = 8;

    // thread: where the engine lives; nullptr when it is the caller's.
    GrabScrollManager(EventServices& services, TimerFactory& timers,
                      EngineThread* thread = nullptr);
    ~GrabScrollManager();
    GrabScrollManager(const GrabScrollManager&) = delete;
    GrabScrollManager& operator=(const GrabScrollManager&) = delete;

    // The single process-wide instance, made on first use from the services
    // installed with installShared(); nullptr-safe only after installation.
    static void installShared(EventServices& services, TimerFactory& timers,
                              EngineThread* thread = nullptr);
    static GrabScrollManager& shared();
    static GrabScrollManager* sharedIfInstalled();

    void start();
    void stop();
    std::atomic<bool> isEnabled{true};

    static Event* eventTapCallback(TapProxy proxy, EventType type, Event* event, void* userInfo);

    Event* handleRightMouseDown(Event* event);
    Event* handleRightMouseDragged(Event* event);
    Event* handleRightMouseUp(Event* event, TapProxy proxy);

    void postScrollEvent(double deltaX, double deltaY);
    std::pair<double, double> averageVelocity() const;
    void startMomentumScroll();

    // Read-only views for tests and diagnostics, on the engine's thread.
    State state() const { return state_; }
    bool hasEventTap() const { return eventTap_ != nullptr; }
    bool isMomentumRunning() const { return momentumTimer_ != nullptr; }
    LockedAxis lockedAxis() const { return lockedAxis_; }
    Point initialPosition() const { return initialPosition_; }
    double accumulatedDelta() const { return accumulatedDelta_; }
    const SampleHistory& velocityHistoryX() const { return velocityHistoryX_; }
    const SampleHistory& velocityHistoryY() const { return velocityHistoryY_; }
    double momentumVX() const { return momentumVX_; }
    double momentumVY() const { return momentumVY_; }
    bool isFirstScrollEvent() const { return isFirstScrollEvent_; }

private:
    void startHere();
    void stopHere();
    void momentumTick();
    void cancelMomentum();
    void postEndOfDrag();
    void postClick();

    EventServices& services_;
    TimerFactory& timers_;
    EngineThread* thread_;

    State state_ = State::idle;
    std::unique_ptr<EventTap> eventTap_;
    Point initialPosition_;
    double accumulatedDelta_ = 0.0;
    LockedAxis lockedAxis_ = LockedAxis::none;
    double axisAccX_ = 0.0;
    double axisAccY_ = 0.0;
    SampleHistory velocityHistoryX_;
    SampleHistory velocityHistoryY_;
    bool isFirstScrollEvent_ = true;
    std::unique_ptr<RepeatingTimer> momentumTimer_;
    double momentumVX_ = 0.0;
    double momentumVY_ = 0.0;
    bool momentumIsFirst_ = true;
};

// Conversion of a scroll amount to a wheel value: truncation toward zero,
// clamped to the signed 32-bit range; nothing for a value that is not finite.
std::optional<std::int32_t> wheelAmount(double amount);

} // namespace quillmere
