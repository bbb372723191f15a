#pragma once
// Repeating timers on a manual clock: advance() fires every tick that falls
// due, in deadline order, at its absolute deadline.

#include "engine/Timer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillmere::testing {

class ManualTimerFactory : public TimerFactory {
public:
    using Duration = std::chrono::nanoseconds;

    std::unique_ptr<RepeatingTimer> scheduleRepeating(Duration firstDelay, Duration interval,
                                                      std::function<void()> handler) override {
        auto timer = std::make_unique<Timer>();
        timer->entry = std::make_shared<Entry>(now_ + firstDelay, interval, std::move(handler));
        entries_.push_back(timer->entry);
        return timer;
    }

    // Moves the clock forward, running every tick that falls due.
    void advance(Duration by) {
        const Duration limit = now_ + by;
        while (runNext(limit)) {
        }
        now_ = limit;
    }
    // Runs ticks until no timer is left or the limit is reached; returns the
    // number of ticks run.
    std::uint64_t runUntilIdle(std::uint64_t limit = 1'000'000) {
        std::uint64_t ticks = 0;
        while (ticks < limit && runNext(Duration::max()))
            ++ticks;
        return ticks;
    }

private:
    struct Entry {
        Duration next;
        Duration interval;
        std::function<void()> handler;
        bool cancelled = false;
    };
    struct Timer : RepeatingTimer {
        ~Timer() override { cancel(); }
        void cancel() override { entry->cancelled = true; }
        std::shared_ptr<Entry> entry;
    };

    bool runNext(Duration limit) {
        std::erase_if(entries_, [](auto& e) { return e->cancelled; });
        auto due = std::min_element(entries_.begin(), entries_.end(),
                                    [](auto& a, auto& b) { return a->next < b->next; });
        if (due == entries_.end() || (*due)->next > limit)
            return false;
        std::shared_ptr<Entry> entry = *due; // alive if the tick ends its own timer
        now_ = entry->next;
        entry->next += entry->interval; // absolute deadlines: no drift
        entry->handler();
        return true;
    }

    Duration now_{0};
    std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace quillmere::testing
