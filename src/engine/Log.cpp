#include "Log.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace quillmere::Log {
namespace {
// Lines come from the interface thread and the input thread; one at a time.
std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}
Sink& currentSink() {
    static Sink sink;
    return sink;
}
} // namespace

void write(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    Sink& sink = currentSink();
    if (sink) {
        sink(line);
        return;
    }
    std::string out(line);
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

Sink setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace quillmere::Log
