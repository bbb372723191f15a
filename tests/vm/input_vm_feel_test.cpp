// The same hand movement feels the same on every mouse, through the real
// kernel: the resolution udev gives a mouse (MOUSE_DPI) turns its counts into
// points, and two mice never share a gesture.
#include "VmFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

constexpr int resolutions[] = {400, 1600, 3200};

class FeelTest : public InputLayerTest {
protected:
    // udev gives the fake mice named "... dpiN ..." a MOUSE_DPI of N.
    static void SetUpTestSuite() {
        std::filesystem::create_directories("/run/udev/rules.d");
        std::ofstream rules("/run/udev/rules.d/99-quillmere-test-dpi.rules");
        for (int dpi : resolutions)
            rules << "SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{name}==\"*-dpi" << dpi
                  << "\", ENV{MOUSE_DPI}=\"" << dpi << "@1000\"\n";
        rules.close();
        std::system("udevadm control --reload");
    }
};

// A press, 20 mm down as whole counts the way the mouse's sensor reports
// them, in 100 frames a millisecond apart, and the release scroll the same
// distance at any resolution.
TEST_F(FeelTest, TheSameMovementScrollsTheSameAtEveryResolution) {
    engine->start();
    long reference = 0;
    for (int dpi : resolutions) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        auto mouse = plug("dpi" + std::to_string(dpi));
        NodeReader pointer(waitForPointer(*mouse));
        ASSERT_TRUE(pointer.isOpen());
        std::vector<Frame> frames; // read all along, so that no reader queue overflows
        mouse->button(BTN_RIGHT, true);
        for (int i = 1, sent = 0; i <= 100; ++i) {
            const int y = static_cast<int>(20.0 / 25.4 * dpi * i / 100);
            mouse->move(0, y - sent);
            sent = y;
            std::this_thread::sleep_for(1ms);
            for (Frame& frame : pointer.take())
                frames.push_back(std::move(frame));
        }
        mouse->button(BTN_RIGHT, false);
        for (Frame& frame : drain(*mouse, pointer))
            frames.push_back(std::move(frame));
        const long scrolled = sumOf(frames, EV_REL, REL_WHEEL_HI_RES);
        EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << describe(frames);
        if (reference == 0)
            reference = scrolled;
        EXPECT_GT(scrolled, 0);
        EXPECT_NEAR(scrolled, reference, 0.05 * reference);
    }
}

TEST_F(FeelTest, AClickOfOneMouseDuringAnothersScrollAndGlideIsItsOwn) {
    store.setBool("momentumScroll", true);
    engine->start();
    auto a = plug("a");
    auto b = plug("b");
    NodeReader pointerA(waitForPointer(*a));
    NodeReader pointerB(waitForPointer(*b));
    ASSERT_TRUE(pointerA.isOpen() && pointerB.isOpen());

    a->button(BTN_RIGHT, true);
    for (int i = 0; i < 20; ++i)
        a->move(0, 4);
    b->button(BTN_RIGHT, true); // B's press in the middle of A's drag
    a->move(0, 4);
    b->button(BTN_RIGHT, false);
    a->button(BTN_RIGHT, false); // A glides on
    ASSERT_TRUE(pumpUntil([&] { return gliding(); }));
    b->button(BTN_RIGHT, true); // and B clicks during the glide
    b->button(BTN_RIGHT, false);
    std::vector<Frame> framesA = collect(
        pointerA, [&](const auto&) { return !gliding(); }, 15s);
    for (Frame& late : drain(*a, pointerA))
        framesA.push_back(std::move(late));
    const auto framesB = drain(*b, pointerB);

    EXPECT_GT(sumOf(framesA, EV_REL, REL_WHEEL_HI_RES), 0);
    EXPECT_TRUE(valuesOf(framesA, EV_KEY, BTN_RIGHT).empty()) << "a click nobody made on A";
    EXPECT_EQ(valuesOf(framesB, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0, 1, 0}))
        << describe(framesB);
    EXPECT_TRUE(valuesOf(framesB, EV_REL, REL_WHEEL_HI_RES).empty()) << "A's scroll came out of B";
    EXPECT_TRUE(pointerA.keysDown().empty());
    EXPECT_TRUE(pointerB.keysDown().empty());
    EXPECT_EQ(state(), GrabScrollManager::State::idle);
}

} // namespace
} // namespace quillmere::vmtest
