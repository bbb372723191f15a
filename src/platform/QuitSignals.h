#pragma once
// SIGTERM and SIGINT as a normal quit: the signal handler only writes a byte
// to a pipe; the main loop reads it and runs the quit action, so the usual
// termination path (engine stopped, grabs released) runs.

#include <functional>

namespace quillmere::QuitSignals {

// Installs the handlers; `onQuit` runs on the main thread for each signal
// received. Needs a Qt application object. Returns false when the pipe or
// the handlers cannot be set up.
bool install(std::function<void()> onQuit);

} // namespace quillmere::QuitSignals
