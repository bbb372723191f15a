#pragma once
// Registers or unregisters the application as a login item (freedesktop
// autostart entry) and reports whether it is registered.

namespace quillmere::LaunchAtLoginHelper {

// Registers (true) or unregisters (false); on success stores the value
// under "launchAtLogin", on failure logs one line. Never throws.
void setEnabled(bool enabled);

// The registration as it really stands, read back from the autostart entry.
bool isEnabled();

} // namespace quillmere::LaunchAtLoginHelper
