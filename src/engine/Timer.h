#pragma once
// A repeating main-thread timer with absolute deadlines: tick n falls due at
// start + firstDelay + (n - 1) * interval, so late ticks never shift later
// ones. The Linux implementation uses timerfd; tests drive a manual clock.

#include <chrono>
#include <functional>
#include <memory>

namespace quillmere {

class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    // Stops the timer for good; no tick runs after cancel() returns. A tick
    // may cancel or destroy its own timer: the running handler is kept alive
    // until it returns.
    virtual void cancel() = 0;
};

class TimerFactory {
public:
    virtual ~TimerFactory() = default;
    // Starts a repeating timer; the handler runs on the main thread.
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds firstDelay,
                                                              std::chrono::nanoseconds interval,
                                                              std::function<void()> handler) = 0;
};

} // namespace quillmere
