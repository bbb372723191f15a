#pragma once
// Which input devices the input layer takes over: event nodes that udev marks
// as a mouse (ID_INPUT_MOUSE=1) and that move relatively (REL_X and REL_Y)
// and have a right button, and none of these:
//   - Quillmere's own virtual pointers (their phys starts with "quillmere/");
//   - nodes that are keyboards too (taking them would route keystrokes);
//   - pointing sticks (libinput pairs them with the touchpad);
//   - other programs' virtual devices (under /devices/virtual: remappers,
//     ydotool, game clients), unless the settings say to take them.
// Touchpads, tablets and the absolute pointers of virtual machines do not
// move relatively and are not taken either.

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

// What the layer makes of an event node udev marks as a mouse.
enum class Verdict {
    taken,
    notAPointer, // not marked as a mouse, no node, or no right button
    ownPointer,
    keyboard,
    pointingStick,
    otherProgramsDevice,
    absolutePointer,
    middleButtonScroller, // no wheel, a middle button: the desktop scrolls with that
};
// The reason a verdict gives for leaving a mouse alone, for the log.
const char* reason(Verdict verdict);
Verdict judge(udev_device* device, bool takeVirtualDevices);

// Every event node marked as a mouse, with its verdict (the device is valid
// during the call).
void forEachMouse(udev* context, bool takeVirtualDevices,
                  const std::function<void(udev_device*, Verdict)>& visit);
// Device nodes (/dev/input/eventN) of every mouse the layer takes.
std::vector<std::string> eligibleMouseNodes(udev* context, bool takeVirtualDevices = false);

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
