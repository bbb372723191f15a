#pragma once
// The real input layer and the real engine, in this process, against fake
// mice: each test plugs in its own.

#include "VmSupport.h"
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/TimerfdTimer.h"
#include "platform/input/LinuxEventServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace quillmere::vmtest {

// Set by main(): the helper program that runs the layer in a process of its own.
extern std::string hostProgram;

class InputLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScrollConfig::setDefaults(&store);
        store.setBool("momentumScroll", false);
        engine = std::make_unique<GrabScrollManager>(services, timers);
    }
    void TearDown() override {
        engine->stop();
        engine.reset();
        ScrollConfig::setDefaults(nullptr);
    }

    // A fake mouse with a name and phys of its own for this test.
    std::unique_ptr<FakeMouse> plug(const std::string& tag = "mouse") {
        const std::string id =
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                .substr(0, 40) +
            "-" + tag;
        return std::make_unique<FakeMouse>("Fake " + id, "usb-fake/" + id + "/input0");
    }
    bool grabbed(const FakeMouse& mouse) const {
        const auto nodes = services.grabbedNodes();
        return std::find(nodes.begin(), nodes.end(), mouse.node()) != nodes.end();
    }
    // Waits until the layer took the mouse over; the node of its virtual
    // pointer, or "" when that did not happen.
    std::string waitForPointer(const FakeMouse& mouse) {
        if (!pumpUntil([&] { return grabbed(mouse); }))
            return "";
        return nodeWithPhys("quillmere/" + mouse.phys());
    }
    // Pumps the loop until the reader has frames matching done(), collecting
    // all of them.
    std::vector<Frame> collect(NodeReader& reader,
                               const std::function<bool(const std::vector<Frame>&)>& done,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::vector<Frame> frames;
        pumpUntil(
            [&] {
                for (Frame& frame : reader.take())
                    frames.push_back(std::move(frame));
                return done(frames);
            },
            limit);
        return frames;
    }
    // Everything that arrives within the given time.
    std::vector<Frame> settle(NodeReader& reader,
                              std::chrono::milliseconds time = std::chrono::milliseconds(150)) {
        return collect(
            reader, [](const std::vector<Frame>&) { return false; }, time);
    }

    MemorySettingsStore store;
    LinuxEventServices services;
    TimerfdTimerFactory timers;
    std::unique_ptr<GrabScrollManager> engine;
};

} // namespace quillmere::vmtest
