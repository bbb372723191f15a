#pragma once
// The scroll settings as one value, and the snapshot of them that the engine
// reads on its thread. The settings store publishes a new snapshot after
// every change (its own writes and edits of the file made outside); readers
// take it without a lock, a system call or an allocation, and always see one
// whole publication, never half of two.

#include "SettingsStore.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace quillmere {

// Which button grabs and scrolls: "auto" follows the desktop's handedness
// (right, or left for a left-handed pointer); the others name a button.
enum class GestureButton : std::uint8_t { automatic, right, middle, back, forward };

struct ScrollSettings {
    static constexpr double defaultScrollSpeed = 3.0;

    bool diagonalScroll = false;
    bool reverseScroll = true;
    bool enableVerticalScroll = true;
    bool enableHorizontalScroll = true;
    bool momentumScroll = true;
    bool usePixelScrolling = true;
    double scrollSpeed = defaultScrollSpeed;
    // For the input layer: take other programs' virtual devices too
    // ("grabVirtualDevices"), and the gesture button ("gestureButton":
    // "auto", "right", "middle", "back" or "forward"; "auto" when absent or
    // unknown).
    bool grabVirtualDevices = false;
    GestureButton gestureButton = GestureButton::automatic;

    // Reads every setting from a store, each with its default: a Boolean key
    // that holds no Boolean reads as its default; a speed that is not above 0
    // (absent included) or not finite reads as 3.0.
    static ScrollSettings from(const SettingsStore& store);

    friend bool operator==(const ScrollSettings&, const ScrollSettings&) = default;
};

// A sequence lock over the packed settings: one writer at a time (others
// wait on a mutex that readers never touch), any number of readers, which
// retry in the rare case that a publication ran while they read.
class SettingsSnapshot {
public:
    SettingsSnapshot();
    void publish(const ScrollSettings& settings);
    ScrollSettings read() const;

private:
    std::mutex writer_;
    std::atomic<std::uint32_t> sequence_{0};
    std::array<std::atomic<std::uint64_t>, 2> words_;
};

} // namespace quillmere
