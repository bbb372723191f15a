// How the frames of a grabbed mouse reach the engine and the desktop.
#include "platform/input/FrameTranslator.h"

#include <gtest/gtest.h>

#include <functional>
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

// Writes down what a frame turns into; the engine's answer comes from a
// policy (default: swallow everything, as the engine does for a press).
class Recorder : public FrameSink {
public:
    std::function<bool(const Event&)> engine = [](const Event&) { return false; };
    std::vector<std::string> log;

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
        return engine(event);
    }
    void endGesture(Event& release) override {
        EXPECT_EQ(release.type, EventType::rightMouseUp);
        log.push_back("quiet up");
    }
};

using Log = std::vector<std::string>;

class FrameTranslatorTest : public ::testing::Test {
protected:
    // Translates one frame and gives back what it turned into.
    Log frame(const std::vector<input_event>& events, std::int64_t timestamp = 0) {
        translator.translate(events, sink, timestamp);
        return std::exchange(sink.log, {});
    }
    FrameTranslator translator;
    Recorder sink;
};

TEST_F(FrameTranslatorTest, WithoutTheRightButtonEverythingPassesInOrder) {
    const std::vector<input_event> events = {key(BTN_LEFT, 1), rel(REL_X, 3), rel(REL_WHEEL, -1),
                                             rel(REL_Y, -2), makeEvent(EV_MSC, MSC_SCAN, 90001)};
    // Motion comes last in its frame, each event unchanged.
    EXPECT_EQ(frame(events), (Log{passed(events[0]), passed(events[2]), passed(events[4]),
                                  passed(events[1]), passed(events[3])}));
}

TEST_F(FrameTranslatorTest, MotionInThePressFrameIsPartOfTheDrag) {
    EXPECT_EQ(frame({key(BTN_RIGHT, 1), rel(REL_X, 3), rel(REL_Y, 4)}), (Log{"down", "drag 3,4"}));
    EXPECT_TRUE(translator.rightDown());
    // Several motion events of one frame add up to one drag; other events
    // of the frame pass around it.
    EXPECT_EQ(frame({rel(REL_X, 1), rel(REL_WHEEL, 1), rel(REL_X, 2), rel(REL_Y, -5)}),
              (Log{passed(rel(REL_WHEEL, 1)), "drag 3,-5"}));
    // A frame without motion is no drag.
    const input_event scan = makeEvent(EV_MSC, MSC_SCAN, 90001);
    EXPECT_EQ(frame({scan}), (Log{passed(scan)}));
    // Motion that cancels out within a frame is no drag either.
    EXPECT_EQ(frame({rel(REL_X, 2), rel(REL_X, -2)}), Log{});
}

TEST_F(FrameTranslatorTest, MotionInTheReleaseFrameFollowsTheReleaseAsPlainMotion) {
    frame({key(BTN_RIGHT, 1)});
    // Even when the device lists the motion first, it comes after the
    // release (and after whatever the engine posts for the release).
    EXPECT_EQ(frame({rel(REL_X, 7), key(BTN_RIGHT, 0), rel(REL_Y, 1)}),
              (Log{"up", passed(rel(REL_X, 7)), passed(rel(REL_Y, 1))}));
    EXPECT_FALSE(translator.rightDown());
}

TEST_F(FrameTranslatorTest, WhatTheEnginePassesIsWrittenBack) {
    sink.engine = [](const Event&) { return true; };
    EXPECT_EQ(frame({key(BTN_RIGHT, 1), rel(REL_X, -3)}),
              (Log{"down", passed(key(BTN_RIGHT, 1)), "drag -3,0", passed(rel(REL_X, -3))}));
    // Summed motion is written as one event per axis; an axis without
    // movement writes nothing.
    EXPECT_EQ(frame({rel(REL_Y, 2), rel(REL_Y, 3)}), (Log{"drag 0,5", passed(rel(REL_Y, 5))}));
    EXPECT_EQ(frame({key(BTN_RIGHT, 0)}), (Log{"up", passed(key(BTN_RIGHT, 0))}));
    // The engine may pass the drag and swallow the release.
    sink.engine = [](const Event& e) { return e.type != EventType::rightMouseUp; };
    EXPECT_EQ(frame({key(BTN_RIGHT, 1)}), (Log{"down", passed(key(BTN_RIGHT, 1))}));
    EXPECT_EQ(frame({rel(REL_X, 1), key(BTN_RIGHT, 0)}), (Log{"up", passed(rel(REL_X, 1))}));
}

