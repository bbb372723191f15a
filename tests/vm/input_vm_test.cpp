// The input layer on a real kernel: what a grabbed mouse's virtual pointer
// carries besides drags, which devices it takes, and qemu's USB mouse.
#include "VmFixture.h"
#include "platform/InputAccess.h"

#include <atomic>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

input_event key(std::uint16_t code, int value) {
    return makeEvent(EV_KEY, code, value);
}
input_event rel(std::uint16_t code, int value) {
    return makeEvent(EV_REL, code, value);
}

// Frames with their events sorted: within a frame order means nothing.
std::vector<std::vector<std::pair<int, int>>> normalised(const std::vector<Frame>& frames) {
    std::vector<std::vector<std::pair<int, int>>> result;
    for (const Frame& frame : frames) {
        std::vector<std::pair<int, int>> events;
        for (const input_event& ev : frame)
            events.emplace_back(ev.type << 16 | ev.code, ev.value);
        std::sort(events.begin(), events.end());
        result.push_back(events);
    }
    return result;
}

TEST_F(InputLayerTest, EverythingButTheRightButtonPassesUnchangedAndInOrder) {
    auto mouse = plug();
    engine->start(); // the mouse was there first: found by the scan, not by hot-plug
    NodeReader pointer(waitForPointer(*mouse));
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
    EXPECT_EQ(normalised(frames), normalised(sent)) << describe(frames);
}

TEST_F(InputLayerTest, DroppedEventsAreResyncedSoAPressLostInTheDropStillCounts) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    // The input thread is held up meanwhile: the press is followed by far
    // more events than the kernel queues for a reader, so it is dropped and
    // only the device state still shows the button down.
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    input.loop().post([&] {
        holding = true;
        while (!release)
            std::this_thread::yield();
    });
    ASSERT_TRUE(pumpUntil([&] { return holding.load(); }));
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 400; ++i)
        mouse->frame({rel(REL_WHEEL, 1)});
    release = true;
    EXPECT_TRUE(pumpUntil([&] { return state() == GrabScrollManager::State::pending; }));
    mouse->button(BTN_RIGHT, false);
    const auto frames =
        collect(pointer, [](const auto& f) { return valuesOf(f, EV_KEY, BTN_RIGHT).size() >= 2; });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0}))
        << "the click held back across the drop was not given back";
    EXPECT_EQ(state(), GrabScrollManager::State::idle);
}

TEST_F(InputLayerTest, OwnVirtualPointersAreNeverTakenNorCountedAsMice) {
    engine->start();
    auto mouse = plug();
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty());
    // udev announces the virtual pointer as a mouse too; give that time.
    pumpFor(500ms);
    EXPECT_EQ(grabbedNodes(), std::vector<std::string>{mouse->node()});
    EXPECT_EQ(onInput([&] { return input.services().virtualNodes(); }),
              std::vector<std::string>{pointerNode});
    const auto nodes = InputAccess::pointerNodes();
    EXPECT_NE(std::find(nodes.begin(), nodes.end(), mouse->node()), nodes.end());
    EXPECT_EQ(std::find(nodes.begin(), nodes.end(), pointerNode), nodes.end());
    EXPECT_TRUE(InputAccess::isTrusted());
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
    std::string usb;
    ASSERT_TRUE(pumpUntil(
        [&] { return !(usb = nodeWithPhys("QEMU QEMU USB Mouse", "name")).empty(); }, 60s));
    ASSERT_TRUE(pumpUntil([&] {
        const auto nodes = grabbedNodes();
        return std::find(nodes.begin(), nodes.end(), usb) != nodes.end();
    })) << "the USB mouse was not taken";
    std::string phys;
    std::getline(std::ifstream("/sys/class/input/" + usb.substr(11) + "/device/phys"), phys);
    NodeReader pointer(nodeWithPhys("quillmere/" + phys));
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

} // namespace
} // namespace quillmere::vmtest
