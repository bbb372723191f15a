#include "ScrollSettings.h"

#include <bit>
#include <cmath>

namespace quillmere {

namespace {
constexpr std::uint64_t diagonal = 1 << 0;
constexpr std::uint64_t reverse = 1 << 1;
constexpr std::uint64_t vertical = 1 << 2;
constexpr std::uint64_t horizontal = 1 << 3;
constexpr std::uint64_t momentum = 1 << 4;
constexpr std::uint64_t pixel = 1 << 5;

std::uint64_t packFlags(const ScrollSettings& s) {
    return (s.diagonalScroll ? diagonal : 0) | (s.reverseScroll ? reverse : 0) |
           (s.enableVerticalScroll ? vertical : 0) | (s.enableHorizontalScroll ? horizontal : 0) |
           (s.momentumScroll ? momentum : 0) | (s.usePixelScrolling ? pixel : 0);
}

ScrollSettings unpack(std::uint64_t flags, std::uint64_t speed) {
    ScrollSettings s;
    s.diagonalScroll = flags & diagonal;
    s.reverseScroll = flags & reverse;
    s.enableVerticalScroll = flags & vertical;
    s.enableHorizontalScroll = flags & horizontal;
    s.momentumScroll = flags & momentum;
    s.usePixelScrolling = flags & pixel;
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
    const double speed = store.doubleValue("scrollSpeed");
    if (speed > 0.0 && std::isfinite(speed))
        s.scrollSpeed = speed;
    return s;
}

SettingsSnapshot::SettingsSnapshot() {
    const ScrollSettings defaults;
    words_[0].store(packFlags(defaults), std::memory_order_relaxed);
    words_[1].store(std::bit_cast<std::uint64_t>(defaults.scrollSpeed), std::memory_order_relaxed);
}

void SettingsSnapshot::publish(const ScrollSettings& settings) {
    std::lock_guard lock(writer_);
    const std::uint32_t start = sequence_.load(std::memory_order_relaxed);
    // Odd while the words change: readers that see it, or see it change, retry.
    sequence_.store(start + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    words_[0].store(packFlags(settings), std::memory_order_relaxed);
    words_[1].store(std::bit_cast<std::uint64_t>(settings.scrollSpeed), std::memory_order_relaxed);
    sequence_.store(start + 2, std::memory_order_release);
}

ScrollSettings SettingsSnapshot::read() const {
    for (;;) {
        const std::uint32_t before = sequence_.load(std::memory_order_acquire);
        const std::uint64_t flags = words_[0].load(std::memory_order_relaxed);
        const std::uint64_t speed = words_[1].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before)
            return unpack(flags, speed);
    }
}

} // namespace quillmere
