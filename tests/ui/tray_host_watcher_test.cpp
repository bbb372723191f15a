// Waiting for a tray host, on a private session bus with a stand-in for the
// panel's status-notifier watcher; and the tray icon that follows it, as a
// panel's process sees it. (A real panel coming late and restarting, and its
// clicks in the menu, are the sway desktop VM test's.)

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
#include <QDBusPendingCallWatcher>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
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
    mutable std::atomic<int> reads = 0;
    bool isHostRegistered() const {
        ++reads;
        return hostRegistered;
    }
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
        ASSERT_TRUE(appSide.isConnected() && panelSide.isConnected());
        // The panel answers from its own thread, as another process would,
        // so a blocking query from this thread gets its reply.
        stand = new StandInWatcher;
        stand->moveToThread(&panelThread);
        QObject::connect(&panelThread, &QThread::finished, stand, &QObject::deleteLater);
        panelThread.start();
    }

    void TearDown() override {
        panelThread.quit();
        panelThread.wait();
        UiTest::TearDown();
    }

    PrivateBus bus;
    QDBusConnection appSide{QString()};
    QDBusConnection panelSide{QString()};
    QThread panelThread;
    StandInWatcher* stand = nullptr;
};

// The icon waits for a panel that comes after Quillmere, past a watcher
// without a host (that is no tray yet) to the host's signal; the panel then
// gets the item, its menu and its tooltip.
TEST_F(TrayHostWatcherTest, TheIconWaitsForAHostThenItsMenuAndTooltipGoToThePanel) {
    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager(services, timers);
    manager.start();
    log.lines.clear();
    StatusBarController controller(manager, {}, appSide);
    EXPECT_EQ(controller.notifierItem(), nullptr);
    const QString problem = "no mouse can be taken over: /dev/input/event3 (Keys) is a keyboard";
    controller.setMouseProblem(problem);

    // The panel's watcher, without a host yet, answering on its own thread.
    bool registered = false;
    QMetaObject::invokeMethod(
        stand,
        [&] {
            registered = panelSide.registerObject(TrayHostWatcher::watcherPath, stand,
                                                  QDBusConnection::ExportAllContents) &&
                         panelSide.registerService(TrayHostWatcher::watcherService);
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(registered);
    // Asked and answered, it makes no item yet.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return stand->reads > 0 && controller.findChildren<QDBusPendingCallWatcher*>().isEmpty();
    }));
    EXPECT_EQ(controller.notifierItem(), nullptr);
    stand->hostRegistered = true;
    ASSERT_TRUE(panelSide.send(
        QDBusMessage::createSignal(TrayHostWatcher::watcherPath, TrayHostWatcher::watcherInterface,
                                   QStringLiteral("StatusNotifierHostRegistered"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stand->items().size() == 1; }, 3000));
    ASSERT_NE(controller.notifierItem(), nullptr);
    EXPECT_EQ(controller.statusItem(), nullptr) << "no icon of Qt's own beside it";
    EXPECT_EQ(log.lines.size(), 1u) << "one line while waiting, nothing more";

    // What a panel's process asks, in its words (gdbus's text of the reply).
    const auto ask = [&](const QString& path, const QString& method, const QStringList& args) {
        QProcess gdbus;
        gdbus.start("gdbus",
                    QStringList{"call", "--address", bus.address(), "--dest", stand->items()[0],
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

    // Scrolling switched off: the panel reads the new state.
    controller.toggleItem()->trigger();
    const QStringList after = menu();
    EXPECT_GT(after[0].toUInt(), before[0].toUInt());
    EXPECT_EQ(after.value(4), "toggle 0");
}

} // namespace
} // namespace quillmere::testing

#include "tray_host_watcher_test.moc"
