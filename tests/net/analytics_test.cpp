#include "NetFixture.h"
#include "net/Analytics.h"
#include "net/Network.h"
#include "net/UpdateChecker.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace quillmere::nettest {
namespace {

const QString collectTarget =
    "/mp/collect?measurement_id=G-7QWZR25106&api_secret=Kt4vNw8cRz2LpQm6YhsB1e";

QJsonObject bodyOf(const RecordedRequest& request) {
    return QJsonDocument::fromJson(request.body).object();
}

QJsonObject eventOf(const RecordedRequest& request) {
    return bodyOf(request).value("events").toArray().at(0).toObject();
}

class AnalyticsTest : public NetFixture {
protected:
    void SetUp() override {
        NetFixture::SetUp();
        analyticsServer.setReply({204});
    }
    void TearDown() override {
        delete NetTesting::heartbeatTimer(); // no heartbeat outlives its test
        NetFixture::TearDown();
    }
    bool waitForEvents(int count) {
        return QTest::qWaitFor([&] { return analyticsServer.requests.size() >= count; }, 10'000);
    }
};

TEST_F(AnalyticsTest, EachEventIsOneCompactPostWithTheStoredClientId) {
    EXPECT_EQ(addressOf([] { Analytics::send("app_launch"); }).toString(),
              "https://www.google-analytics.com" + collectTarget);

    Analytics::send("setting_changed", {{"setting_name", "scroll_speed"},
                                        {"session_id", "caller"},
                                        {"engagement_time_msec", "caller"}});
    ASSERT_TRUE(waitForEvents(1));
    Analytics::send("language_changed", {{"language", "ko"}});
    ASSERT_TRUE(waitForEvents(2));
    const RecordedRequest& first = analyticsServer.requests[0];
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.target, collectTarget.toLatin1());
    EXPECT_EQ(first.headers.value("content-type"), "application/json");
    EXPECT_EQ(first.body, QJsonDocument(bodyOf(first)).toJson(QJsonDocument::Compact));
    // One client identifier, made once as an upper-case UUID and stored, and
    // one session (the whole seconds of the process's first event) replace
    // what the caller gave, as does the engagement time.
    const QString id = QString::fromStdString(store.string("ga_client_id").value_or(""));
    EXPECT_TRUE(
        QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$").match(id).hasMatch());
    const QString session =
        eventOf(first).value("params").toObject().value("session_id").toString();
    EXPECT_GT(session.toLongLong(), 0);
    EXPECT_LE(session.toLongLong(), QDateTime::currentSecsSinceEpoch());
    const auto body = [&](const char* name, QJsonObject params) {
        params.insert("session_id", session);
        params.insert("engagement_time_msec", 100);
        return QJsonObject{{"client_id", id},
                           {"events", QJsonArray{QJsonObject{{"name", name}, {"params", params}}}}};
    };
    EXPECT_EQ(bodyOf(first), body("setting_changed", {{"setting_name", "scroll_speed"}}));
    EXPECT_EQ(bodyOf(analyticsServer.requests[1]), body("language_changed", {{"language", "ko"}}));
    // Any stored text is sent unchanged.
    store.setObject("ga_client_id", std::string("not a uuid"));
    Analytics::send("app_launch");
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(bodyOf(analyticsServer.requests[2]).value("client_id"), "not a uuid");
}

TEST_F(AnalyticsTest, PlaceholderMeasurementIdSwitchesEverythingOff) {
    hooks.measurementId = QStringLiteral("G-XXXXXXXXXX");
    applyHooks();
    Analytics::send("app_launch");
    Analytics::startHeartbeat(0.001);
    int ticks = 0;
    QObject::connect(NetTesting::heartbeatTimer(), &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }));
    EXPECT_TRUE(requested.isEmpty());
    EXPECT_EQ(store.size(), 0u); // not even a client identifier
}

TEST_F(AnalyticsTest, HeartbeatSendsUserEngagementEachIntervalAndRestartsAsOne) {
    Analytics::startHeartbeat(0.01);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(requested.isEmpty()); // nothing at start
    ASSERT_TRUE(waitForEvents(2));
    for (const RecordedRequest& request : analyticsServer.requests) {
        EXPECT_EQ(eventOf(request).value("name"), "user_engagement");
        EXPECT_EQ(eventOf(request).value("params").toObject().keys(),
                  (QStringList{"engagement_time_msec", "session_id"}));
    }

    const QPointer<QTimer> first = NetTesting::heartbeatTimer();
    Analytics::startHeartbeat(300.0);
    EXPECT_TRUE(first.isNull() || !first->isActive());
    ASSERT_NE(NetTesting::heartbeatTimer(), nullptr);
    EXPECT_TRUE(NetTesting::heartbeatTimer()->isActive());
    EXPECT_EQ(NetTesting::heartbeatTimer()->interval(), 300'000);
    // An unusable period stops the heartbeat instead of flooding the server.
    for (double bad : {0.0, -1.0, std::nan("")}) {
        Analytics::startHeartbeat(bad);
        EXPECT_EQ(NetTesting::heartbeatTimer(), nullptr) << bad;
    }
}

TEST_F(AnalyticsTest, LostEventsAreNotRetriedAndBlockNothing) {
    hooks.analyticsTimeoutMs = 300;
    hooks.analyticsOrigin = TestHttpsServer::closedOrigin(); // server down
    applyHooks();
    Analytics::send("app_launch");
    hooks.analyticsOrigin = analyticsServer.origin();
    applyHooks();
    // A server error, then a server that never answers.
    analyticsServer.handler = [served = 0](const RecordedRequest&) mutable {
        using Mode = ScriptedReply::Mode;
        return ScriptedReply{
            500, QByteArray(64 * 1024, 'e'), {}, served++ == 0 ? Mode::complete : Mode::silent};
    };
    Analytics::send("app_launch");
    Analytics::send("app_launch");
    // Meanwhile an update check goes through untouched.
    updateServer.setReply({200, R"({"updateAvailable":false,"latestVersion":"1.0.2"})"});
    UpdateChecker::checkForUpdate();

    ASSERT_TRUE(waitForFinished(4));
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_EQ(requested.size(), 4); // no retry
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Network::manager().findChildren<QNetworkReply*>().isEmpty()); // all released
}

} // namespace
} // namespace quillmere::nettest
