#pragma once
// Shared pieces of the window and menu tests: an in-memory settings store
// installed for each test, a recorder for usage events and log lines,
// preferences actions that reach nothing outside the process, and the text
// a control shows.

#include "engine/Log.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/LogCapture.h"
#include "ui/PreferencesWindow.h"

#include <QAccessible>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmere::testing {

struct SentEvent {
    QString name;
    QJsonObject params;
    bool operator==(const SentEvent&) const = default;
};

// What the preferences window asked of the outside world.
struct OutsideWorld {
    std::vector<SentEvent> events;
    std::vector<bool> launchAtLoginCalls;
    bool launchAtLoginRegistered = false;
    std::vector<QUrl> openedUrls;

    PreferencesActions actions() {
        PreferencesActions actions;
        actions.sendEvent = [this](const QString& name, const QJsonObject& params) {
            events.push_back({name, params});
        };
        actions.setLaunchAtLogin = [this](bool on) { launchAtLoginCalls.push_back(on); };
        actions.isLaunchAtLoginEnabled = [this] { return launchAtLoginRegistered; };
        actions.openUrl = [this](const QUrl& url) { openedUrls.push_back(url); };
        return actions;
    }
};

// The text as shown (and read out by a screen reader): Qt takes a single '&'
// in a button's text as a shortcut marker and hides it.
inline QString shownText(QObject* control) {
    const QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(control);
    return shown ? shown->text(QAccessible::Name) : QString();
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override { ScrollConfig::setDefaults(&store); }
    void TearDown() override { ScrollConfig::setDefaults(nullptr); }

    MemorySettingsStore store;
    testing::LogCapture log;
};

} // namespace quillmere::testing
