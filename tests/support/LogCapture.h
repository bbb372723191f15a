#pragma once
// Collects the log lines written while it lives, instead of printing them.

#include "engine/Log.h"

#include <string>
#include <vector>

namespace quillmere::testing {

class LogCapture {
public:
    LogCapture()
        : previous_(Log::setSink([this](std::string_view line) { lines.emplace_back(line); })) {}
    ~LogCapture() { Log::setSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines;

private:
    Log::Sink previous_;
};

} // namespace quillmere::testing
