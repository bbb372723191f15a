#pragma once
// Whether this process may take over the mice: the Linux counterpart of the
// accessibility trust check. Trusted when the uinput node opens for writing
// (the virtual pointers are made there) and every mouse event node present
// opens for reading; with no mouse present that part holds, so mice plugged
// in later are picked up. Access is normally granted by the udev rule the
// project ships (uaccess tags) plus loading the uinput module.

#include <string>
#include <vector>

namespace quillmere::InputAccess {

bool isTrusted();

// The same check on given nodes.
bool isTrusted(const std::string& uinputPath, const std::vector<std::string>& pointerNodes);

// The event nodes of the mice present now (what the input layer would take).
std::vector<std::string> pointerNodes();

} // namespace quillmere::InputAccess
