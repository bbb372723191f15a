#pragma once
// Repeating main-thread timers on timerfd (CLOCK_MONOTONIC, absolute
// deadlines): tick n falls due at start + firstDelay + (n - 1) * interval,
// whatever the lateness of earlier ticks, so a glide never drifts. Ticks the
// main loop was too busy to run are not lost: the timer's expiration count
// says how many fell due, and the handler runs once for each of them, in a
// row, stopping as soon as the timer is cancelled. An interval of zero or
// less gives a single tick.

#include "engine/Timer.h"

namespace quillmere {

class TimerfdTimerFactory : public TimerFactory {
public:
    // A timer that cannot be made (no timerfd left) logs a line and never
    // ticks.
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds firstDelay,
                                                      std::chrono::nanoseconds interval,
                                                      std::function<void()> handler) override;
};

} // namespace quillmere
