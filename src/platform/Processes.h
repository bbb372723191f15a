#pragma once
// The same user's running processes, read from /proc, and the polite quit
// request (SIGTERM, never SIGKILL).

#include <QString>

#include <sys/types.h>
#include <vector>

namespace quillmere::Processes {

struct ProcessInfo {
    pid_t pid = 0;
    QString exe;  // the executable file, empty when it cannot be read
    QString name; // the process name (comm), empty when it cannot be read
};

// The processes of the calling user, in ascending process id order.
std::vector<ProcessInfo> sameUserProcesses();

// The other instances among `processes`: the same executable file as ours,
// or else the process name `name`; our own process is never one of them,
// nor is a process that shows neither an executable nor a name.
std::vector<ProcessInfo> otherInstances(const std::vector<ProcessInfo>& processes,
                                        const QString& ownExe, pid_t ownPid, const QString& name);

// The executable file of the running process.
QString ownExecutable();

// Asks a process to quit normally (SIGTERM). The result is only reported.
bool requestQuit(pid_t pid);

} // namespace quillmere::Processes
