// Waiting for a tray host, on a private session bus with a stand-in for the
// panel's status-notifier watcher; and the tray icon that follows it.

#include "UiTestSupport.h"
#include "support/PrivateBus.h"

#include "AppInfo.h"
#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/StatusBarController.h"
#include "ui/StatusNotifierItem.h"
#include "ui/TrayHostWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

namespace quillmere::testing {
namespace {

// What a panel registers on the bus: the watcher name, with its host flag,
// taking the items that register with it.
class StandInWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    // Read on the stand-in's own thread, written by the test's.
    std::atomic<bool> hostRegistered = false;
    bool isHostRegistered() const { return hostRegistered; }
    QStringList items() {
        QMutexLocker lock(&mutex_);
        return items_;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        QMutexLocker lock(&mutex_);
        items_ << service;
    }

private:
    QMutex mutex_;
    QStringList items_;

signals:
    void StatusNotifierHostRegistered();
};

class TrayHostWatcherTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        if (!bus.ok())
            GTEST_SKIP() << "no dbus-daemon";
        appSide = bus.connect(QStringLiteral("quillmere-app"));
        panelSide = bus.connect(QStringLiteral("quillmere-panel"));
        ASSERT_TRUE(appSide.isConnected());
        ASSERT_TRUE(panelSide.isConnected());
        // The panel answers from its own thread, as another process would,
        // so a blocking query from this thread gets its reply.
        panelThread.start();
        stand.moveToThread(&panelThread);
    }

    void TearDown() override {
        if (panelThread.isRunning()) {
            panelStops();
            QMetaObject::invokeMethod(
                &stand, [this] { stand.moveToThread(QCoreApplication::instance()->thread()); },
                Qt::BlockingQueuedConnection);
            panelThread.quit();
            panelThread.wait();
        }
        UiTest::TearDown();
    }

    // Runs on the panel's thread, where the stand-in lives.
    template <typename F> void onPanelThread(F work) {
        QMetaObject::invokeMethod(&stand, work, Qt::BlockingQueuedConnection);
    }

    void panelStarts(bool withHost) {
        stand.hostRegistered = withHost;
        bool registered = false;
        onPanelThread([&] {
            registered = panelSide.registerObject(TrayHostWatcher::watcherPath, &stand,
                                                  QDBusConnection::ExportAllContents) &&
                         panelSide.registerService(TrayHostWatcher::watcherService);
        });
        ASSERT_TRUE(registered);
    }

    void panelStops() {
        onPanelThread([&] {
            panelSide.unregisterService(TrayHostWatcher::watcherService);
            panelSide.unregisterObject(TrayHostWatcher::watcherPath);
        });
    }

    void hostRegisters() {
        stand.hostRegistered = true;
        const QDBusMessage signal = QDBusMessage::createSignal(
            TrayHostWatcher::watcherPath, TrayHostWatcher::watcherInterface,
            QStringLiteral("StatusNotifierHostRegistered"));
        ASSERT_TRUE(panelSide.send(signal));
    }

    PrivateBus bus;
    QDBusConnection appSide{QString()};
    QDBusConnection panelSide{QString()};
    QThread panelThread;
    StandInWatcher stand;
};

TEST_F(TrayHostWatcherTest, SeesAHostOnlyWhenTheWatcherReportsOne) {
    TrayHostWatcher watcher(appSide);
    EXPECT_TRUE(watcher.isBusConnected());
    EXPECT_FALSE(watcher.isHostRegistered());
    panelStarts(false);
    EXPECT_FALSE(watcher.isHostRegistered()) << "a watcher without a host is not a tray";
    stand.hostRegistered = true;
    EXPECT_TRUE(watcher.isHostRegistered());

    // Watching starts after the host came: it is seen at once.
    QSignalSpy arrived(&watcher, &TrayHostWatcher::hostRegistered);
    watcher.watch();
    ASSERT_TRUE(arrived.wait(3000));
}

TEST_F(TrayHostWatcherTest, FiresOnceWhenAPanelWithAHostStartsLater) {
    TrayHostWatcher watcher(appSide);
    QSignalSpy arrived(&watcher, &TrayHostWatcher::hostRegistered);
    watcher.watch();
    EXPECT_TRUE(watcher.isWatching());
    QTest::qWait(50);
    EXPECT_EQ(arrived.count(), 0);

    panelStarts(true);
    ASSERT_TRUE(arrived.wait(3000));
    EXPECT_FALSE(watcher.isWatching());

    // A panel restart later changes nothing: the icon is already made.
    panelStops();
    panelStarts(true);
    QTest::qWait(200);
    EXPECT_EQ(arrived.count(), 1);
}

