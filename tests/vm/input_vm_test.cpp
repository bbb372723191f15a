// The input layer on a real kernel (run inside the test VM, where
// /dev/uinput is writable): what a grabbed mouse's virtual pointer carries
// besides drags, events the kernel dropped, qemu's USB mouse, mice that
// vanish and two mice at once.
#include "VmFixture.h"
#include "platform/InputAccess.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

// A mouse there before the layer starts is found by the scan, and all but
// its right button passes unchanged. A tablet is not taken, nor a node that
// is a keyboard too, nor a mouse that scrolls with its middle button held
// for want of a wheel, however they are found, nor the layer's own virtual
// pointer (the fake mice are virtual devices, taken here; the USB mouse test
// has the shipped settings, where other programs' virtual devices are not).
TEST_F(InputLayerTest, EverythingButTheRightButtonPassesUnchangedAndOnlyMiceAreTaken) {
    auto mouse = plug();
    auto tablet = plug("tablet", MouseShape{.absolute = true});
    auto combined = plug("combined", MouseShape{.keys = true});
    auto wheelless = plug("wheelless", MouseShape{.wheel = false});
    std::system("udevadm settle -t 10");
    engine->start();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    auto late = plug("late-combined", MouseShape{.keys = true});
    const std::vector<Frame> sent = {
        {makeEvent(EV_MSC, MSC_SCAN, 0x90001), makeEvent(EV_KEY, BTN_LEFT, 1)},
        {makeEvent(EV_REL, REL_WHEEL, -1), makeEvent(EV_REL, REL_WHEEL_HI_RES, -120)},
        {makeEvent(EV_REL, REL_X, 5), makeEvent(EV_REL, REL_Y, -3)},
        {makeEvent(EV_KEY, BTN_MIDDLE, 1), makeEvent(EV_REL, REL_X, -2)},
        {makeEvent(EV_KEY, BTN_MIDDLE, 0)},
        {makeEvent(EV_KEY, BTN_LEFT, 0)},
    };
    for (const Frame& frame : sent)
        mouse->frame(frame);
    const auto frames = collect(pointer, [&](const auto& f) { return f.size() >= sent.size(); });
    EXPECT_EQ(describe(frames), describe(sent));
    // udev reports devices in order: once a mouse plugged after the late one
    // is taken, the late one and the virtual pointer have been looked at.
    auto marker = plug("marker");
    ASSERT_FALSE(waitForPointer(*marker).empty());
    std::vector<std::string> mice = {mouse->node(), marker->node()};
    std::sort(mice.begin(), mice.end());
    const auto sorted = [](std::vector<std::string> nodes) {
        std::sort(nodes.begin(), nodes.end());
        return nodes;
    };
    EXPECT_EQ(sorted(grabbedNodes()), mice);
    EXPECT_EQ(status().back(), "taken");
    // The mice whose access counts: these (their virtual pointers not, which
    // the whole-app test's second instance shows, as the seat user).
    EXPECT_EQ(sorted(InputAccess::pointerNodes()), mice);
    marker.reset();
    // The tray's switch: off gives the mouse and its virtual pointer back, on takes it again.
    engine->stop();
    EXPECT_TRUE(pumpUntil([&] {
        pointer.take();
        return pointer.gone() && NodeReader(mouse->node()).canGrab();
    }));
    engine->start();
    EXPECT_TRUE(pumpUntil([&] { return grabbed(*mouse); }));
}

TEST_F(InputLayerTest, DroppedEventsAreResyncedSoAButtonChangeLostInTheDropStillCounts) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    // The input thread is held up while the press, then the release, is
    // followed by far more events than the kernel queues for a reader: it is
    // dropped, and only the device state still shows the change.
    // (Each hold has ended before the next: state() waits for the loop.)
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    const auto lostInADrop = [&](bool down) {
        holding = false;
        release = false;
        input.loop().post([&] {
            holding = true;
            while (!release)
                std::this_thread::yield();
        });
        EXPECT_TRUE(pumpUntil([&] { return holding.load(); }));
        mouse->button(BTN_RIGHT, down);
        for (int i = 0; i < 400; ++i)
            mouse->frame({makeEvent(EV_REL, REL_WHEEL, 1)});
        release = true;
    };
    lostInADrop(true);
    ASSERT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::pending; }));
    pointer.take(); // the wheel steps that got through
    lostInADrop(false);
    const auto frames =
        collect(pointer, [](const auto& f) { return valuesOf(f, EV_KEY, BTN_RIGHT).size() >= 2; });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0}))
        << "the click held back across the drop was not given back";
    EXPECT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::idle; }));
}

