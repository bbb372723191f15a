#pragma once
// Where the user interface, the network services and the platform meet: the
// real actions behind the tray menu and the preferences window, and the
// alerts the update check shows.

#include "net/UpdateChecker.h"
#include "ui/PreferencesWindow.h"
#include "ui/StatusBarController.h"

namespace quillmere::Wiring {

StatusBarActions statusBarActions();
PreferencesActions preferencesActions();
UpdateChecker::Alerts updateAlerts();

} // namespace quillmere::Wiring
