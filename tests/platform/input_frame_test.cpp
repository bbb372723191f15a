// How the frames of a grabbed mouse reach the engine and the desktop.
#include "platform/input/FrameTranslator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quillmere::input {
namespace {

input_event key(std::uint16_t code, std::int32_t value) {
    return makeEvent(EV_KEY, code, value);
}
input_event rel(std::uint16_t code, std::int32_t value) {
    return makeEvent(EV_REL, code, value);
}

// Writes down what a frame turns into; the engine's answer comes from a
// policy (default: swallow everything, as the engine does for a press).
class Recorder : public FrameSink {
public:
    std::function<bool(const Event&)> engine = [](const Event&) { return false; };
    std::vector<std::string> log;

    void pass(const input_event& event) override {
        log.push_back("pass " + std::to_string(event.type) + ":" + std::to_string(event.code) +
                      "=" + std::to_string(event.value));
    }
    bool offer(Event& event) override {
        switch (event.type) {
        case EventType::rightMouseDown:
            log.push_back("down");
            break;
        case EventType::rightMouseUp:
            log.push_back("up");
            break;
        case EventType::rightMouseDragged:
            log.push_back("drag " + std::to_string(static_cast<long long>(event.deltaX)) + "," +
                          std::to_string(static_cast<long long>(event.deltaY)));
            break;
        default:
            log.push_back("other");
        }
        EXPECT_EQ(event.button, MouseButton::right);
        EXPECT_EQ(event.location, (Point{0.0, 0.0}));
        return engine(event);
    }
    std::vector<std::string> take() { return std::exchange(log, {}); }
};

std::string passed(input_event event) {
    return "pass " + std::to_string(event.type) + ":" + std::to_string(event.code) + "=" +
           std::to_string(event.value);
}

using Log = std::vector<std::string>;

TEST(FrameTranslator, WithoutTheRightButtonEverythingPassesInOrder) {
    FrameTranslator translator;
    Recorder sink;
    const std::vector<input_event> frame = {key(BTN_LEFT, 1), rel(REL_X, 3), rel(REL_WHEEL, -1),
                                            rel(REL_Y, -2), makeEvent(EV_MSC, MSC_SCAN, 90001)};
    translator.translate(frame, sink);
    // Motion comes last in its frame, each event unchanged.
    EXPECT_EQ(sink.take(), (Log{passed(frame[0]), passed(frame[2]), passed(frame[4]),
                                passed(frame[1]), passed(frame[3])}));
}

TEST(FrameTranslator, MotionInThePressFrameIsPartOfTheDrag) {
    FrameTranslator translator;
    Recorder sink;
    const std::vector<input_event> press = {key(BTN_RIGHT, 1), rel(REL_X, 3), rel(REL_Y, 4)};
    translator.translate(press, sink);
    EXPECT_EQ(sink.take(), (Log{"down", "drag 3,4"}));
    EXPECT_TRUE(translator.rightDown());
    // Several motion events of one frame add up to one drag; other events
    // of the frame pass around it.
    const std::vector<input_event> drag = {rel(REL_X, 1), rel(REL_WHEEL, 1), rel(REL_X, 2),
                                           rel(REL_Y, -5)};
    translator.translate(drag, sink);
    EXPECT_EQ(sink.take(), (Log{passed(drag[1]), "drag 3,-5"}));
    // A frame without motion is no drag.
    translator.translate(std::vector<input_event>{key(BTN_LEFT, 1)}, sink);
    EXPECT_EQ(sink.take(), (Log{passed(key(BTN_LEFT, 1))}));
    // Motion that cancels out within a frame is no drag either.
    translator.translate(std::vector<input_event>{rel(REL_X, 2), rel(REL_X, -2)}, sink);
    EXPECT_EQ(sink.take(), Log{});
}

TEST(FrameTranslator, MotionInTheReleaseFrameFollowsTheReleaseAsPlainMotion) {
    FrameTranslator translator;
    Recorder sink;
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1)}, sink);
    sink.take();
    // Even when the device lists the motion first, it comes after the
    // release (and after whatever the engine posts for the release).
    const std::vector<input_event> release = {rel(REL_X, 7), key(BTN_RIGHT, 0), rel(REL_Y, 1)};
    translator.translate(release, sink);
    EXPECT_EQ(sink.take(), (Log{"up", passed(release[0]), passed(release[2])}));
    EXPECT_FALSE(translator.rightDown());
}

