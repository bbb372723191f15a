#include "LoopTimer.h"

#include "engine/Log.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace quillmere::input {

namespace {

timespec toTimespec(std::chrono::nanoseconds value) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(value);
    timespec result{};
    result.tv_sec = static_cast<time_t>(seconds.count());
    result.tv_nsec = static_cast<long>((value - seconds).count());
    return result;
}

// Shared between the timer handle and a tick in progress, so that a tick may
// cancel or destroy its own timer while its handler still runs.
struct TimerState {
    explicit TimerState(EventLoop& loop) : loop(loop) {}
    EventLoop& loop;
    int fd = -1;
    std::function<void()> handler;
    bool cancelled = false;

    ~TimerState() { stop(); }
    void stop() {
        cancelled = true;
        if (fd >= 0) {
            loop.unwatch(fd);
            ::close(fd);
        }
        fd = -1;
    }
};

class TimerfdTimer : public RepeatingTimer {
public:
    explicit TimerfdTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
    ~TimerfdTimer() override { cancel(); }
    void cancel() override { state_->stop(); }

private:
    std::shared_ptr<TimerState> state_;
};

void fire(const std::shared_ptr<TimerState>& state) {
    std::uint64_t expirations = 0;
    const ssize_t got = ::read(state->fd, &expirations, sizeof expirations);
    if (got != static_cast<ssize_t>(sizeof expirations))
        return; // nothing due (EAGAIN) or the clock was set back
    for (std::uint64_t i = 0; i < expirations && !state->cancelled; ++i)
        state->handler();
}

} // namespace

std::unique_ptr<RepeatingTimer>
LoopTimerFactory::scheduleRepeating(std::chrono::nanoseconds firstDelay,
                                    std::chrono::nanoseconds interval,
                                    std::function<void()> handler) {
    auto state = std::make_shared<TimerState>(loop_);
    state->handler = std::move(handler);
    state->fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (state->fd < 0) {
        Log::write(std::string("[Quillmere] cannot create a timer: ") + std::strerror(errno));
        state->cancelled = true;
        return std::make_unique<TimerfdTimer>(std::move(state));
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::chrono::nanoseconds start = std::chrono::seconds(now.tv_sec) +
                                           std::chrono::nanoseconds(now.tv_nsec) +
                                           std::max(firstDelay, std::chrono::nanoseconds(0));
    itimerspec schedule{};
    schedule.it_value = toTimespec(start);
    if (interval > std::chrono::nanoseconds(0))
        schedule.it_interval = toTimespec(interval);
    if (timerfd_settime(state->fd, TFD_TIMER_ABSTIME, &schedule, nullptr) != 0) {
        Log::write(std::string("[Quillmere] cannot start a timer: ") + std::strerror(errno));
        state->stop();
        return std::make_unique<TimerfdTimer>(std::move(state));
    }
    std::weak_ptr<TimerState> weak = state;
    const bool watched = loop_.watch(state->fd, [weak] {
        // This reference keeps the state (and the running handler) alive
        // when a tick destroys its own timer.
        if (const std::shared_ptr<TimerState> alive = weak.lock())
            fire(alive);
    });
    if (!watched) {
        Log::write(std::string("[Quillmere] cannot watch a timer: ") + std::strerror(errno));
        state->stop();
    }
    return std::make_unique<TimerfdTimer>(std::move(state));
}

} // namespace quillmere::input
