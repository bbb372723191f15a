#include "LaunchAtLoginHelper.h"

#include "engine/Log.h"
#include "engine/ScrollConfig.h"
#include "platform/Autostart.h"

namespace quillmere::LaunchAtLoginHelper {

void setEnabled(bool enabled) {
    QString error;
    const bool ok = enabled ? Autostart::registerEntry(&error) : Autostart::unregisterEntry(&error);
    if (ok) {
        ScrollConfig::defaults().setBool("launchAtLogin", enabled);
        return;
    }
    Log::write("[Quillmere] Launch at login error: " + error.toStdString());
}

bool isEnabled() {
    return Autostart::isEnabled();
}

} // namespace quillmere::LaunchAtLoginHelper
