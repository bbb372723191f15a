// The input layer on a real kernel: what a grabbed mouse's virtual pointer
// carries for drags, clicks and everything else.
#include "VmFixture.h"
#include "platform/InputAccess.h"

#include <atomic>
#include <sys/wait.h>
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

TEST_F(InputLayerTest, DragScrollsOnTheMousesVirtualPointerWithTheDragsDirection) {
    engine->start();
    ASSERT_TRUE(onInput([&] { return engine->hasEventTap(); }));
    auto mouse = plug();
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty()) << "the mouse was not taken over";
    NodeReader pointer(pointerNode);
    NodeReader desktop(mouse->node());

    // Down by 2 points per frame: the third frame passes 5 points and
    // scrolls; at speed 3 each frame is 6 pixels, 12 hi-res units, up.
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 20; ++i)
        mouse->move(0, 2);
    mouse->button(BTN_RIGHT, false);
    auto frames = collect(
        pointer, [](const auto& f) { return valuesOf(f, EV_REL, REL_WHEEL_HI_RES).size() >= 18; });
    for (Frame& late : settle(pointer))
        frames.push_back(std::move(late));
    EXPECT_EQ(valuesOf(frames, EV_REL, REL_WHEEL_HI_RES), std::vector<int>(18, 12))
        << describe(frames);
    EXPECT_EQ(sumOf(frames, EV_REL, REL_WHEEL), 1) << "216 hi-res units are one detent";
    EXPECT_TRUE(valuesOf(frames, EV_REL, REL_HWHEEL_HI_RES).empty());
    EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << "the held press leaked";
    // While scrolling the drag itself reaches the desktop unchanged.
    EXPECT_EQ(valuesOf(frames, EV_REL, REL_Y), std::vector<int>(18, 2));
    EXPECT_TRUE(desktop.take().empty()) << "the grabbed mouse reached the desktop directly";

    // To the right: wheel 2 (left) positive, that is REL_HWHEEL negative.
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 10; ++i)
        mouse->move(3, 0);
    mouse->button(BTN_RIGHT, false);
    frames = collect(
        pointer, [](const auto& f) { return valuesOf(f, EV_REL, REL_HWHEEL_HI_RES).size() >= 9; });
    EXPECT_EQ(valuesOf(frames, EV_REL, REL_HWHEEL_HI_RES), std::vector<int>(9, -18))
        << describe(frames);
    EXPECT_EQ(sumOf(frames, EV_REL, REL_HWHEEL), -1);

    // Without reverseScroll, dragging down scrolls down.
    store.setBool("reverseScroll", false);
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 4; ++i)
        mouse->move(0, 3);
    mouse->button(BTN_RIGHT, false);
    frames = collect(
        pointer, [](const auto& f) { return valuesOf(f, EV_REL, REL_WHEEL_HI_RES).size() >= 3; });
    EXPECT_EQ(valuesOf(frames, EV_REL, REL_WHEEL_HI_RES), std::vector<int>(3, -18));
}

TEST_F(InputLayerTest, ClickWithoutDragArrivesAsOneRightClickBeforeTheReleaseFramesMotion) {
    engine->start();
    auto mouse = plug();
    NodeReader pointer(waitForPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen());
    mouse->frame({key(BTN_RIGHT, 1), rel(REL_X, 1)});
    mouse->move(1, 1);
    mouse->frame({rel(REL_Y, -1), key(BTN_RIGHT, 0)});
    const auto frames = collect(pointer, [](const auto& f) { return f.size() >= 3; });
    const auto rest = settle(pointer);
    EXPECT_EQ(normalised(frames),
              normalised({{key(BTN_RIGHT, 1)}, {key(BTN_RIGHT, 0)}, {rel(REL_Y, -1)}}))
        << describe(frames);
    EXPECT_TRUE(rest.empty()) << describe(rest);
    EXPECT_EQ(state(), GrabScrollManager::State::idle);
    EXPECT_TRUE(pointer.keysDown().empty());
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

TEST_F(InputLayerTest, PostedEventsGoToTheMouseThatStartedTheGesture) {
    engine->start();
    auto first = plug("first");
    auto second = plug("second");
    NodeReader firstPointer(waitForPointer(*first));
    NodeReader secondPointer(waitForPointer(*second));
    ASSERT_TRUE(firstPointer.isOpen() && secondPointer.isOpen());

    second->button(BTN_RIGHT, true);
    second->button(BTN_RIGHT, false);
    auto secondFrames = collect(secondPointer, [](const auto& f) { return f.size() >= 2; });
    EXPECT_EQ(valuesOf(secondFrames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0}));

    first->button(BTN_RIGHT, true);
    for (int i = 0; i < 5; ++i)
        first->move(0, -4);
    first->button(BTN_RIGHT, false);
    auto firstFrames = collect(firstPointer, [](const auto& f) {
        return valuesOf(f, EV_REL, REL_WHEEL_HI_RES).size() >= 4;
    });
    EXPECT_EQ(valuesOf(firstFrames, EV_REL, REL_WHEEL_HI_RES), std::vector<int>(4, -24));
    EXPECT_TRUE(valuesOf(firstFrames, EV_KEY, BTN_RIGHT).empty());
    secondFrames = settle(secondPointer);
    EXPECT_TRUE(secondFrames.empty()) << describe(secondFrames);
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

TEST_F(InputLayerTest, OwnVirtualPointersAreNeverTakenAndAccessIsCheckedPerNode) {
    engine->start();
    auto mouse = plug();
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty()) << listInputDevices();
    // udev announces the virtual pointer as a mouse too; give that time.
    pumpFor(500ms);
    EXPECT_EQ(grabbedNodes(), std::vector<std::string>{mouse->node()});
    EXPECT_EQ(onInput([&] { return input.services().virtualNodes(); }),
              std::vector<std::string>{pointerNode});
    const auto nodes = InputAccess::pointerNodes();
    EXPECT_NE(std::find(nodes.begin(), nodes.end(), mouse->node()), nodes.end());
    EXPECT_EQ(std::find(nodes.begin(), nodes.end(), pointerNode), nodes.end());
    EXPECT_TRUE(InputAccess::isTrusted());

    // A user without access to the nodes is not trusted.
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        _exit(InputAccess::isTrusted() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
} // namespace quillmere::vmtest
