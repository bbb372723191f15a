#pragma once
// Turns one evdev frame of a grabbed mouse (its events up to SYN_REPORT) into
// what the engine and the desktop get: presses and releases of the gesture
// button (the right button, or another, see setGestureButton()) and drags
// with it held become the engine's right-button events, everything else is
// passed through in its original order. Pure code: no devices, testable
// anywhere.
//
// Order inside a frame: button changes are taken in the order they come, and
// the frame's motion counts as having happened after them, that is with the
// right button as it is at the end of the frame. So motion in the frame of a
// press is part of the drag (held back with the press while the engine waits
// for a drag), and motion in the frame of a release is plain pointer motion
// that reaches the desktop after the release (and after the click the engine
// gives back for it, so that click lands where the button went down). The
// kernel's HID mice report buttons before motion, so this is also the order
// in which their events arrive. Motion of a frame is passed on at the end of
// that frame, after its other events; within one frame the desktop sees no
// order anyway.
//
// Chords stay chords. Another button pressed while the engine holds the
// gesture press back (before a drag) ends the gesture without its click:
// the press goes to the desktop right then, before the other button, and the
// release after it, so the two buttons overlap as the hand pressed them
// (libinput's middle-button emulation, a browser's rocker gestures). On a
// mouse without a middle button, where libinput makes a middle click of left
// and right pressed together, the gesture button pressed while another is
// down is passed through at once as well.

#include "engine/Event.h"

#include <cstdint>
#include <linux/input.h>

#include <span>
#include <vector>

namespace quillmere::input {

// One evdev event with no time stamp (the kernel stamps what we write).
inline input_event makeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event ev{};
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

// Receives the results of one frame, in order.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // An event that reaches the desktop unchanged.
    virtual void pass(const input_event& event) = 0;
    // A right-button event for the engine; true when the engine passes it
    // on (its evdev events are then passed), false when it swallows it.
    virtual bool offer(Event& event) = 0;
    // A release for the engine that ends its gesture without the click it
    // would give back: the press went to the desktop itself.
    virtual void endGesture(Event& release) = 0;
};

class FrameTranslator {
public:
    // source: the device's id, which its engine events carry. pointsPerCount:
    // 1000 / the device's resolution in dots per inch, so that the engine
    // measures in points as the desktop normalises pointer motion; what
    // passes through stays in the device's counts.
    explicit FrameTranslator(std::uint64_t source = 0, double pointsPerCount = 1.0)
        : source_(source), pointsPerCount_(pointsPerCount) {}

    // frame: the events of one frame without the closing SYN_REPORT;
    // timestamp: when it happened (monotonic nanoseconds).
    void translate(std::span<const input_event> frame, FrameSink& sink, std::int64_t timestamp = 0);
    // The release the device makes when it goes away with the right button
    // held, for the engine (the kernel releases its buttons the same way).
    Event releaseOnRemoval(std::int64_t timestamp) const;

    // The gesture button as the frames so far left it.
    bool rightDown() const { return rightDown_; }
    // Back to "no button down", for a freshly grabbed device.
    void reset() {
        rightDown_ = heldBack_ = chord_ = false;
        othersDown_ = 0;
    }
    // Whether the mouse has no middle button, so that the desktop makes
    // one of left and right pressed together.
    void setMiddleEmulated(bool emulated) { middleEmulated_ = emulated; }
    // The button that grabs and scrolls (an evdev code, BTN_RIGHT at first).
    // A change waits while the current one is held, so that no gesture is
    // cut in half.
    void setGestureButton(std::uint16_t code) {
        if (!rightDown_)
            gestureCode_ = code;
    }
    std::uint16_t gestureButton() const { return gestureCode_; }

private:
    Event rightButtonEvent(EventType type, std::int64_t timestamp) const;

    std::uint64_t source_;
    double pointsPerCount_;
    std::uint16_t gestureCode_ = BTN_RIGHT;
    bool rightDown_ = false;
    bool heldBack_ = false; // the engine holds the press back, no drag yet
    bool chord_ = false;    // the gesture button is the desktop's until released
    bool middleEmulated_ = false;
    std::uint8_t othersDown_ = 0; // the other mouse buttons (BTN_LEFT + n) down
    // Motion of the current frame, kept for passing it on unchanged.
    std::vector<input_event> motion_;
};

} // namespace quillmere::input
