#include "GrabbedMouse.h"

#include "DeviceDiscovery.h"
#include "engine/Log.h"

#include <libevdev/libevdev.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quillmere::input {

namespace {
void logLine(const std::string& text) {
    Log::write("[Quillmere] " + text);
}

std::int64_t nanoseconds(const input_event& event) {
    return static_cast<std::int64_t>(event.input_event_sec) * 1'000'000'000 +
           static_cast<std::int64_t>(event.input_event_usec) * 1000;
}

std::int64_t now() {
    timespec moment{};
    clock_gettime(CLOCK_MONOTONIC, &moment);
    return static_cast<std::int64_t>(moment.tv_sec) * 1'000'000'000 + moment.tv_nsec;
}

bool stampedBefore(const input_event& event, const timespec& moment) {
    const auto sec = static_cast<long long>(event.input_event_sec);
    const auto usec = static_cast<long long>(event.input_event_usec);
    if (sec != moment.tv_sec)
        return sec < moment.tv_sec;
    return usec * 1000 < moment.tv_nsec;
}
} // namespace

std::shared_ptr<GrabbedMouse> GrabbedMouse::open(const Identity& identity,
                                                 const std::string& uinputPath, MouseOwner& owner,
                                                 EventLoop& loop) {
    const std::string& node = identity.node;
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        logLine("cannot open " + node + ": " + std::strerror(errno));
        return nullptr;
    }
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd, &device) != 0) {
        ::close(fd);
        return nullptr;
    }
    const char* phys = libevdev_get_phys(device);
    if (!hasMouseCapabilities(device) || (phys && isOwnPhys(phys))) {
        libevdev_free(device);
        ::close(fd);
        return nullptr;
    }
    // Monotonic stamps can be compared with the moment of the grab.
    libevdev_set_clock_id(device, CLOCK_MONOTONIC);
    std::shared_ptr<GrabbedMouse> mouse(
        new GrabbedMouse(identity, uinputPath, fd, device, owner, loop));
    if (!loop.watch(fd, [weak = std::weak_ptr<GrabbedMouse>(mouse)] {
            if (const std::shared_ptr<GrabbedMouse> alive = weak.lock())
                alive->onReadable();
        })) {
        logLine("cannot watch " + node + ": " + std::strerror(errno));
        return nullptr;
    }
    return mouse;
}

GrabbedMouse::GrabbedMouse(const Identity& identity, std::string uinputPath, int fd,
                           libevdev* device, MouseOwner& owner, EventLoop& loop)
    : node_(identity.node), id_(identity.id), uinputPath_(std::move(uinputPath)), fd_(fd),
      device_(device), owner_(owner), loop_(loop), translator_(identity.id, 1000.0 / identity.dpi) {
    const char* name = libevdev_get_name(device);
    deviceKey_ = std::to_string(libevdev_get_id_vendor(device)) + ':' +
                 std::to_string(libevdev_get_id_product(device)) + ':' + (name ? name : "");
    frame_.reserve(32);
}

GrabbedMouse::~GrabbedMouse() {
    close();
}

void GrabbedMouse::close() {
    if (status_ == Status::closed)
        return;
    status_ = Status::closed;
    pointer_.reset(); // releases what it holds, then goes away
    loop_.unwatch(fd_);
    libevdev_grab(device_, LIBEVDEV_UNGRAB);
    libevdev_free(device_);
    device_ = nullptr;
    ::close(fd_);
    fd_ = -1;
}

// The buttons the kernel holds down for the device now; false (and errno)
// when it cannot tell.
bool GrabbedMouse::readKeys(std::bitset<KEY_CNT>& keys) const {
    constexpr std::size_t bits = sizeof(unsigned long) * CHAR_BIT;
    unsigned long words[(KEY_CNT + bits - 1) / bits] = {};
    if (ioctl(fd_, EVIOCGKEY(sizeof words), words) < 0)
        return false;
    keys.reset();
    for (std::size_t code = 0; code < KEY_CNT; ++code)
        keys[code] = (words[code / bits] >> (code % bits)) & 1;
    return true;
}

bool GrabbedMouse::anyKeyDown() const {
    std::bitset<KEY_CNT> keys;
    return readKeys(keys) && keys.any();
}

void GrabbedMouse::tryGrab() {
    if (status_ != Status::waiting)
        return;
    if (anyKeyDown())
        return; // grabbing now would cut a press in half; the release frame retries
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    if (libevdev_grab(device_, LIBEVDEV_GRAB) != 0) {
        if (!busyLogged_)
            logLine(node_ + " is grabbed by another program; trying again");
        busyLogged_ = true;
        return;
    }
    // A press that came between the check and the grab went to the desktop:
    // its release must go there too.
    if (anyKeyDown()) {
        libevdev_grab(device_, LIBEVDEV_UNGRAB);
        return;
    }
    std::string error;
    pointer_ = VirtualPointer::create(device_, uinputPath_, error);
    if (!pointer_) {
        logLine("cannot create a virtual pointer for " + node_ + ": " + error);
        libevdev_grab(device_, LIBEVDEV_UNGRAB);
        close();
        owner_.unusable(*this, "has no virtual pointer (" + error + ")");
        return;
    }
    grabbedAt_ = before;
    down_.reset(); // nothing was down a moment ago
    translator_.reset();
    translator_.setMiddleEmulated(!libevdev_has_event_code(device_, EV_KEY, BTN_MIDDLE));
    encoder_.reset();
    frame_.clear();
    busyLogged_ = false;
    status_ = Status::grabbed;
}

