// Waiting for a tray host, on a private session bus with a stand-in for the
// panel's status-notifier watcher; and the tray icon that follows it.

#include "UiTestSupport.h"
#include "support/PrivateBus.h"

#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "ui/StatusBarController.h"
#include "ui/TrayHostWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>

#include <atomic>

namespace quillmere::testing {
namespace {

// What a panel registers on the bus: the watcher name, with its host flag.
class StandInWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    // Read on the stand-in's own thread, written by the test's.
    std::atomic<bool> hostRegistered = false;
    bool isHostRegistered() const { return hostRegistered; }

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

TEST_F(TrayHostWatcherTest, TheTrayIconAppearsWhenThePanelStartsAfterQuillmere) {
    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager(services, timers);
    manager.start();
    log.lines.clear();
    StatusBarActions actions;
    StatusBarController controller(manager, actions, appSide);
    EXPECT_EQ(controller.statusItem(), nullptr);
    EXPECT_EQ(log.lines.size(), 1u);

    panelStarts(true);
    for (int i = 0; i < 60 && !controller.statusItem(); ++i)
        QTest::qWait(50);
    ASSERT_NE(controller.statusItem(), nullptr);
    EXPECT_EQ(controller.statusItem()->contextMenu(), controller.menu());
    EXPECT_TRUE(controller.statusItem()->isVisible());
    EXPECT_TRUE(controller.statusItem()->toolTip().isEmpty());
    EXPECT_TRUE(manager.hasEventTap());
    EXPECT_EQ(log.lines.size(), 1u) << "one line while waiting, nothing more";
}

} // namespace
} // namespace quillmere::testing

#include "tray_host_watcher_test.moc"
