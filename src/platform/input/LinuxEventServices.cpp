#include "LinuxEventServices.h"

#include "DeviceDiscovery.h"
#include "engine/Log.h"
#include "engine/ScrollConfig.h"

#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillmere {

using input::GrabbedMouse;

class LinuxEventServices::Tap : public EventTap {
public:
    explicit Tap(LinuxEventServices& services) : services_(&services) {}
    ~Tap() override {
        if (services_)
            services_->detachTap(this);
    }
    void enable(bool on) override {
        if (!services_ || on == enabled_)
            return;
        enabled_ = on;
        services_->tapOn_ = on;
        services_->update();
    }
    bool isEnabled() const override { return enabled_; }
    // The services went away first: the tap is dead.
    void orphan() {
        services_ = nullptr;
        enabled_ = false;
    }

private:
    LinuxEventServices* services_;
    bool enabled_ = false;
};

LinuxEventServices::LinuxEventServices(input::EventLoop& loop, TimerFactory& timers,
                                       std::string uinputPath)
    : loop_(loop), timers_(timers), uinputPath_(std::move(uinputPath)), udev_(udev_new()) {
    scratch_.reserve(8);
}

LinuxEventServices::~LinuxEventServices() {
    shutdown();
    udev_unref(udev_);
}

void LinuxEventServices::shutdown() {
    if (tap_)
        tap_->orphan();
    tap_ = nullptr;
    tapOn_ = false;
    deactivate();
}

void LinuxEventServices::update() {
    if (tapOn_ && sessionActive_)
        activate();
    else
        deactivate();
}

void LinuxEventServices::setSessionActive(bool active) {
    if (active == sessionActive_)
        return;
    sessionActive_ = active;
    Log::write(active ? "[Quillmere] the session is active again: the mice are taken over"
                      : "[Quillmere] the session is inactive: the mice are given back");
    update();
}

void LinuxEventServices::setHandedness(input::Handedness handedness) {
    handedness_ = std::move(handedness);
}

void LinuxEventServices::setStatusListener(StatusListener listener) {
    statusListener_ = std::move(listener);
}

std::uint16_t LinuxEventServices::gestureButton(const GrabbedMouse& mouse) {
    return input::gestureButtonCode(ScrollConfig::current().gestureButton, handedness_,
                                    mouse.deviceKey());
}

// Whether any mouse is taken, told when it changes; when none is, once in
// the log, with what was found and why each was left alone.
void LinuxEventServices::reportStatus() {
    const int taken = mice_.empty() ? 0 : 1;
    if (taken == reportedTaken_)
        return;
    reportedTaken_ = taken;
    std::string why;
    if (!taken) {
        why = "no mouse can be taken over";
        const char* separator = ": ";
        for (const auto& [node, what] : leftAlone_) {
            why += separator + what;
            separator = "; ";
        }
        Log::write("[Quillmere] " + why);
    }
    if (statusListener_)
        statusListener_(taken != 0, why);
}

std::unique_ptr<EventTap> LinuxEventServices::tapCreate(TapLocation, TapPlacement,
                                                        TapOptions options,
                                                        std::uint64_t eventsOfInterest,
                                                        TapCallback callback, void* userInfo) {
    if (tap_) {
        Log::write("[Quillmere] an event tap exists already; a second one is refused");
        return nullptr;
    }
    const int fd = ::open(uinputPath_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        // Refused; the engine logs the refusal itself, this says why.
        Log::write("[Quillmere] cannot open " + uinputPath_ +
                   " for writing: " + std::strerror(errno));
        return nullptr;
    }
    ::close(fd);
    if (!udev_) {
        Log::write("[Quillmere] cannot use udev: " + std::string(std::strerror(errno)));
        return nullptr;
    }
    auto tap = std::make_unique<Tap>(*this);
    tap_ = tap.get();
    callback_ = callback;
    userInfo_ = userInfo;
    mask_ = eventsOfInterest;
    listenOnly_ = options == TapOptions::listenOnly;
    return tap;
}

void LinuxEventServices::detachTap(Tap* tap) {
    if (tap != tap_)
        return;
    tapOn_ = false;
    deactivate();
    tap_ = nullptr;
    callback_ = nullptr;
    userInfo_ = nullptr;
}

