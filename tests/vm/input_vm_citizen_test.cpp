// The input layer as a citizen of the input stack: a virtual pointer keeps
// its mouse's identity and wheel, the right devices are taken, the gesture
// button follows handedness, and the session's state is followed.
#include "Libinput.h"
#include "VmFixture.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

std::string properties(const std::string& node) {
    return outputOf({"udevadm", "info", "--query=property", QString::fromStdString(node)});
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
    // Drags the mouse down with its gesture button, then lets go.
    static void drag(FakeMouse& mouse, std::uint16_t button, int steps = 10) {
        mouse.button(button, true);
        for (int i = 0; i < steps; ++i)
            mouse.move(0, 4);
        mouse.button(button, false);
    }
};

TEST_F(CitizenTest, AVirtualPointerKeepsItsMousesHwdbEntriesAndLibinputSettings) {
    engine->start();
    auto mouse = plug("Ball");
    const std::string pointer = waitForPointer(*mouse);
    ASSERT_FALSE(pointer.empty());
    ASSERT_EQ(std::system("udevadm settle -t 10"), 0);
    const std::string source = properties(mouse->node());
    const std::string copy = properties(pointer);
    for (const char* key :
         {"MOUSE_DPI=800@1000", "MOUSE_WHEEL_CLICK_ANGLE=20", "ID_INPUT_TRACKBALL=1"}) {
        EXPECT_NE(source.find(key), std::string::npos) << key << " (the test hwdb)\n" << source;
        EXPECT_NE(copy.find(key), std::string::npos) << key << "\n" << copy;
    }
    const auto settings = libinputSettings(pointer);
    EXPECT_FALSE(settings.empty());
    auto sourceSettings = libinputSettings(mouse->node());
    // The name line carries no identity of its own: both have the mouse's name.
    EXPECT_EQ(settings, sourceSettings);
}

TEST_F(CitizenTest, AWheelWithoutHiResScrollsOneNotchPerStepBeforeAndAfterADrag) {
    store.setObject("scrollSpeed", 1.0);
    engine->start();
    // The drag's own scrolling, whether or not the wheel turned first.
    std::vector<int> dragV120[2];
    for (int wheelFirst = 0; wheelFirst < 2; ++wheelFirst) {
        auto mouse = plug(wheelFirst ? "notch-first" : "drag-first",
                          MouseShape::without(&MouseShape::hiResWheel));
        const std::string pointer = waitForPointer(*mouse);
        ASSERT_FALSE(pointer.empty());
        LibinputEvents libinput(pointer);
        ASSERT_TRUE(libinput.started()) << libinput.output();
        // Down the wheel (positive at libinput), up the drag (negative).
        if (wheelFirst)
            mouse->frame({makeEvent(EV_REL, REL_WHEEL, -1)});
        drag(*mouse, BTN_RIGHT);
        mouse->frame({makeEvent(EV_REL, REL_WHEEL, -1)});
        mouse->frame({makeEvent(EV_REL, REL_WHEEL, -1)});
        pumpUntil([&] {
            const auto& v = libinput.log().verticalV120;
            return std::count(v.begin(), v.end(), 120) >= 2 + wheelFirst;
        });
        const LibinputLog log = libinput.log();
        std::vector<int> notches;
        for (int v : log.verticalV120)
            (v > 0 ? notches : dragV120[wheelFirst]).push_back(v);
        EXPECT_EQ(notches, std::vector<int>(2 + wheelFirst, 120)) << libinput.output();
    }
    const auto sum = [](const std::vector<int>& v) {
        return std::accumulate(v.begin(), v.end(), 0);
    };
    EXPECT_LT(sum(dragV120[0]), 0);
    EXPECT_EQ(sum(dragV120[0]), sum(dragV120[1]));
}

TEST_F(CitizenTest, KeyboardsOtherProgramsDevicesAndAbsolutePointersAreLeftAlone) {
    std::vector<std::string> said; // on the input thread
    struct Listening {
        InputLayerTest& test;
        std::vector<std::string>& said;
        Listening(InputLayerTest& t, std::vector<std::string>& s) : test(t), said(s) {
            listen(
                [&](bool taken, const std::string& why) { said.push_back(taken ? "taken" : why); });
        }
        ~Listening() { listen({}); } // before `said` goes
        void listen(LinuxEventServices::StatusListener listener) {
            test.onInput([&] { test.input.services().setStatusListener(std::move(listener)); });
        }
    } listening(*this, said);
    store.setBool("grabVirtualDevices", false);
    auto tablet = plug("tablet", MouseShape::with(&MouseShape::absolute));
    auto virtualMouse = plug("virtual");
    std::system("udevadm settle -t 10");
    engine->start();
    // Nothing to take: one status that says why, once.
    ASSERT_TRUE(pumpUntil([&] { return onInput([&] { return !said.empty(); }); }));
    const std::vector<std::string> status = onInput([&] { return said; });
    ASSERT_EQ(status.size(), 1u);
    EXPECT_NE(status[0].find(tablet->node() + " ("), std::string::npos) << status[0];
    EXPECT_NE(status[0].find("moves absolutely"), std::string::npos) << status[0];
    EXPECT_NE(status[0].find("another program's virtual device"), std::string::npos);
    engine->stop();

    // Taking virtual devices: the fake mouse is taken; the node that is a
    // keyboard too is not, nor the mouse that scrolls with its middle button
    // held for want of a wheel, however they are found.
    store.setBool("grabVirtualDevices", true);
    auto combined = plug("combined", MouseShape::with(&MouseShape::keys));
    auto wheelless = plug("wheelless", MouseShape::without(&MouseShape::wheel));
    std::system("udevadm settle -t 10");
    engine->start();
    ASSERT_FALSE(waitForPointer(*virtualMouse).empty());
    auto late = plug("late-combined", MouseShape::with(&MouseShape::keys));
    pumpFor(500ms);
    const auto grabbed = grabbedNodes();
    EXPECT_EQ(grabbed, std::vector<std::string>{virtualMouse->node()});
    EXPECT_EQ(onInput([&] { return said.back(); }), "taken");
}

