#pragma once
// Which button grabs and scrolls on a mouse: the settings may name one
// ("gestureButton"); otherwise it follows the desktop, the right button for
// a right-handed pointer and the left one for a left-handed pointer (the
// desktop swaps them after the virtual pointer, so the physical right button
// is the primary button then).

#include "engine/ScrollSettings.h"

#include <cstdint>
#include <map>
#include <string>

namespace quillmere::input {

// The desktop's handedness, as far as it is known.
struct Handedness {
    bool leftHanded = false;
    // Per-device answers (KDE keeps one per mouse), keyed "vendor:product:name".
    std::map<std::string, bool> perDevice;

    friend bool operator==(const Handedness&, const Handedness&) = default;
};

// The evdev code of the gesture button of the mouse with this key.
std::uint16_t gestureButtonCode(GestureButton setting, const Handedness& handedness,
                                const std::string& deviceKey);

} // namespace quillmere::input
