#pragma once
// One line per message, from any thread. By default each line goes to
// standard error; tests and the app may install another sink (it is called
// with a lock held, one line at a time).

#include <functional>
#include <string_view>

namespace quillmere::Log {

using Sink = std::function<void(std::string_view line)>;

// Writes one line (without its newline) to the current sink.
void write(std::string_view line);

// Replaces the sink; an empty sink restores standard error. Returns the old one.
Sink setSink(Sink sink);

} // namespace quillmere::Log
