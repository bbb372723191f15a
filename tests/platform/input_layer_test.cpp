// The input layer's pure parts: how the frames of a grabbed mouse reach the
// engine and the desktop, the wheel events a scroll turns into, a mouse's
// resolution, and input access. The real kernel's side is in tests/vm.
#include "engine/EventServices.h"
#include "platform/InputAccess.h"
#include "platform/input/DeviceDiscovery.h"
#include "platform/input/FrameTranslator.h"
#include "platform/input/ScrollWheelEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
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
        EXPECT_EQ(event.sourceDevice, 7u); // the mouse and the frame's time, as given
        EXPECT_EQ(event.timestamp, 5000);
        log.push_back(type == EventType::rightMouseDown ? "down"
                      : type == EventType::rightMouseUp
                          ? "up"
                          : "drag " + std::to_string(std::llround(event.deltaX)) + "," +
                                std::to_string(std::llround(event.deltaY)));
        return passes & eventMaskBit(type);
    }
    void endGesture(Event& release) override {
        log.push_back(release.type == EventType::rightMouseUp ? "quiet up" : "quiet other");
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
        std::uint16_t gesture = BTN_RIGHT;
    } cases[] = {
        {"motion in the press frame is part of the drag, in the release frame plain motion "
         "after the release; only real changes of the button count",
         none,
         false,
         {{{rightDown, rel(REL_X, 3), rel(REL_Y, 4)}, {"down", "drag 3,4"}},
          {{rel(REL_X, 1), rel(REL_WHEEL, 1), rel(REL_X, 2), rel(REL_Y, -5)},
           {passed(rel(REL_WHEEL, 1)), "drag 3,-5"}},
          {{scan}, {passed(scan)}},
          {{rel(REL_X, 2), rel(REL_X, -2)}, {}},
          {{rightDown, key(BTN_RIGHT, 2), rel(REL_X, 1)}, {"drag 1,0"}},
          {{rel(REL_X, 7), rightUp, rel(REL_Y, 1)},
           {"up", passed(rel(REL_X, 7)), passed(rel(REL_Y, 1))}},
          {{rightUp}, {}},
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
        {"right, then left while held back (also in one frame): the press goes out first, "
         "the release is plain; a press once the drag scrolls, or with left held on a mouse "
         "with a middle button, makes no chord",
         drags,
         false,
         {{{rightDown}, {"down"}},
          {{leftDown}, {"quiet up", passed(rightDown), passed(leftDown)}},
          {{rel(REL_X, 5)}, {passed(rel(REL_X, 5))}},
          {{leftUp}, {passed(leftUp)}},
          {{rightUp}, {passed(rightUp)}},
          {{rightDown, leftDown}, {"down", "quiet up", passed(rightDown), passed(leftDown)}},
          {{leftUp, rightUp}, {passed(leftUp), passed(rightUp)}},
          {{rightDown}, {"down"}},
          {{rel(REL_X, 30)}, {"drag 30,0", passed(rel(REL_X, 30))}},
          {{leftDown}, {passed(leftDown)}},
          {{rightUp}, {"up"}},
          {{rightDown}, {"down"}}}},
        {"left held, then right, on a mouse without one: a chord",
         drags,
         true,
         {{{leftDown}, {passed(leftDown)}},
          {{rightDown}, {passed(rightDown)}},
          {{rightUp}, {passed(rightUp)}},
          {{leftUp, rightDown}, {passed(leftUp), "down"}}}},
        {"left-handed: the left button grabs, the right one passes at once",
         none,
         false,
         {{{rightDown}, {passed(rightDown)}},
          {{rightUp}, {passed(rightUp)}},
          {{leftDown, rel(REL_X, 3)}, {"down", "drag 3,0"}},
          {{leftUp}, {"up"}}},
         BTN_LEFT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTranslator translator(7);
        translator.setMiddleEmulated(c.noMiddleButton);
        translator.setGestureButton(c.gesture);
        Recorder sink(c.enginePasses);
        for (const auto& [events, expected] : c.steps) {
            translator.translate(events, sink, 5000);
            EXPECT_EQ(std::exchange(sink.log, {}), expected);
        }
    }
}

using Wheel = std::vector<std::pair<std::uint16_t, std::int32_t>>;

Event scroll(std::int32_t vertical, std::int32_t horizontal, ScrollUnit units = ScrollUnit::pixel,
             std::int32_t wheelCount = 2) {
    return makeScrollWheelEvent(units, wheelCount, vertical, horizontal, 0);
}

// 2 hi-res units per pixel and 40 per line; a legacy step for each detent
// of 120 built up. Each case runs on an encoder of its own.
TEST(ScrollWheelEncoder, ScrollsBecomeHiResUnitsWithALegacyStepPerDetent) {
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    const auto line = ScrollUnit::line;
    const struct {
        const char* name;
        std::vector<std::pair<Event, Wheel>> steps;
    } cases[] = {
        {"pixels and lines, a step once a detent is complete",
         {{scroll(50, 0), {{REL_WHEEL_HI_RES, 100}}},
          {scroll(10, 0), {{REL_WHEEL_HI_RES, 20}, {REL_WHEEL, 1}}},
          {scroll(3, 0, line), {{REL_WHEEL_HI_RES, 120}, {REL_WHEEL, 1}}},
          {scroll(-10, 0, line), {{REL_WHEEL_HI_RES, -400}, {REL_WHEEL, -3}}}}},
        {"horizontal is negated (left is negative on evdev), axes are independent",
         {{scroll(30, 60), {{REL_WHEEL_HI_RES, 60}, {REL_HWHEEL_HI_RES, -120}, {REL_HWHEEL, -1}}},
          {scroll(30, -1), {{REL_WHEEL_HI_RES, 60}, {REL_WHEEL, 1}, {REL_HWHEEL_HI_RES, 2}}},
          {scroll(0, 50, ScrollUnit::pixel, 1), {}}, // one wheel: wheel 2 means nothing
          {scroll(0, 0, line), {}}}},
        {"a reversal works off what built up; jitter after a step does not step back",
         {{scroll(50, 0), {{REL_WHEEL_HI_RES, 100}}},
          {scroll(-55, 0), {{REL_WHEEL_HI_RES, -110}}},
          {scroll(-55, 0), {{REL_WHEEL_HI_RES, -110}, {REL_WHEEL, -1}}},
          {scroll(59, 0), {{REL_WHEEL_HI_RES, 118}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}, {REL_WHEEL, 1}}},
          {scroll(-1, 0), {{REL_WHEEL_HI_RES, -2}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}}}}},
        {"amounts beyond the evdev range are clamped, not wrapped, and not carried",
         {{scroll(most, least, line),
           {{REL_WHEEL_HI_RES, most},
            {REL_WHEEL, most / 120},
            {REL_HWHEEL_HI_RES, most},
            {REL_HWHEEL, most / 120}}},
          {scroll(1, 0), {{REL_WHEEL_HI_RES, 2}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScrollWheelEncoder encoder;
        for (const auto& [event, expected] : c.steps) {
            std::vector<input_event> out;
            encoder.encode(event, out);
            Wheel got;
            for (const input_event& ev : out)
                got.emplace_back(ev.code, ev.value);
            EXPECT_EQ(got, expected);
        }
    }
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
        const Resolution r = mouseResolution(c.property);
        EXPECT_EQ(r.dpi, c.dpi) << (c.property ? c.property : "(none)");
        EXPECT_EQ(!r.problem.empty(), c.problem) << (c.property ? c.property : "(none)");
    }
}

// That the tap is refused without uinput, InputThreadDeathTest shows.
TEST(InputAccess, TrustedOnlyWithAWritableUinputNodeAndEveryMouseReadable) {
    EXPECT_FALSE(InputAccess::isTrusted("/nonexistent/uinput", {}));
    // Something that opens for reading but not for writing is not enough.
    EXPECT_FALSE(InputAccess::isTrusted("/", {}));
    EXPECT_TRUE(InputAccess::isTrusted("/dev/null", {"/dev/null"}));
    EXPECT_FALSE(InputAccess::isTrusted("/dev/null", {"/dev/null", "/nonexistent/event0"}));
}

} // namespace
} // namespace quillmere::input
