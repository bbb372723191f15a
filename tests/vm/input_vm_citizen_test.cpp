// The input layer as a citizen of the input stack: a virtual pointer keeps
// its mouse's identity and wheel, the right devices are taken, a mouse's
// resolution and the gesture button are the ones the desktop gives, and a
// descriptor logind revokes is followed.
#include "VmFixture.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/ioctl.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

// The settings libinput gives the device at this node ("Accel profiles: ...",
// "Middle emulation: ..." and the like), from `libinput list-devices`:
// not the lines that differ between a mouse and its virtual pointer.
std::string libinputSettings(const std::string& node) {
    const QString devices = QString::fromStdString(outputOf({"libinput", "list-devices"}));
    for (const QString& device : devices.split(QStringLiteral("\n\n")))
        if (device.contains(QString::fromStdString(node) + QLatin1Char('\n')))
            return device.split(QLatin1Char('\n'))
                .filter(QRegularExpression(QStringLiteral("^(?!Kernel:|Group:|Id:)")))
                .join(QLatin1Char('\n'))
                .toStdString();
    return "";
}

class CitizenTest : public InputLayerTest {
protected:
    // The package's rule, and a hwdb entry for the mice named "Fake ...Ball...".
    // The fake mice say they are on USB, as udev's usb_id says it of a real
    // USB mouse, so that udev's own mouse rules look the hwdb up for them.
    static void SetUpTestSuite() {
        std::system("mkdir -p /etc/udev/rules.d /etc/udev/hwdb.d && cp " QUILLMERE_SOURCE_DIR
                    "/packaging/70-quillmere.rules /etc/udev/rules.d/");
        std::ofstream("/etc/udev/rules.d/69-quillmere-test-bus.rules")
            << "SUBSYSTEM==\"input\", ATTRS{phys}==\"usb-fake/*\", ENV{ID_BUS}=\"usb\"\n";
        std::ofstream("/etc/udev/hwdb.d/99-quillmere-test.hwdb")
            << "mouse:usb:v1d57pad17:name:Fake *Ball*:\n"
               " MOUSE_DPI=800@1000\n MOUSE_WHEEL_CLICK_ANGLE=20\n ID_INPUT_TRACKBALL=1\n";
        std::system("systemd-hwdb update && udevadm control --reload");
    }
    // Drags the mouse down 1.27 mm (at 1000 dpi: 50 counts) with its gesture
    // button, then lets go.
    static void drag(FakeMouse& mouse, std::uint16_t button, int dpi = 1000) {
        mouse.button(button, true);
        for (int i = 0; i < 10; ++i)
            mouse.move(0, dpi / 200);
        mouse.button(button, false);
    }
};

TEST_F(CitizenTest, AVirtualPointerKeepsItsMousesHwdbEntriesLibinputSettingsAndChords) {
    engine->start();
    // Two buttons: libinput makes a middle click of left and right together.
    auto mouse = plug("Ball", MouseShape{.middleButton = false});
    const std::string pointer = waitForPointer(*mouse);
    ASSERT_FALSE(pointer.empty());
    ASSERT_EQ(std::system("udevadm settle -t 10"), 0);
    // The test hwdb's entries, which the package's rule gives the copy too.
    const std::string copy =
        outputOf({"udevadm", "info", "--query=property", QString::fromStdString(pointer)});
    for (const char* key :
         {"MOUSE_DPI=800@1000", "MOUSE_WHEEL_CLICK_ANGLE=20", "ID_INPUT_TRACKBALL=1"})
        EXPECT_NE(copy.find(key), std::string::npos) << key << "\n" << copy;
    const auto settings = libinputSettings(pointer);
    EXPECT_FALSE(settings.empty());
    // The name line carries no identity of its own: both have the mouse's name.
    EXPECT_EQ(settings, libinputSettings(mouse->node()));
    // Without a middle button, right pressed while left is held is no gesture:
    // both go out at once, for libinput to make its middle click of.
    NodeReader reader(pointer);
    mouse->button(BTN_LEFT, true);
    mouse->button(BTN_RIGHT, true);
    const auto frames =
        collect(reader, [](const auto& f) { return !valuesOf(f, EV_KEY, BTN_RIGHT).empty(); });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), std::vector<int>{1}) << describe(frames);
}

// libinput counts a hi-res wheel's hi-res values only: each step of a wheel
// without them comes with its 120, before and after a drag. The same hand
// movement scrolls the same whether or not the wheel turned first, and at
// the resolution udev gives a mouse (the test hwdb's 800 dpi for the second
// one) as at the default 1000 dpi.
TEST_F(CitizenTest, AWheelWithoutHiResScrollsOneNotchPerStepAndADragAsFarAtAnyResolution) {
    store.setObject("scrollSpeed", 1.0);
    engine->start();
    long dragged[2] = {0, 0};
    for (int wheelFirst = 0; wheelFirst < 2; ++wheelFirst) {
        auto mouse =
            plug(wheelFirst ? "notch-first-Ball" : "drag-first", MouseShape{.hiResWheel = false});
        NodeReader pointer(waitForPointer(*mouse));
        ASSERT_TRUE(pointer.isOpen());
        std::vector<Frame> notches;
        const auto notch = [&] {
            mouse->frame({makeEvent(EV_REL, REL_WHEEL, -1)});
            const auto frames = drain(*mouse, pointer);
            notches.insert(notches.end(), frames.begin(), frames.end());
        };
        if (wheelFirst)
            notch();
        drag(*mouse, BTN_RIGHT, wheelFirst ? 800 : 1000);
        dragged[wheelFirst] = sumOf(drain(*mouse, pointer), EV_REL, REL_WHEEL_HI_RES);
        notch();
        notch();
        EXPECT_EQ(valuesOf(notches, EV_REL, REL_WHEEL_HI_RES),
                  std::vector<int>(2 + wheelFirst, -120))
            << describe(notches);
    }
    EXPECT_GT(dragged[0], 0);
    EXPECT_NEAR(dragged[0], dragged[1], 2); // counts to points may round apart
}

