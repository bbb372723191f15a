#pragma once
// The engine's event services on Linux: evdev and uinput.
//
// The tap takes over every mouse (see DeviceDiscovery.h) while it is enabled:
// each one is grabbed, so the desktop no longer sees it directly, and gets a
// virtual pointer of its own. Right-button presses, releases and right drags
// go through the tap callback; what it passes is written unchanged to the
// mouse's virtual pointer, what it swallows is dropped. Everything else the
// mouse reports passes straight through. The engine sees each mouse's
// movement in points (its counts scaled by its resolution, MOUSE_DPI) with
// the kernel's time stamps, and knows each mouse by an id: what it posts for
// a gesture carries the id of the mouse that started it and goes out of
// that mouse's virtual pointer. Mice are followed on hot-plug with a
// libudev monitor. Disabling the tap releases every button a virtual pointer
// holds, ungrabs the mice and destroys the virtual pointers.
//
// Everything runs on the input thread's loop (see InputThread.h): the device
// nodes and the udev monitor are watched there, and the engine's callback
// and posts run there. evdev has no global pointer position: every event
// carries the origin, and a click posted "at a point" lands where the
// pointer is.

#include "DeviceDiscovery.h"
#include "EventLoop.h"
#include "GestureButton.h"
#include "GrabbedMouse.h"
#include "engine/EventServices.h"
#include "engine/Timer.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;
struct udev_device;

namespace quillmere {

class LinuxEventServices : public EventServices, private input::MouseOwner {
public:
    // loop and timers: the input thread's. uinputPath: the uinput control
    // node (another one only in tests).
    LinuxEventServices(input::EventLoop& loop, TimerFactory& timers,
                       std::string uinputPath = "/dev/uinput");
    ~LinuxEventServices() override;
    LinuxEventServices(const LinuxEventServices&) = delete;
    // Releases every held button, gives every mouse back and kills the tap
    // for good; the destructor does it too.
    void shutdown();
    LinuxEventServices& operator=(const LinuxEventServices&) = delete;

    // Refused (nullptr) when the uinput node cannot be opened for writing, or
    // while another tap of these services exists. Only the event types of
    // eventsOfInterest reach the callback; a listen-only tap cannot swallow.
    std::unique_ptr<EventTap> tapCreate(TapLocation location, TapPlacement placement,
                                        TapOptions options, std::uint64_t eventsOfInterest,
                                        TapCallback callback, void* userInfo) override;
    std::optional<Event> createEvent() override;
    std::optional<Event> createMouseEvent(EventType type, Point location,
                                          MouseButton button) override;
    std::optional<Event> createScrollWheelEvent(ScrollUnit units, std::int32_t wheelCount,
                                                std::int32_t wheel1, std::int32_t wheel2,
                                                std::int32_t wheel3) override;
    // Button events write the button's press or release, scroll events the
    // wheel axes (see ScrollWheelEncoder.h); other events have no evdev form
    // and are dropped with a logged line.
    void post(TapLocation location, const Event& event) override;

    // For diagnostics and tests: the nodes of the grabbed mice, and of the
    // mice waiting for their buttons to come up.
    std::vector<std::string> grabbedNodes() const;
    std::vector<std::string> waitingNodes() const;
    bool isActive() const { return active_; }

    // The login session's state: while it is inactive (another user has the
    // seat, or the machine goes to sleep) every held button is released,
    // every mouse given back and every virtual pointer gone; active again,
    // the mice are taken again (if the tap is on). Active until told else.
    void setSessionActive(bool active);
    // The desktop's handedness, for mice whose gesture button follows it.
    void setHandedness(input::Handedness handedness);
    // Told on this thread whenever it changes whether any mouse is taken,
    // with a line saying why not when none is.
    using StatusListener = std::function<void(bool miceTaken, const std::string& why)>;
    void setStatusListener(StatusListener listener);

    // How often mice that could not be grabbed yet are tried again.
    static constexpr int retryIntervalMs = 250;

private:
    class Tap;
    friend class Tap;

    // Takes the mice when the tap is on and the session active, else lets
    // them go.
    void update();
    void activate();
    void deactivate();
    void reportStatus();
    void forget(const input::GrabbedMouse& mouse);
    void leaveAlone(udev_device* device, input::Verdict verdict);
    void addDevice(udev_device* device);
    void removeDevice(const std::string& node);
    void onMonitorReadable();
    void retryWaiting();
    void detachTap(Tap* tap);

    bool offer(input::GrabbedMouse& mouse, Event& event) override;
    void vanished(input::GrabbedMouse& mouse, bool revoked) override;
    void unusable(input::GrabbedMouse& mouse, const std::string& why) override;
    std::uint16_t gestureButton(const input::GrabbedMouse& mouse) override;

    input::EventLoop& loop_;
    TimerFactory& timers_;
    std::string uinputPath_;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<RepeatingTimer> retryTimer_;
    std::map<std::string, std::shared_ptr<input::GrabbedMouse>> mice_;
    std::uint64_t nextMouseId_ = 1;
    bool active_ = false;
    bool tapOn_ = false;
    bool sessionActive_ = true;
    input::Handedness handedness_;
    StatusListener statusListener_;
    // The mice seen and left alone, with why ("node (name) reason").
    std::map<std::string, std::string> leftAlone_;
    int reportedTaken_ = -1; // -1: nothing reported yet

    Tap* tap_ = nullptr;
    TapCallback callback_ = nullptr;
    void* userInfo_ = nullptr;
    std::uint64_t mask_ = 0;
    bool listenOnly_ = false;
    std::vector<input_event> scratch_;
    bool unpostableLogged_ = false;
};

} // namespace quillmere
