#pragma once
// Asks the update endpoint whether a newer version exists and tells the user.

namespace quillmere::UpdateChecker {

// User-initiated: reports both a newer version and the absence of one.
void checkForUpdate();
// Background: speaks up only when an update exists.
void checkSilently();

} // namespace quillmere::UpdateChecker