// A mouse the layer cannot re-create (uinput refuses the device) is given
// back to the desktop and named in the status, not counted as taken, with
// what was left alone and why.
class WithoutVirtualPointersTest : public InputLayerTest {
public:
    WithoutVirtualPointersTest() : InputLayerTest("/dev/null") {} // opens, makes no device
};

TEST_F(WithoutVirtualPointersTest, AMouseIsGivenBackAndNamedInTheStatus) {
    auto tablet = plug("tablet", MouseShape{.absolute = true});
    std::system("udevadm settle -t 10");
    engine->start();
    auto mouse = plug();
    std::vector<std::string> lines;
    ASSERT_TRUE(pumpUntil([&] {
        lines = status();
        return !lines.empty() && lines.back().find(mouse->node()) != std::string::npos;
    }));
    for (const std::string& why : {tablet->node() + " (" + tablet->name() + ") moves absolutely",
                                   mouse->node() + " has no virtual pointer ("})
        EXPECT_NE(lines.back().find(why), std::string::npos) << lines.back();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "taken"), 0);
    EXPECT_TRUE(NodeReader(mouse->node()).canGrab()) << "not released";
}

TEST_F(CitizenTest, TheGestureButtonFollowsHandednessAndTheSettings) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    struct Case {
        const char* setting;
        bool leftHanded;
        std::uint16_t gesture;
        bool thisMouseOnly = false; // the desktop's setting for this mouse alone (KDE)
    };
    const Case cases[] = {
        {"auto", true, BTN_LEFT},       {"auto", false, BTN_RIGHT},
        {"middle", true, BTN_MIDDLE},   {"sideways", true, BTN_LEFT}, // unknown: as "auto"
        {"auto", true, BTN_LEFT, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + (c.leftHanded ? ", left-handed" : ", right-handed") +
                     (c.thisMouseOnly ? " for this mouse only" : ""));
        store.setObject("gestureButton", std::string(c.setting));
        input::Handedness handedness{.leftHanded = c.leftHanded, .perDevice = {}};
        if (c.thisMouseOnly) // 0x1d57:0xad17, the fake mice's ids
            handedness = {.leftHanded = !c.leftHanded,
                          .perDevice = {{"7511:44311:" + mouse->name(), c.leftHanded}}};
        input.loop().runAndWait([&] { input.services().setHandedness(handedness); });
        mouse->move(1, 0); // the next frame picks the change up
        drag(*mouse, c.gesture);
        auto frames = drain(*mouse, pointer);
        EXPECT_GT(sumOf(frames, EV_REL, REL_WHEEL_HI_RES), 0) << describe(frames);
        EXPECT_TRUE(valuesOf(frames, EV_KEY, c.gesture).empty()) << describe(frames);
        // A click of the gesture button is a click of that button.
        mouse->button(c.gesture, true);
        mouse->button(c.gesture, false);
        frames = collect(pointer,
                         [&](const auto& f) { return valuesOf(f, EV_KEY, c.gesture).size() >= 2; });
        EXPECT_EQ(valuesOf(frames, EV_KEY, c.gesture), (std::vector<int>{1, 0}))
            << describe(frames);
    }
}

// A mouse whose descriptor was taken away (as logind revokes them) while
// its node stayed is let go, and taken again when the session is active
// again; with a button held then, only once it is up, as a grab would cut
// the press in half: its release reaches the desktop. (Giving the mice back
// and taking them again on a session switch is the whole-app test's.)
TEST_F(InputLayerTest, ARevokedMouseIsTakenAgainWhenTheSessionIsActiveAndItsButtonsAreUp) {
    engine->start();
    auto mouse = plug();
    ASSERT_FALSE(waitForPointer(*mouse).empty());
    const std::string target = std::filesystem::canonical(mouse->node()).string();
    int revoked = -1;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error).string() == target)
            revoked = std::stoi(fd.path().filename().string());
    }
    ASSERT_GE(revoked, 0) << "no descriptor of the layer's on " << target;
    ASSERT_EQ(ioctl(revoked, EVIOCREVOKE, nullptr), 0);
    mouse->move(1, 1); // reading it now fails
    ASSERT_TRUE(pumpUntil([&] { return !grabbed(*mouse); }));
    NodeReader desktop(mouse->node());
    mouse->button(BTN_LEFT, true);
    for (const bool active : {false, true})
        input.loop().runAndWait([&] { input.services().setSessionActive(active); });
    EXPECT_TRUE(pumpUntil([&] {
        return onInput([&] { return input.services().waitingNodes(); }) ==
               std::vector<std::string>{mouse->node()};
    })) << "the revoked mouse was forgotten, or taken with a button held";
    mouse->button(BTN_LEFT, false);
    EXPECT_FALSE(waitForPointer(*mouse).empty());
    const auto seen = desktop.take();
    EXPECT_EQ(valuesOf(seen, EV_KEY, BTN_LEFT), (std::vector<int>{1, 0})) << describe(seen);
}

} // namespace
} // namespace quillmere::vmtest
