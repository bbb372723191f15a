// The tray menu: its items, the engine switch, the preferences window and
// update checks it opens, Quit, the language it follows, and what happens
// when no tray is there.

#include "UiTestSupport.h"

#include "AppInfo.h"
#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/Localization.h"
#include "ui/StatusBarController.h"

#include <QAction>
#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

namespace quillmere::testing {
namespace {

class StatusBarTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        manager.start();
    }

    // A controller on a bus that is not connected: no tray can appear.
    std::unique_ptr<StatusBarController> makeController() {
        StatusBarActions actions;
        actions.checkSilently = [this] { calls.push_back("checkSilently"); };
        actions.checkForUpdate = [this] { calls.push_back("checkForUpdate"); };
        actions.quitApplication = [this] {
            calls.push_back(manager.hasEventTap() ? "quit while running" : "quit");
        };
        actions.makePreferencesWindow = [this] {
            calls.push_back("makePreferencesWindow");
            return std::make_unique<PreferencesWindow>(outside.actions());
        };
        return std::make_unique<StatusBarController>(manager, actions,
                                                     QDBusConnection(QStringLiteral("no-bus")));
    }

    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager{services, timers};
    OutsideWorld outside;
    std::vector<std::string> calls;
};

TEST_F(StatusBarTest, MenuHasTheItemsInOrderWithTheirStates) {
    auto controller = makeController();
    QStringList items; // "-" for a separator, "[x]" when checked, "(off)" when disabled
    for (const QAction* item : controller->menu()->actions())
        items << (item->isSeparator() ? QStringLiteral("-")
                                      : item->text() + (item->isChecked() ? " [x]" : "") +
                                            (item->isEnabled() ? "" : " (off)"));
    EXPECT_EQ(items.join('|').toStdString(),
              std::string(AppInfo::versionTitle) +
                  " (off)|-|Enabled [x]|-|Preferences...|Check for Updates...|-|Quit");
    EXPECT_EQ(controller->menu()->actions().value(2), controller->toggleItem());
    EXPECT_EQ(controller->quitItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(controller->quitItem()->isShortcutVisibleInContextMenu());
}

TEST_F(StatusBarTest, ToggleStopsAndRestartsTheEngineWithoutStoringAnything) {
    manager.isEnabled = true;
    auto controller = makeController();
    controller->toggleItem()->trigger();
    EXPECT_FALSE(manager.isEnabled);
    EXPECT_FALSE(controller->toggleItem()->isChecked());
    EXPECT_FALSE(manager.hasEventTap());
    EXPECT_EQ(services.liveTaps, 0);

    controller->toggleItem()->trigger();
    EXPECT_TRUE(manager.isEnabled);
    EXPECT_TRUE(controller->toggleItem()->isChecked());
    EXPECT_TRUE(manager.hasEventTap());
    EXPECT_EQ(services.tapsCreated, 2);
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());

    // A new controller (a relaunch) shows what the engine says.
    manager.isEnabled = false;
    EXPECT_FALSE(makeController()->toggleItem()->isChecked());
}

TEST_F(StatusBarTest, LanguageNoticeRetitlesTheFourItemsOnly) {
    auto controller = makeController();
    controller->toggleItem()->trigger(); // checkmark off
    store.setObject("language", std::string("ja"));
    LanguageNotifier::instance().post();
    QMenu* menu = controller->menu();
    EXPECT_EQ(shownText(menu, controller->toggleItem()), L10n::enabled());
    EXPECT_EQ(shownText(menu, controller->prefsItem()), L10n::preferences());
    EXPECT_EQ(shownText(menu, controller->updateItem()), L10n::checkForUpdates());
    EXPECT_EQ(shownText(menu, controller->quitItem()), L10n::quit());
    EXPECT_NE(shownText(menu, controller->quitItem()), "Quit");
    EXPECT_EQ(controller->versionItem()->text(), AppInfo::versionTitle);
    EXPECT_FALSE(controller->toggleItem()->isChecked());

    // A notice after the controller is gone reaches nothing.
    controller.reset();
    LanguageNotifier::instance().post();
}

TEST_F(StatusBarTest, PreferencesReuseOneWindowAndCheckSilentlyEachTimeUpdatesCheckForTheUser) {
    auto controller = makeController();
    EXPECT_EQ(controller->preferencesWindow(), nullptr);
    controller->prefsItem()->trigger();
    PreferencesWindow* first = controller->preferencesWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    first->close();
    controller->prefsItem()->trigger();
    EXPECT_EQ(controller->preferencesWindow(), first);
    EXPECT_TRUE(first->isVisible());
    // Minimised, or behind another window: it comes back to the front.
    first->showMinimized();
    controller->prefsItem()->trigger();
    EXPECT_FALSE(first->isMinimized());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    controller->prefsItem()->trigger();
    EXPECT_TRUE(QTest::qWaitForWindowActive(first));
    controller->updateItem()->trigger();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"makePreferencesWindow", "checkSilently", "checkSilently",
                                        "checkSilently", "checkSilently", "checkForUpdate"}));
}

// Ctrl+Q in the open menu is the same as choosing Quit: the engine stops
// before the application is asked to quit.
TEST_F(StatusBarTest, CtrlQInTheOpenMenuStopsTheEngineThenQuits) {
    auto controller = makeController();
    QMenu* menu = controller->menu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(calls, std::vector<std::string>{"quit"});
    EXPECT_FALSE(manager.hasEventTap());
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(StatusBarTest, WithoutAnyTrayOneLineIsLoggedAndTheEngineKeepsRunning) {
    log.lines.clear();
    auto controller = makeController();
    EXPECT_EQ(controller->statusItem(), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[Quillmere] ", 0), 0u);
    EXPECT_TRUE(manager.hasEventTap());
    // The menu still works, e.g. from a later tray.
    controller->toggleItem()->trigger();
    EXPECT_FALSE(manager.hasEventTap());
}

} // namespace
} // namespace quillmere::testing
