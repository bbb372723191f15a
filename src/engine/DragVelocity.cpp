#include "DragVelocity.h"

#include <algorithm>

namespace quillmere {

namespace {
std::size_t ringIndex(std::int64_t slot, std::size_t count) {
    return static_cast<std::size_t>(slot) & (count - 1);
}
} // namespace

void DragVelocity::reset(std::int64_t start) {
    x_.fill(0.0);
    y_.fill(0.0);
    start_ = latest_ = start;
    newestSlot_ = start / slotNs;
    any_ = false;
}

void DragVelocity::add(std::int64_t time, double x, double y) {
    latest_ = std::max(latest_, time);
    const std::int64_t slot = latest_ / slotNs;
    // Slots that time has left behind start empty again.
    const std::int64_t advance = std::min<std::int64_t>(slot - newestSlot_, slotCount);
    for (std::int64_t s = 1; s <= advance; ++s) {
        const std::size_t i = ringIndex(newestSlot_ + s, slotCount);
        x_[i] = 0.0;
        y_[i] = 0.0;
    }
    newestSlot_ = std::max(newestSlot_, slot);
    const std::size_t i = ringIndex(newestSlot_, slotCount);
    x_[i] += x;
    y_[i] += y;
    any_ = true;
}

std::pair<double, double> DragVelocity::perTick() const {
    if (!any_)
        return {0.0, 0.0};
    // Slots strictly after the window's start: an event exactly 128 ms
    // before the last belongs to the window before.
    const std::int64_t firstSlot = (latest_ - windowNs) / slotNs + 1;
    double x = 0.0;
    double y = 0.0;
    for (std::int64_t slot = std::max(firstSlot, newestSlot_ - std::int64_t(slotCount) + 1);
         slot <= newestSlot_; ++slot) {
        const std::size_t i = ringIndex(slot, slotCount);
        x += x_[i];
        y += y_[i];
    }
    const std::int64_t length = std::clamp(latest_ - start_, tickNs, windowNs);
    const double ticks = static_cast<double>(length) / static_cast<double>(tickNs);
    return {x / ticks, y / ticks};
}

} // namespace quillmere
