#pragma once
// Asks the update endpoint whether a newer version exists and tells the user
// through the alerts the application hands in.

#include <QString>

#include <functional>
#include <optional>

namespace quillmere::UpdateChecker {

// A newer version as the server announced it, made safe to show.
struct Offer {
    QString version;
    std::optional<QString> notes;
};

enum class Answer { later, download, visitWebsite };

// How the user is told. Without them a check shows nothing and downloads
// nothing.
struct Alerts {
    // Runs modally and returns the user's answer.
    std::function<Answer(const Offer&)> updateAvailable;
    std::function<void()> noUpdate;
};

void setAlerts(Alerts alerts);

// User-initiated: reports both a newer version and the absence of one.
void checkForUpdate();
// Background: speaks up only when an update exists.
void checkSilently();

} // namespace quillmere::UpdateChecker
