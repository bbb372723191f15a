#pragma once
// Log lines for standard error, written by a thread of their own. The input
// thread logs (hot-plug, sessions, resyncs), and a reader of standard error
// that stalls (a terminal paused with Ctrl-S, a journal that is not
// reading) must not stall the mouse: with this installed, Log::write only
// queues its line. While standard error takes nothing, the queue keeps its
// first lines and counts the rest, and says how many it dropped once it
// writes again.

#include <chrono>
#include <cstddef>

namespace quillmere::input::QueuedLog {

// Makes Log::write queue its lines for the writer thread, until another
// sink is installed. What is still queued at a normal exit is written then,
// waiting a second at most.
void install(std::size_t maximumQueuedLines = 256);

// Waits until every queued line is written, at most `limit`: for a process
// about to end without its exit handlers. False when they were not.
bool flush(std::chrono::milliseconds limit);

} // namespace quillmere::input::QueuedLog
