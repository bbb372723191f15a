#include "NetFixture.h"

#include "engine/ScrollConfig.h"
#include "net/Network.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

namespace quillmere::nettest {

void NetFixture::SetUp() {
    ASSERT_TRUE(TestHttpsServer::certificateReady())
        << "openssl could not make the test certificate";
    ScrollConfig::setDefaults(&store);
    updateServer = std::make_unique<TestHttpsServer>();
    analyticsServer = std::make_unique<TestHttpsServer>();
    ASSERT_TRUE(updateServer->isListening());
    ASSERT_TRUE(analyticsServer->isListening());
    ASSERT_TRUE(downloads.isValid());

    hooks.updateOrigin = updateServer->origin();
    hooks.analyticsOrigin = analyticsServer->origin();
    hooks.sslConfiguration = TestHttpsServer::clientConfiguration();
    hooks.downloadsFolder = downloads.path();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        const bool local = request.url().host() == QLatin1String("127.0.0.1");
        EXPECT_TRUE(local) << "request to a non-local host: "
                           << request.url().toString().toStdString();
        return local;
    };
    hooks.urlOpener = [this](const QUrl& url) { opened.append(url); };
    UpdateChecker::Alerts shown;
    shown.updateAvailable = [this](const UpdateChecker::Offer& offer) {
        alerts.append(ShownAlert{offer});
        return answer;
    };
    shown.noUpdate = [this] { alerts.append(ShownAlert{}); };
    UpdateChecker::setAlerts(shown);
    applyHooks();
    QObject::connect(&Network::manager(), &QNetworkAccessManager::finished, updateServer.get(),
                     [this] { ++finishedReplies; });
}

void NetFixture::TearDown() {
    // Replies still running (stalled servers) end here, not in the next test.
    for (QNetworkReply* reply : Network::manager().findChildren<QNetworkReply*>())
        reply->abort();
    settle();
    installLockdown();
    ScrollConfig::setDefaults(nullptr);
    updateServer.reset();
    analyticsServer.reset();
    settle();
}

void installLockdown() {
    NetTesting::Hooks hooks;
    hooks.requestGate = [](const QNetworkRequest& request) {
        ADD_FAILURE() << "request outside a network test: "
                      << request.url().toString().toStdString();
        return false;
    };
    hooks.urlOpener = [](const QUrl& url) {
        ADD_FAILURE() << "URL opened outside a network test: " << url.toString().toStdString();
    };
    UpdateChecker::Alerts alerts;
    alerts.updateAvailable = [](const UpdateChecker::Offer& offer) {
        ADD_FAILURE() << "update alert outside a network test: " << offer.version.toStdString();
        return UpdateChecker::Answer::later;
    };
    alerts.noUpdate = [] { ADD_FAILURE() << "alert outside a network test"; };
    UpdateChecker::setAlerts(alerts);
    NetTesting::install(std::move(hooks));
}

void NetFixture::applyHooks() {
    NetTesting::install(hooks);
}

bool NetFixture::waitForFinished(int count, int timeoutMs) {
    const bool done = waitUntil([&] { return finishedReplies >= count; }, timeoutMs);
    settle();
    return done;
}

bool NetFixture::waitForAlerts(int count, int timeoutMs) {
    return waitUntil([&] { return alerts.size() >= count; }, timeoutMs);
}

void NetFixture::settle() {
    QTest::qWait(30);
}

} // namespace quillmere::nettest
