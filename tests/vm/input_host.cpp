// The input layer and the engine in a process of their own, with the shipped
// settings, until killed: the stand-in for the app in the tests that kill it
// and in the latency benchmark.
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/TimerfdTimer.h"
#include "platform/input/LinuxEventServices.h"

#include <QCoreApplication>

#include <csignal>

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
    return QCoreApplication::exec();
}
