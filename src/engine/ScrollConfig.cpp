#include "ScrollConfig.h"

#include "MemorySettingsStore.h"

#include <cmath>

namespace quillmere::ScrollConfig {
namespace {
SettingsStore* installed = nullptr;

bool readBool(std::string_view key, bool fallback) {
    return defaults().boolValue(key).value_or(fallback);
}
} // namespace

SettingsStore& defaults() {
    if (installed)
        return *installed;
    static MemorySettingsStore fallback;
    return fallback;
}

void setDefaults(SettingsStore* store) {
    installed = store;
}

bool diagonalScroll() {
    return readBool("diagonalScroll", false);
}
bool reverseScroll() {
    return readBool("reverseScroll", true);
}
bool enableVerticalScroll() {
    return readBool("enableVerticalScroll", true);
}
bool enableHorizontalScroll() {
    return readBool("enableHorizontalScroll", true);
}
bool momentumScroll() {
    return readBool("momentumScroll", true);
}
bool usePixelScrolling() {
    return readBool("usePixelScrolling", true);
}

double scrollSpeed() {
    double stored = defaults().doubleValue("scrollSpeed");
    // A value not above 0 (absent included) or not finite reads as 3.0.
    if (!(stored > 0.0) || !std::isfinite(stored))
        return defaultScrollSpeed;
    return stored;
}

} // namespace quillmere::ScrollConfig