TEST_F(FrameTranslatorTest, TheEngineMeasuresInPointsWithTheFramesTimeWhileTheDesktopKeepsCounts) {
    translator = FrameTranslator(7, 1000.0 / 1600.0); // a 1600 dpi mouse
    std::vector<Event> offered;
    sink.engine = [&](const Event& e) {
        offered.push_back(e);
        return true;
    };
    EXPECT_EQ(frame({key(BTN_RIGHT, 1), rel(REL_X, 16)}, 5000),
              (Log{"down", passed(key(BTN_RIGHT, 1)), "drag 10,0", passed(rel(REL_X, 16))}));
    ASSERT_EQ(offered.size(), 2u);
    for (const Event& e : offered) {
        EXPECT_EQ(e.sourceDevice, 7u);
        EXPECT_EQ(e.timestamp, 5000);
    }
    EXPECT_DOUBLE_EQ(offered[1].deltaX, 10.0);
    const Event release = translator.releaseOnRemoval(9000);
    EXPECT_EQ(release.type, EventType::rightMouseUp);
    EXPECT_EQ(release.sourceDevice, 7u);
}

TEST_F(FrameTranslatorTest, OnlyRealChangesOfTheRightButtonCount) {
    // A release while up (as after a resync) and a repeat are dropped.
    EXPECT_EQ(frame({key(BTN_RIGHT, 0), key(BTN_RIGHT, 2)}), Log{});
    EXPECT_EQ(frame({key(BTN_RIGHT, 1)}), Log{"down"});
    EXPECT_EQ(frame({key(BTN_RIGHT, 1), rel(REL_X, 1)}), Log{"drag 1,0"});
    // reset() forgets a held button, as for a freshly grabbed device.
    translator.reset();
    EXPECT_EQ(frame({rel(REL_X, 1)}), (Log{passed(rel(REL_X, 1))}));
    // Press and release in one frame: a click, its motion plain.
    EXPECT_EQ(frame({rel(REL_X, 4), key(BTN_RIGHT, 1), key(BTN_RIGHT, 0)}),
              (Log{"down", "up", passed(rel(REL_X, 4))}));
}

TEST_F(FrameTranslatorTest, HugeSummedMotionIsClampedToTheEvdevRange) {
    sink.engine = [](const Event&) { return true; };
    frame({key(BTN_RIGHT, 1)});
    const std::int32_t big = 2'000'000'000;
    EXPECT_EQ(frame({rel(REL_X, big), rel(REL_X, big)}),
              (Log{"drag 4000000000,0", passed(rel(REL_X, 2147483647))}));
}

// Two buttons pressed together reach the desktop together, in the order
// pressed: libinput's middle-button emulation and rocker gestures see them.
TEST(FrameTranslatorChords, AnotherButtonPressedBeforeADragMakesAChordNotAGesture) {
    using Step = std::pair<std::vector<input_event>, Log>;
    const input_event rightDown = key(BTN_RIGHT, 1), rightUp = key(BTN_RIGHT, 0);
    const input_event leftDown = key(BTN_LEFT, 1), leftUp = key(BTN_LEFT, 0);
    const struct {
        const char* name;
        bool noMiddleButton;
        std::vector<Step> steps;
    } cases[] = {
        {"right, then left while held back: the press goes out first, the release is plain",
         false,
         {{{rightDown}, {"down"}},
          {{leftDown}, {"quiet up", passed(rightDown), passed(leftDown)}},
          {{rel(REL_X, 5)}, {passed(rel(REL_X, 5))}},
          {{leftUp}, {passed(leftUp)}},
          {{rightUp}, {passed(rightUp)}},
          {{rightDown}, {"down"}}}},
        {"both in one frame",
         false,
         {{{rightDown, leftDown}, {"down", "quiet up", passed(rightDown), passed(leftDown)}}}},
        {"a press once the drag scrolls is no chord",
         false,
         {{{rightDown}, {"down"}},
          {{rel(REL_X, 30)}, {"drag 30,0", passed(rel(REL_X, 30))}},
          {{leftDown}, {passed(leftDown)}},
          {{rightUp}, {"up"}}}},
        {"left held, then right, on a mouse with a middle button: a gesture",
         false,
         {{{leftDown}, {passed(leftDown)}}, {{rightDown}, {"down"}}}},
        {"left held, then right, on a mouse without one: a chord",
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
        Recorder sink;
        // The engine holds presses back and scrolls once a drag moves.
        sink.engine = [](const Event& e) { return e.type == EventType::rightMouseDragged; };
        for (const auto& [events, expected] : c.steps) {
            translator.translate(events, sink);
            EXPECT_EQ(std::exchange(sink.log, {}), expected);
        }
    }
}

} // namespace
} // namespace quillmere::input
