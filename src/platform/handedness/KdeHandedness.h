#pragma once
// KDE's handedness, from kcminputrc in $XDG_CONFIG_HOME (a KConfig file):
//   [Libinput][<vendor>][<product>][<name>]  LeftHanded=  KWin's per-mouse
//       setting (Plasma 5 and 6 on Wayland), vendor and product in decimal;
//   [Libinput][Defaults][Pointer]           LeftHanded=  KWin's default for
//       mice without their own group ([Libinput][Defaults] when there is no
//       Pointer group);
//   [Mouse] XLbInptLeftHanded=  (the X11 session with the libinput driver)
//       or MouseButtonMapping=LeftHanded|RightHanded (older X11 settings).
// The file is watched; KDE replaces it on every save, so its folder is
// watched too.

#include <QFileSystemWatcher>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

struct KdeMouseSettings {
    // Keyed "vendor:product:name", as input::Handedness::perDevice.
    std::map<std::string, bool> perDevice;
    std::optional<bool> waylandDefault;
    std::optional<bool> x11;
    // Lines that could not be read (what they set reads as right-handed),
    // and the first of them, counted from 1; 0 when there is none.
    int malformedLines = 0;
    int firstMalformedLine = 0;

    friend bool operator==(const KdeMouseSettings&, const KdeMouseSettings&) = default;
};

// Reads the file's text as KConfig does (groups, escapes, [$i] and [$d]
// markers, localised keys), keeping only the handedness.
KdeMouseSettings parseKcminputrc(std::string_view text);

class KdeHandedness {
public:
    // onChange runs on this thread whenever settings() changes.
    KdeHandedness(const QString& configHome, std::function<void()> onChange);

    const KdeMouseSettings& settings() const { return settings_; }
    QString path() const { return path_; }

private:
    // Reads the file again; a file that is missing, unreadable or has
    // malformed lines gives one log line (until it is read cleanly again).
    void reload();
    void watch();

    QString folder_;
    QString path_;
    std::function<void()> onChange_;
    QFileSystemWatcher watcher_;
    KdeMouseSettings settings_;
    std::string reported_;
};

} // namespace quillmere
