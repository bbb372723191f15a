// The default path on a mouse the kernel's own HID driver serves: qemu's
// emulated USB mouse, moved from outside the VM through QMP (run-vm.sh
// --usb-mouse with qmp-usb-mouse.py: right drags and right clicks, over and
// over). It is taken with the shipped settings, where the fake mice of the
// other tests (uinput devices, virtual themselves) would not be.
#include "VmFixture.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

// The node of the first input device whose name contains `name`.
std::string nodeNamed(const std::string& name) {
    std::string found;
    if (DIR* dir = opendir("/sys/class/input")) {
        while (dirent* entry = readdir(dir)) {
            const std::string event = entry->d_name;
            std::string device;
            std::getline(std::ifstream("/sys/class/input/" + event + "/device/name"), device);
            if (event.rfind("event", 0) == 0 && device.find(name) != std::string::npos)
                found = "/dev/input/" + event;
        }
        closedir(dir);
    }
    return found;
}

TEST_F(InputLayerTest, UsbMouseIsTakenByDefaultItsDragsScrollAndItsClicksClick) {
    store.setBool("grabVirtualDevices", false); // the shipped settings
    // The VM boots without USB drivers; udev takes the mouse from there.
    ASSERT_EQ(std::system("modprobe -a xhci_pci usbhid hid_generic && udevadm settle -t 30"), 0);
    engine->start();
    std::string usb;
    ASSERT_TRUE(pumpUntil([&] { return !(usb = nodeNamed("QEMU USB Mouse")).empty(); }, 60s))
        << listInputDevices();
    ASSERT_TRUE(pumpUntil([&] {
        const auto nodes = grabbedNodes();
        return std::find(nodes.begin(), nodes.end(), usb) != nodes.end();
    })) << "the USB mouse was not taken";
    std::string phys;
    std::getline(std::ifstream("/sys/class/input/" + usb.substr(11) + "/device/phys"), phys);
    NodeReader pointer(nodeWithPhys("quillmere/" + phys));
    ASSERT_TRUE(pointer.isOpen()) << listInputDevices();
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
