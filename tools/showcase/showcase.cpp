// Shows the real tray icon, menu and preferences window without touching
// input devices, the network or the user's settings:
//   quillmere_ui_showcase [language code] [--menu | --update-alert]
// The engine runs on a scripted event service, settings live in memory,
// and the update checks and usage events are switched off. With --menu the
// tray menu is also popped up at the top-left corner of the screen; with
// --update-alert only the update alert is shown, with a long release note.

#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/PreferencesWindow.h"
#include "ui/StatusBarController.h"
#include "ui/UpdateAlerts.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>

#include <memory>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    quillmere::MemorySettingsStore store;
    quillmere::ScrollConfig::setDefaults(&store);
    bool popUpMenu = false;
    bool updateAlert = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--menu")
            popUpMenu = true;
        else if (argument == "--update-alert")
            updateAlert = true;
        else
            store.setObject("language", argument);
    }
    if (updateAlert) {
        QString notes = QStringLiteral("What is new in 1.1.0:\n");
        for (int i = 1; i <= 40; ++i)
            notes += QStringLiteral("\n• Change %1: smoother momentum, steadier wheel steps and "
                                    "fewer wake-ups while idle.")
                         .arg(i);
        QTimer::singleShot(0, [notes] {
            quillmere::UpdateAlerts::showUpdateAvailable(QStringLiteral("1.1.0"), notes);
            QCoreApplication::quit();
        });
        return app.exec();
    }

    quillmere::testing::FakeEventServices services;
    quillmere::testing::ManualTimerFactory timers;
    quillmere::GrabScrollManager manager(services, timers);
    manager.start();

    quillmere::PreferencesActions preferencesActions;
    preferencesActions.isLaunchAtLoginEnabled = [] { return false; };
    quillmere::StatusBarActions actions;
    actions.quitApplication = [] { QCoreApplication::quit(); };
    actions.makePreferencesWindow = [preferencesActions] {
        return std::make_unique<quillmere::PreferencesWindow>(preferencesActions);
    };
    quillmere::StatusBarController controller(manager, actions);
    controller.showPreferences();
    if (popUpMenu)
        QTimer::singleShot(500, [&controller] { controller.menu()->popup(QPoint(8, 8)); });
    return app.exec();
}
