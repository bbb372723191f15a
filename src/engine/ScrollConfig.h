#pragma once
// The Boolean scroll settings, read afresh from the settings store on every
// call, each with its default. The store itself is process-wide.

#include "SettingsStore.h"

namespace quillmere::ScrollConfig {

// The process-wide settings store. Until setDefaults() installs one, an
// empty in-memory store answers.
SettingsStore& defaults();
// Installs the store (not owned; it must outlive every reader). nullptr
// restores the in-memory fall-back.
void setDefaults(SettingsStore* store);

bool diagonalScroll();         // default false
bool reverseScroll();          // default true
bool enableVerticalScroll();   // default true
bool enableHorizontalScroll(); // default true
bool momentumScroll();         // default true
bool usePixelScrolling();      // default true

// The speed rule shared by every reader of "scrollSpeed": the stored number
// if it is above 0 and finite, else 3.0.
double scrollSpeed();
inline constexpr double defaultScrollSpeed = 3.0;

} // namespace quillmere::ScrollConfig
