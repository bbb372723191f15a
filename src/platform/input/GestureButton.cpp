#include "GestureButton.h"

#include <linux/input.h>

namespace quillmere::input {

std::uint16_t gestureButtonCode(GestureButton setting, const Handedness& handedness,
                                const std::string& deviceKey) {
    switch (setting) {
    case GestureButton::right:
        return BTN_RIGHT;
    case GestureButton::middle:
        return BTN_MIDDLE;
    case GestureButton::back:
        return BTN_SIDE;
    case GestureButton::forward:
        return BTN_EXTRA;
    case GestureButton::automatic:
        break;
    }
    bool left = handedness.leftHanded;
    if (!handedness.perDevice.empty())
        if (const auto found = handedness.perDevice.find(deviceKey);
            found != handedness.perDevice.end())
            left = found->second;
    return left ? BTN_LEFT : BTN_RIGHT;
}

} // namespace quillmere::input
