#include "VirtualPointer.h"

#include "DeviceDiscovery.h"
#include "FrameTranslator.h"
#include "engine/Log.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace quillmere::input {

namespace {

// Copies what the mouse has: buttons and keys, relative axes, misc events
// and absolute axes (with their ranges), and the device properties. The
// engine's scrolling needs both wheels with their hi-res axes: what the
// mouse lacks of them is added, and `mirror` says for which legacy wheel the
// hi-res axis is an addition (its steps are then mirrored, see queue()).
void copyCapabilities(const libevdev* source, libevdev* target, std::bitset<REL_CNT>& mirror) {
    for (unsigned type : {EV_KEY, EV_REL, EV_MSC}) {
        if (!libevdev_has_event_type(source, type))
            continue;
        const int max = libevdev_event_type_get_max(type);
        for (int code = 0; code <= max; ++code)
            if (libevdev_has_event_code(source, type, static_cast<unsigned>(code)))
                libevdev_enable_event_code(target, type, static_cast<unsigned>(code), nullptr);
    }
    if (libevdev_has_event_type(source, EV_ABS)) {
        for (unsigned code = 0; code <= ABS_MAX; ++code)
            if (const input_absinfo* info = libevdev_get_abs_info(source, code))
                libevdev_enable_event_code(target, EV_ABS, code, info);
    }
    for (unsigned prop = 0; prop <= INPUT_PROP_MAX; ++prop)
        if (libevdev_has_property(source, prop))
            libevdev_enable_property(target, prop);
    for (auto [legacy, hiRes] :
         {std::pair{REL_WHEEL, REL_WHEEL_HI_RES}, std::pair{REL_HWHEEL, REL_HWHEEL_HI_RES}}) {
        if (libevdev_has_event_code(source, EV_REL, legacy) &&
            !libevdev_has_event_code(source, EV_REL, hiRes))
            mirror.set(legacy);
        libevdev_enable_event_code(target, EV_REL, legacy, nullptr);
        libevdev_enable_event_code(target, EV_REL, hiRes, nullptr);
    }
}
} // namespace

std::unique_ptr<VirtualPointer>
VirtualPointer::create(const libevdev* source, const std::string& uinputPath, std::string& error) {
    // Write access is all a virtual pointer needs, and all the access check asks for.
    const int fd = ::open(uinputPath.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    const char* name = libevdev_get_name(source);
    const char* sourcePhys = libevdev_get_phys(source);
    const std::string phys = std::string(ownPhysPrefix) + (sourcePhys ? sourcePhys : "");
    // libevdev does not pass the phys on to uinput: it is set on the node
    // first, and libevdev creates the device on that same node.
    if (ioctl(fd, UI_SET_PHYS, phys.c_str()) != 0) {
        error = std::string("UI_SET_PHYS: ") + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    libevdev* model = libevdev_new();
    if (!model) {
        error = "out of memory";
        ::close(fd);
        return nullptr;
    }
    libevdev_set_name(model, name ? name : "");
    libevdev_set_id_bustype(model, libevdev_get_id_bustype(source));
    libevdev_set_id_vendor(model, libevdev_get_id_vendor(source));
    libevdev_set_id_product(model, libevdev_get_id_product(source));
    libevdev_set_id_version(model, libevdev_get_id_version(source));
    std::bitset<REL_CNT> mirror;
    copyCapabilities(source, model, mirror);

    libevdev_uinput* device = nullptr;
    const int rc = libevdev_uinput_create_from_device(model, fd, &device);
    libevdev_free(model);
    if (rc != 0) {
        error = std::strerror(-rc);
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<VirtualPointer> pointer(new VirtualPointer);
    pointer->fd_ = fd;
    pointer->device_ = device;
    pointer->pending_.reserve(64);
    pointer->mirror_ = mirror;
    return pointer;
}

VirtualPointer::~VirtualPointer() {
    releaseButtons();
    libevdev_uinput_destroy(device_);
    ::close(fd_);
}

void VirtualPointer::queue(const input_event& event) {
    // A wheel step of a mouse without hi-res axes comes with its hi-res
    // value, as hi-res mice report both: libinput then counts each step
    // once, before and after the engine's own scrolling.
    if (event.type == EV_REL && event.code < REL_CNT && mirror_.test(event.code))
        queuePosted(makeEvent(EV_REL,
                              event.code == REL_WHEEL ? REL_WHEEL_HI_RES : REL_HWHEEL_HI_RES,
                              event.value * 120));
    queuePosted(event);
}

void VirtualPointer::queuePosted(const input_event& event) {
    if (event.type == EV_KEY && event.code < KEY_CNT && event.value != 2)
        held_.set(event.code, event.value != 0);
    pending_.push_back(event);
}

void VirtualPointer::endFrame() {
    if (pending_.size() == frameStart_)
        return;
    pending_.push_back(makeEvent(EV_SYN, SYN_REPORT, 0));
    frameStart_ = pending_.size();
}

bool VirtualPointer::flush() {
    endFrame();
    // Whole frames go together while they fit in one write; a frame longer
    // than a write is cut (the reader's frame ends at SYN_REPORT anyway).
    bool ok = true;
    std::size_t begin = 0;      // first event of the next write
    std::size_t frameStart = 0; // first event of the frame being scanned
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        while (i + 1 - begin > maximumEventsPerWrite) {
            const std::size_t cut = frameStart > begin ? frameStart : begin + maximumEventsPerWrite;
            ok = write(&pending_[begin], cut - begin) && ok;
            begin = cut;
        }
        if (pending_[i].type == EV_SYN && pending_[i].code == SYN_REPORT)
            frameStart = i + 1;
    }
    if (begin < pending_.size())
        ok = write(&pending_[begin], pending_.size() - begin) && ok;
    pending_.clear();
    frameStart_ = 0;
    return ok;
}

bool VirtualPointer::write(const input_event* events, std::size_t count) {
    const auto* bytes = reinterpret_cast<const char*>(events);
    std::size_t left = count * sizeof(input_event);
    while (left > 0) {
        const ssize_t written = ::write(fd_, bytes, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (!writeFailed_)
                Log::write(std::string("[Quillmere] writing to the virtual pointer failed: ") +
                           std::strerror(errno));
            writeFailed_ = true;
            return false;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool VirtualPointer::writeFrame(std::span<const input_event> events) {
    endFrame();
    for (const input_event& event : events)
        queuePosted(event);
    return flush();
}

void VirtualPointer::releaseButtons() {
    endFrame();
    for (std::size_t code = 0; code < held_.size(); ++code)
        if (held_.test(code))
            queuePosted(makeEvent(EV_KEY, static_cast<std::uint16_t>(code), 0));
    flush();
}

} // namespace quillmere::input
