#include "ManualTimerFactory.h"

#include <algorithm>

namespace quillmere::testing {

class ManualTimerFactory::Timer : public RepeatingTimer {
public:
    explicit Timer(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    ~Timer() override { entry_->cancelled = true; }
    void cancel() override { entry_->cancelled = true; }

private:
    std::shared_ptr<Entry> entry_;
};

std::unique_ptr<RepeatingTimer>
ManualTimerFactory::scheduleRepeating(Duration firstDelay, Duration interval,
                                      std::function<void()> handler) {
    auto entry = std::make_shared<Entry>();
    entry->next = now_ + firstDelay;
    entry->interval = interval;
    entry->handler = std::move(handler);
    entries_.push_back(entry);
    return std::make_unique<Timer>(entry);
}

std::size_t ManualTimerFactory::activeTimers() const {
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                  [](const auto& e) { return !e->cancelled; }));
}

bool ManualTimerFactory::runNext(Duration limit) {
    std::erase_if(entries_, [](const auto& e) { return e->cancelled; });
    auto due = std::min_element(entries_.begin(), entries_.end(),
                                [](const auto& a, const auto& b) { return a->next < b->next; });
    if (due == entries_.end() || (*due)->next > limit)
        return false;
    std::shared_ptr<Entry> entry = *due;
    now_ = entry->next;
    entry->next += entry->interval; // absolute deadlines: no drift
    tickTimes.push_back(now_);
    entry->handler(); // `entry` keeps it alive if the tick ends its own timer
    return true;
}

void ManualTimerFactory::advance(Duration by) {
    const Duration limit = now_ + by;
    while (runNext(limit)) {
    }
    now_ = limit;
}

std::uint64_t ManualTimerFactory::runUntilIdle(std::uint64_t limit) {
    std::uint64_t ticks = 0;
    while (ticks < limit && runNext(Duration::max()))
        ++ticks;
    return ticks;
}

} // namespace quillmere::testing
