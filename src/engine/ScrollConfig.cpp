#include "ScrollConfig.h"

#include "MemorySettingsStore.h"

#include <atomic>

namespace quillmere::ScrollConfig {
namespace {
std::atomic<SettingsStore*> installed{nullptr};

MemorySettingsStore& fallback() {
    static MemorySettingsStore store;
    return store;
}

SettingsSnapshot& snapshot() {
    static SettingsSnapshot published;
    return published;
}
} // namespace

SettingsStore& defaults() {
    SettingsStore* store = installed.load(std::memory_order_acquire);
    return store ? *store : fallback();
}

void setDefaults(SettingsStore* store) {
    installed.store(store, std::memory_order_release);
    snapshot().publish(ScrollSettings::from(defaults()));
}

void storeChanged(const SettingsStore& store) {
    if (&store == &defaults())
        snapshot().publish(ScrollSettings::from(store));
}

ScrollSettings current() {
    return snapshot().read();
}

bool diagonalScroll() {
    return current().diagonalScroll;
}
bool reverseScroll() {
    return current().reverseScroll;
}
bool enableVerticalScroll() {
    return current().enableVerticalScroll;
}
bool enableHorizontalScroll() {
    return current().enableHorizontalScroll;
}
bool momentumScroll() {
    return current().momentumScroll;
}
bool usePixelScrolling() {
    return current().usePixelScrolling;
}
double scrollSpeed() {
    return current().scrollSpeed;
}

} // namespace quillmere::ScrollConfig
