#include "ScrollSettings.h"

#include <bit>
#include <cmath>
#include <string>
#include <utility>

namespace quillmere {

namespace {
constexpr std::uint64_t diagonal = 1 << 0;
constexpr std::uint64_t reverse = 1 << 1;
constexpr std::uint64_t vertical = 1 << 2;
constexpr std::uint64_t horizontal = 1 << 3;
constexpr std::uint64_t momentum = 1 << 4;
constexpr std::uint64_t pixel = 1 << 5;
constexpr std::uint64_t grabVirtual = 1 << 6;
constexpr int gestureShift = 8; // the button, in the next byte

std::uint64_t packFlags(const ScrollSettings& s) {
    return (s.diagonalScroll ? diagonal : 0) | (s.reverseScroll ? reverse : 0) |
           (s.enableVerticalScroll ? vertical : 0) | (s.enableHorizontalScroll ? horizontal : 0) |
           (s.momentumScroll ? momentum : 0) | (s.usePixelScrolling ? pixel : 0) |
           (s.grabVirtualDevices ? grabVirtual : 0) |
           static_cast<std::uint64_t>(s.gestureButton) << gestureShift;
}

ScrollSettings unpack(std::uint64_t flags, std::uint64_t speed) {
    ScrollSettings s;
    s.diagonalScroll = flags & diagonal;
    s.reverseScroll = flags & reverse;
    s.enableVerticalScroll = flags & vertical;
    s.enableHorizontalScroll = flags & horizontal;
    s.momentumScroll = flags & momentum;
    s.usePixelScrolling = flags & pixel;
    s.grabVirtualDevices = flags & grabVirtual;
    s.gestureButton = static_cast<GestureButton>(flags >> gestureShift & 0xff);
    s.scrollSpeed = std::bit_cast<double>(speed);
    return s;
}
} // namespace

ScrollSettings ScrollSettings::from(const SettingsStore& store) {
    ScrollSettings s;
    s.diagonalScroll = store.boolValue("diagonalScroll").value_or(s.diagonalScroll);
    s.reverseScroll = store.boolValue("reverseScroll").value_or(s.reverseScroll);
    s.enableVerticalScroll =
        store.boolValue("enableVerticalScroll").value_or(s.enableVerticalScroll);
    s.enableHorizontalScroll =
        store.boolValue("enableHorizontalScroll").value_or(s.enableHorizontalScroll);
    s.momentumScroll = store.boolValue("momentumScroll").value_or(s.momentumScroll);
    s.usePixelScrolling = store.boolValue("usePixelScrolling").value_or(s.usePixelScrolling);
    s.grabVirtualDevices = store.boolValue("grabVirtualDevices").value_or(false);
    const std::string button = store.string("gestureButton").value_or("auto");
    const std::pair<const char*, GestureButton> buttons[] = {{"right", GestureButton::right},
                                                             {"middle", GestureButton::middle},
                                                             {"back", GestureButton::back},
                                                             {"forward", GestureButton::forward}};
    for (const auto& [name, value] : buttons)
        if (button == name)
            s.gestureButton = value;
    const double speed = store.doubleValue("scrollSpeed");
    if (speed > 0.0 && std::isfinite(speed))
        s.scrollSpeed = speed;
    return s;
}

SettingsSnapshot::SettingsSnapshot() {
    const ScrollSettings defaults;
    words_[0].store(packFlags(defaults));
    words_[1].store(std::bit_cast<std::uint64_t>(defaults.scrollSpeed));
}

// Every access is sequentially consistent: a reader that saw any word of a
// publication in progress sees the sequence number move on and retries.
// (This costs the writer a little and the reader nothing on x86, and it
// needs no fences, which ThreadSanitizer cannot follow.)
void SettingsSnapshot::publish(const ScrollSettings& settings) {
    std::lock_guard lock(writer_);
    const std::uint32_t start = sequence_.load();
    sequence_.store(start + 1); // odd while the words change
    words_[0].store(packFlags(settings));
    words_[1].store(std::bit_cast<std::uint64_t>(settings.scrollSpeed));
    sequence_.store(start + 2);
}

ScrollSettings SettingsSnapshot::read() const {
    for (;;) {
        const std::uint32_t before = sequence_.load();
        const std::uint64_t flags = words_[0].load();
        const std::uint64_t speed = words_[1].load();
        if ((before & 1) == 0 && sequence_.load() == before)
            return unpack(flags, speed);
    }
}

} // namespace quillmere
