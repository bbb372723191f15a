// Streams numbered 1000 Hz motion through the installed application while a
// script puts its interface under load, with a plain read/write forwarder
// beside it as the yardstick (run as root in the test VM:
// tools/desktop-in-vm.sh ... load).
//
//   app_load_probe [--seconds=MAX]
// Prints "mice" once its fake mice exist (the script then grants access and
// starts the app) and "streaming" once the app's virtual pointer is there.
// Lines on standard input name phases ("phase NAME") and end the stream
// ("end"). At the end: per phase, frames sent and lost, pass-through latency
// p50/p99/max and the largest gap between frames coming out, for the app
// and the plain forwarder.
#include "../../tests/vm/StreamSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace quillmere::vmtest;
using namespace std::chrono_literals;

namespace {

struct Phase {
    std::string name;
    long first = 0; // the first frame sent in it
};

// Reads whatever whole lines are waiting on standard input, without waiting.
std::vector<std::string> pendingLines() {
    static std::string partial;
    std::vector<std::string> lines;
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    while (poll(&ready, 1, 0) > 0 && (ready.revents & (POLLIN | POLLHUP))) {
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            lines.push_back("end");
            break;
        }
        partial.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t nl; (nl = partial.find('\n')) != std::string::npos;) {
            lines.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
        }
    }
    return lines;
}

void report(const char* who, const StreamResult& r, const Phase& phase, long end) {
    std::vector<double> delays;
    long lost = 0;
    double largestGap = 0.0;
    double previous = -1.0;
    for (long i = phase.first; i < end; ++i) {
        const double at = r.readAtMs[static_cast<std::size_t>(i)];
        if (at < 0) {
            ++lost;
            continue;
        }
        delays.push_back(r.delayOfFrameMs[static_cast<std::size_t>(i)]);
        if (previous >= 0)
            largestGap = std::max(largestGap, at - previous);
        previous = at;
    }
    std::printf("  %-16s %-6s %7ld %6ld %9.2f %9.2f %9.2f %9.2f\n", phase.name.c_str(), who,
                end - phase.first, lost, percentile(delays, 50), percentile(delays, 99),
                percentile(delays, 100), largestGap);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 600.0;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::atof(argv[i] + 10);
    FakeMouse appMouse("Quillmere Load Mouse", "usb-load/input0");
    FakeMouse plainMouse("Plain Load Mouse", "usb-plain/input0", MouseShape{.rightButton = false});
    const pid_t plain = startPlainForwarder(plainMouse.node(), "plain-load/out");
    std::printf("mice\n");
    std::fflush(stdout);
    const std::string appOut = waitForNode("quillmere/usb-load/input0", 120s);
    const std::string plainOut = waitForNode("plain-load/out", 5s);
    if (appOut.empty() || plainOut.empty()) {
        std::fprintf(stderr, "app_load_probe: no virtual pointer from the app\n");
        kill(plain, SIGKILL);
        return 2;
    }
    const Route routes[] = {
        {appMouse.fd(), open(appOut.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)},
        {plainMouse.fd(), open(plainOut.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)},
    };
    std::printf("streaming\n");
    std::fflush(stdout);

    std::vector<Phase> phases{{"start", 0}};
    long sent = 0;
    const auto results = streamNumbered({routes[0], routes[1]}, 1000, seconds, [&](long frame) {
        sent = frame;
        if (frame % 10 != 0)
            return true;
        for (const std::string& line : pendingLines()) {
            if (line == "end")
                return false;
            if (line.rfind("phase ", 0) == 0)
                phases.push_back({line.substr(6), frame});
        }
        return true;
    });
    kill(plain, SIGKILL);
    waitpid(plain, nullptr, 0);

    std::printf("\nPer phase, 1000 Hz motion frames (latency and gap in ms)\n");
    std::printf("  %-16s %-6s %7s %6s %9s %9s %9s %9s\n", "phase", "path", "frames", "lost", "p50",
                "p99", "max", "max gap");
    for (std::size_t p = 0; p < phases.size(); ++p) {
        const long end = p + 1 < phases.size() ? phases[p + 1].first : sent;
        report("app", results[0], phases[p], end);
        report("plain", results[1], phases[p], end);
    }
    return 0;
}
