// The tray menu: the engine switch, the preferences window and update checks
// it opens, Quit, the language it follows, and what happens when no tray is
// there. (Its items as a panel shows them are checked in the tray host test;
// a real panel's clicks in the sway desktop VM test.)

#include "UiTestSupport.h"

#include "AppInfo.h"
#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/Localization.h"
#include "ui/PreferencesWindow.h"
#include "ui/StatusBarController.h"

#include <QAction>
#include <QDBusConnection>
#include <QMenu>
#include <QTest>

namespace quillmere::testing {
namespace {

class StatusBarTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        manager.start();
        log.lines.clear();
        StatusBarActions actions;
        actions.checkSilently = [this] { calls.push_back("checkSilently"); };
        actions.checkForUpdate = [this] { calls.push_back("checkForUpdate"); };
        actions.quitApplication = [this] {
            calls.push_back(manager.hasEventTap() ? "quit while running" : "quit");
        };
        actions.makePreferencesWindow = [this] {
            calls.push_back("makePreferencesWindow");
            return std::make_unique<PreferencesWindow>(PreferencesActions{});
        };
        // On a bus that is not connected: no tray can appear.
        controller = std::make_unique<StatusBarController>(
            manager, actions, QDBusConnection(QStringLiteral("no-bus")));
    }

    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager{services, timers};
    std::vector<std::string> calls;
    std::unique_ptr<StatusBarController> controller;
};

// Without any tray one line is logged and the engine keeps running; the
// menu still works, e.g. from a later tray. The switch is not a setting:
// nothing is stored, and the checkmark shows what the engine says.
TEST_F(StatusBarTest, WithoutATrayTheEngineRunsAndTheSwitchStopsAndRestartsIt) {
    EXPECT_EQ(controller->statusItem(), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[Quillmere] ", 0), 0u);
    for (const bool on : {true, false, true}) {
        EXPECT_EQ(manager.isEnabled, on);
        EXPECT_EQ(controller->toggleItem()->isChecked(), on);
        EXPECT_EQ(manager.hasEventTap(), on);
        EXPECT_EQ(services.liveTaps, on ? 1 : 0);
        controller->toggleItem()->trigger();
    }
    EXPECT_EQ(store.size(), 0u);
}

// The four item texts follow the language; the checkmark and the version
// stay. A notice after the controller is gone reaches nothing.
TEST_F(StatusBarTest, LanguageNoticeRetitlesTheFourItemsOnly) {
    controller->toggleItem()->trigger(); // checkmark off
    store.setObject("language", std::string("ja"));
    LanguageNotifier::instance().post();
    const std::pair<QAction*, QString> items[] = {
        {controller->toggleItem(), L10n::enabled()},
        {controller->prefsItem(), L10n::preferences()},
        {controller->updateItem(), L10n::checkForUpdates()},
        {controller->quitItem(), L10n::quit()},
        {controller->versionItem(), AppInfo::versionTitle},
    };
    for (const auto& [item, text] : items)
        EXPECT_EQ(item->text(), text);
    EXPECT_NE(controller->quitItem()->text(), "Quit");
    EXPECT_FALSE(controller->toggleItem()->isChecked());
    controller.reset();
    LanguageNotifier::instance().post();
}

// One window, brought back when closed or minimised; each opening checks
// for updates silently, the menu item for the user.
TEST_F(StatusBarTest, PreferencesReuseOneWindowAndCheckSilentlyEachTimeUpdatesCheckForTheUser) {
    controller->prefsItem()->trigger();
    PreferencesWindow* first = controller->preferencesWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    first->close();
    controller->prefsItem()->trigger();
    EXPECT_EQ(controller->preferencesWindow(), first);
    EXPECT_TRUE(first->isVisible());
    first->showMinimized();
    controller->prefsItem()->trigger();
    EXPECT_FALSE(first->isMinimized());
    controller->updateItem()->trigger();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"makePreferencesWindow", "checkSilently", "checkSilently",
                                        "checkSilently", "checkForUpdate"}));
}

// Ctrl+Q in the open menu is the same as choosing Quit: the engine stops
// before the application is asked to quit.
TEST_F(StatusBarTest, CtrlQInTheOpenMenuStopsTheEngineThenQuits) {
    QMenu* menu = controller->menu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(calls, std::vector<std::string>{"quit"});
    EXPECT_FALSE(menu->isVisible());
}

} // namespace
} // namespace quillmere::testing
