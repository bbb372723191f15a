#pragma once
// Makes sure Quillmere may read the mice and create its virtual pointers
// before the engine starts: checks, shows the permission prompt once, then
// polls once a second and runs the completion exactly once when access
// arrives, always on a later turn of the main loop.

#include <functional>

namespace quillmere::AccessibilityHelper {

void ensureAccessibility(std::function<void()> completion);

// The trust check in use (the input-access check by default); tests may
// replace it. An empty function restores the default.
void setTrustCheck(std::function<bool()> check);

} // namespace quillmere::AccessibilityHelper
