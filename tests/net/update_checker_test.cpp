#include "AppInfo.h"
#include "NetFixture.h"
#include "net/UpdateChecker.h"

namespace quillmere::nettest {
namespace {

const QByteArray noUpdate = R"({"updateAvailable":false,"latestVersion":"1.0.2"})";
const QByteArray update = R"({"updateAvailable":true,"latestVersion":"1.1.0")";
// Every check names the running version.
const QByteArray checkTarget = QByteArray("/checkUpdate/?v=") + AppInfo::version;

class UpdateCheckerTest : public NetFixture {
protected:
    // Serves the reply to one check of the given kind and waits until it is done.
    void check(const ScriptedReply& reply, bool userInitiated = true) {
        updateServer.replies = {reply};
        ASSERT_TRUE(
            finishes(userInitiated ? UpdateChecker::checkForUpdate : UpdateChecker::checkSilently));
    }
};

// What the user is shown: an offer whatever the kind of check, its text made
// safe (no control characters, none that reorder or hide text); "no update"
// only when the user asked, also with an error status; nothing for a reply
// of another shape, a redirect to plain http, or one too large though valid,
// announced far too large or growing without end (cut off early: the last
// two would otherwise wait for the 60 s time-out).
TEST_F(UpdateCheckerTest, AlertsFollowTheReplyAndWhoAsked) {
    constexpr qint64 noLength = ScriptedReply::noLength;
    TestHttpsServer plain(true);
    plain.replies = {{update + "}"}};
    const struct {
        ScriptedReply reply;
        bool userInitiated;
        const char* shown;
    } cases[] = {
        {{noUpdate}, false, ""},
        {{noUpdate, 500}, true, "no update"},
        {{update + R"(,"releaseNotes":null,"downloadUrl":null,"extra":[{}]})"}, false, "1.1.0"},
        {{update + R"(,"releaseNotes":""})"}, true, "1.1.0|"},
        {{R"({"updateAvailable":true,"latestVersion":"<a>1.1</a>\u0007\n\t\u202e",)"
          R"("releaseNotes":"<h1>Big</h1>\r\nok\u001b[2J\u0000!\rb\tc\u007f\u0085é)"
          R"(\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069\u200b\u200c\u200d)"
          R"(\u200e\u200f\u061c"})"},
         true,
         "<a>1.1</a>|<h1>Big</h1>\nok[2J!\nb\tcé"},
        {{"<html><body><h1>502 Bad Gateway</h1></body></html>", 502}, true, ""},
        {{R"(["updateAvailable", true])"}, true, ""},
        {{R"({"latestVersion":"1.1.0"})"}, true, ""},
        {{R"({"updateAvailable":true})"}, true, ""},
        {{R"({"updateAvailable":null,"latestVersion":"1.1.0"})"}, true, ""},
        {{R"({"updateAvailable":"true","latestVersion":"1.1.0"})"}, true, ""},
        {{R"({"updateAvailable":true,"latestVersion":110})"}, true, ""},
        {{update + R"(,"downloadUrl":{"href":"x"}})"}, true, ""},
        {{update + R"(,"releaseNotes":false})"}, true, ""},
        {{{}, 302, "Location: " + plain.url(checkTarget).toEncoded() + "\r\n"}, true, ""},
        {{update + R"(,"releaseNotes":")" + QByteArray(1024 * 1024, 'n') + R"("})"}, true, ""},
        {{noUpdate, 200, {}, 50 * 1024 * 1024, false}, true, ""},
        {{QByteArray(1024 * 1024 + 4096, ' '), 200, {}, noLength, false}, true, ""},
        {{noUpdate, 200, {}, noLength}, true, "no update"}, // small: read to the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body.left(80).toStdString());
        alerts.clear();
        check(c.reply, c.userInitiated);
        EXPECT_EQ(alerts.join(';'), c.shown);
    }
    EXPECT_TRUE(plain.requests.isEmpty());
    EXPECT_TRUE(opened.isEmpty()); // "Later" does nothing
    EXPECT_EQ(updateServer.requests.value(0).line, "GET " + checkTarget + " HTTP/1.1");
    hooks.updateOrigin = QUrl(); // the real address, refused by the gate
    applyHooks();
    UpdateChecker::checkForUpdate();
    EXPECT_EQ(requested.last(), QUrl("https://quillmere.app" + checkTarget));
}

TEST_F(UpdateCheckerTest, VisitWebsiteOpensTheSiteAndDownloadFetchesTheOfferedFile) {
    answer = UpdateChecker::Answer::visitWebsite;
    check({update + "}"}, false);
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://quillmere.app")});

    answer = UpdateChecker::Answer::download;
    TestHttpsServer files;
    files.replies = {{"new image"}};
    updateServer.replies = {
        {update + R"(,"downloadUrl":")" + files.url("/Q%201.1.0.dmg").toEncoded() + "\"}"}};
    ASSERT_TRUE(finishes(UpdateChecker::checkSilently, 2));
    EXPECT_EQ(opened.value(1), QUrl::fromLocalFile(downloads.filePath("Q 1.1.0.dmg")));
}

// A server whose certificate is not trusted is never asked (a fresh one, so
// that no earlier TLS session can be resumed); a reply that stalls ends at
// the time-out. Nothing is shown.
TEST_F(UpdateCheckerTest, TransportFailuresShowNothing) {
    const QSslConfiguration trusted = *hooks.sslConfiguration;
    hooks.sslConfiguration->setCaCertificates({});
    applyHooks();
    check({noUpdate});
    EXPECT_TRUE(updateServer.requests.isEmpty());
    hooks.sslConfiguration = trusted;
    hooks.checkTimeoutMs = 300;
    applyHooks();
    check({noUpdate, 200, {}, 1000, false});
    EXPECT_TRUE(alerts.isEmpty());
}

} // namespace
} // namespace quillmere::nettest