void GrabbedMouse::onReadable() {
    // The loop's handler holds a reference: the owner may drop this mouse
    // while an engine callback runs.
    if (status_ == Status::waiting) {
        if (const int error = drain(); error != 0) {
            vanish(error);
            return;
        }
        tryGrab();
        if (status_ != Status::grabbed)
            return;
    }
    if (status_ == Status::grabbed)
        readFrames();
}

int GrabbedMouse::drain() {
    for (;;) {
        const ssize_t got = ::read(fd_, batch_.data(), sizeof batch_);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return 0;
        return got < 0 ? -errno : -ENODEV;
    }
}

void GrabbedMouse::translateFrame(std::int64_t timestamp) {
    translating_ = true;
    translator_.translate(frame_, *this, timestamp);
    translating_ = false;
    if (pointer_)
        pointer_->endFrame();
}

// Reads the node a batch at a time; what a batch completes is written before
// the next read. The kernel hands over all it has queued, up to the buffer:
// a read that does not fill it has emptied the queue, and the loop tells
// when more comes, so no read is spent on learning that nothing is left.
void GrabbedMouse::readFrames() {
    // The gesture button may have changed (settings, the desktop's
    // handedness); never to one the pointer holds down now.
    const std::uint16_t wanted = owner_.gestureButton(*this);
    if (wanted != translator_.gestureButton() && !pointer_->holds(wanted))
        translator_.setGestureButton(wanted);
    for (;;) {
        const ssize_t got = ::read(fd_, batch_.data(), sizeof batch_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return;
        if (got <= 0) {
            vanish(got < 0 ? -errno : -ENODEV);
            return;
        }
        const std::size_t count = static_cast<std::size_t>(got) / sizeof(input_event);
        if (!takeBatch(count))
            return;
        pointer_->flush();
        if (count < batch_.size())
            return;
    }
}

bool GrabbedMouse::takeBatch(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const input_event& ev = batch_[i];
        if (ev.type != EV_SYN) {
            frame_.push_back(ev);
            continue;
        }
        if (ev.code == SYN_DROPPED) {
            resync();
            return status_ == Status::grabbed;
        }
        if (ev.code != SYN_REPORT)
            continue;
        // Only whole frames count: a frame cut by a drop changed nothing.
        for (const input_event& part : frame_)
            if (part.type == EV_KEY && part.code < KEY_CNT && part.value != 2)
                down_[part.code] = part.value != 0;
        if (!stampedBefore(ev, grabbedAt_))
            translateFrame(nanoseconds(ev));
        frame_.clear();
        if (status_ != Status::grabbed)
            return false; // closed by the engine's callback
    }
    return true;
}

// The kernel dropped events (SYN_DROPPED). What was read of the current
// frame is incomplete, and what is still queued is the rest of a stream
// with a hole in it: both go. The device's button state is read back, and
// how it differs from what was last seen is handled as one frame: a button
// that went down or up meanwhile is pressed or released.
void GrabbedMouse::resync() {
    if (!resyncLogged_)
        logLine(node_ + ": the kernel dropped events; the buttons were read back from the device");
    resyncLogged_ = true;
    frame_.clear();
    std::bitset<KEY_CNT> keys;
    int error = drain();
    if (error == 0 && !readKeys(keys))
        error = -errno;
    if (error != 0) {
        vanish(error);
        return;
    }
    const std::bitset<KEY_CNT> changed = keys ^ down_;
    for (std::size_t code = 0; code < KEY_CNT; ++code)
        if (changed[code])
            frame_.push_back(
                makeEvent(EV_KEY, static_cast<std::uint16_t>(code), keys[code] ? 1 : 0));
    down_ = keys;
    translateFrame(now());
    frame_.clear();
}

void GrabbedMouse::closeEndingGesture() {
    if (status_ == Status::closed)
        return;
    const bool held = status_ == Status::grabbed && translator_.rightDown();
    close();
    if (held) {
        Event release = translator_.releaseOnRemoval(now());
        owner_.offer(*this, release);
    }
}

// Reading failed. A node that is still there had its descriptor revoked (the
// session lost the seat): the owner may take it again later.
void GrabbedMouse::vanish(int error) {
    if (status_ == Status::closed)
        return;
    const bool revoked =
        (error == -ENODEV || error == -EACCES) && ::access(node_.c_str(), F_OK) == 0;
    closeEndingGesture();
    owner_.vanished(*this, revoked);
}

void GrabbedMouse::post(std::span<const input_event> events) {
    if (status_ != Status::grabbed || events.empty() || quiet_)
        return;
    // The scroll of a drag joins the drag's own frame, after its motion:
    // a client that keeps only the last of several queued pointer events
    // (Qt on X11 does) then still gets every scroll step. Clicks are frames
    // of their own, before the rest of the frame.
    const bool scroll = std::all_of(events.begin(), events.end(),
                                    [](const input_event& e) { return e.type == EV_REL; });
    if (translating_ && scroll) {
        for (const input_event& event : events)
            pointer_->queuePosted(event);
        return;
    }
    pointer_->writeFrame(events);
}

void GrabbedMouse::pass(const input_event& event) {
    if (pointer_)
        pointer_->queue(event);
}

bool GrabbedMouse::offer(Event& event) {
    return owner_.offer(*this, event);
}

void GrabbedMouse::endGesture(Event& release) {
    quiet_ = true;
    owner_.offer(*this, release);
    quiet_ = false;
}

} // namespace quillmere::input
