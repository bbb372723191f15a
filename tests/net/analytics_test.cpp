#include "NetFixture.h"
#include "engine/ScrollConfig.h"
#include "net/Analytics.h"
#include "net/Network.h"
#include "net/UpdateChecker.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace quillmere::nettest {
namespace {

const QByteArray collectTarget =
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
        analyticsServer->setReply(ScriptedReply{204, {}, {}, ScriptedReply::Mode::complete});
    }
    void TearDown() override {
        delete NetTesting::heartbeatTimer(); // no heartbeat outlives its test
        NetFixture::TearDown();
    }
    int analyticsRequests() const {
        int count = 0;
        for (const QUrl& url : requested)
            count += url.port() == analyticsServer->serverPort() ? 1 : 0;
        return count;
    }
};

TEST_F(AnalyticsTest, PostsOneCompactEventWithTheFixedRequestLine) {
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    Analytics::send("setting_changed", {{"setting_name", "scroll_speed"},
                                        {"setting_value", "3.0"},
                                        {"session_id", "caller"},
                                        {"engagement_time_msec", "caller"}});
    ASSERT_TRUE(analyticsServer->waitForRequests(1));
    const RecordedRequest& request = analyticsServer->requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, collectTarget);
    EXPECT_EQ(request.headers.value("content-type"), "application/json");

    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    ASSERT_TRUE(document.isObject());
    EXPECT_EQ(request.body, document.toJson(QJsonDocument::Compact));
    const QJsonObject body = document.object();
    EXPECT_EQ(body.keys(), (QStringList{"client_id", "events"}));
    ASSERT_EQ(body.value("events").toArray().size(), 1);
    const QJsonObject event = eventOf(request);
    EXPECT_EQ(event.keys(), (QStringList{"name", "params"}));
    EXPECT_EQ(event.value("name").toString(), "setting_changed");
    const QJsonObject params = event.value("params").toObject();
    EXPECT_EQ(params.value("setting_name").toString(), "scroll_speed");
    EXPECT_EQ(params.value("setting_value").toString(), "3.0");
    // This side's values replace the caller's; 100 is a JSON integer.
    EXPECT_TRUE(params.value("engagement_time_msec").isDouble());
    EXPECT_TRUE(request.body.contains("\"engagement_time_msec\":100"));
    const QString session = params.value("session_id").toString();
    EXPECT_TRUE(QRegularExpression("^[1-9][0-9]*$").match(session).hasMatch())
        << session.toStdString();
    // Made at the first event of the process, which may be an earlier test's.
    EXPECT_LE(session.toLongLong(), QDateTime::currentSecsSinceEpoch());
    EXPECT_GT(session.toLongLong(), before - 3600);
}

TEST_F(AnalyticsTest, TheRealEndpointIsTheMeasurementProtocolHost) {
    hooks.analyticsOrigin = QUrl();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        return false;
    };
    applyHooks();
    Analytics::send("app_launch");
    ASSERT_EQ(requested.size(), 1);
    EXPECT_EQ(requested.first().toString(),
              "https://www.google-analytics.com" + QString::fromLatin1(collectTarget));
}

TEST_F(AnalyticsTest, ClientIdIsMadeOnceAndKeptAsStored) {
    Analytics::send("app_launch", {{"app_version", "1.0.2"}, {"language", "en"}});
    Analytics::send("language_changed", {{"language", "ko"}});
    ASSERT_TRUE(analyticsServer->waitForRequests(2));
    const auto stored = store.string("ga_client_id");
    ASSERT_TRUE(stored);
    const QString id = QString::fromStdString(*stored);
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(id)
                    .hasMatch())
        << id.toStdString();
    const auto& requests = analyticsServer->requests();
    EXPECT_EQ(bodyOf(requests[0]).value("client_id").toString(), id);
    EXPECT_EQ(bodyOf(requests[1]).value("client_id").toString(), id);
    EXPECT_EQ(eventOf(requests[0]).value("params").toObject().value("session_id"),
              eventOf(requests[1]).value("params").toObject().value("session_id"));

    // Any stored text is sent unchanged.
    store.setObject("ga_client_id", std::string("not a uuid"));
    Analytics::send("app_launch");
    ASSERT_TRUE(analyticsServer->waitForRequests(3));
    EXPECT_EQ(bodyOf(requests[2]).value("client_id").toString(), "not a uuid");
    EXPECT_EQ(store.string("ga_client_id"), "not a uuid");
}

