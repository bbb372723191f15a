// The input layer on a real kernel: what a grabbed mouse's virtual pointer
// carries besides drags, qemu's USB mouse; and mice that vanish or a tap
// switched off mid-press: no button may stay down anywhere and the mouse
// must reach the desktop.
#include "VmFixture.h"
#include "platform/InputAccess.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

input_event key(std::uint16_t code, int value) {
    return makeEvent(EV_KEY, code, value);
}
input_event rel(std::uint16_t code, int value) {
    return makeEvent(EV_REL, code, value);
}

TEST_F(InputLayerTest, EverythingButTheRightButtonPassesUnchangedAndOwnPointersAreNoMice) {
    auto mouse = plug();
    engine->start(); // the mouse was there first: found by the scan, not by hot-plug
    const std::string pointerNode = waitForPointer(*mouse);
    NodeReader pointer(pointerNode);
    ASSERT_TRUE(pointer.isOpen());
    const std::vector<Frame> sent = {
        {makeEvent(EV_MSC, MSC_SCAN, 0x90001), key(BTN_LEFT, 1)},
        {rel(REL_WHEEL, -1), rel(REL_WHEEL_HI_RES, -120)},
        {rel(REL_X, 5), rel(REL_Y, -3)},
        {key(BTN_MIDDLE, 1), rel(REL_X, -2)},
        {key(BTN_MIDDLE, 0)},
        {key(BTN_LEFT, 0)},
    };
    for (const Frame& frame : sent)
        mouse->frame(frame);
    const auto frames = collect(pointer, [&](const auto& f) { return f.size() >= sent.size(); });
    EXPECT_EQ(describe(frames), describe(sent));
    // The virtual pointer is a mouse to udev, but not one whose access counts.
    const auto nodes = InputAccess::pointerNodes();
    EXPECT_NE(std::find(nodes.begin(), nodes.end(), mouse->node()), nodes.end());
    EXPECT_EQ(std::find(nodes.begin(), nodes.end(), pointerNode), nodes.end());
    EXPECT_TRUE(InputAccess::isTrusted());
}

TEST_F(InputLayerTest, DroppedEventsAreResyncedSoAButtonChangeLostInTheDropStillCounts) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    // The input thread is held up while the press (or the release) is
    // followed by far more events than the kernel queues for a reader: it is
    // dropped, and only the device state still shows the change.
    for (const bool pressLost : {true, false}) {
        SCOPED_TRACE(pressLost ? "press lost" : "release lost");
        if (!pressLost) {
            mouse->button(BTN_RIGHT, true);
            ASSERT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::pending; }));
        }
        std::atomic<bool> holding{false};
        std::atomic<bool> release{false};
        input.loop().post([&] {
            holding = true;
            while (!release)
                std::this_thread::yield();
        });
        ASSERT_TRUE(pumpUntil([&] { return holding.load(); }));
        mouse->button(BTN_RIGHT, pressLost);
        for (int i = 0; i < 400; ++i)
            mouse->frame({rel(REL_WHEEL, 1)});
        release = true;
        if (pressLost) {
            EXPECT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::pending; }));
            mouse->button(BTN_RIGHT, false);
        }
        const auto frames = collect(
            pointer, [](const auto& f) { return valuesOf(f, EV_KEY, BTN_RIGHT).size() >= 2; });
        EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0}))
            << "the click held back across the drop was not given back";
        EXPECT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::idle; }));
    }
}

// The default path on a mouse the kernel's own HID driver serves: qemu's
// emulated USB mouse, moved from outside the VM through QMP (run-vm.sh
// --usb-mouse with qmp-usb-mouse.py: right drags and right clicks, over and
// over). It is taken with the shipped settings, where the fake mice of the
// other tests (uinput devices, virtual themselves) would not be.
TEST_F(InputLayerTest, UsbMouseIsTakenByDefaultItsDragsScrollAndItsClicksClick) {
    store.setBool("grabVirtualDevices", false); // the shipped settings
    // The VM boots without USB drivers; udev takes the mouse from there.
    ASSERT_EQ(std::system("modprobe -a xhci_pci usbhid hid_generic && udevadm settle -t 30"), 0);
    engine->start();
    // Among the mice taken (never a virtual pointer, which copies its mouse's
    // name), the USB mouse. Under emulation udev may take seconds to finish
    // with it and announce it.
    std::string usb;
    const auto sysfs = [](const std::string& node, const char* attribute) {
        std::string value;
        std::getline(std::ifstream("/sys/class/input/" + node.substr(11) + "/device/" + attribute),
                     value);
        return value;
    };
    ASSERT_TRUE(pumpUntil(
        [&] {
            for (const std::string& node : grabbedNodes())
                if (sysfs(node, "name") == "QEMU QEMU USB Mouse")
                    usb = node;
            return !usb.empty();
        },
        60s))
        << "the USB mouse was not taken";
    NodeReader pointer(waitForNode("quillmere/" + sysfs(usb, "phys")));
    ASSERT_TRUE(pointer.isOpen());
    const auto frames = collect(
        pointer,
        [](const std::vector<Frame>& f) {
            return sumOf(f, EV_REL, REL_WHEEL_HI_RES) > 0 &&
                   valuesOf(f, EV_KEY, BTN_RIGHT) == std::vector<int>{1, 0};
        },
        60s);
    EXPECT_GT(sumOf(frames, EV_REL, REL_WHEEL_HI_RES), 0) << "no drag scrolled";
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0})) << describe(frames);
}

