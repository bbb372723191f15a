#pragma once
// The newest process asks every older instance of Quillmere (same user) to
// quit and waits up to 3.0 seconds, polling every 0.1 seconds, for them to go.
// Only older ones: of two launches at once, the newer one survives.

#include "platform/Processes.h"

#include <chrono>
#include <functional>

namespace quillmere::SingleInstance {

inline constexpr std::chrono::milliseconds waitLimit{3000};
inline constexpr std::chrono::milliseconds pollInterval{100};

// What the rule looks at; the system's reads /proc, sends SIGTERM and waits
// on the steady clock.
struct Environment {
    std::function<std::vector<Processes::ProcessInfo>()> runningProcesses;
    std::function<void(pid_t)> requestQuit;
    Processes::ProcessInfo self;
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

Environment systemEnvironment();

// Runs the rule; returns the number of older instances it asked to quit.
int enforce(const Environment& environment = systemEnvironment());

} // namespace quillmere::SingleInstance