void LinuxEventServices::activate() {
    if (active_)
        return;
    active_ = true;
    if (!input::udevIsRunning())
        Log::write("[Quillmere] no udev daemon runs: mice can be neither found nor followed");
    // The monitor first, so that a mouse plugged in during the scan below is
    // not missed (a mouse seen twice is taken once).
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ &&
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr) == 0 &&
        udev_monitor_enable_receiving(monitor_) == 0 &&
        loop_.watch(udev_monitor_get_fd(monitor_), [this] { onMonitorReadable(); })) {
    } else {
        Log::write("[Quillmere] cannot follow hot-plugged mice: no udev monitor");
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
    leftAlone_.clear();
    input::forEachMouse(udev_, ScrollConfig::current().grabVirtualDevices,
                        [this](udev_device* device, input::Verdict verdict) {
                            if (verdict == input::Verdict::taken)
                                addDevice(device);
                            else
                                leaveAlone(device, verdict);
                        });
    reportStatus();
}

void LinuxEventServices::deactivate() {
    if (!active_)
        return;
    active_ = false;
    retryTimer_.reset();
    if (monitor_)
        loop_.unwatch(udev_monitor_get_fd(monitor_));
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    // Closing releases every held button first, then ungrabs: the mice reach
    // the desktop untouched from here on.
    auto mice = std::move(mice_);
    mice_.clear();
    for (auto& [node, mouse] : mice)
        mouse->closeEndingGesture();
    reportedTaken_ = -1; // nothing to say while nothing is meant to be taken
    if (statusListener_)
        statusListener_(false, {});
}

void LinuxEventServices::leaveAlone(udev_device* device, input::Verdict verdict) {
    if (verdict == input::Verdict::notAPointer || verdict == input::Verdict::ownPointer)
        return;
    const char* node = udev_device_get_devnode(device);
    udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
    const char* name = parent ? udev_device_get_sysattr_value(parent, "name") : nullptr;
    if (node)
        leftAlone_[node] =
            std::string(node) + " (" + (name ? name : "?") + ") " + input::reason(verdict);
}

void LinuxEventServices::addDevice(udev_device* device) {
    const char* devnode = udev_device_get_devnode(device);
    if (!active_ || !devnode || mice_.count(devnode))
        return;
    const std::string node = devnode;
    const char* dpiProperty = udev_device_get_property_value(device, "MOUSE_DPI");
    const input::Resolution resolution = input::mouseResolution(dpiProperty);
    if (!resolution.problem.empty())
        Log::write("[Quillmere] " + node + ": MOUSE_DPI \"" + dpiProperty + "\" " +
                   resolution.problem + "; " + std::to_string(input::defaultDpi) +
                   " dpi is assumed");
    std::shared_ptr<GrabbedMouse> mouse =
        GrabbedMouse::open({node, nextMouseId_++, resolution.dpi}, uinputPath_, *this, loop_);
    if (!mouse)
        return;
    mice_.emplace(node, mouse);
    mouse->tryGrab();
    if (mouse->status() == GrabbedMouse::Status::waiting && !retryTimer_)
        retryTimer_ = timers_.scheduleRepeating(std::chrono::milliseconds(retryIntervalMs),
                                                std::chrono::milliseconds(retryIntervalMs),
                                                [this] { retryWaiting(); });
}

void LinuxEventServices::removeDevice(const std::string& node) {
    const auto found = mice_.find(node);
    if (found == mice_.end())
        return;
    const std::shared_ptr<GrabbedMouse> mouse = found->second;
    mice_.erase(found);
    mouse->closeEndingGesture();
    reportStatus();
}

void LinuxEventServices::onMonitorReadable() {
    while (monitor_) {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device)
            return;
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        if (action && node) {
            if (std::strcmp(action, "add") == 0) {
                const input::Verdict verdict =
                    input::judge(device, ScrollConfig::current().grabVirtualDevices);
                if (verdict == input::Verdict::taken)
                    addDevice(device);
                else
                    leaveAlone(device, verdict);
                reportStatus();
            } else if (std::strcmp(action, "remove") == 0) {
                const bool wasLeftAlone = leftAlone_.erase(node) > 0;
                removeDevice(node);
                if (wasLeftAlone && mice_.empty()) {
                    reportedTaken_ = -1; // what was found changed: say it again
                    reportStatus();
                }
            }
        }
        udev_device_unref(device);
    }
}

void LinuxEventServices::retryWaiting() {
    bool waiting = false;
    // tryGrab() can close a mouse (no virtual pointer possible): copy first.
    const auto mice = mice_;
    for (const auto& [node, mouse] : mice) {
        mouse->tryGrab();
        waiting = waiting || mouse->status() == GrabbedMouse::Status::waiting;
    }
    if (!waiting)
        retryTimer_.reset(); // a tick may end its own timer
}

