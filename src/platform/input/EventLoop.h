#pragma once
// A plain epoll loop: the input thread runs one, so that mouse input never
// waits for the interface thread (its Qt loop builds windows, writes files
// and makes blocking D-Bus calls).
//
// Descriptors are watched for reading (level-triggered) with a handler each.
// Other threads hand work over with post() or runAndWait(): a queue and an
// eventfd that wakes the loop. Watching, unwatching and the handlers belong
// to the loop's thread (or to whoever holds the loop before it runs).
//
// A handler or task that throws ends run() with that exception: the owner
// decides what a failed loop means (InputThread ends the process).

#include "engine/EngineThread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace quillmere::input {

class EventLoop : public EngineThread {
public:
    using Handler = std::function<void()>;

    // Throws std::system_error when the kernel gives no epoll or eventfd.
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Calls handler whenever fd is readable; watching an fd again replaces
    // its handler. False (and nothing watched) when epoll refuses the fd.
    bool watch(int fd, Handler handler);
    // Stops watching fd; safe inside any handler, its own included. Call it
    // before closing the fd.
    void unwatch(int fd);

    // Queues a task for the loop's thread; safe on any thread.
    void post(std::function<void()> task);
    // Runs work on the loop's thread and waits for it; at once when called
    // there, or once run() has ended normally. Once the loop has failed (or
    // fails while this waits), work does not run and the call returns.
    void runAndWait(const std::function<void()>& work) override;

    // Runs the loop on the calling thread until quit(); tasks posted before
    // quit() still run before it returns.
    void run();
    // Safe on any thread.
    void quit();
    bool inLoopThread() const;

private:
    struct Watch {
        std::uint32_t generation;
        Handler handler;
    };
    void dispatch(std::uint64_t key);
    // Runs the oldest posted task; false when there was none.
    bool runOne();
    void runPosted();
    void wake();

    int epoll_ = -1;
    int wakeFd_ = -1;
    std::uint32_t nextGeneration_ = 1;
    std::unordered_map<int, std::shared_ptr<Watch>> watches_;

    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::function<void()>> posted_;
    bool finished_ = false; // run() has returned: no task will run any more
    bool failed_ = false;   // ... by an exception: nothing runs any more
    std::atomic<bool> quit_{false};
    std::atomic<std::thread::id> loopThread_{};
};

} // namespace quillmere::input
