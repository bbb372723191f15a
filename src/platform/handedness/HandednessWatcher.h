#pragma once
// The desktop's handedness, followed while the app runs: GNOME's setting
// (GSettings), KDE's (kcminputrc) and, when the app runs on X11, the X
// server's pointer mapping. Every source that is missing, unreadable or
// malformed reads as right-handed, with one log line; nothing here waits on
// another process at start-up beyond one X round trip.
//
// How the answers combine (the desktop applies its own setting to every
// pointer, Quillmere's virtual pointers included, so only the running
// desktop's setting counts; one left for another desktop must not swap
// this one's buttons):
//  - the desktop is taken from $XDG_CURRENT_DESKTOP: in a GNOME session
//    KDE's file is not read, in a KDE session GNOME's setting is not; in any
//    other session (or without the variable) both are;
//  - GNOME's left-handed is global: it goes into leftHanded;
//  - KDE on X11 has only its [Mouse] keys, global as well; KDE elsewhere
//    (KWin on Wayland) keys its setting by mouse: those go into perDevice,
//    and its default for mice without one into leftHanded;
//  - the X server's swapped pointer mapping makes leftHanded true too. The
//    answers are ORed, not XORed: desktops that swap through the X mapping
//    write their own setting as well, and a user with both set would have a
//    right-handed mouse and clear one of them.

#include "KdeHandedness.h"
#include "platform/input/GestureButton.h"

#include <QObject>
#include <QString>

#include <memory>

namespace quillmere {

class GnomeHandedness;
class X11Handedness;

enum class DesktopKind { gnome, kde, other };

// The desktop named by an $XDG_CURRENT_DESKTOP value (a colon-separated
// list, e.g. "ubuntu:GNOME", "KDE").
DesktopKind desktopKind(const QString& xdgCurrentDesktop);

// The combination described above; onX11: the app runs on X11.
input::Handedness combineHandedness(DesktopKind desktop, bool onX11, bool gnomeLeftHanded,
                                    const KdeMouseSettings& kde, bool x11Swapped);

// Where the answers come from; tests name their own.
struct HandednessSources {
    QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    // Holds kcminputrc; empty: $XDG_CONFIG_HOME (default ~/.config).
    QString configHome;
    std::string gnomeSchema = "org.gnome.desktop.peripherals.mouse";
    // Follow the X server's pointer mapping (the app runs on xcb), of this
    // display (empty: $DISPLAY).
    bool x11 = false;
    QByteArray x11Display;
};

class HandednessWatcher : public QObject {
    Q_OBJECT
public:
    explicit HandednessWatcher(HandednessSources sources = {}, QObject* parent = nullptr);
    ~HandednessWatcher() override;

    const input::Handedness& current() const { return current_; }

signals:
    // On this (the interface) thread, whenever current() changes.
    void changed(const quillmere::input::Handedness& handedness);

private:
    input::Handedness combined() const;
    void update();

    DesktopKind desktop_;
    std::unique_ptr<GnomeHandedness> gnome_;
    std::unique_ptr<KdeHandedness> kde_;
    std::unique_ptr<X11Handedness> x11_;
    input::Handedness current_;
    bool ready_ = false;
};

} // namespace quillmere