// The default path on a mouse the kernel's own HID driver serves: qemu's
// emulated USB mouse, moved from outside the VM through QMP (run-vm.sh
// --usb-mouse with qmp-usb-mouse.py: right drags and right clicks, over and
// over). It is taken with the shipped settings, where the fake mice of the
// other tests (uinput devices, virtual themselves) would not be.
TEST_F(InputLayerTest, UsbMouseIsTakenByDefaultItsDragsScrollAndItsClicksClick) {
    store.setBool("grabVirtualDevices", false); // the shipped settings
    auto otherProgramsMouse = plug();           // a uinput device: left alone
    // The VM boots without USB drivers; udev takes the mouse from there.
    ASSERT_EQ(std::system("modprobe -a xhci_pci usbhid hid_generic && udevadm settle -t 30"), 0);
    engine->start();
    // Under emulation udev may take seconds to finish with it and announce it.
    std::vector<std::string> taken;
    ASSERT_TRUE(pumpUntil([&] { return !(taken = grabbedNodes()).empty(); }, 60s))
        << "the USB mouse was not taken";
    ASSERT_EQ(taken.size(), 1u);
    ASSERT_NE(taken[0], otherProgramsMouse->node());
    std::string phys;
    std::getline(std::ifstream("/sys/class/input/" + taken[0].substr(11) + "/device/phys"), phys);
    NodeReader pointer(waitForNode("quillmere/" + phys));
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

// A mouse unplugged in the middle of a click, a drag or a glide: the
// virtual pointer goes with it, the layer lets go of it and the gesture
// ends; the same mouse plugged in again is taken.
TEST_F(InputLayerTest, UnpluggedMidClickDragOrGlideEndsTheGestureAndReplugWorks) {
    store.setBool("momentumScroll", true);
    engine->start();
    const auto gliding = [&] { return onInput([&] { return engine->isMomentumRunning(); }); };
    const struct {
        const char* when;
        int moves;
        bool released;
        GrabScrollManager::State state;
    } cases[] = {
        {"mid-click", 0, false, GrabScrollManager::State::pending},
        {"mid-drag", 10, false, GrabScrollManager::State::scrolling},
        {"mid-glide", 10, true, GrabScrollManager::State::idle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        auto mouse = plug(); // the same mouse each time: after the first, plugged in again
        NodeReader pointer(waitForPointer(*mouse));
        ASSERT_TRUE(pointer.isOpen()) << "the mouse was not taken over";
        mouse->button(BTN_RIGHT, true);
        for (int i = 0; i < c.moves; ++i)
            mouse->move(0, 10);
        if (c.released)
            mouse->button(BTN_RIGHT, false);
        ASSERT_TRUE(pumpUntil([&] { return state() == c.state && gliding() == c.released; }));
        mouse->unplug();
        EXPECT_TRUE(pumpUntil([&] {
            pointer.take();
            return pointer.gone();
        })) << "the virtual pointer outlived its mouse";
        EXPECT_TRUE(grabbedNodes().empty());
        // A glide runs out by itself, to nowhere; the gesture ended with the mouse.
        EXPECT_TRUE(pumpUntil([&] { return !gliding(); }, 10000ms));
        EXPECT_EQ(state(), GrabScrollManager::State::idle);
    }
}

// Two mice never share a gesture (the engine keeps them apart by device):
// B's click in the middle of A's drag is B's own, and what the engine posts
// for each one's drag comes out of its own virtual pointer.
TEST_F(InputLayerTest, TwoMiceNeverShareAGesture) {
    engine->start();
    auto a = plug("a");
    auto b = plug("b");
    NodeReader pointerA(waitForPointer(*a));
    NodeReader pointerB(waitForPointer(*b));
    ASSERT_TRUE(pointerA.isOpen() && pointerB.isOpen());
    std::vector<Frame> framesA, framesB;
    for (FakeMouse* mouse : {a.get(), b.get()}) {
        mouse->button(BTN_RIGHT, true);
        for (int i = 0; i < 20; ++i) {
            mouse->move(0, 4);
            if (mouse == a.get() && (i == 10 || i == 12))
                b->button(BTN_RIGHT, i == 10); // B clicks in the middle of A's drag
        }
        mouse->button(BTN_RIGHT, false);
        // The layer reads each mouse on its own: A's drag must be over before
        // B's begins, or B's would come during A's gesture and pass.
        if (mouse == a.get())
            framesA = drain(*a, pointerA);
    }
    framesB = drain(*b, pointerB);
    EXPECT_GT(sumOf(framesA, EV_REL, REL_WHEEL_HI_RES), 0);
    EXPECT_EQ(sumOf(framesA, EV_REL, REL_WHEEL_HI_RES), sumOf(framesB, EV_REL, REL_WHEEL_HI_RES))
        << "the same drag on each";
    EXPECT_TRUE(valuesOf(framesA, EV_KEY, BTN_RIGHT).empty()) << "a click nobody made on A";
    EXPECT_EQ(valuesOf(framesB, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0})) << describe(framesB);
}

} // namespace
} // namespace quillmere::vmtest

// The Qt application object is there for the tests that run programs with
// QProcess.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
