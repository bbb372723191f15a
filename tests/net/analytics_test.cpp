#include "NetFixture.h"
#include "net/Analytics.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <cmath>

namespace quillmere::nettest {
namespace {

QJsonObject bodyOf(const RecordedRequest& request) {
    return QJsonDocument::fromJson(request.body).object();
}

class AnalyticsTest : public NetFixture {};

// One client identifier, made once and stored, and one session (the whole
// seconds of the process's first event) replace what the caller gave, as
// does the engagement time. An event the server does not take (an error
// that stalls until the time-out) is not sent again, and every reply is
// released.
TEST_F(AnalyticsTest, EachEventIsOneCompactPostWithTheStoredClientId) {
    hooks.analyticsTimeoutMs = 300;
    NetTesting::install(hooks);
    analyticsServer.replies = {{"error", 500, {}, 1000, false}, {}};
    ASSERT_TRUE(finishes([] {
        Analytics::send("setting_changed", {{"setting_name", "scroll_speed"},
                                            {"session_id", "caller"},
                                            {"engagement_time_msec", "caller"}});
    }));
    ASSERT_TRUE(finishes([] { Analytics::send("app_launch"); }));
    const QByteArray target =
        "/mp/collect?measurement_id=G-7QWZR25106&api_secret=Kt4vNw8cRz2LpQm6YhsB1e";
    const RecordedRequest& first = analyticsServer.requests[0];
    EXPECT_EQ(first.line, "POST " + target + " HTTP/1.1");
    EXPECT_TRUE(first.head.contains("\ncontent-type: application/json\r")) << first.head.data();
    EXPECT_EQ(first.body, QJsonDocument(bodyOf(first)).toJson(QJsonDocument::Compact));
    const QString id = QString::fromStdString(store.string("ga_client_id").value_or(""));
    EXPECT_FALSE(id.isEmpty());
    const QJsonValue session = bodyOf(first)["events"][0]["params"]["session_id"];
    EXPECT_GT(session.toString().toLongLong(), 0);
    EXPECT_LE(session.toString().toLongLong(), QDateTime::currentSecsSinceEpoch());
    const auto body = [&](const char* name, QJsonObject params) {
        params.insert("session_id", session);
        params.insert("engagement_time_msec", 100);
        return QJsonObject{{"client_id", id},
                           {"events", QJsonArray{QJsonObject{{"name", name}, {"params", params}}}}};
    };
    EXPECT_EQ(bodyOf(first), body("setting_changed", {{"setting_name", "scroll_speed"}}));
    EXPECT_EQ(bodyOf(analyticsServer.requests[1]), body("app_launch", {}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Network::manager().findChildren<QNetworkReply*>().isEmpty());

    hooks.analyticsOrigin = QUrl(); // the real address, refused by the gate
    NetTesting::install(hooks);
    Analytics::send("app_launch");
    EXPECT_EQ(requested.value(2), QUrl("https://www.google-analytics.com" + target));
}

// The placeholder measurement id switches everything off; with a real one
// the heartbeat sends user engagement each interval.
TEST_F(AnalyticsTest, PlaceholderIdSendsNothingElseTheHeartbeatSendsEachIntervalAndRestartsAsOne) {
    hooks.measurementId = QStringLiteral("G-XXXXXXXXXX");
    NetTesting::install(hooks);
    Analytics::send("app_launch");
    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    EXPECT_EQ(store.size(), 0u);      // not even a client identifier
    hooks.measurementId.reset();
    NetTesting::install(hooks);
    ASSERT_TRUE(finishes([] { Analytics::startHeartbeat(0.01); }, 2));
    EXPECT_GE(analyticsServer.requests.size(), 2);
    for (const RecordedRequest& request : analyticsServer.requests) {
        const QJsonValue event = bodyOf(request)["events"][0];
        EXPECT_EQ(event["name"], "user_engagement");
        EXPECT_EQ(event["params"].toObject().keys(),
                  (QStringList{"engagement_time_msec", "session_id"}));
    }
    const QPointer<QTimer> first = NetTesting::heartbeatTimer();
    Analytics::startHeartbeat(300.0);
    EXPECT_TRUE(first.isNull() || !first->isActive());
    // An unusable period stops the heartbeat instead of flooding the server.
    for (double bad : {0.0, -1.0, std::nan("")}) {
        Analytics::startHeartbeat(bad);
        EXPECT_EQ(NetTesting::heartbeatTimer(), nullptr) << bad;
    }
}

} // namespace
} // namespace quillmere::nettest
