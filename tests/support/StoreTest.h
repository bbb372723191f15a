#pragma once
// The base of the tests that read settings: an in-memory store installed as
// the defaults for each test, and the log lines written meanwhile.

#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace quillmere::testing {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }

    MemorySettingsStore store;
    LogCapture log;
};

} // namespace quillmere::testing
