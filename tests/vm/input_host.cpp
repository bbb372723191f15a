// The input layer and the engine in a process shaped like the app's: a Qt
// main (interface) thread, and the input thread that does the work, with
// the shipped settings, until killed. The stand-in for the app in the tests
// that block or kill it and in the latency benchmark. Lines on standard
// input act on it:
//   block N   the main thread sleeps N milliseconds
//   fail      the input thread's work throws
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/input/InputThread.h"
#include "platform/input/QueuedLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace quillmere;
    input::QueuedLog::install();
    QCoreApplication app(argc, argv);
    MemorySettingsStore store;
    store.setBool("grabVirtualDevices", true); // the fake mice are uinput devices
    ScrollConfig::setDefaults(&store);
    input::InputThread input;
    GrabScrollManager engine(input.services(), input.timers(), &input.loop());
    engine.start();
    bool tap = false;
    input.loop().runAndWait([&] { tap = engine.hasEventTap(); });
    if (!tap)
        return 2;
    QSocketNotifier control(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&control, &QSocketNotifier::activated, &control, [&] {
        char line[64] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (got <= 0) {
            control.setEnabled(false);
            return;
        }
        int ms = 0;
        if (std::sscanf(line, "block %d", &ms) == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        else if (std::string(line).rfind("fail", 0) == 0)
            input.loop().post([] { throw std::runtime_error("told to fail"); });
    });
    const int result = QCoreApplication::exec();
    engine.stop();
    return result;
}
