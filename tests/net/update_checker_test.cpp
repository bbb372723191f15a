#include "AppInfo.h"
#include "NetFixture.h"
#include "net/UpdateChecker.h"

#include <QNetworkRequest>

namespace quillmere::nettest {
namespace {

const QByteArray noUpdate = R"({"updateAvailable":false,"latestVersion":"1.0.2"})";
const QByteArray update = R"({"updateAvailable":true,"latestVersion":"1.1.0"})";
// Every check names the running version.
const QByteArray versionQuery = QByteArray("?v=") + AppInfo::version;

ScriptedReply json(const QByteArray& body, int status = 200) {
    return {status, body, {{"Content-Type", "application/json"}}, ScriptedReply::Mode::complete};
}

class UpdateCheckerTest : public NetFixture {
protected:
    // Serves the reply to one check of the given kind and waits until it is done.
    void check(const ScriptedReply& reply, bool userInitiated = true) {
        updateServer->setReply(reply);
        const int before = finishedReplies;
        userInitiated ? UpdateChecker::checkForUpdate() : UpdateChecker::checkSilently();
        ASSERT_TRUE(waitForFinished(before + 1));
    }
};

TEST_F(UpdateCheckerTest, AsksTheEndpointWithTheRunningVersion) {
    check(json(noUpdate), false);
    ASSERT_EQ(updateServer->requests().size(), 1);
    EXPECT_EQ(updateServer->requests()[0].method, "GET");
    EXPECT_EQ(updateServer->requests()[0].target, "/checkUpdate/" + versionQuery);

    // Without a test origin the gate sees the shipped address and refuses it.
    hooks.updateOrigin = QUrl();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        return false;
    };
    applyHooks();
    UpdateChecker::checkForUpdate();
    EXPECT_EQ(requested.last().toString(),
              QString::fromLatin1("https://quillmere.app/checkUpdate/" + versionQuery));
}

TEST_F(UpdateCheckerTest, NoUpdateIsReportedOnlyWhenTheUserAsked) {
    check(json(noUpdate), false);
    EXPECT_TRUE(alerts.isEmpty());
    // A server error status with a valid reply counts like 200.
    check(json(noUpdate, 500));
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_FALSE(alerts[0].offer);
}

TEST_F(UpdateCheckerTest, UpdateIsOfferedInBothVariantsWithItsNotes) {
    check(json(update), false);
    check(json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":"One\nTwo"})"));
    check(json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":""})"));
    ASSERT_TRUE(waitForAlerts(3));
    const std::optional<QString> notes[] = {std::nullopt, "One\nTwo", ""};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(alerts[i].offer);
        EXPECT_EQ(alerts[i].offer->version, "1.1.0");
        EXPECT_EQ(alerts[i].offer->notes, notes[i]);
    }
    settle();
    EXPECT_TRUE(opened.isEmpty()); // "Later" does nothing
}