TEST_F(TrayHostWatcherTest, WaitsForTheHostWhenTheWatcherComesFirst) {
    TrayHostWatcher watcher(appSide);
    QSignalSpy arrived(&watcher, &TrayHostWatcher::hostRegistered);
    watcher.watch();
    panelStarts(false);
    QTest::qWait(300);
    EXPECT_EQ(arrived.count(), 0);
    hostRegisters();
    ASSERT_TRUE(arrived.wait(3000));
    EXPECT_EQ(arrived.count(), 1);
}

TEST_F(TrayHostWatcherTest, WithoutABusNothingIsWatched) {
    TrayHostWatcher watcher(QDBusConnection(QStringLiteral("no-bus")));
    EXPECT_FALSE(watcher.isBusConnected());
    EXPECT_FALSE(watcher.isHostRegistered());
    watcher.watch();
    EXPECT_FALSE(watcher.isWatching());
}

TEST_F(TrayHostWatcherTest, TheIconAndItsMenuGoToThePanelWhenItStartsAfterQuillmere) {
    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager(services, timers);
    manager.start();
    log.lines.clear();
    StatusBarActions actions;
    StatusBarController controller(manager, actions, appSide);
    EXPECT_EQ(controller.notifierItem(), nullptr);
    EXPECT_EQ(log.lines.size(), 1u);
    const QString problem = "no mouse can be taken over: /dev/input/event3 (Keys) is a keyboard";
    controller.setMouseProblem(problem);

    panelStarts(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stand.items().size() == 1; }, 3000));
    ASSERT_NE(controller.notifierItem(), nullptr);
    EXPECT_EQ(controller.statusItem(), nullptr) << "no icon of Qt's own beside it";
    const QString service = stand.items()[0];
    EXPECT_TRUE(manager.hasEventTap());
    EXPECT_EQ(log.lines.size(), 1u) << "one line while waiting, nothing more";

    // What a panel's process asks, in its words (gdbus's text of the reply).
    const auto ask = [&](const QString& path, const QString& method, const QStringList& args) {
        QProcess gdbus;
        gdbus.start("gdbus", QStringList{"call", "--address", bus.address(), "--dest", service,
                                         "--object-path", path, "--method", method, "--"} +
                                 args);
        // This thread answers the call: its loop must run meanwhile.
        EXPECT_TRUE(QTest::qWaitFor([&] { return gdbus.state() == QProcess::NotRunning; }, 10000))
            << method.toStdString();
        return gdbus.readAllStandardOutput().trimmed().toStdString();
    };
    const auto property = [&](const char* name) {
        return ask(StatusNotifierItem::itemPath, "org.freedesktop.DBus.Properties.Get",
                   {"org.kde.StatusNotifierItem", name});
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

    // The panel opens the menu on a left click too, and draws it itself.
    EXPECT_EQ(property("ItemIsMenu"), "(<true>,)");
    const QStringList before = menu();
    EXPECT_EQ(before.mid(1).join('|').toStdString(),
              std::string(AppInfo::versionTitle) +
                  "|-|Enabled|toggle 1|-|Preferences...|Check for Updates...|-|Quit");

    // The tooltip says why no mouse is taken, and nothing once one is.
    const std::string title = QCoreApplication::applicationName().toStdString();
    EXPECT_EQ(property("ToolTip"),
              "(<('', @a(iiay) [], '" + title + "', '" + problem.toStdString() + "')>,)");
    controller.setMouseProblem({});
    EXPECT_EQ(property("ToolTip"), "(<('', @a(iiay) [], '" + title + "', '')>,)");

    // A click on "Enabled" in the panel's menu switches scrolling off, and
    // the panel reads the new state. Clicks come as libdbusmenu sends them.
    EXPECT_EQ(ask(StatusNotifierItem::menuPath, "com.canonical.dbusmenu.EventGroup",
                  {"[(3, 'clicked', <int32 0>, uint32 0)]"}),
              "(@ai [],)");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager.hasEventTap(); }));
    const QStringList after = menu();
    EXPECT_GT(after[0].toUInt(), before[0].toUInt());
    EXPECT_EQ(after.value(4), "toggle 0");

    // A panel that restarts is told about the item again.
    panelStops();
    panelStarts(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stand.items().size() == 2; }, 3000));
    EXPECT_EQ(stand.items(), (QStringList{service, service}));
}

} // namespace
} // namespace quillmere::testing

#include "tray_host_watcher_test.moc"
