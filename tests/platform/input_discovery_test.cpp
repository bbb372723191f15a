// Recognising mice from sysfs and udev data, and input access.
#include "platform/InputAccess.h"
#include "platform/input/DeviceDiscovery.h"

#include <gtest/gtest.h>

#include <linux/input.h>

namespace quillmere {
namespace {

// Which devices are mice the kernel tests show; here, what the kernel never
// writes but a parser must survive.
TEST(DeviceDiscovery, CapabilityBitmapsAreReadFromTheLeastSignificantWordUp) {
    const struct {
        const char* bitmap;
        int bit;
        bool set;
    } cases[] = {
        {"1f0000 0 0 0 0", BTN_EXTRA, true},
        {"1f0000 0 0 0 0", BTN_TOUCH, false},
        {"1", 64 * 3 + 1, false},
        {"", REL_X, false},
        {"zz 3", 64, false},
        {"11111111111111111 0", 64, false},
        {"3\n", REL_Y, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(input::bitmapHasBit(c.bitmap, c.bit), c.set) << c.bitmap << " bit " << c.bit;
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

} // namespace
} // namespace quillmere
