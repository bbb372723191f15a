#pragma once
// libinput as the desktop's stand-in: what `libinput debug-events` reports
// for one device, and the settings `libinput list-devices` gives a device.

#include "VmSupport.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace quillmere::vmtest {

struct LibinputLog {
    std::vector<int> verticalV120;
    std::vector<int> horizontalV120;
    int rightPressed = 0;
    int rightReleased = 0;
    bool clickAfterScrolls = true;
};

LibinputLog parseLibinput(const QString& output);

// `libinput debug-events --device NODE`, running while this lives.
class LibinputEvents {
public:
    explicit LibinputEvents(const std::string& node);
    // Whether libinput took the device (it printed DEVICE_ADDED in time).
    bool started();
    // Everything printed so far.
    std::string output();
    LibinputLog log() { return parseLibinput(QString::fromStdString(output())); }

private:
    std::unique_ptr<ChildProcess> process_;
};

// The settings libinput gives the device at this node ("Accel profiles: ...",
// "Scroll methods: ..." and the like), from `libinput list-devices`.
std::vector<std::string> libinputSettings(const std::string& node);

} // namespace quillmere::vmtest
