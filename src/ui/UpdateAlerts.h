#pragma once
// The modal alerts of the update check: a newer version with its notes, or
// none. They show what they are given as plain text; the caller has made
// server text safe to show.

#include <QString>

#include <optional>

namespace quillmere::UpdateAlerts {

enum class Choice { later, download, visitWebsite };

// The message and the notes under "Later", "Download & Update" and "Visit
// Website", "Later" the default; long notes scroll inside an alert that
// stays within the screen. Returns when the user has answered.
Choice showUpdateAvailable(const QString& version, const std::optional<QString>& notes);

// "No Updates" with one "OK" button.
void showNoUpdate();

} // namespace quillmere::UpdateAlerts
