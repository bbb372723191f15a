#pragma once
// A started engine on a scripted event stream, a manual clock and an
// in-memory settings store, with the log captured.

#include "engine/GrabScrollManager.h"
#include "engine/Log.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/FakeEventServices.h"
#include "support/LogCapture.h"
#include "support/ManualTimerFactory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmere::testing {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }

    // Right press, drags, release; returns nothing, everything is recorded.
    void grab(std::initializer_list<std::pair<double, double>> drags) {
        services.rightDown();
        for (auto [dx, dy] : drags)
            services.rightDrag(dx, dy);
        services.rightUp();
    }

    MemorySettingsStore store;
    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager{services, timers};
    testing::LogCapture log;
};

} // namespace quillmere::testing
