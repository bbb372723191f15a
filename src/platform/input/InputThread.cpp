#include "InputThread.h"

#include "QueuedLog.h"

#include "engine/Log.h"

#include <cstdlib>
#include <exception>
#include <pthread.h>
#include <unistd.h>

namespace quillmere::input {

InputThread::InputThread(std::string uinputPath)
    : timers_(loop_), services_(loop_, timers_, std::move(uinputPath)),
      thread_([this] { main(); }) {}

InputThread::~InputThread() {
    loop_.runAndWait([this] { services_.shutdown(); });
    stopping_ = true;
    loop_.quit();
    thread_.join();
}

pid_t InputThread::threadId() const {
    // Known as soon as the thread runs; the wait is a few microseconds.
    pid_t tid = 0;
    while ((tid = tid_.load()) == 0)
        std::this_thread::yield();
    return tid;
}

void InputThread::main() {
    tid_ = ::gettid();
    pthread_setname_np(pthread_self(), "quillmere-input");
    try {
        loop_.run();
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("an unknown error");
    }
    if (!stopping_)
        fail("its loop ended");
}

void InputThread::fail(const std::string& reason) {
    Log::write("[Quillmere] the input thread failed (" + reason +
               "); quitting so that the kernel releases every mouse");
    // Ending at once, past the exit handlers: the line gets a moment, not more.
    QueuedLog::flush(std::chrono::milliseconds(500));
    std::_Exit(EXIT_FAILURE);
}

} // namespace quillmere::input
