#pragma once
// One physical mouse the input layer has taken over: its event node is read
// on the input thread's loop, grabbed (EVIOCGRAB) once none of its buttons is down,
// and its frames are translated and written to its virtual pointer. What the
// engine posts for a gesture this mouse started is written there too.

#include "EventLoop.h"
#include "FrameTranslator.h"
#include "ScrollWheelEncoder.h"
#include "VirtualPointer.h"

#include <linux/input.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct libevdev;

namespace quillmere::input {

class GrabbedMouse;

// What a mouse needs from whoever holds it.
class MouseOwner {
public:
    virtual ~MouseOwner() = default;
    // A right-button event for the engine; true when it is passed on.
    virtual bool offer(GrabbedMouse& mouse, Event& event) = 0;
    // The device node went away (unplugged), or its descriptor was revoked
    // while the node stayed; the mouse is already closed.
    virtual void vanished(GrabbedMouse& mouse, bool revoked) = 0;
    // Grabbed, but no virtual pointer could be made for it: the mouse is
    // released to the desktop and closed; `why` says what failed.
    virtual void unusable(GrabbedMouse& mouse, const std::string& why) = 0;
    // The button that grabs and scrolls for this mouse now (an evdev code).
    virtual std::uint16_t gestureButton(const GrabbedMouse& mouse) = 0;
};

class GrabbedMouse : public std::enable_shared_from_this<GrabbedMouse>, private FrameSink {
public:
    enum class Status {
        waiting, // open, not grabbed: a button is down or another program holds it
        grabbed, // grabbed, with its virtual pointer
        closed,  // released for good
    };

    // What a mouse is: its node, the id its engine events carry, and its
    // resolution (see DeviceDiscovery.h).
    struct Identity {
        std::string node;
        std::uint64_t id = 0;
        int dpi = 1000;
    };
    // Opens a node for reading; nullptr (and a logged line) when it cannot be
    // opened, nullptr without a line when it is not a mouse this layer takes.
    // Virtual pointers are made through the uinput node at uinputPath.
    static std::shared_ptr<GrabbedMouse> open(const Identity& identity,
                                              const std::string& uinputPath, MouseOwner& owner,
                                              EventLoop& loop);
    ~GrabbedMouse() override;
    GrabbedMouse(const GrabbedMouse&) = delete;
    GrabbedMouse& operator=(const GrabbedMouse&) = delete;

    // Grabs the device if none of its buttons is down and makes its virtual
    // pointer; otherwise it stays waiting (its next frame tries again).
    void tryGrab();
    // Releases the buttons the virtual pointer holds, destroys it, ungrabs
    // and closes the node. Safe to call more than once.
    void close();
    // close(), and a gesture of this mouse under way ends with it: the
    // engine gets the release of the gesture button (as the kernel releases
    // the buttons of a device that goes), and what it still posts for the
    // gesture has nowhere to go.
    void closeEndingGesture();

    // Writes one frame of posted events to the virtual pointer; dropped when
    // the mouse is not grabbed.
    void post(std::span<const input_event> events);
    ScrollWheelEncoder& encoder() { return encoder_; }

    Status status() const { return status_; }
    const std::string& node() const { return node_; }
    std::uint64_t id() const { return id_; }
    // "vendor:product:name" (numbers in decimal), as desktops key their
    // per-device settings.
    const std::string& deviceKey() const { return deviceKey_; }
    std::uint16_t gestureButton() const { return translator_.gestureButton(); }

private:
    GrabbedMouse(const Identity& identity, std::string uinputPath, int fd, libevdev* device,
                 MouseOwner& owner, EventLoop& loop);
    void onReadable();
    // Reads and drops what is queued (while not grabbed the desktop sees it
    // anyway); the read error (negative) when the device is gone, else 0.
    int drain();
    void readFrames();
    // Takes one batch read from the node; false when the mouse closed.
    bool takeBatch(std::size_t count);
    // Hands the frame read so far to the translator and closes it on the
    // virtual pointer.
    void translateFrame(std::int64_t timestamp);
    void resync();
    void vanish(int error);
    bool readKeys(std::bitset<KEY_CNT>& keys) const;
    bool anyKeyDown() const;

    void pass(const input_event& event) override;
    bool offer(Event& event) override;
    void endGesture(Event& release) override;

    std::string node_;
    std::uint64_t id_;
    std::string deviceKey_;
    std::string uinputPath_;
    int fd_ = -1;
    libevdev* device_ = nullptr;
    MouseOwner& owner_;
    EventLoop& loop_;
    Status status_ = Status::waiting;
    std::unique_ptr<VirtualPointer> pointer_;
    FrameTranslator translator_;
    ScrollWheelEncoder encoder_;
    std::vector<input_event> frame_;
    std::array<input_event, 64> batch_{};
    // The buttons down as far as the whole frames read tell.
    std::bitset<KEY_CNT> down_;
    // Frames stamped before the grab reached the desktop already.
    timespec grabbedAt_{};
    bool busyLogged_ = false;
    bool translating_ = false; // a frame of the mouse is being translated
    bool quiet_ = false;       // the engine's gesture ends without its click: its posts go
    bool resyncLogged_ = false;
};

} // namespace quillmere::input
