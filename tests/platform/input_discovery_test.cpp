// Recognising mice from sysfs data, and what the event services do without
// input access (this host has no uinput).
#include "platform/InputAccess.h"
#include "platform/input/DeviceDiscovery.h"
#include "platform/input/LinuxEventServices.h"
#include "platform/input/LoopTimer.h"

#include <gtest/gtest.h>

#include <linux/input.h>

namespace quillmere {
namespace {

TEST(DeviceDiscovery, CapabilityBitmapsAreReadFromTheLeastSignificantWordUp) {
    // A typical mouse: "capabilities/key" of a five-button mouse and
    // "capabilities/rel" with X, Y, wheels and hi-res wheels.
    const char* keys = "1f0000 0 0 0 0";
    const char* rels = "1943";
    EXPECT_TRUE(input::bitmapHasBit(keys, BTN_LEFT));
    EXPECT_TRUE(input::bitmapHasBit(keys, BTN_RIGHT));
    EXPECT_TRUE(input::bitmapHasBit(keys, BTN_EXTRA));
    EXPECT_FALSE(input::bitmapHasBit(keys, BTN_TOUCH));
    EXPECT_FALSE(input::bitmapHasBit(keys, KEY_A));
    EXPECT_TRUE(input::bitmapHasBit(rels, REL_X));
    EXPECT_TRUE(input::bitmapHasBit(rels, REL_Y));
    EXPECT_TRUE(input::bitmapHasBit(rels, REL_WHEEL_HI_RES));
    EXPECT_FALSE(input::bitmapHasBit(rels, REL_Z));
    // Words beyond those listed are zero; junk has no bits.
    EXPECT_FALSE(input::bitmapHasBit("1", 64 * 3 + 1));
    EXPECT_FALSE(input::bitmapHasBit("", REL_X));
    EXPECT_FALSE(input::bitmapHasBit("zz 3", 64));
    EXPECT_FALSE(input::bitmapHasBit("11111111111111111 0", 64));
    EXPECT_TRUE(input::bitmapHasBit("3\n", REL_Y));
}

TEST(DeviceDiscovery, OwnVirtualPointersAreKnownByTheirPhys) {
    EXPECT_TRUE(input::isOwnPhys("quillmere/usb-0000:00:14.0-2/input0"));
    EXPECT_TRUE(input::isOwnPhys("quillmere/"));
    EXPECT_FALSE(input::isOwnPhys("usb-0000:00:14.0-2/input0"));
    EXPECT_FALSE(input::isOwnPhys("quillmer"));
    EXPECT_FALSE(input::isOwnPhys(""));
}

TEST(DeviceDiscovery, ResolutionIsTheMarkedOrSingleMouseDpiEntryElseTheDefault) {
    struct Case {
        const char* property;
        int dpi;
        bool problem;
    };
    const Case cases[] = {
        {nullptr, 1000, false},        {"800", 800, false},
        {"1600@1000", 1600, false},    {"400@125 *800@125 1600@125", 800, false},
        {"400 800 1600", 1600, false}, // none marked: the last, as libinput takes it
        {" *3200  ", 3200, false},     {"", 1000, true},
        {"abc", 1000, true},           {"0", 1000, true},
        {"-800", 1000, true},          {"800@0", 1000, true},
        {"800@", 1000, true},          {"*", 1000, true},
        {"250000", 1000, true},        {"99999999999", 1000, true},
    };
    for (const Case& c : cases) {
        const input::Resolution r = input::mouseResolution(c.property);
        EXPECT_EQ(r.dpi, c.dpi) << (c.property ? c.property : "(none)");
        EXPECT_EQ(!r.problem.empty(), c.problem) << (c.property ? c.property : "(none)");
    }
}

// That the tap is refused without uinput, InputThread.WithoutUinput... shows.
TEST(InputAccess, TrustedOnlyWithAWritableUinputNodeAndEveryMouseReadable) {
    EXPECT_FALSE(InputAccess::isTrusted("/nonexistent/uinput", {}));
    // Something that opens for reading but not for writing is not enough.
    EXPECT_FALSE(InputAccess::isTrusted("/", {}));
    EXPECT_TRUE(InputAccess::isTrusted("/dev/null", {"/dev/null"}));
    EXPECT_FALSE(InputAccess::isTrusted("/dev/null", {"/dev/null", "/nonexistent/event0"}));
}

TEST(LinuxEventServices, ScrollEventsCarryOnlyTheDeclaredWheels) {
    input::EventLoop loop;
    input::LoopTimerFactory timers(loop);
    LinuxEventServices services(loop, timers);
    std::optional<Event> scroll = services.createScrollWheelEvent(ScrollUnit::line, 2, 5, -6, 7);
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->wheel1, 5);
    EXPECT_EQ(scroll->wheel2, -6);
    EXPECT_EQ(scroll->wheel3, 0);
    EXPECT_FALSE(services.createScrollWheelEvent(ScrollUnit::pixel, 0, 1, 0, 0));
    EXPECT_FALSE(services.createScrollWheelEvent(ScrollUnit::pixel, 4, 1, 0, 0));
    // Posting with no gesture under way has nowhere to go and is harmless.
    services.post(TapLocation::hid, *scroll);
}

} // namespace
} // namespace quillmere
