#pragma once
// Which input devices the input layer takes over: event nodes that udev marks
// as a mouse (ID_INPUT_MOUSE=1) and that move relatively (REL_X and REL_Y)
// and have a right button. Touchpads and tablets report absolute positions
// and do not qualify. Quillmere's own virtual pointers carry a phys that
// starts with "quillmere/" and are never taken.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct udev;
struct udev_device;
struct libevdev;

namespace quillmere::input {

inline constexpr std::string_view ownPhysPrefix = "quillmere/";

bool isOwnPhys(std::string_view phys);

// Tests one bit of a sysfs capability bitmap ("capabilities/key" and the
// like): words of the kernel's long size in hex, most significant first.
// A malformed bitmap has no bit set.
bool bitmapHasBit(std::string_view bitmap, unsigned bit);

// REL_X, REL_Y and BTN_RIGHT, as an opened device reports them.
bool hasMouseCapabilities(const libevdev* device);

// Whether a udev device of subsystem "input" is an event node of a mouse
// this layer takes (udev marking, sysfs capabilities, not one of ours).
bool isEligibleMouse(udev_device* device);

// Every eligible mouse present now, as udev devices (valid during the call).
void forEachEligibleMouse(udev* context, const std::function<void(udev_device*)>& take);
// Device nodes (/dev/input/eventN) of every eligible mouse present now.
std::vector<std::string> eligibleMouseNodes(udev* context);

// A mouse's resolution, from udev's mouse hwdb (MOUSE_DPI): the entry marked
// "*", or the single (else the last) one, as libinput reads it. Without the
// property, or when it is unusable (malformed, not above 0, above 100000),
// the 1000 that libinput assumes; `problem` then says what was wrong with a
// value that was there.
inline constexpr int defaultDpi = 1000;
struct Resolution {
    int dpi = defaultDpi;
    std::string problem;
};
Resolution mouseResolution(const char* mouseDpiProperty);

// Whether a udev daemon runs: without it no device is marked as a mouse and
// nothing can be found or followed.
bool udevIsRunning();

} // namespace quillmere::input
