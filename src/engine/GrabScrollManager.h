#pragma once
// The grab-scroll engine: holds back a right-button press, turns a right drag
// of 5 points or more into scroll-wheel events, gives a click without a drag
// back as a marked right click, and glides on with momentum after release.
//
// Look at the states before editing the handlers:
//
//             down                 drag (path >= 5)            up
//   idle ------------> pending ---------------------> scrolling ------> idle
//     ^                   |                                        (+ glide)
//     +-------------------+
//       up: a marked click at the press position
//
//   - A down in any state cancels a glide and starts over in pending.
//   - The glide (the momentum timer) runs on in idle until it slows down.
//   - One gesture at a time, owned by the mouse whose down started it:
//     while it is pending, scrolling or gliding, another mouse's right
//     button passes untouched, and everything the gesture posts carries its
//     mouse (Event::sourceDevice), so it goes out where it came from.
//
// Movement is in points, stamped with the time of its event: the glide
// starts from the drag's movement per 16 ms over its last 128 ms
// (DragVelocity.h), and the fractions of a scroll amount carry over within a
// drag, so no distance is lost however small the steps.
//
// The engine lives on one thread (the input thread): the tap callback, the
// handlers, the posts and the momentum timer all run there. start() and
// stop() may be called from any thread and are carried over to it; isEnabled
// may be read and written anywhere. Settings come from the published
// snapshot (ScrollConfig::current()), read once per event.

#include "DragVelocity.h"
#include "EngineThread.h"
#include "Event.h"
#include "EventServices.h"
#include "Timer.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace quillmere {

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
    // The mouse whose gesture is under way (pending, scrolling or gliding).
    std::uint64_t gestureSource() const { return gestureSource_; }
    State state() const { return state_; }
    bool hasEventTap() const { return eventTap_ != nullptr; }
    bool isMomentumRunning() const { return momentumTimer_ != nullptr; }
    LockedAxis lockedAxis() const { return lockedAxis_; }
    Point initialPosition() const { return initialPosition_; }
    double accumulatedDelta() const { return accumulatedDelta_; }
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
    bool ownsGesture(const Event& event) const;

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
    // The drag's speed for the glide, and the exact scroll amounts of the
    // drag so far next to what was posted of them: remainders carry over.
    DragVelocity velocity_;
    double exactX_ = 0.0;
    double exactY_ = 0.0;
    double postedX_ = 0.0;
    double postedY_ = 0.0;
    bool isFirstScrollEvent_ = true;
    std::uint64_t gestureSource_ = 0;
    std::int64_t lastEventTime_ = 0;
    std::unique_ptr<RepeatingTimer> momentumTimer_;
    double momentumVX_ = 0.0;
    double momentumVY_ = 0.0;
    bool momentumIsFirst_ = true;
};

// Conversion of a scroll amount to a wheel value: truncation toward zero,
// clamped to the signed 32-bit range; nothing for a value that is not finite.
std::optional<std::int32_t> wheelAmount(double amount);

} // namespace quillmere
