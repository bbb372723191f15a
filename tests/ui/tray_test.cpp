// The tray: the menu (the engine switch, the preferences window and update
// checks it opens, Quit, the language it follows), what happens when no tray
// is there, and the icon that waits for a panel's host, as the panel's
// process sees it, on a private session bus with a stand-in for the panel's
// status-notifier watcher. (A real panel and clicks in its menu are the
// sway desktop VM test's.)

#include "support/PrivateBus.h"
#include "support/StoreTest.h"

#include "AppInfo.h"
#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/Localization.h"
#include "ui/PreferencesWindow.h"
#include "ui/StatusBarController.h"
#include "ui/StatusNotifierItem.h"
#include "ui/TrayHostWatcher.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace quillmere::testing {
namespace {

// What a panel registers on the bus: the watcher name, with its host flag,
// taking the items that register with it.
class StandInWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool hostRegistered = false;
    mutable int reads = 0;
    int registrations = 0;
    QString item; // the last item's service
    bool isHostRegistered() const {
        ++reads;
        return hostRegistered;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        item = service;
        ++registrations;
    }
};

class TrayTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
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
// nothing is stored, and the checkmark shows what the engine says. One
// preferences window, brought back when closed or minimised; each opening
// checks for updates silently, the menu item for the user. Ctrl+Q in the
// open menu is the same as choosing Quit: the engine stops before the
// application is asked to quit.
TEST_F(TrayTest, WithoutATrayTheMenuSwitchesOpensPreferencesChecksAndQuits) {
    EXPECT_EQ(log.lines.size(), 1u);
    for (const bool on : {true, false, true, false}) {
        EXPECT_EQ(controller->toggleItem()->isChecked(), on);
        EXPECT_EQ(manager.hasEventTap(), on);
        controller->toggleItem()->trigger();
    }
    EXPECT_EQ(store.size(), 0u);

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

    QMenu* menu = controller->menu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"makePreferencesWindow", "checkSilently", "checkSilently",
                                        "checkSilently", "checkForUpdate", "quit"}));
    // A language notice after the controller is gone reaches nothing.
    controller.reset();
    LanguageNotifier::instance().post();
}

// The icon waits for a panel that comes after Quillmere, past a watcher
// without a host (that is no tray yet) to the host's signal; the panel then
// gets the item, its menu and its tooltip.
TEST_F(TrayTest, TheIconWaitsForAHostThenItsMenuAndTooltipGoToThePanel) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection appSide = bus.connect(QStringLiteral("quillmere-app"));
    QDBusConnection panelSide = bus.connect(QStringLiteral("quillmere-panel"));
    ASSERT_TRUE(appSide.isConnected() && panelSide.isConnected());
    StandInWatcher stand;
    log.lines.clear();
    StatusBarController controller(manager, {}, appSide);
    const QString problem = "no mouse can be taken over: /dev/input/event3 (Keys) is a keyboard";
    controller.setMouseProblem(problem);

    // The panel's watcher comes, without a host yet.
    ASSERT_TRUE(panelSide.registerObject(TrayHostWatcher::watcherPath, &stand,
                                         QDBusConnection::ExportAllContents) &&
                panelSide.registerService(TrayHostWatcher::watcherService));
    // Asked and answered, it makes no item yet.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return stand.reads > 0 && controller.findChildren<QDBusPendingCallWatcher*>().isEmpty();
    }));
    EXPECT_EQ(controller.notifierItem(), nullptr);
    stand.hostRegistered = true;
    ASSERT_TRUE(panelSide.send(
        QDBusMessage::createSignal(TrayHostWatcher::watcherPath, TrayHostWatcher::watcherInterface,
                                   QStringLiteral("StatusNotifierHostRegistered"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stand.registrations == 1; }, 3000));
    EXPECT_EQ(log.lines.size(), 1u) << "one line while waiting, nothing more";

    // What a panel's process asks, in its words (gdbus's text of the reply).
    const auto ask = [&](const QString& path, const QString& method, const QStringList& args) {
        QProcess gdbus;
        gdbus.start("gdbus", QStringList{"call", "--address", bus.address(), "--dest", stand.item,
                                         "--object-path", path, "--method", method, "--"} +
                                 args);
        // This thread answers the call: its loop must run meanwhile.
        EXPECT_TRUE(QTest::qWaitFor([&] { return gdbus.state() == QProcess::NotRunning; }, 10000))
            << method.toStdString();
        return gdbus.readAllStandardOutput().trimmed().toStdString();
    };
    const auto toolTip = [&] {
        return ask(StatusNotifierItem::itemPath, "org.freedesktop.DBus.Properties.Get",
                   {"org.kde.StatusNotifierItem", "ToolTip"});
    };
    // The menu's revision, then each entry's label ("-" for a separator) and
    // toggle state.
    const auto menu = [&] {
        const QString layout =
            QString::fromStdString(ask(StatusNotifierItem::menuPath,
                                       "com.canonical.dbusmenu.GetLayout", {"0", "-1", "@as []"}));
        static const QRegularExpression entry(
            "'label': <'([^']*)'>|'type': <'separator'>|'toggle-state': <(\\d+)>");
        QStringList entries{layout.section(',', 0, 0).mid(8)};
        for (const QRegularExpressionMatch& m : entry.globalMatch(layout))
            entries << (m.hasCaptured(2)   ? "toggle " + m.captured(2)
                        : m.hasCaptured(1) ? m.captured(1)
                                           : QStringLiteral("-"));
        return entries;
    };

    const QStringList before = menu();
    EXPECT_EQ(before.mid(1).join('|').toStdString(),
              std::string(AppInfo::versionTitle) +
                  "|-|Enabled|toggle 1|-|Preferences...|Check for Updates...|-|Quit");
    // The tooltip says why no mouse is taken, and nothing once one is.
    const std::string title = QCoreApplication::applicationName().toStdString();
    EXPECT_EQ(toolTip(),
              "(<('', @a(iiay) [], '" + title + "', '" + problem.toStdString() + "')>,)");
    controller.setMouseProblem({});
    EXPECT_EQ(toolTip(), "(<('', @a(iiay) [], '" + title + "', '')>,)");

    // Scrolling switched off by a click on Enabled, as libdbusmenu sends it,
    // then another language: the panel reads the new state and texts.
    EXPECT_EQ(ask(StatusNotifierItem::menuPath, "com.canonical.dbusmenu.EventGroup",
                  {"[(3, 'clicked', <int32 0>, uint32 0)]"}),
              "(@ai [],)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.hasEventTap(); }));
    store.setObject("language", std::string("ja"));
    LanguageNotifier::instance().post();
    const QStringList after = menu();
    EXPECT_GT(after[0].toUInt(), before[0].toUInt());
    EXPECT_EQ(after.mid(1),
              (QStringList{AppInfo::versionTitle, "-", L10n::enabled(), "toggle 0", "-",
                           L10n::preferences(), L10n::checkForUpdates(), "-", L10n::quit()}));

    // A panel that restarts brings a new watcher, which is told about the item again.
    ASSERT_TRUE(panelSide.unregisterService(TrayHostWatcher::watcherService));
    ASSERT_TRUE(panelSide.registerService(TrayHostWatcher::watcherService));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stand.registrations == 2; }, 3000));
}

} // namespace
} // namespace quillmere::testing

#include "tray_test.moc"
