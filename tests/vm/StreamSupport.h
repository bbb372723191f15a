#pragma once
// Numbered motion frames streamed through forwarders at a mouse's report
// rate, for the tests and the benchmark that compare the input layer with a
// plain read/write forwarder in the same VM boot.
//
// Frame i carries REL_X = i % 1000 + 1 and REL_Y = i / 1000 + 1 (the kernel
// drops relative events of value 0), so a reader can tell which frame it got
// and whether frames were lost, repeated or reordered.

#include "VmSupport.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quillmere::vmtest {

// Forks a plain forwarder: grab the source, copy every byte read to a
// uinput clone with the given phys. Returns its pid. With waitInEpoll it
// waits for the source in epoll before each read, as a forwarder that also
// watches other descriptors (more mice, hot-plug) must; else it blocks in
// read() itself.
pid_t startPlainForwarder(const std::string& sourceNode, const std::string& outputPhys,
                          bool waitInEpoll = false);

// Runs the calling thread, and what it starts from now on, on one CPU only.
void pinToCpu(int cpu);

// One route: frames are written to mouse (a uinput descriptor) and read back
// from output (an event node opened non-blocking).
struct Route {
    int mouse = -1;
    int output = -1;
};

struct StreamResult {
    long sent = 0;
    long writes = 0;
    long received = 0;
    long dropped = 0;
    long reordered = 0;
    long duplicated = 0;
    long synDropped = 0;
    double seconds = 0.0;
    // Per frame sent: when it was read back, in milliseconds from the
    // stream's start, and its delay; negative for a frame never read.
    std::vector<double> readAtMs;
    std::vector<double> delayOfFrameMs;
};

// Streams numbered frames at hertz for the given time to every route at
// once (frame i goes to each route together), reading each output on a
// thread of its own. beforeFrame(i) runs before frame i is written; the
// stream ends early when it returns false. An
// emulated VM cannot wake the writer at every frame: frames that fell due
// meanwhile go out together, at most 8 per write, as a mouse's own burst
// after a late USB poll would.
std::vector<StreamResult> streamNumbered(const std::vector<Route>& routes, int hertz,
                                         double seconds,
                                         const std::function<bool(long)>& beforeFrame = {});

double percentile(std::vector<double> values, double p);

} // namespace quillmere::vmtest
