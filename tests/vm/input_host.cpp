// The input layer and the engine in a process shaped like the app's: a Qt
// main (interface) thread, and the input thread that does the work, with
// the shipped settings, until killed. The stand-in for the app in the tests
// that block it and in the latency benchmark. A line "block N" on standard
// input makes the main thread sleep N milliseconds.
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/input/InputThread.h"
#include "platform/input/QueuedLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>
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
        if (int ms = 0; std::sscanf(line, "block %d", &ms) == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    const int result = QCoreApplication::exec();
    engine.stop();
    return result;
}
