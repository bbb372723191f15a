#include "DeviceDiscovery.h"

#include <libevdev/libevdev.h>
#include <libudev.h>
#include <linux/input.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace quillmere::input {

bool isOwnPhys(std::string_view phys) {
    return phys.substr(0, ownPhysPrefix.size()) == ownPhysPrefix;
}

bool bitmapHasBit(std::string_view bitmap, unsigned bit) {
    constexpr unsigned wordBits = sizeof(unsigned long) * CHAR_BIT;
    const unsigned wanted = bit / wordBits;
    // Walk the words from the least significant (last) one.
    unsigned index = 0;
    std::size_t end = bitmap.find_last_not_of(" \n");
    while (end != std::string_view::npos) {
        const std::size_t space = bitmap.find_last_of(' ', end);
        const std::size_t begin = space == std::string_view::npos ? 0 : space + 1;
        if (index == wanted) {
            const std::string word(bitmap.substr(begin, end - begin + 1));
            if (word.empty() || word.size() > wordBits / 4)
                return false;
            char* stop = nullptr;
            errno = 0;
            const unsigned long value = std::strtoul(word.c_str(), &stop, 16);
            if (errno != 0 || *stop != '\0')
                return false;
            return (value >> (bit % wordBits)) & 1UL;
        }
        if (space == std::string_view::npos)
            break;
        end = bitmap.find_last_not_of(' ', space);
        ++index;
    }
    return false;
}

bool hasMouseCapabilities(const libevdev* device) {
    return libevdev_has_event_code(device, EV_REL, REL_X) &&
           libevdev_has_event_code(device, EV_REL, REL_Y) &&
           libevdev_has_event_code(device, EV_KEY, BTN_RIGHT);
}

const char* reason(Verdict verdict) {
    switch (verdict) {
    case Verdict::taken:
        return "is taken";
    case Verdict::notAPointer:
        return "is no mouse with a right button";
    case Verdict::ownPointer:
        return "is one of Quillmere's own virtual pointers";
    case Verdict::keyboard:
        return "is a keyboard too";
    case Verdict::pointingStick:
        return "is a pointing stick";
    case Verdict::otherProgramsDevice:
        return "is another program's virtual device (grabVirtualDevices is off)";
    case Verdict::absolutePointer:
        return "moves absolutely";
    case Verdict::middleButtonScroller:
        return "has no wheel and scrolls while its middle button is held";
    }
    return "";
}

Verdict judge(udev_device* device, bool takeVirtualDevices) {
    const auto property = [&](const char* name) {
        const char* value = udev_device_get_property_value(device, name);
        return value && std::strcmp(value, "1") == 0;
    };
    const char* sysname = udev_device_get_sysname(device);
    if (!sysname || std::strncmp(sysname, "event", 5) != 0 || !udev_device_get_devnode(device) ||
        !property("ID_INPUT_MOUSE"))
        return Verdict::notAPointer;
    udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
    if (!parent)
        return Verdict::notAPointer;
    if (const char* phys = udev_device_get_sysattr_value(parent, "phys"); phys && isOwnPhys(phys))
        return Verdict::ownPointer;
    if (property("ID_INPUT_KEYBOARD"))
        return Verdict::keyboard;
    if (property("ID_INPUT_POINTINGSTICK"))
        return Verdict::pointingStick;
    const char* rel = udev_device_get_sysattr_value(parent, "capabilities/rel");
    const char* key = udev_device_get_sysattr_value(parent, "capabilities/key");
    if (!rel || !bitmapHasBit(rel, REL_X) || !bitmapHasBit(rel, REL_Y))
        return Verdict::absolutePointer;
    if (!key || !bitmapHasBit(key, BTN_RIGHT))
        return Verdict::notAPointer;
    // For a mouse with a middle button and no wheel, the desktop (libinput)
    // scrolls while that button is held, by default; a virtual pointer has
    // wheels for the engine's scrolling, and would lose that default.
    if (!bitmapHasBit(rel, REL_WHEEL) && !bitmapHasBit(rel, REL_HWHEEL) &&
        bitmapHasBit(key, BTN_MIDDLE))
        return Verdict::middleButtonScroller;
    const char* path = udev_device_get_devpath(device);
    if (!takeVirtualDevices && path && std::strncmp(path, "/devices/virtual/", 17) == 0)
        return Verdict::otherProgramsDevice;
    return Verdict::taken;
}

void forEachMouse(udev* context, bool takeVirtualDevices,
                  const std::function<void(udev_device*, Verdict)>& visit) {
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_add_match_sysname(enumerate, "event*");
    udev_enumerate_add_match_property(enumerate, "ID_INPUT_MOUSE", "1");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!device)
            continue;
        visit(device, judge(device, takeVirtualDevices));
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
}

std::vector<std::string> eligibleMouseNodes(udev* context, bool takeVirtualDevices) {
    std::vector<std::string> nodes;
    forEachMouse(context, takeVirtualDevices, [&](udev_device* device, Verdict verdict) {
        if (verdict == Verdict::taken)
            nodes.emplace_back(udev_device_get_devnode(device));
    });
    return nodes;
}

Resolution mouseResolution(const char* property) {
    Resolution result;
    if (!property)
        return result;
    // Entries "DPI" or "DPI@HZ", separated by blanks; "*" marks the default.
    int chosen = 0;
    bool starred = false;
    std::string_view rest(property);
    while (!rest.empty()) {
        const std::size_t begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            break;
        rest.remove_prefix(begin);
        std::string_view entry = rest.substr(0, rest.find(' '));
        rest.remove_prefix(entry.size());
        const bool star = entry.front() == '*';
        if (star)
            entry.remove_prefix(1);
        const std::string_view dpiText = entry.substr(0, entry.find('@'));
        const std::string_view rateText =
            dpiText.size() < entry.size() ? entry.substr(dpiText.size() + 1) : "1";
        long dpi = 0;
        long rate = 0;
        const auto number = [](std::string_view text, long& value) {
            if (text.empty() || text.size() > 9 ||
                text.find_first_not_of("0123456789") != std::string_view::npos)
                return false;
            value = std::stol(std::string(text));
            return true;
        };
        if (!number(dpiText, dpi) || !number(rateText, rate) || rate <= 0) {
            result.problem = "is malformed";
            return result;
        }
        if (!starred) {
            chosen = static_cast<int>(dpi);
            starred = star;
        }
    }
    if (chosen <= 0 || chosen > 100000) {
        result.problem = chosen <= 0 ? "gives no resolution above 0" : "is beyond 100000 dpi";
        return result;
    }
    result.dpi = chosen;
    return result;
}

bool udevIsRunning() {
    return access("/run/udev/control", F_OK) == 0;
}

} // namespace quillmere::input
