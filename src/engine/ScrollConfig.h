#pragma once
// The scroll settings and the process-wide settings store. The accessors
// read the snapshot the installed store last published (ScrollSettings.h):
// the engine calls them on its own thread for every event, without a lock,
// and a change acts on the next event.

#include "ScrollSettings.h"
#include "SettingsStore.h"

namespace quillmere::ScrollConfig {

// The process-wide settings store. Until setDefaults() installs one, an
// empty in-memory store answers.
SettingsStore& defaults();
// Installs the store (not owned; it must outlive every reader) and
// publishes its settings. nullptr restores the in-memory fall-back.
void setDefaults(SettingsStore* store);
// Stores call this after every change of their contents; the settings are
// published again when the store is the installed one.
void storeChanged(const SettingsStore& store);

// The settings as last published; safe on any thread.
ScrollSettings current();

bool diagonalScroll();         // default false
bool reverseScroll();          // default true
bool enableVerticalScroll();   // default true
bool enableHorizontalScroll(); // default true
bool momentumScroll();         // default true
bool usePixelScrolling();      // default true

// The speed rule shared by every reader of "scrollSpeed": the stored number
// if it is above 0 and finite, else 3.0.
double scrollSpeed();
inline constexpr double defaultScrollSpeed = ScrollSettings::defaultScrollSpeed;

} // namespace quillmere::ScrollConfig
