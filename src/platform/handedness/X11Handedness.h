#pragma once
// The X server's own handedness: the core pointer's button mapping, swapped
// when button 1 is mapped to 3 (xmodmap -e 'pointer = 3 2 1', and what
// older desktops set). The X server swaps after every device, the virtual
// pointers included. A connection of its own hears MappingNotify, which the
// server sends to every client.

#include <QByteArray>
#include <QSocketNotifier>

#include <functional>
#include <memory>

struct xcb_connection_t;

namespace quillmere {

class X11Handedness {
public:
    // display: as for xcb_connect (empty: $DISPLAY). A display that cannot
    // be reached reads as unswapped, with one log line. onChange runs on
    // this thread whenever swapped() changes.
    X11Handedness(const QByteArray& display, std::function<void()> onChange);
    ~X11Handedness();
    X11Handedness(const X11Handedness&) = delete;
    X11Handedness& operator=(const X11Handedness&) = delete;

    bool swapped() const { return swapped_; }

private:
    void readEvents();
    bool querySwapped();
    void lost();

    std::function<void()> onChange_;
    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool swapped_ = false;
};

} // namespace quillmere
