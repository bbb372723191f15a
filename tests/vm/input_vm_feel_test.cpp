// The same hand movement feels the same on every mouse, through the real
// kernel: the resolution udev gives a mouse (MOUSE_DPI) turns its counts into
// points, and two mice never share a gesture.
#include "VmFixture.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

constexpr int resolutions[] = {400, 800, 1600, 3200};

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

    // A press, a move by millimetres as whole counts the way the mouse's
    // sensor reports them, in `frames` equal frames a millisecond apart, the
    // release: everything the virtual pointer made of it, read all along so
    // that no reader queue overflows.
    std::vector<Frame> gesture(FakeMouse& mouse, NodeReader& pointer, int dpi, double mmX,
                               double mmY, int frames) {
        std::vector<Frame> seen;
        mouse.button(BTN_RIGHT, true);
        long sentX = 0, sentY = 0;
        for (int i = 1; i <= frames; ++i) {
            const auto x = static_cast<long>(std::trunc(mmX / 25.4 * dpi * i / frames));
            const auto y = static_cast<long>(std::trunc(mmY / 25.4 * dpi * i / frames));
            mouse.move(static_cast<int>(x - sentX), static_cast<int>(y - sentY));
            sentX = x;
            sentY = y;
            std::this_thread::sleep_for(1ms);
            for (Frame& frame : pointer.take())
                seen.push_back(std::move(frame));
        }
        mouse.button(BTN_RIGHT, false);
        for (Frame& frame : drain(mouse, pointer))
            seen.push_back(std::move(frame));
        return seen;
    }
};

TEST_F(FeelTest, TheSameMovementScrollsTheSameAndSmallOnesStayClicksAtEveryResolution) {
    engine->start();
    long reference = 0;
    for (int dpi : resolutions) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        auto mouse = plug("dpi" + std::to_string(dpi));
        NodeReader pointer(waitForPointer(*mouse));
        ASSERT_TRUE(pointer.isOpen());

        // 20 mm down: the same distance on the screen's scale at any resolution.
        const auto frames = gesture(*mouse, pointer, dpi, 0.0, 20.0, 100);
        const long scrolled = sumOf(frames, EV_REL, REL_WHEEL_HI_RES);
        EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << describe(frames);
        if (reference == 0)
            reference = scrolled;
        EXPECT_NEAR(scrolled, reference, 0.05 * reference);

        // The tremor of a press (0.1 mm, any direction) stays a click; a
        // quarter millimetre is a drag.
        for (auto [mmX, mmY, click] : {std::tuple{0.1, 0.0, true}, std::tuple{0.0, -0.25, false}}) {
            const auto seen = gesture(*mouse, pointer, dpi, mmX, mmY, 3);
            const std::vector<int> clicked = click ? std::vector<int>{1, 0} : std::vector<int>{};
            EXPECT_EQ(valuesOf(seen, EV_KEY, BTN_RIGHT), clicked)
                << mmX << "," << mmY << " mm: " << describe(seen);
            EXPECT_EQ(sumOf(seen, EV_REL, REL_WHEEL_HI_RES) != 0, !click)
                << mmX << "," << mmY << " mm: " << describe(seen);
        }
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
