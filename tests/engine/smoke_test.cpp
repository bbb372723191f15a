#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"

#include <gtest/gtest.h>

TEST(EngineSmoke, StartsAndStops) {
    quillmere::testing::FakeEventServices services;
    quillmere::testing::ManualTimerFactory timers;
    quillmere::GrabScrollManager manager(services, timers);
    manager.start();
    EXPECT_TRUE(manager.hasEventTap());
}
