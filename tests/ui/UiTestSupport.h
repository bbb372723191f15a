#pragma once
// The base of the window and menu tests: an in-memory settings store
// installed for each test, and the log lines written meanwhile.

#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace quillmere::testing {

class UiTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }

    MemorySettingsStore store;
    LogCapture log;
};

} // namespace quillmere::testing
