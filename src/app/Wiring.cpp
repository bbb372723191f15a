#include "Wiring.h"

#include "LaunchAtLoginHelper.h"
#include "net/Analytics.h"
#include "net/Network.h"
#include "ui/UpdateAlerts.h"

#include <QCoreApplication>

namespace quillmere::Wiring {

StatusBarActions statusBarActions() {
    StatusBarActions actions;
    actions.checkSilently = [] { UpdateChecker::checkSilently(); };
    actions.checkForUpdate = [] { UpdateChecker::checkForUpdate(); };
    actions.quitApplication = [] { QCoreApplication::quit(); };
    actions.makePreferencesWindow = [] {
        return std::make_unique<PreferencesWindow>(preferencesActions());
    };
    return actions;
}

PreferencesActions preferencesActions() {
    PreferencesActions actions;
    actions.sendEvent = [](const QString& name, const QJsonObject& params) {
        Analytics::send(name, params);
    };
    actions.setLaunchAtLogin = [](bool enabled) { LaunchAtLoginHelper::setEnabled(enabled); };
    actions.isLaunchAtLoginEnabled = [] { return LaunchAtLoginHelper::isEnabled(); };
    actions.openUrl = [](const QUrl& url) { Network::openUrl(url); };
    return actions;
}

UpdateChecker::Alerts updateAlerts() {
    UpdateChecker::Alerts alerts;
    alerts.updateAvailable = [](const UpdateChecker::Offer& offer) {
        switch (UpdateAlerts::showUpdateAvailable(offer.version, offer.notes)) {
        case UpdateAlerts::Choice::download:
            return UpdateChecker::Answer::download;
        case UpdateAlerts::Choice::visitWebsite:
            return UpdateChecker::Answer::visitWebsite;
        case UpdateAlerts::Choice::later:
            break;
        }
        return UpdateChecker::Answer::later;
    };
    alerts.noUpdate = [] { UpdateAlerts::showNoUpdate(); };
    return alerts;
}

} // namespace quillmere::Wiring
