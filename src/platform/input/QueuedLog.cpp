#include "QueuedLog.h"

#include "engine/Log.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace quillmere::input::QueuedLog {
namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable wake;    // the writer: lines wait
    std::condition_variable written; // flush(): the writer caught up
    std::deque<std::string> lines;
    std::size_t bound = 0;
    std::size_t dropped = 0;
    bool writing = false; // the writer holds lines it has not written yet
    bool started = false;
};

// Never destroyed: other threads may log while the process ends.
Queue& queue() {
    static Queue* q = new Queue;
    return *q;
}

[[noreturn]] void writer() {
    Queue& q = queue();
    std::unique_lock lock(q.mutex);
    for (;;) {
        q.wake.wait(lock, [&] { return !q.lines.empty() || q.dropped > 0; });
        std::string text;
        for (const std::string& line : q.lines)
            text.append(line).push_back('\n');
        q.lines.clear();
        if (q.dropped > 0)
            text += "[Quillmere] " + std::to_string(std::exchange(q.dropped, 0)) +
                    " log line(s) dropped while standard error took none\n";
        q.writing = true;
        lock.unlock();
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
        lock.lock();
        q.writing = false;
        q.written.notify_all();
    }
}

void enqueue(std::string_view line) {
    Queue& q = queue();
    std::lock_guard lock(q.mutex);
    if (q.lines.size() >= q.bound)
        ++q.dropped;
    else
        q.lines.emplace_back(line);
    q.wake.notify_one();
}

} // namespace

void install(std::size_t maximumQueuedLines) {
    Queue& q = queue();
    {
        std::lock_guard lock(q.mutex);
        q.bound = maximumQueuedLines;
        if (!q.started) {
            q.started = true;
            std::thread(writer).detach();
            std::atexit([] { flush(std::chrono::seconds(1)); });
        }
    }
    Log::setSink(enqueue);
}

bool flush(std::chrono::milliseconds limit) {
    Queue& q = queue();
    std::unique_lock lock(q.mutex);
    return q.written.wait_for(lock, limit,
                              [&] { return q.lines.empty() && q.dropped == 0 && !q.writing; });
}

} // namespace quillmere::input::QueuedLog
