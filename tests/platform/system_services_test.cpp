// The system services the app asks, through stand-ins on a private bus:
// rtkit for the input thread's realtime priority (what is asked for, what
// is logged, and that nothing waits), and logind for the seat changing hands
// and sleep.
#include "platform/Realtime.h"
#include "platform/SessionWatcher.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"

#include <QDBusContext>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace quillmere::testing {
namespace {

class StandInRtkit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority MEMBER maxPriority)
    Q_PROPERTY(qlonglong RTTimeUSecMax MEMBER maxTime)

public:
    int maxPriority = 20;
    qlonglong maxTime = 200000;
    QString refusal; // an error name to answer with; empty grants
    qulonglong askedThread = 0;
    uint askedPriority = 0;

public slots:
    void MakeThreadRealtime(qulonglong thread, uint priority) {
        askedThread = thread;
        askedPriority = priority;
        if (!refusal.isEmpty())
            sendErrorReply(refusal, QStringLiteral("Operation not permitted"));
    }
};

TEST(Realtime, AsksRtkitForAModestPriorityWithinItsLimitsAndLogsTheOutcome) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    const QString name = QStringLiteral("org.freedesktop.RealtimeKit1");
    const struct {
        int maxPriority;
        const char* refusal; // nullptr: no rtkit on the bus
        uint asked;
        const char* line; // how the one line it logs begins
    } cases[] = {
        {20, "", 10, "[Quillmere] the input thread runs at realtime priority 10"},
        {5, "", 5, "[Quillmere] the input thread runs at realtime priority 5"},
        {20, "org.freedesktop.DBus.Error.AccessDenied", 10,
         "[Quillmere] no realtime priority for the input thread (Operation not permitted); it "
         "runs at normal priority"},
        {20, nullptr, 0, "[Quillmere] no realtime priority for the input thread ("},
    };
    QDBusConnection service = bus.connect(QStringLiteral("rtkit"));
    StandInRtkit rtkit;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &rtkit,
                                       QDBusConnection::ExportAllContents));
    const QDBusConnection app = bus.connect(QStringLiteral("app"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LogCapture log;
        ASSERT_TRUE(c.refusal ? service.registerService(name) : service.unregisterService(name));
        rtkit.maxPriority = c.maxPriority;
        rtkit.refusal = QString::fromLatin1(c.refusal);
        rtkit.askedPriority = 0;
        Realtime::request(4242, app);
        EXPECT_TRUE(log.lines.empty()) << "the request waited for an answer";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.lines.empty(); }, 5000));
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind(c.line, 0), 0u) << log.lines[0];
        EXPECT_EQ(rtkit.askedPriority, c.asked);
        EXPECT_EQ(rtkit.askedThread, 4242u);
    }
    // rtkit serves only a process whose realtime CPU time is capped.
    rlimit limit{};
    getrlimit(RLIMIT_RTTIME, &limit);
    EXPECT_LE(limit.rlim_max, static_cast<rlim_t>(rtkit.maxTime));
}

// The session is found however the app was started: from a terminal in the
// session, or by the desktop in a scope of its own outside it (logind then
// names the user's display session for "auto"), also with a logind that
// does not know "auto" yet.
TEST(SessionWatcher, FollowsTheSeatAndSleep) {
    const struct {
        const char* name;
        bool answersAuto;
        bool inSession;
    } cases[] = {
        {"started outside the session", true, false},
        {"a logind without \"auto\"", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateBus bus;
        if (!bus.ok())
            GTEST_SKIP() << "no dbus-daemon";
        StandInLogind logind;
        logind.manager.answersAuto = c.answersAuto;
        logind.manager.inSession = c.inSession;
        ASSERT_TRUE(logind.serveOn(bus.connect(QStringLiteral("logind"))));
        logind.session.active = false; // started in a session that is not in front
        SessionWatcher watcher(bus.connect(QStringLiteral("app")));
        QSignalSpy spy(&watcher, &SessionWatcher::activeChanged);
        ASSERT_TRUE(spy.wait(5000));
        EXPECT_FALSE(watcher.isActive());
        spy.clear();
        const std::pair<std::function<void()>, bool> steps[] = {
            {[&] { logind.setActive(true); }, true},
            {[&] { logind.setActive(false, false); }, false}, // only invalidated: asked again
            {[&] { logind.setActive(true); }, true},
            {[&] { emit logind.manager.PrepareForSleep(true); }, false},
            {[&] { emit logind.manager.PrepareForSleep(false); }, true},
        };
        for (const auto& [step, active] : steps) {
            step();
            ASSERT_TRUE(spy.wait(5000));
            EXPECT_EQ(spy.takeLast().at(0).toBool(), active);
        }
    }
}

TEST(SessionWatcher, WithoutLogindTheSessionStaysActiveAndOneLineSaysSo) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    LogCapture log;
    SessionWatcher watcher(bus.connect(QStringLiteral("app")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.lines.empty(); }, 5000));
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[Quillmere] no login session to follow (", 0), 0u);
    EXPECT_TRUE(watcher.isActive());
}

} // namespace
} // namespace quillmere::testing

#include "system_services_test.moc"
