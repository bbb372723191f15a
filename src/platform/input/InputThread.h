#pragma once
// The input thread: everything that touches input devices lives here, on an
// epoll loop of its own, so that the pointer never waits for the interface.
// It owns the loop, the momentum timers and the event services (udev
// discovery and hot-plug, the grabbed mice and their virtual pointers); the
// engine made on these services lives here too, and its start() and stop()
// reach it through runAndWait().
//
// A failure of the thread (an exception, or its loop ending unasked) ends
// the process at once: the kernel then drops every grab and every virtual
// pointer with the buttons it held, rather than leaving mice grabbed with
// nobody reading them.

#include "EventLoop.h"
#include "LinuxEventServices.h"
#include "LoopTimer.h"

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

namespace quillmere::input {

class InputThread {
public:
    // Starts the thread; uinputPath is the uinput node (another only in tests).
    explicit InputThread(std::string uinputPath = "/dev/uinput");
    // Stops the services on the thread (every held button released, every
    // mouse given back), then ends the thread.
    ~InputThread();
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;

    EventLoop& loop() { return loop_; }
    TimerFactory& timers() { return timers_; }
    // Used on the input thread only (runAndWait() from elsewhere).
    LinuxEventServices& services() { return services_; }
    // The kernel's id of the thread, for a realtime priority request.
    pid_t threadId() const;

private:
    void main();
    [[noreturn]] void fail(const std::string& reason);

    EventLoop loop_;
    LoopTimerFactory timers_;
    LinuxEventServices services_;
    std::atomic<pid_t> tid_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace quillmere::input