TEST_F(UpdateCheckerTest, ServerTextIsOfferedWithoutControlCharacters) {
    check(json(
        R"({"updateAvailable":true,"latestVersion":"<a href='x'>1.1</a>\u0007",)"
        R"("releaseNotes":"<h1>Big</h1><img src='https://t.example/p.png'>\r\nok\u001b[2J\u0000!"})"));
    ASSERT_TRUE(waitForAlerts(1));
    ASSERT_TRUE(alerts[0].offer);
    EXPECT_EQ(alerts[0].offer->version, "<a href='x'>1.1</a>");
    EXPECT_EQ(alerts[0].offer->notes, "<h1>Big</h1><img src='https://t.example/p.png'>\nok[2J!");
}

TEST_F(UpdateCheckerTest, VisitWebsiteOpensTheProductSiteAndDownloadNeedsAUsableUrl) {
    answer = UpdateChecker::Answer::visitWebsite;
    check(json(update), false);
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }, 5000));
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://quillmere.app")});

    answer = UpdateChecker::Answer::download;
    for (const QByteArray url : {"null", "\"http://[::1\"", "\"relative/Q.dmg\""})
        check(
            json(R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":)" + url + "}"));
    ASSERT_TRUE(waitForAlerts(4));
    settle();
    EXPECT_EQ(requested.size(), 4); // the checks only
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(UpdateCheckerTest, MalformedRepliesShowNothingInEitherVariant) {
    for (const QByteArray& body :
         {QByteArray(), QByteArray("<html><body>Unavailable</body></html>"),
          QByteArray(R"({"updateAvailable":true})"),
          QByteArray(R"({"updateAvailable":1,"latestVersion":"1.1.0"})"),
          QByteArray(R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":7})"),
          QByteArray(R"({"updateAvailable":false,"latestVersion":"1.0.2")")}) {
        check(json(body, body.startsWith('<') ? 503 : 200));
        check(json(body), false);
    }
    settle();
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(UpdateCheckerTest, OversizedRepliesAreCutOffEarly) {
    // Too large though valid; announced far too large; growing without end.
    // The last two would otherwise wait for the 60 s time-out, beyond check()'s wait.
    ScriptedReply large =
        json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":")" +
             QByteArray(1024 * 1024, 'n') + R"("})");
    ScriptedReply announced = json(noUpdate);
    announced.mode = ScriptedReply::Mode::stallInBody;
    announced.announcedLength = 50 * 1024 * 1024;
    ScriptedReply endless = json(QByteArray(1024 * 1024 + 4096, ' '));
    endless.mode = ScriptedReply::Mode::closeDelimited;
    endless.keepOpen = true;
    for (const ScriptedReply& reply : {large, announced, endless})
        check(reply);
    settle();
    EXPECT_TRUE(alerts.isEmpty());

    ScriptedReply smallUnannounced = json(noUpdate);
    smallUnannounced.mode = ScriptedReply::Mode::closeDelimited;
    check(smallUnannounced);
    EXPECT_TRUE(waitForAlerts(1));
}

TEST_F(UpdateCheckerTest, TransportFailuresShowNothing) {
    hooks.checkTimeoutMs = 300;
    applyHooks();
    ScriptedReply silent = json(noUpdate);
    silent.mode = ScriptedReply::Mode::silent;
    ScriptedReply stalled = json(noUpdate);
    stalled.mode = ScriptedReply::Mode::stallInBody;
    check(silent);
    check(stalled);
    EXPECT_EQ(updateServer->requests().size(), 2);

    // A server whose certificate is not trusted (a fresh one, so that no
    // earlier TLS session can be resumed).
    TestHttpsServer untrusted;
    untrusted.setReply(json(noUpdate));
    hooks.updateOrigin = untrusted.origin();
    hooks.sslConfiguration->setCaCertificates({});
    applyHooks();
    UpdateChecker::checkForUpdate();
    ASSERT_TRUE(waitForFinished(finishedReplies + 1));
    EXPECT_TRUE(untrusted.requests().isEmpty());

    hooks.updateOrigin = TestHttpsServer::closedOrigin();
    applyHooks();
    check(json(noUpdate));
    settle();
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(UpdateCheckerTest, RedirectsAreFollowedOnlyToHttps) {
    TestHttpsServer secureTarget;
    TestHttpsServer plainTarget(true);
    secureTarget.setReply(json(noUpdate));
    plainTarget.setReply(json(update));

    check({302, {}, {{"Location", plainTarget.url("/checkUpdate/?v=1.0.2").toEncoded()}}});
    settle();
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(plainTarget.connections(), 0);

    check({301, {}, {{"Location", secureTarget.url("/moved/?v=1.0.2").toEncoded()}}});
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_FALSE(alerts[0].offer);
    EXPECT_EQ(secureTarget.requests().value(0).target, "/moved/?v=1.0.2");
}

} // namespace
} // namespace quillmere::nettest
