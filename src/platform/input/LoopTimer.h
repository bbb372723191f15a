#pragma once
// Repeating timers on the input thread's loop, on timerfd (CLOCK_MONOTONIC,
// absolute deadlines): tick n falls due at start + firstDelay + (n - 1) *
// interval, whatever the lateness of earlier ticks, so a glide never drifts.
// Ticks the loop was too busy to run are not lost: the timer's expiration
// count says how many fell due, and the handler runs once for each of them,
// in a row, stopping as soon as the timer is cancelled. An interval of zero
// or less gives a single tick. Timers are made, ticked and cancelled on the
// loop's thread.

#include "EventLoop.h"
#include "engine/Timer.h"

namespace quillmere::input {

class LoopTimerFactory : public TimerFactory {
public:
    explicit LoopTimerFactory(EventLoop& loop) : loop_(loop) {}
    // A timer that cannot be made (no timerfd left) logs a line and never
    // ticks.
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds firstDelay,
                                                      std::chrono::nanoseconds interval,
                                                      std::function<void()> handler) override;

private:
    EventLoop& loop_;
};

} // namespace quillmere::input
