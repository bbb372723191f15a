#pragma once
// Where the engine's work runs. The engine, its event services and its
// timers live on one thread (on Linux the input thread, see
// platform/input/InputThread.h). Its public start() and stop() may be called
// from another thread: they are carried over to the engine's thread and
// waited for.

#include <functional>

namespace quillmere {

class EngineThread {
public:
    virtual ~EngineThread() = default;
    // Runs work on the engine's thread and returns once it has run; runs it
    // at once when called there.
    virtual void runAndWait(const std::function<void()>& work) = 0;
};

} // namespace quillmere
