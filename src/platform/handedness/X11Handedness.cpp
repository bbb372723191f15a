#include "X11Handedness.h"

#include "engine/Log.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace quillmere {

X11Handedness::X11Handedness(const QByteArray& display, std::function<void()> onChange)
    : onChange_(std::move(onChange)) {
    xcb_connection_t* connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        const char* shown = display.isEmpty() ? std::getenv("DISPLAY") : display.constData();
        Log::write(std::string("[Quillmere] cannot reach the X server ") +
                   (shown ? shown : "(no DISPLAY)") +
                   " for its pointer mapping: read as unswapped");
        return;
    }
    connection_ = connection;
    swapped_ = querySwapped();
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { readEvents(); });
    readEvents(); // what arrived with the reply
}

X11Handedness::~X11Handedness() {
    notifier_.reset();
    if (connection_)
        xcb_disconnect(connection_);
}

bool X11Handedness::querySwapped() {
    xcb_get_pointer_mapping_reply_t* reply =
        xcb_get_pointer_mapping_reply(connection_, xcb_get_pointer_mapping(connection_), nullptr);
    if (!reply)
        return false;
    const bool swapped = xcb_get_pointer_mapping_map_length(reply) >= 1 &&
                         xcb_get_pointer_mapping_map(reply)[0] == 3;
    std::free(reply);
    return swapped;
}

void X11Handedness::readEvents() {
    // Events that arrive while a reply is awaited wait in xcb's queue, where
    // the socket no longer shows them: read until none is left.
    for (;;) {
        bool pointerMapping = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY &&
                reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request ==
                    XCB_MAPPING_POINTER)
                pointerMapping = true;
            std::free(event);
        }
        if (xcb_connection_has_error(connection_)) {
            lost();
            return;
        }
        if (!pointerMapping)
            return;
        const bool swapped = querySwapped();
        if (swapped != swapped_) {
            swapped_ = swapped;
            if (onChange_)
                onChange_();
        }
    }
}

// The server went away (the session is ending): keep the last answer.
void X11Handedness::lost() {
    Log::write("[Quillmere] lost the X server; its pointer mapping is no longer followed");
    // Called from the notifier's own signal: it goes once that returns.
    notifier_->setEnabled(false);
    notifier_.release()->deleteLater();
    xcb_disconnect(connection_);
    connection_ = nullptr;
}

} // namespace quillmere
