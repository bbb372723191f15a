#pragma once
// GNOME's handedness: the GSettings key left-handed of
// org.gnome.desktop.peripherals.mouse, which GNOME applies to every mouse.
// The key is followed through GSettings' "changed" signal, which GLib
// delivers on the main context of the thread that made this; Qt's event loop
// on Linux runs that context (HandednessWatcher checks that it does).

#include <functional>
#include <string>

struct _GSettings;

namespace quillmere {

class GnomeHandedness {
public:
    static constexpr const char* schemaId = "org.gnome.desktop.peripherals.mouse";

    // A schema that is not installed (or has no Boolean left-handed key)
    // reads as right-handed, with one log line. onChange runs on this
    // thread whenever leftHanded() changes.
    GnomeHandedness(const std::string& schema, std::function<void()> onChange);
    ~GnomeHandedness();
    GnomeHandedness(const GnomeHandedness&) = delete;
    GnomeHandedness& operator=(const GnomeHandedness&) = delete;

    bool leftHanded() const { return leftHanded_; }

private:
    static void changed(_GSettings* settings, char* key, void* self);

    std::function<void()> onChange_;
    _GSettings* settings_ = nullptr;
    unsigned long handler_ = 0;
    bool leftHanded_ = false;
};

} // namespace quillmere