TEST_F(AnalyticsTest, PlaceholderMeasurementIdSwitchesEverythingOff) {
    hooks.measurementId = QStringLiteral("G-XXXXXXXXXX");
    applyHooks();
    Analytics::send("app_launch");
    Analytics::startHeartbeat(0.02);
    QTest::qWait(150);
    EXPECT_TRUE(requested.isEmpty());
    EXPECT_EQ(store.size(), 0u);
}

TEST_F(AnalyticsTest, HeartbeatSendsUserEngagementAfterEachInterval) {
    Analytics::startHeartbeat(0.2);
    QCoreApplication::processEvents();
    EXPECT_EQ(analyticsRequests(), 0); // nothing at start
    ASSERT_TRUE(analyticsServer->waitForRequests(2));
    for (const RecordedRequest& request : analyticsServer->requests()) {
        const QJsonObject event = eventOf(request);
        EXPECT_EQ(event.value("name").toString(), "user_engagement");
        EXPECT_EQ(event.value("params").toObject().keys(),
                  (QStringList{"engagement_time_msec", "session_id"}));
    }
}

TEST_F(AnalyticsTest, RestartingTheHeartbeatLeavesOneOnTheNewInterval) {
    Analytics::startHeartbeat(0.02);
    QTimer* first = NetTesting::heartbeatTimer();
    ASSERT_NE(first, nullptr);
    Analytics::startHeartbeat(300.0);
    QTimer* second = NetTesting::heartbeatTimer();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isActive());
    EXPECT_EQ(second->interval(), 300'000);
    EXPECT_EQ(second->timerType(), Qt::PreciseTimer);
    QTest::qWait(200); // the old 20 ms timer would have fired several times
    EXPECT_EQ(analyticsRequests(), 0);

    // An unusable period stops the heartbeat instead of flooding the server.
    for (double bad : {0.0, -1.0, std::nan("")}) {
        Analytics::startHeartbeat(bad);
        EXPECT_EQ(NetTesting::heartbeatTimer(), nullptr) << bad;
    }
}

TEST_F(AnalyticsTest, LostEventsAreNotRetriedAndBlockNothing) {
    hooks.analyticsTimeoutMs = 300;
    applyHooks();
    const int before = finishedReplies;

    // Server down.
    hooks.analyticsOrigin = TestHttpsServer::closedOrigin();
    applyHooks();
    Analytics::send("app_launch");
    // Server error, and a server that never answers.
    hooks.analyticsOrigin = analyticsServer->origin();
    applyHooks();
    int served = 0;
    analyticsServer->setHandler([&served](const RecordedRequest&) {
        ScriptedReply reply;
        reply.status = 500;
        reply.mode = served++ == 0 ? ScriptedReply::Mode::complete : ScriptedReply::Mode::silent;
        reply.body = QByteArray(64 * 1024, 'e');
        return reply;
    });
    Analytics::send("app_launch");
    Analytics::send("app_launch");

    // Meanwhile an update check goes through untouched.
    updateServer->setReply(ScriptedReply{200,
                                         R"({"updateAvailable":false,"latestVersion":"1.0.2"})",
                                         {},
                                         ScriptedReply::Mode::complete});
    UpdateChecker::checkForUpdate();
    ASSERT_TRUE(waitForAlerts(1));

    ASSERT_TRUE(waitForFinished(before + 4));
    QTest::qWait(400);
    EXPECT_EQ(analyticsServer->requests().size(), 2); // no retry
    EXPECT_EQ(finishedReplies, before + 4);
    // Every reply was released.
    settle();
    EXPECT_TRUE(Network::manager().findChildren<QNetworkReply*>().isEmpty());
}

} // namespace
} // namespace quillmere::nettest
