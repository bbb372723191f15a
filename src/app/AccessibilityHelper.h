#pragma once
// Makes sure Quillmere may read the mice and create its virtual pointers
// before the engine starts: checks, shows the permission prompt once, then
// polls once a second and runs the completion exactly once when access
// arrives, always on a later turn of the main loop.

#include <chrono>
#include <functional>

namespace quillmere::AccessibilityHelper {

// The check and how often it is asked while the prompt waits for access.
struct Options {
    std::function<bool()> isTrusted; // empty: the input-access check
    std::chrono::milliseconds pollInterval{1000};
};

void ensureAccessibility(std::function<void()> completion, Options options = {});

} // namespace quillmere::AccessibilityHelper