bool LinuxEventServices::offer(GrabbedMouse&, Event& event) {
    if (!tap_ || !tap_->isEnabled() || !callback_ || (mask_ & eventMaskBit(event.type)) == 0)
        return true;
    Event* result = callback_(TapProxy{this}, event.type, &event, userInfo_);
    return listenOnly_ || result != nullptr;
}

// Drops a mouse that closed itself from the taken ones (unless its node is
// already another's).
void LinuxEventServices::forget(const GrabbedMouse& mouse) {
    const auto found = mice_.find(mouse.node());
    if (found != mice_.end() && found->second.get() == &mouse)
        mice_.erase(found);
}

void LinuxEventServices::vanished(GrabbedMouse& mouse, bool revoked) {
    forget(mouse);
    // Taken again when the session is active again (activation scans anew);
    // until then there is nothing to report: the session is being switched.
    if (revoked) {
        Log::write("[Quillmere] " + mouse.node() +
                   " was taken from this session; it is taken again when the session is "
                   "active again");
        return;
    }
    reportStatus();
}

// Left to the desktop, as a device that is not taken is, and named with the
// reason when the status says that no mouse is taken. A new "add" of the node
// (plugged in again, the session active again) tries it anew.
void LinuxEventServices::unusable(GrabbedMouse& mouse, const std::string& why) {
    forget(mouse);
    leftAlone_[mouse.node()] = mouse.node() + " " + why;
    if (mice_.empty())
        reportedTaken_ = -1; // what was found changed: say it again
    reportStatus();
}

std::optional<Event> LinuxEventServices::createEvent() {
    return Event{};
}

std::optional<Event> LinuxEventServices::createMouseEvent(EventType type, Point location,
                                                          MouseButton button) {
    return makeMouseEvent(type, location, button);
}

std::optional<Event> LinuxEventServices::createScrollWheelEvent(ScrollUnit units,
                                                                std::int32_t wheelCount,
                                                                std::int32_t wheel1,
                                                                std::int32_t wheel2,
                                                                std::int32_t wheel3) {
    if (wheelCount < 1 || wheelCount > 3)
        return std::nullopt;
    return makeScrollWheelEvent(units, wheelCount, wheel1, wheelCount >= 2 ? wheel2 : 0,
                                wheelCount >= 3 ? wheel3 : 0);
}

void LinuxEventServices::post(TapLocation, const Event& event) {
    // What the engine posts goes out of the mouse whose gesture it belongs
    // to. A gesture whose mouse is gone (unplugged, or the tap was
    // disabled) has nowhere to go: what it posts is dropped.
    GrabbedMouse* mouse = nullptr;
    for (const auto& [node, candidate] : mice_)
        if (candidate->id() == event.sourceDevice)
            mouse = candidate.get();
    if (!mouse || mouse->status() != GrabbedMouse::Status::grabbed)
        return;
    scratch_.clear();
    input_event ev{};
    switch (event.type) {
    case EventType::leftMouseDown:
    case EventType::rightMouseDown:
    case EventType::leftMouseUp:
    case EventType::rightMouseUp:
        ev.type = EV_KEY;
        // The engine's right button is the mouse's gesture button.
        ev.code = event.button == MouseButton::left    ? BTN_LEFT
                  : event.button == MouseButton::right ? mouse->gestureButton()
                                                       : BTN_MIDDLE;
        ev.value =
            event.type == EventType::leftMouseDown || event.type == EventType::rightMouseDown;
        scratch_.push_back(ev);
        break;
    case EventType::scrollWheel:
        mouse->encoder().encode(event, scratch_);
        break;
    default:
        if (!unpostableLogged_)
            Log::write("[Quillmere] an event of type " +
                       std::to_string(static_cast<std::uint32_t>(event.type)) +
                       " cannot be posted on Linux and is dropped");
        unpostableLogged_ = true;
        return;
    }
    mouse->post(scratch_);
}

std::vector<std::string> LinuxEventServices::grabbedNodes() const {
    std::vector<std::string> nodes;
    for (const auto& [node, mouse] : mice_)
        if (mouse->status() == GrabbedMouse::Status::grabbed)
            nodes.push_back(node);
    return nodes;
}

std::vector<std::string> LinuxEventServices::waitingNodes() const {
    std::vector<std::string> nodes;
    for (const auto& [node, mouse] : mice_)
        if (mouse->status() == GrabbedMouse::Status::waiting)
            nodes.push_back(node);
    return nodes;
}

} // namespace quillmere
