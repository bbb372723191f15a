// Following the login session through a stand-in for logind on a private
// bus: the seat changing hands, sleep, and no logind at all.
#include "platform/SessionWatcher.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere::testing {
namespace {

const QString sessionPath = QStringLiteral("/org/freedesktop/login1/session/c7");

class StandInManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath(sessionPath); }
signals:
    void PrepareForSleep(bool start);
};

class StandInSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active MEMBER active)
public:
    bool active = true;
};

// What logind does when the seat changes hands: the property, then the
// signal that says so (with the value, or only its name).
void announce(QDBusConnection& bus, StandInSession& session, bool active, bool withValue) {
    session.active = active;
    QDBusMessage changed =
        QDBusMessage::createSignal(sessionPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    QVariantMap values;
    QStringList invalidated;
    if (withValue)
        values.insert(QStringLiteral("Active"), active);
    else
        invalidated << QStringLiteral("Active");
    changed << QStringLiteral("org.freedesktop.login1.Session") << values << invalidated;
    bus.send(changed);
}

TEST(SessionWatcher, FollowsTheSeatAndSleep) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection logind = bus.connect(QStringLiteral("logind"));
    StandInManager manager;
    StandInSession session;
    ASSERT_TRUE(logind.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                      QDBusConnection::ExportAllContents));
    ASSERT_TRUE(logind.registerObject(sessionPath, &session, QDBusConnection::ExportAllContents));
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));

    session.active = false; // started in a session that is not in front
    SessionWatcher watcher(bus.connect(QStringLiteral("app")));
    QSignalSpy spy(&watcher, &SessionWatcher::activeChanged);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_FALSE(watcher.isActive());

    const auto next = [&] {
        EXPECT_TRUE(spy.wait(5000));
        return spy.takeLast().at(0).toBool();
    };
    spy.clear();
    announce(logind, session, true, true);
    EXPECT_TRUE(next());
    announce(logind, session, false, false); // only invalidated: asked again
    EXPECT_FALSE(next());
    announce(logind, session, true, true);
    EXPECT_TRUE(next());
    emit manager.PrepareForSleep(true);
    EXPECT_FALSE(next());
    emit manager.PrepareForSleep(false);
    EXPECT_TRUE(next());
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

#include "session_watcher_test.moc"
