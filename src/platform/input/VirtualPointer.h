#pragma once
// The uinput device that stands in for one grabbed mouse. It copies the
// mouse's name, bus type, vendor, product, version and capabilities, so that
// per-device desktop settings apply and the package's udev rule gives it the
// mouse's hwdb entries; what the engine's scrolling needs and the mouse
// lacks (a wheel, hi-res axes) is added. Its phys is "quillmere/" followed by
// the mouse's, which is how Quillmere knows its own devices.
//
// Output is buffered: queue() collects events, endFrame() closes a frame with
// SYN_REPORT, flush() hands everything to the kernel: whole frames, at most
// 64 events per write, so that a reader with a small queue (the kernel gives
// a mouse's readers room for 64 events and more) is never handed more than
// it can hold at once. The
// device remembers which buttons it holds down, so that they can be released
// before it goes away.

#include <linux/input.h>

#include <bitset>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct libevdev;
struct libevdev_uinput;

namespace quillmere::input {

class VirtualPointer {
public:
    // Made through the uinput node at uinputPath; nullptr when the device
    // cannot be made, error then says why.
    static std::unique_ptr<VirtualPointer>
    create(const libevdev* source, const std::string& uinputPath, std::string& error);
    // Releases every held button, then destroys the device.
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    // Queues an event the mouse made (wheel steps may be mirrored).
    void queue(const input_event& event);
    // Queues an event the engine made, as it is.
    void queuePosted(const input_event& event);
    // Closes the frame being queued (nothing happens for an empty one).
    void endFrame();
    // Writes everything queued; returns false when the kernel refused it.
    bool flush();
    static constexpr std::size_t maximumEventsPerWrite = 64;
    // A frame of its own, after everything queued so far, as given.
    bool writeFrame(std::span<const input_event> events);
    // Writes a release for every button still held down, in one frame.
    void releaseButtons();
    bool holds(std::uint16_t code) const { return code < KEY_CNT && held_.test(code); }

private:
    VirtualPointer() = default;
    bool write(const input_event* events, std::size_t count);

    int fd_ = -1;
    libevdev_uinput* device_ = nullptr;
    std::vector<input_event> pending_;
    // Index in pending_ where the open frame begins.
    std::size_t frameStart_ = 0;
    std::bitset<KEY_CNT> held_;
    // Legacy wheels whose hi-res axis the mouse lacks.
    std::bitset<REL_CNT> mirror_;
    bool writeFailed_ = false;
};

} // namespace quillmere::input