// A mouse the layer cannot re-create (uinput refuses the device) is given
// back to the desktop and named in the status, not counted as taken.
TEST_F(InputLayerTest, AMouseWithoutAVirtualPointerIsGivenBackAndNamedInTheStatus) {
    input::InputThread broken("/dev/null"); // opens for writing, makes no device
    std::vector<std::string> said;          // on broken's thread
    broken.loop().runAndWait([&] {
        broken.services().setStatusListener(
            [&](bool taken, const std::string& why) { said.push_back(taken ? "taken" : why); });
    });
    auto brokenEngine =
        std::make_unique<GrabScrollManager>(broken.services(), broken.timers(), &broken.loop());
    brokenEngine->start();
    auto mouse = plug();
    const auto saidNow = [&] {
        std::vector<std::string> copy;
        broken.loop().runAndWait([&] { copy = said; });
        return copy;
    };
    ASSERT_TRUE(pumpUntil([&] {
        const auto status = saidNow();
        return !status.empty() && status.back().find(mouse->node()) != std::string::npos;
    })) << (saidNow().empty() ? "" : saidNow().back());
    const std::vector<std::string> status = saidNow();
    EXPECT_NE(status.back().find(mouse->node() + " has no virtual pointer ("), std::string::npos);
    EXPECT_EQ(std::count(status.begin(), status.end(), "taken"), 0);
    // Released: another reader may take the node.
    const int fd = ::open(mouse->node().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::ioctl(fd, EVIOCGRAB, 1), 0);
    ::close(fd);
    brokenEngine->stop();
    broken.loop().runAndWait([&] {
        broken.services().setStatusListener({});
        brokenEngine.reset(); // its timers belong to that thread
    });
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
        std::uint16_t plain;        // passes at once, as any other button
        bool thisMouseOnly = false; // the desktop's setting for this mouse alone (KDE)
    };
    const Case cases[] = {
        {"auto", true, BTN_LEFT, BTN_RIGHT},
        {"auto", false, BTN_RIGHT, BTN_LEFT},
        {"middle", true, BTN_MIDDLE, BTN_RIGHT},
        {"sideways", true, BTN_LEFT, BTN_RIGHT}, // unknown: as "auto"
        {"auto", true, BTN_LEFT, BTN_RIGHT, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + (c.leftHanded ? ", left-handed" : ", right-handed") +
                     (c.thisMouseOnly ? " for this mouse only" : ""));
        store.setObject("gestureButton", std::string(c.setting));
        input::Handedness handedness{.leftHanded = c.leftHanded, .perDevice = {}};
        if (c.thisMouseOnly) // 0x1d57:0xad17, the fake mice's ids
            handedness = {.leftHanded = !c.leftHanded,
                          .perDevice = {{"7511:44311:" + mouse->name(), c.leftHanded}}};
        onInput([&] { input.services().setHandedness(handedness); });
        mouse->move(1, 0); // the next frame picks the change up
        drag(*mouse, c.gesture);
        auto frames = drain(*mouse, pointer);
        EXPECT_GT(sumOf(frames, EV_REL, REL_WHEEL_HI_RES), 0) << describe(frames);
        EXPECT_TRUE(valuesOf(frames, EV_KEY, c.gesture).empty()) << describe(frames);
        // The other button's press reaches the desktop before its release.
        mouse->button(c.plain, true);
        frames =
            collect(pointer, [&](const auto& f) { return !valuesOf(f, EV_KEY, c.plain).empty(); });
        EXPECT_EQ(valuesOf(frames, EV_KEY, c.plain), std::vector<int>{1});
        mouse->button(c.plain, false);
        drain(*mouse, pointer);
    }
}

