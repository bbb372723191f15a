// How the frames of a grabbed mouse reach the engine and the desktop.
#include "engine/EventServices.h"
#include "platform/input/FrameTranslator.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace quillmere::input {
namespace {

input_event key(std::uint16_t code, std::int32_t value) {
    return makeEvent(EV_KEY, code, value);
}
input_event rel(std::uint16_t code, std::int32_t value) {
    return makeEvent(EV_REL, code, value);
}

std::string passed(input_event event) {
    return "pass " + std::to_string(event.type) + ":" + std::to_string(event.code) + "=" +
           std::to_string(event.value);
}

using Log = std::vector<std::string>;

// Writes down what a frame turns into; the engine passes the right-button
// events whose type is in its mask and swallows the others.
class Recorder : public FrameSink {
public:
    explicit Recorder(std::uint64_t passes) : passes(passes) {}
    void pass(const input_event& event) override { log.push_back(passed(event)); }
    bool offer(Event& event) override {
        const EventType type = event.type;
        if (type == EventType::rightMouseDragged)
            log.push_back("drag " + std::to_string(static_cast<long long>(event.deltaX)) + "," +
                          std::to_string(static_cast<long long>(event.deltaY)));
        else
            log.push_back(type == EventType::rightMouseDown ? "down"
                          : type == EventType::rightMouseUp ? "up"
                                                            : "other");
        EXPECT_EQ(event.button, MouseButton::right);
        EXPECT_EQ(event.location, (Point{0.0, 0.0}));
        return passes & eventMaskBit(type);
    }
    void endGesture(Event& release) override {
        EXPECT_EQ(release.type, EventType::rightMouseUp);
        log.push_back("quiet up");
    }
    std::uint64_t passes;
    Log log;
};

// Each case is a series of frames and what each turns into. Two buttons
// pressed together reach the desktop together, in the order pressed:
// libinput's middle-button emulation and rocker gestures see them.
TEST(FrameTranslator, FramesBecomeEngineEventsAndPassedEventsInOrder) {
    using Step = std::pair<std::vector<input_event>, Log>;
    const input_event rightDown = key(BTN_RIGHT, 1), rightUp = key(BTN_RIGHT, 0);
    const input_event leftDown = key(BTN_LEFT, 1), leftUp = key(BTN_LEFT, 0);
    const input_event scan = makeEvent(EV_MSC, MSC_SCAN, 90001);
    const std::uint64_t none = 0, all = ~none, drags = eventMaskBit(EventType::rightMouseDragged);
    const std::int32_t big = 2'000'000'000;
    const struct {
        const char* name;
        std::uint64_t enginePasses;
        bool noMiddleButton;
        std::vector<Step> steps;
    } cases[] = {
        {"without the right button everything passes unchanged, motion last",
         none,
         false,
         {{{leftDown, rel(REL_X, 3), rel(REL_WHEEL, -1), rel(REL_Y, -2), scan},
           {passed(leftDown), passed(rel(REL_WHEEL, -1)), passed(scan), passed(rel(REL_X, 3)),
            passed(rel(REL_Y, -2))}}}},
        {"motion in the press frame is part of the drag; a frame's motion adds up",
         none,
         false,
         {{{rightDown, rel(REL_X, 3), rel(REL_Y, 4)}, {"down", "drag 3,4"}},
          {{rel(REL_X, 1), rel(REL_WHEEL, 1), rel(REL_X, 2), rel(REL_Y, -5)},
           {passed(rel(REL_WHEEL, 1)), "drag 3,-5"}},
          {{scan}, {passed(scan)}},
          {{rel(REL_X, 2), rel(REL_X, -2)}, {}}}},
        {"motion in the release frame follows the release as plain motion",
         none,
         false,
         {{{rightDown}, {"down"}},
          {{rel(REL_X, 7), rightUp, rel(REL_Y, 1)},
           {"up", passed(rel(REL_X, 7)), passed(rel(REL_Y, 1))}},
          {{rel(REL_X, 1)}, {passed(rel(REL_X, 1))}}}},
        {"only real changes of the right button count; a click in one frame",
         none,
         false,
         {{{rightUp, key(BTN_RIGHT, 2)}, {}},
          {{rightDown}, {"down"}},
          {{rightDown, rel(REL_X, 1)}, {"drag 1,0"}},
          {{rightUp}, {"up"}},
          {{rel(REL_X, 4), rightDown, rightUp}, {"down", "up", passed(rel(REL_X, 4))}}}},
        {"what the engine passes is written back, summed motion one event per axis",
         all,
         false,
         {{{rightDown, rel(REL_X, -3)},
           {"down", passed(rightDown), "drag -3,0", passed(rel(REL_X, -3))}},
          {{rel(REL_Y, 2), rel(REL_Y, 3)}, {"drag 0,5", passed(rel(REL_Y, 5))}},
          {{rel(REL_X, big), rel(REL_X, big)},
           {"drag 4000000000,0", passed(rel(REL_X, 2147483647))}},
          {{rightUp}, {"up", passed(rightUp)}}}},
        {"the engine passes the drag and swallows the release",
         all & ~eventMaskBit(EventType::rightMouseUp),
         false,
         {{{rightDown}, {"down", passed(rightDown)}},
          {{rel(REL_X, 1), rightUp}, {"up", passed(rel(REL_X, 1))}}}},
        {"right, then left while held back: the press goes out first, the release is plain",
         drags,
         false,
         {{{rightDown}, {"down"}},
          {{leftDown}, {"quiet up", passed(rightDown), passed(leftDown)}},
          {{rel(REL_X, 5)}, {passed(rel(REL_X, 5))}},
          {{leftUp}, {passed(leftUp)}},
          {{rightUp}, {passed(rightUp)}},
          {{rightDown}, {"down"}}}},
        {"both in one frame",
         drags,
         false,
         {{{rightDown, leftDown}, {"down", "quiet up", passed(rightDown), passed(leftDown)}}}},
        {"a press once the drag scrolls is no chord",
         drags,
         false,
         {{{rightDown}, {"down"}},
          {{rel(REL_X, 30)}, {"drag 30,0", passed(rel(REL_X, 30))}},
          {{leftDown}, {passed(leftDown)}},
          {{rightUp}, {"up"}}}},
        {"left held, then right, on a mouse with a middle button: a gesture",
         drags,
         false,
         {{{leftDown}, {passed(leftDown)}}, {{rightDown}, {"down"}}}},
        {"left held, then right, on a mouse without one: a chord",
         drags,
         true,
         {{{leftDown}, {passed(leftDown)}},
          {{rightDown}, {passed(rightDown)}},
          {{rightUp}, {passed(rightUp)}},
          {{leftUp, rightDown}, {passed(leftUp), "down"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTranslator translator;
        translator.setMiddleEmulated(c.noMiddleButton);
        Recorder sink(c.enginePasses);
        for (const auto& [events, expected] : c.steps) {
            translator.translate(events, sink);
            EXPECT_EQ(std::exchange(sink.log, {}), expected);
        }
    }
}

} // namespace
} // namespace quillmere::input
