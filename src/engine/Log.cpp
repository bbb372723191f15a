#include "Log.h"

#include <cstdio>
#include <string>
#include <utility>

namespace quillmere::Log {
namespace {
Sink& currentSink() {
    static Sink sink;
    return sink;
}
} // namespace

void write(std::string_view line) {
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
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace quillmere::Log
