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
    return {status, body, {{"Content-Type", "application/json"}}};
}

class UpdateCheckerTest : public NetFixture {
protected:
    // Serves the reply to one check of the given kind and waits until it is done.
    void check(const ScriptedReply& reply, bool userInitiated = true) {
        updateServer.setReply(reply);
        ASSERT_TRUE(
            finishes(userInitiated ? UpdateChecker::checkForUpdate : UpdateChecker::checkSilently));
    }
};

TEST_F(UpdateCheckerTest, AsksTheEndpointWithTheRunningVersion) {
    check(json(noUpdate), false);
    ASSERT_EQ(updateServer.requests.size(), 1);
    EXPECT_EQ(updateServer.requests[0].method, "GET");
    EXPECT_EQ(updateServer.requests[0].target, "/checkUpdate/" + versionQuery);
    EXPECT_EQ(addressOf(&UpdateChecker::checkForUpdate).toString(),
              QString::fromLatin1("https://quillmere.app/checkUpdate/" + versionQuery));
}

// What the user is shown: an offer whatever the kind of check, its text made
// safe; "no update" only when the user asked, also with an error status.
TEST_F(UpdateCheckerTest, AlertsFollowTheReplyAndWhoAsked) {
    using Offer = std::optional<UpdateChecker::Offer>;
    const struct {
        ScriptedReply reply;
        bool userInitiated;
        std::optional<Offer> shown; // nothing: no alert
    } cases[] = {
        {json(noUpdate), false, std::nullopt},
        {json(noUpdate, 500), true, Offer()},
        {json(update), false, UpdateChecker::Offer{"1.1.0", std::nullopt}},
        {json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":""})"), true,
         UpdateChecker::Offer{"1.1.0", ""}},
        {json(R"({"updateAvailable":true,"latestVersion":"<a>1.1</a>\u0007\n",)"
              R"("releaseNotes":"<h1>Big</h1>\r\nok\u001b[2J\u0000!"})"),
         true, UpdateChecker::Offer{"<a>1.1</a>", "<h1>Big</h1>\nok[2J!"}},
        // Malformed replies show nothing in either kind.
        {json("<html><body>Unavailable</body></html>", 503), true, std::nullopt},
        {json(R"({"updateAvailable":true})"), true, std::nullopt},
        {json(R"({"updateAvailable":true})"), false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body.toStdString());
        alerts.clear();
        check(c.reply, c.userInitiated);
        ASSERT_EQ(alerts.size(), c.shown ? 1 : 0);
        if (c.shown && *c.shown) {
            ASSERT_TRUE(alerts[0]);
            EXPECT_EQ(alerts[0]->version, (*c.shown)->version);
            EXPECT_EQ(alerts[0]->notes, (*c.shown)->notes);
        } else if (c.shown) {
            EXPECT_FALSE(alerts[0]);
        }
    }
    EXPECT_TRUE(opened.isEmpty()); // "Later" does nothing
}

TEST_F(UpdateCheckerTest, VisitWebsiteOpensTheProductSiteAndDownloadNeedsAUsableUrl) {
    answer = UpdateChecker::Answer::visitWebsite;
    check(json(update), false);
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://quillmere.app")});

    answer = UpdateChecker::Answer::download;
    for (const QByteArray url : {"null", "\"http://[::1\"", "\"relative/Q.dmg\""})
        check(
            json(R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":)" + url + "}"));
    EXPECT_EQ(alerts.size(), 4);
    EXPECT_EQ(requested.size(), 4); // the checks only
    EXPECT_EQ(opened.size(), 1);
}

// Too large though valid, announced far too large, growing without end: cut
// off early (the last two would otherwise wait for the 60 s time-out).
TEST_F(UpdateCheckerTest, OversizedRepliesAreCutOffEarly) {
    using Mode = ScriptedReply::Mode;
    const ScriptedReply oversized[] = {
        json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":")" +
             QByteArray(1024 * 1024, 'n') + R"("})"),
        {200, noUpdate, {}, Mode::stallInBody, 50 * 1024 * 1024},
        {200, QByteArray(1024 * 1024 + 4096, ' '), {}, Mode::closeDelimited, -1, true},
    };
    for (const ScriptedReply& reply : oversized)
        check(reply);
    EXPECT_TRUE(alerts.isEmpty());
    check({200, noUpdate, {}, Mode::closeDelimited}); // small, without a length: read to the end
    EXPECT_EQ(alerts.size(), 1);
}

// A reply that stalls ends at the time-out; a server whose certificate is
// not trusted (a fresh one, so that no earlier TLS session can be resumed)
// is never asked. Nothing is shown.
TEST_F(UpdateCheckerTest, TransportFailuresShowNothing) {
    hooks.checkTimeoutMs = 300;
    applyHooks();
    check({200, noUpdate, {}, ScriptedReply::Mode::stallInBody});
    TestHttpsServer untrusted;
    untrusted.setReply(json(noUpdate));
    hooks.updateOrigin = untrusted.origin();
    hooks.sslConfiguration->setCaCertificates({});
    applyHooks();
    check(json(noUpdate));
    EXPECT_TRUE(untrusted.requests.isEmpty());
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(UpdateCheckerTest, RedirectsAreFollowedOnlyToHttps) {
    TestHttpsServer secureTarget;
    TestHttpsServer plainTarget(true);
    secureTarget.setReply(json(noUpdate));
    plainTarget.setReply(json(update));
    check({302, {}, {{"Location", plainTarget.url("/checkUpdate/" + versionQuery).toEncoded()}}});
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(plainTarget.connections, 0);

    check({301, {}, {{"Location", secureTarget.url("/moved/" + versionQuery).toEncoded()}}});
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_FALSE(alerts[0]);
    EXPECT_EQ(secureTarget.requests.value(0).target, "/moved/" + versionQuery);
}

} // namespace
} // namespace quillmere::nettest