// A mouse unplugged in the middle of a click (with another button held), a
// drag or a glide: the virtual pointer releases what it held and goes, the
// layer lets go of the mouse, and the same mouse plugged in again is taken.
TEST_F(InputLayerTest, UnpluggedMidClickDragOrGlideLeavesNothingHeldAndReplugWorks) {
    store.setBool("momentumScroll", true);
    engine->start();
    struct Case {
        const char* when;
        std::function<void(FakeMouse&, NodeReader&)> before;
    };
    const Case cases[] = {
        {"mid-click, another button held",
         [&](FakeMouse& mouse, NodeReader& pointer) {
             mouse.button(BTN_LEFT, true); // reaches the virtual pointer: held there
             mouse.button(BTN_RIGHT, true);
             collect(pointer, [](const auto& f) { return !f.empty(); });
             EXPECT_EQ(pointer.keysDown(), std::vector<int>{BTN_LEFT});
         }},
        {"mid-drag",
         [&](FakeMouse& mouse, NodeReader& pointer) {
             mouse.button(BTN_RIGHT, true);
             for (int i = 0; i < 6; ++i)
                 mouse.move(0, 3);
             collect(pointer, [](const auto& f) { return sumOf(f, EV_REL, REL_WHEEL_HI_RES); });
             EXPECT_EQ(state(), GrabScrollManager::State::scrolling);
         }},
        {"mid-glide",
         [&](FakeMouse& mouse, NodeReader&) {
             mouse.button(BTN_RIGHT, true);
             for (int i = 0; i < 10; ++i)
                 mouse.move(0, 10);
             mouse.button(BTN_RIGHT, false);
             EXPECT_TRUE(pumpUntil([&] { return gliding(); }));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        auto mouse = plug(); // the same mouse each time: after the first, plugged in again
        NodeReader pointer(waitForPointer(*mouse));
        ASSERT_TRUE(pointer.isOpen()) << "the mouse was not taken over";
        c.before(*mouse, pointer);
        mouse->unplug();
        const auto frames = collect(pointer, [&](const auto&) { return pointer.gone(); });
        EXPECT_TRUE(pointer.gone()) << "the virtual pointer outlived its mouse";
        EXPECT_TRUE(grabbedNodes().empty());
        EXPECT_TRUE(buttonsLeftDown(frames).empty()) << describe(frames);
        // A glide runs out by itself, to nowhere; the gesture ended with the mouse.
        EXPECT_TRUE(pumpUntil([&] { return !gliding(); }, 10000ms));
        EXPECT_EQ(state(), GrabScrollManager::State::idle);
    }
}

TEST_F(InputLayerTest, SwitchingOffMidPressLetsTheReleaseReachTheDesktop) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    NodeReader desktop(mouse->node());
    ASSERT_TRUE(pointer.isOpen() && desktop.isOpen());
    mouse->button(BTN_RIGHT, true);
    ASSERT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::pending; }));
    // The menu switch: off.
    engine->isEnabled = false;
    engine->stop();
    EXPECT_TRUE(grabbedNodes().empty());
    mouse->button(BTN_RIGHT, false);
    auto seen = collect(desktop, [](const auto& f) { return !f.empty(); });
    EXPECT_EQ(valuesOf(seen, EV_KEY, BTN_RIGHT), std::vector<int>{0}) << describe(seen);

    // Off, a press goes straight to the desktop. Switched on again while it
    // is held, the layer waits: the release must reach the desktop too.
    mouse->button(BTN_LEFT, true);
    engine->isEnabled = true;
    engine->start();
    pumpFor(300ms);
    EXPECT_EQ(onInput([&] { return input.services().waitingNodes(); }),
              std::vector<std::string>{mouse->node()});
    mouse->button(BTN_LEFT, false);
    EXPECT_TRUE(pumpUntil([&] { return grabbed(*mouse); }));
    seen = desktop.take();
    EXPECT_EQ(valuesOf(seen, EV_KEY, BTN_LEFT), (std::vector<int>{1, 0})) << describe(seen);
}

} // namespace
} // namespace quillmere::vmtest