TEST_F(CitizenTest, AnInactiveSessionGivesEveryMouseBackAndAnActiveOneTakesThemAgain) {
    engine->start();
    auto a = plug("a");
    auto b = plug("b");
    ASSERT_FALSE(waitForPointer(*a).empty());
    ASSERT_FALSE(waitForPointer(*b).empty());
    {
        NodeReader readerA(a->node());
        NodeReader readerB(b->node());
        a->button(BTN_LEFT, true); // held through the switch
        onInput([&] { input.services().setSessionActive(false); });
        ASSERT_TRUE(pumpUntil([&] {
            return readerA.canGrab() && readerB.canGrab() &&
                   nodeWithPhys("quillmere/" + a->phys()).empty() &&
                   nodeWithPhys("quillmere/" + b->phys()).empty();
        }));
        a->button(BTN_LEFT, false);
    } // the readers close: the only descriptors left on the nodes are the layer's

    onInput([&] { input.services().setSessionActive(true); });
    EXPECT_FALSE(waitForPointer(*a).empty());
    EXPECT_FALSE(waitForPointer(*b).empty());

    // A descriptor taken away while the node stays (as logind revokes
    // them) is a mouse to take again once the session is active again.
    const std::string target = std::filesystem::canonical(a->node()).string();
    int revoked = -1;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error).string() == target)
            revoked = std::stoi(fd.path().filename().string());
    }
    ASSERT_GE(revoked, 0) << "no descriptor of the layer's on " << target;
    ASSERT_EQ(ioctl(revoked, EVIOCREVOKE, nullptr), 0);
    a->move(1, 1); // reading it now fails
    ASSERT_TRUE(pumpUntil([&] { return !grabbed(*a); }));
    onInput([&] { input.services().setSessionActive(false); });
    onInput([&] { input.services().setSessionActive(true); });
    EXPECT_FALSE(waitForPointer(*a).empty()) << "the revoked mouse was forgotten";
}

// libinput as the consumer of a virtual pointer, the way a desktop sees it.
TEST_F(InputLayerTest, LibinputSeesSmoothWheelScrollingAndOneRightClick) {
    store.setBool("momentumScroll", true); // the shipped settings
    engine->start();
    auto mouse = plug();
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty());
    NodeReader pointer(pointerNode);
    LibinputEvents libinput(pointerNode);
    ASSERT_TRUE(libinput.started()) << libinput.output();

    // A drag down: with the shipped settings the content follows the hand,
    // it scrolls up, and a glide follows the release.
    // What the virtual pointer carries is read all along, so that no
    // reader queue overflows.
    std::vector<Frame> written;
    const auto keep = [&](const std::vector<Frame>& more) {
        written.insert(written.end(), more.begin(), more.end());
    };
    const auto gliding = [&] { return onInput([&] { return engine->isMomentumRunning(); }); };
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 10; ++i) {
        mouse->move(0, 4);
        keep(settle(pointer, 8ms));
    }
    mouse->button(BTN_RIGHT, false);
    keep(collect(pointer, [&](const auto&) { return gliding(); }));
    keep(collect(
        pointer, [&](const auto&) { return !gliding(); }, 15s));
    // Then a short click.
    mouse->button(BTN_RIGHT, true);
    mouse->button(BTN_RIGHT, false);
    keep(settle(pointer, 1000ms));
    const LibinputLog log = libinput.log();
    const long hiRes = sumOf(written, EV_REL, REL_WHEEL_HI_RES);
    const long v120 = std::accumulate(log.verticalV120.begin(), log.verticalV120.end(), 0L);
    // libinput counts downward scrolling as positive: an upward scroll of
    // hiRes units is -hiRes there, delivered in many small steps.
    EXPECT_GT(hiRes, 0);
    EXPECT_EQ(v120, -hiRes);
    EXPECT_GE(log.verticalV120.size(), 20u) << "not a smooth series";
    for (int value : log.verticalV120)
        EXPECT_LT(value, 0) << "a scroll against the drag";
    EXPECT_TRUE(log.horizontalV120.empty());
    EXPECT_EQ(log.rightPressed, 1) << libinput.output();
    EXPECT_EQ(log.rightReleased, 1);
    EXPECT_TRUE(log.clickAfterScrolls);
}

// On a mouse without a middle button libinput makes a middle click of left
// and right pressed together; through the layer too, whichever comes first.
TEST_F(InputLayerTest, LibinputMakesAMiddleClickOfLeftAndRightTogether) {
    engine->start();
    auto mouse = plug("two-buttons", MouseShape::without(&MouseShape::middleButton));
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty());
    LibinputEvents libinput(pointerNode);
    ASSERT_TRUE(libinput.started()) << libinput.output();
    for (const auto& [first, second] :
         {std::pair{BTN_RIGHT, BTN_LEFT}, std::pair{BTN_LEFT, BTN_RIGHT}}) {
        mouse->button(first, true);
        mouse->button(second, true);
        mouse->button(second, false);
        mouse->button(first, false);
    }
    const auto said = [&](const char* what) {
        const std::string text = libinput.output();
        long n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(pumpUntil([&] { return said("BTN_MIDDLE") >= 4; })) << libinput.output();
    EXPECT_EQ(said("BTN_MIDDLE (274) pressed"), 2) << libinput.output();
    EXPECT_EQ(said("BTN_LEFT") + said("BTN_RIGHT"), 0) << libinput.output();
}

} // namespace
} // namespace quillmere::vmtest
