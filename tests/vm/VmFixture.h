#pragma once
// The real input layer and the real engine on their own input thread, in
// this process, against fake mice: each test plugs in its own. What lives on
// the input thread is looked at through onInput().

#include "VmSupport.h"
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/input/InputThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillmere::vmtest {

class InputLayerTest : public ::testing::Test {
public:
    explicit InputLayerTest(std::string uinput = "/dev/uinput") : input(std::move(uinput)) {}
    void SetUp() override {
        ScrollConfig::setDefaults(&store);
        store.setBool("momentumScroll", false);
        // The fake mice are uinput devices, virtual devices themselves.
        store.setBool("grabVirtualDevices", true);
        engine =
            std::make_unique<GrabScrollManager>(input.services(), input.timers(), &input.loop());
        input.loop().runAndWait([&] {
            input.services().setStatusListener([this](bool taken, const std::string& why) {
                said.push_back(taken ? "taken" : why);
            });
        });
    }
    void TearDown() override {
        engine->stop();
        input.loop().runAndWait([&] { engine.reset(); }); // its timers belong there
        ScrollConfig::setDefaults(nullptr);
    }

    // Runs f on the input thread and gives back its result.
    template <typename F> auto onInput(F f) {
        decltype(f()) result{};
        input.loop().runAndWait([&] { result = f(); });
        return result;
    }
    GrabScrollManager::State state() {
        return onInput([&] { return engine->state(); });
    }
    // The status lines the layer gave ("taken" when it took a mouse).
    std::vector<std::string> status() {
        return onInput([&] { return said; });
    }
    std::vector<std::string> grabbedNodes() {
        return onInput([&] { return input.services().grabbedNodes(); });
    }

    // A fake mouse with a name and phys of its own for this test.
    std::unique_ptr<FakeMouse> plug(const std::string& tag = "mouse", MouseShape shape = {}) {
        const std::string id =
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                .substr(0, 40) +
            "-" + tag;
        return std::make_unique<FakeMouse>("Fake " + id, "usb-fake/" + id + "/input0", shape);
    }
    bool grabbed(const FakeMouse& mouse) {
        const auto nodes = grabbedNodes();
        return std::find(nodes.begin(), nodes.end(), mouse.node()) != nodes.end();
    }
    // Waits until the layer took the mouse over; the node of its virtual
    // pointer, or "" when that did not happen.
    std::string waitForPointer(const FakeMouse& mouse) {
        if (!pumpUntil([&] { return grabbed(mouse); }))
            return "";
        return waitForNode("quillmere/" + mouse.phys());
    }
    // Everything the layer made of what the mouse sent so far: a middle
    // click follows as a marker, and what comes before it is the answer
    // (frames are handled in order), however slow the VM is today.
    std::vector<Frame> drain(FakeMouse& mouse, NodeReader& reader) {
        mouse.button(BTN_MIDDLE, true);
        mouse.button(BTN_MIDDLE, false);
        std::vector<Frame> frames = collect(reader, [](const std::vector<Frame>& f) {
            return !f.empty() && valuesOf({f.back()}, EV_KEY, BTN_MIDDLE) == std::vector<int>{0};
        });
        if (frames.size() >= 2)
            frames.resize(frames.size() - 2);
        return frames;
    }

    MemorySettingsStore store;
    std::vector<std::string> said; // on the input thread, which it outlives
    input::InputThread input;
    std::unique_ptr<GrabScrollManager> engine;
};

} // namespace quillmere::vmtest
