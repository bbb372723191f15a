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
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
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

// The menu as a panel reads it: each entry's label ("-" for a separator)
// and its toggle state, with the layout's revision.
struct PanelMenu {
    uint revision = 0;
    QStringList labels;
    QList<int> toggles;
};

PanelMenu readMenu(QDBusConnection& panel, const QString& service) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, StatusNotifierItem::menuPath,
                                                       QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = panel.call(call, QDBus::BlockWithGui);
    PanelMenu menu;
    if (reply.arguments().size() != 2)
        return menu;
    menu.revision = reply.arguments()[0].toUInt();
    const QDBusArgument root = reply.arguments()[1].value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant wrapped;
        root >> wrapped;
        const QDBusArgument child = wrapped.variant().value<QDBusArgument>();
        child.beginStructure();
        child >> id >> properties;
        child.beginArray();
        child.endArray();
        child.endStructure();
        const bool separator = properties.value("type").toString() == "separator";
        menu.labels << (separator ? QStringLiteral("-") : properties.value("label").toString());
        menu.toggles << properties.value("toggle-state", -1).toInt();
    }
    root.endArray();
    root.endStructure();
    return menu;
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
    for (int i = 0; i < 60 && stand.items().isEmpty(); ++i)
        QTest::qWait(50);
    ASSERT_EQ(stand.items().size(), 1);
    ASSERT_NE(controller.notifierItem(), nullptr);
    EXPECT_EQ(controller.statusItem(), nullptr) << "no icon of Qt's own beside it";
    const QString service = stand.items()[0];
    EXPECT_TRUE(manager.hasEventTap());
    EXPECT_EQ(log.lines.size(), 1u) << "one line while waiting, nothing more";

    // The panel opens the menu on a left click too, and draws it itself.
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, StatusNotifierItem::itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ItemIsMenu");
    const QDBusMessage isMenu = panelSide.call(get, QDBus::BlockWithGui);
    ASSERT_EQ(isMenu.arguments().size(), 1) << isMenu.errorMessage().toStdString();
    EXPECT_TRUE(isMenu.arguments()[0].value<QDBusVariant>().variant().toBool());
    const PanelMenu menu = readMenu(panelSide, service);
    EXPECT_EQ(menu.labels, (QStringList{AppInfo::versionTitle, "-", "Enabled", "-",
                                        "Preferences...", "Check for Updates...", "-", "Quit"}));
    ASSERT_EQ(menu.toggles.size(), 8);
    EXPECT_EQ(menu.toggles[2], 1);

    // The tooltip says why no mouse is taken, and nothing once one is.
    const auto toolTip = [&] {
        QProcess reader;
        reader.start(QStringLiteral("gdbus"),
                     {"call", "--address", bus.address(), "--dest", service, "--object-path",
                      StatusNotifierItem::itemPath, "--method",
                      "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierItem",
                      "ToolTip"});
        // This thread answers the call: its loop must run meanwhile.
        if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 10000))
            return std::string("(no answer)");
        return reader.readAllStandardOutput().trimmed().toStdString();
    };
    const std::string title = QCoreApplication::applicationName().toStdString();
    EXPECT_EQ(toolTip(),
              "(<('', @a(iiay) [], '" + title + "', '" + problem.toStdString() + "')>,)");
    controller.setMouseProblem({});
    EXPECT_EQ(toolTip(), "(<('', @a(iiay) [], '" + title + "', '')>,)");

    // A click on "Enabled" in the panel's menu switches scrolling off, and
    // the panel reads the new state. Clicks come as libdbusmenu sends them.
    QProcess panel;
    panel.start(QStringLiteral("gdbus"),
                {"call", "--address", bus.address(), "--dest", service, "--object-path",
                 StatusNotifierItem::menuPath, "--method", "com.canonical.dbusmenu.EventGroup",
                 "[(3, 'clicked', <int32 0>, uint32 0)]"});
    for (int i = 0; i < 100 && (panel.state() != QProcess::NotRunning || manager.hasEventTap());
         ++i)
        QTest::qWait(25);
    EXPECT_EQ(panel.readAllStandardOutput().trimmed(), "(@ai [],)")
        << panel.readAllStandardError().toStdString();
    EXPECT_FALSE(manager.hasEventTap());
    const PanelMenu after = readMenu(panelSide, service);
    EXPECT_GT(after.revision, menu.revision);
    ASSERT_EQ(after.toggles.size(), 8);
    EXPECT_EQ(after.toggles[2], 0);

    // A panel that restarts is told about the item again.
    panelStops();
    panelStarts(true);
    for (int i = 0; i < 60 && stand.items().size() < 2; ++i)
        QTest::qWait(50);
    EXPECT_EQ(stand.items(), (QStringList{service, service}));
}

} // namespace
} // namespace quillmere::testing

#include "tray_host_watcher_test.moc"
