#pragma once
// How fast a drag moved at its end, from the time stamps of its events: the
// scroll amounts of the last 128 ms of the drag (or of its whole length when
// it was shorter), per 16 ms tick, which is what the glide starts from. At
// one drag event per 16 ms this is the average of the last 8 events; at any
// other report rate it is the same speed.
//
// Amounts are summed into 1 ms slots, so a drag costs no allocation however
// fast the mouse reports. Time stamps that go backwards or repeat count as
// "no time passed"; a drag shorter than one tick counts as one tick. The
// result is therefore always finite, never more than the movement of the
// busiest tick the stamps allow, and a forward jump (a resume, a clock
// change) only lowers it.

#include <array>
#include <cstdint>
#include <utility>

namespace quillmere {

class DragVelocity {
public:
    static constexpr std::int64_t tickNs = 16'000'000;
    static constexpr std::int64_t windowNs = 128'000'000;
    static constexpr std::int64_t slotNs = 1'000'000;

    // A new drag whose first amount follows an event stamped `start`.
    void reset(std::int64_t start);
    // One drag event's amounts (horizontal, vertical), stamped `time`.
    void add(std::int64_t time, double x, double y);
    // Movement per tick (horizontal, vertical); (0, 0) with no amounts.
    std::pair<double, double> perTick() const;

private:
    // A power of two above the window's slots, so that the ring index is a mask.
    static constexpr std::size_t slotCount = 256;
    static_assert(slotCount > windowNs / slotNs);
    std::array<double, slotCount> x_{};
    std::array<double, slotCount> y_{};
    std::int64_t start_ = 0;
    std::int64_t latest_ = 0; // the latest stamp seen; stamps never go back from it
    std::int64_t newestSlot_ = 0;
    bool any_ = false;
};

} // namespace quillmere
