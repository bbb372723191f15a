#include "EventLoop.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace quillmere::input {

namespace {
std::uint64_t keyOf(int fd, std::uint32_t generation) {
    return static_cast<std::uint64_t>(generation) << 32 | static_cast<std::uint32_t>(fd);
}
} // namespace

EventLoop::EventLoop()
    : epoll_(epoll_create1(EPOLL_CLOEXEC)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (epoll_ < 0 || wakeFd_ < 0) {
        const int error = errno;
        if (epoll_ >= 0)
            ::close(epoll_);
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
        throw std::system_error(error, std::generic_category(), "input event loop");
    }
    watch(wakeFd_, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        runPosted();
    });
}

EventLoop::~EventLoop() {
    ::close(wakeFd_);
    ::close(epoll_);
}

bool EventLoop::watch(int fd, Handler handler) {
    const std::uint32_t generation = nextGeneration_++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = keyOf(fd, generation);
    const bool known = watches_.count(fd) != 0;
    if (epoll_ctl(epoll_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) != 0)
        return false;
    watches_[fd] = std::make_shared<Watch>(Watch{generation, std::move(handler)});
    return true;
}

void EventLoop::unwatch(int fd) {
    if (watches_.erase(fd) != 0)
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
}

void EventLoop::dispatch(std::uint64_t key) {
    const int fd = static_cast<int>(key & 0xffffffffu);
    const auto found = watches_.find(fd);
    // Unwatched by an earlier handler of the same round, perhaps with the
    // number reused since: the generation tells.
    if (found == watches_.end() || found->second->generation != key >> 32)
        return;
    // Kept alive while it runs, even if it unwatches itself.
    const std::shared_ptr<Watch> watch = found->second;
    watch->handler();
}

void EventLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }
    wake();
}

void EventLoop::runAndWait(const std::function<void()>& work) {
    if (inLoopThread()) {
        work();
        return;
    }
    std::unique_lock lock(mutex_);
    if (failed_)
        return;
    if (finished_) {
        lock.unlock();
        work(); // the loop is gone: the caller is its only user now
        return;
    }
    bool ran = false;
    posted_.push_back([&] {
        work();
        std::lock_guard done(mutex_);
        ran = true;
        done_.notify_all();
    });
    lock.unlock();
    wake();
    lock.lock();
    // A loop that failed meanwhile never runs it: that is the owner's to handle.
    done_.wait(lock, [&] { return ran || finished_; });
}

void EventLoop::run() {
    loopThread_ = std::this_thread::get_id();
    try {
        epoll_event events[16];
        while (!quit_.load(std::memory_order_acquire)) {
            const int ready = epoll_wait(epoll_, events, 16, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), "epoll_wait");
            }
            for (int i = 0; i < ready; ++i)
                dispatch(events[i].data.u64);
        }
        // Every task handed over before the end still runs.
        while (runOne()) {
        }
    } catch (...) {
        // Waiters must not wait for ever; their work does not run.
        std::lock_guard lock(mutex_);
        finished_ = failed_ = true;
        posted_.clear();
        done_.notify_all();
        throw;
    }
}

bool EventLoop::runOne() {
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) {
            if (quit_.load(std::memory_order_acquire)) {
                finished_ = true;
                done_.notify_all();
            }
            return false;
        }
        task = std::move(posted_.front());
        posted_.pop_front();
    }
    task();
    return true;
}

void EventLoop::runPosted() {
    while (runOne()) {
    }
}

void EventLoop::quit() {
    quit_.store(true, std::memory_order_release);
    wake();
}

void EventLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool EventLoop::inLoopThread() const {
    return loopThread_.load() == std::this_thread::get_id();
}

} // namespace quillmere::input