TEST(FrameTranslator, WhatTheEnginePassesIsWrittenBack) {
    FrameTranslator translator;
    Recorder sink;
    sink.engine = [](const Event&) { return true; };
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1), rel(REL_X, -3)}, sink);
    EXPECT_EQ(sink.take(),
              (Log{"down", passed(key(BTN_RIGHT, 1)), "drag -3,0", passed(rel(REL_X, -3))}));
    // Summed motion is written as one event per axis; an axis without
    // movement writes nothing.
    translator.translate(std::vector<input_event>{rel(REL_Y, 2), rel(REL_Y, 3)}, sink);
    EXPECT_EQ(sink.take(), (Log{"drag 0,5", passed(rel(REL_Y, 5))}));
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 0)}, sink);
    EXPECT_EQ(sink.take(), (Log{"up", passed(key(BTN_RIGHT, 0))}));
    // The engine may pass the drag and swallow the release.
    sink.engine = [](const Event& e) { return e.type != EventType::rightMouseUp; };
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1)}, sink);
    translator.translate(std::vector<input_event>{rel(REL_X, 1), key(BTN_RIGHT, 0)}, sink);
    EXPECT_EQ(sink.take(), (Log{"down", passed(key(BTN_RIGHT, 1)), "up", passed(rel(REL_X, 1))}));
}

TEST(FrameTranslator, TheEngineMeasuresInPointsWithTheFramesTimeWhileTheDesktopKeepsCounts) {
    FrameTranslator translator(7, 1000.0 / 1600.0); // a 1600 dpi mouse
    Recorder sink;
    std::vector<Event> offered;
    sink.engine = [&](const Event& e) {
        offered.push_back(e);
        return true;
    };
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1), rel(REL_X, 16)}, sink, 5000);
    EXPECT_EQ(sink.take(),
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

TEST(FrameTranslator, OnlyRealChangesOfTheRightButtonCount) {
    FrameTranslator translator;
    Recorder sink;
    // A release while up (as after a resync) and a repeat are dropped.
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 0), key(BTN_RIGHT, 2)}, sink);
    EXPECT_EQ(sink.take(), Log{});
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1)}, sink);
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1), rel(REL_X, 1)}, sink);
    EXPECT_EQ(sink.take(), (Log{"down", "drag 1,0"}));
    // Press and release in one frame: a click, its motion plain.
    FrameTranslator fresh;
    fresh.translate(std::vector<input_event>{rel(REL_X, 4), key(BTN_RIGHT, 1), key(BTN_RIGHT, 0)},
                    sink);
    EXPECT_EQ(sink.take(), (Log{"down", "up", passed(rel(REL_X, 4))}));
    // reset() forgets a held button, as for a freshly grabbed device.
    translator.reset();
    translator.translate(std::vector<input_event>{rel(REL_X, 1)}, sink);
    EXPECT_EQ(sink.take(), (Log{passed(rel(REL_X, 1))}));
}

TEST(FrameTranslator, HugeSummedMotionIsClampedToTheEvdevRange) {
    FrameTranslator translator;
    Recorder sink;
    sink.engine = [](const Event&) { return true; };
    translator.translate(std::vector<input_event>{key(BTN_RIGHT, 1)}, sink);
    sink.take();
    const std::int32_t big = 2'000'000'000;
    translator.translate(std::vector<input_event>{rel(REL_X, big), rel(REL_X, big)}, sink);
    EXPECT_EQ(sink.take(), (Log{"drag 4000000000,0", passed(rel(REL_X, 2147483647))}));
}

} // namespace
} // namespace quillmere::input
