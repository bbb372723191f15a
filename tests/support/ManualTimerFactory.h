#pragma once
// Repeating timers on a manual clock: advance() fires every tick that falls
// due, in deadline order, at its absolute deadline.

#include "engine/Timer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillmere::testing {

class ManualTimerFactory : public TimerFactory {
public:
    using Duration = std::chrono::nanoseconds;

    std::unique_ptr<RepeatingTimer> scheduleRepeating(Duration firstDelay, Duration interval,
                                                      std::function<void()> handler) override;

    // Moves the clock forward, running every tick that falls due.
    void advance(Duration by);
    // Runs ticks until no timer is left or the limit is reached; returns the
    // number of ticks run.
    std::uint64_t runUntilIdle(std::uint64_t limit = 1'000'000);

    std::size_t activeTimers() const;
    // Deadlines of the ticks that ran, in order.
    std::vector<Duration> tickTimes;

private:
    struct Entry {
        Duration next;
        Duration interval;
        std::function<void()> handler;
        bool cancelled = false;
    };
    class Timer;
    bool runNext(Duration limit);

    Duration now_{0};
    std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace quillmere::testing
