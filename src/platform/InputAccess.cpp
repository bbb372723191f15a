#include "InputAccess.h"

#include "engine/ScrollConfig.h"
#include "input/DeviceDiscovery.h"

#include <libudev.h>

#include <fcntl.h>
#include <unistd.h>

namespace quillmere::InputAccess {

namespace {
bool opens(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
} // namespace

std::vector<std::string> pointerNodes() {
    udev* context = udev_new();
    if (!context)
        return {};
    std::vector<std::string> nodes =
        input::eligibleMouseNodes(context, ScrollConfig::current().grabVirtualDevices);
    udev_unref(context);
    return nodes;
}

bool isTrusted(const std::string& uinputPath, const std::vector<std::string>& nodes) {
    if (!opens(uinputPath, O_WRONLY))
        return false;
    for (const std::string& node : nodes)
        if (!opens(node, O_RDONLY))
            return false;
    return true;
}

bool isTrusted() {
    return isTrusted("/dev/uinput", pointerNodes());
}

} // namespace quillmere::InputAccess
