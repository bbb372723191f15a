// Asking rtkit for realtime priority, against a stand-in for rtkit on a
// private bus: what is asked for, what is logged, and that nothing waits.
#include "platform/Realtime.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace quillmere::testing {
namespace {

class StandInRtkit : public QObject {
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
    void MakeThreadRealtime(qulonglong thread, uint priority, const QDBusMessage& call) {
        askedThread = thread;
        askedPriority = priority;
        if (refusal.isEmpty())
            return;
        call.setDelayedReply(true);
        QDBusConnection::connectToBus(QString(), QStringLiteral("rtkit"))
            .send(call.createErrorReply(refusal, QStringLiteral("Operation not permitted")));
    }
};

TEST(Realtime, AsksRtkitForAModestPriorityWithinItsLimitsAndLogsTheOutcome) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    struct Case {
        int maxPriority;
        const char* refusal;
        uint asked;
        const char* line;
    };
    const Case cases[] = {
        {20, "", 10, "[Quillmere] the input thread runs at realtime priority 10"},
        {5, "", 5, "[Quillmere] the input thread runs at realtime priority 5"},
        {20, "org.freedesktop.DBus.Error.AccessDenied", 10,
         "[Quillmere] no realtime priority for the input thread (Operation not permitted); it "
         "runs at normal priority"},
    };
    QDBusConnection service = bus.connect(QStringLiteral("rtkit"));
    StandInRtkit rtkit;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &rtkit,
                                       QDBusConnection::ExportAllContents));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.RealtimeKit1")));
    const QDBusConnection app = bus.connect(QStringLiteral("app"));
    for (const Case& c : cases) {
        LogCapture log;
        rtkit.maxPriority = c.maxPriority;
        rtkit.refusal = QString::fromLatin1(c.refusal);
        Realtime::request(4242, app);
        EXPECT_TRUE(log.lines.empty()) << "the request waited for an answer";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.lines.empty(); }, 5000));
        EXPECT_EQ(log.lines, std::vector<std::string>{c.line});
        EXPECT_EQ(rtkit.askedThread, 4242u);
        EXPECT_EQ(rtkit.askedPriority, c.asked);
        // rtkit serves only a process whose realtime CPU time is capped.
        rlimit limit{};
        getrlimit(RLIMIT_RTTIME, &limit);
        EXPECT_LE(limit.rlim_max, static_cast<rlim_t>(rtkit.maxTime));
    }

    // Without rtkit on the bus: one line, and the thread runs on as it was.
    service.unregisterService(QStringLiteral("org.freedesktop.RealtimeKit1"));
    LogCapture log;
    Realtime::request(4242, app);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.lines.empty(); }, 5000));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[Quillmere] no realtime priority for the input thread (", 0), 0u)
        << log.lines[0];
}

} // namespace
} // namespace quillmere::testing

#include "realtime_test.moc"
