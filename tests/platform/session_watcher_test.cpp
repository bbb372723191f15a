// Following the login session through a stand-in for logind on a private
// bus: the seat changing hands, sleep, and no logind at all.
#include "platform/SessionWatcher.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere::testing {
namespace {

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

        const auto next = [&] {
            EXPECT_TRUE(spy.wait(5000));
            return !spy.isEmpty() && spy.takeLast().at(0).toBool();
        };
        spy.clear();
        logind.setActive(true);
        EXPECT_TRUE(next());
        logind.setActive(false, false); // only invalidated: asked again
        EXPECT_FALSE(next());
        logind.setActive(true);
        EXPECT_TRUE(next());
        emit logind.manager.PrepareForSleep(true);
        EXPECT_FALSE(next());
        emit logind.manager.PrepareForSleep(false);
        EXPECT_TRUE(next());
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
