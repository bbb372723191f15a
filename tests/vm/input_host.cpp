// The input layer and the engine in a process of their own, with the shipped
// settings, until killed: the stand-in for the app in the tests that kill it
// and in the latency benchmark. Lines on standard input act on it:
//   block N   the main (interface) thread sleeps N milliseconds
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/TimerfdTimer.h"
#include "platform/input/LinuxEventServices.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quillmere::MemorySettingsStore store;
    quillmere::ScrollConfig::setDefaults(&store);
    quillmere::LinuxEventServices services;
    quillmere::TimerfdTimerFactory timers;
    quillmere::GrabScrollManager engine(services, timers);
    engine.start();
    if (!engine.hasEventTap())
        return 2;
    QSocketNotifier control(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&control, &QSocketNotifier::activated, &control, [&control] {
        char line[64] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (got <= 0) {
            control.setEnabled(false);
            return;
        }
        int ms = 0;
        if (std::sscanf(line, "block %d", &ms) == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    return QCoreApplication::exec();
}
