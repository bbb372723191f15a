#pragma once
// The same user's running processes, read from /proc, and the polite quit
// request (SIGTERM, never SIGKILL).

#include <QString>

#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace quillmere::Processes {

struct ProcessInfo {
    pid_t pid = 0;
    QString exe;  // the executable file, empty when it cannot be read
    QString name; // the process name (comm), empty when it cannot be read
    // When it started, in clock ticks since boot; 0 when it cannot be read.
    std::uint64_t startTime = 0;
};

// The processes of the calling user, in ascending process id order.
std::vector<ProcessInfo> sameUserProcesses();

// The instances among `processes` older than `self`: the same executable
// file as ours, or else the process name `name`, started before us (an
// earlier start time, or the same clock tick and a lower pid). Our own
// process is never one of them, nor is a process that shows neither an
// executable nor a name. Of two instances started at once, the newer thus
// finds the older and the older finds nothing.
std::vector<ProcessInfo> olderInstances(const std::vector<ProcessInfo>& processes,
                                        const ProcessInfo& self, const QString& name);

// The running process itself.
ProcessInfo self();

// Asks a process to quit normally (SIGTERM). The result is only reported.
bool requestQuit(pid_t pid);

} // namespace quillmere::Processes
