#include "NetFixture.h"
#include "net/UpdateChecker.h"
#include "ui/Localization.h"

#include <QDir>
#include <QTest>

namespace quillmere::nettest {
namespace {

const QString later = "Later";
const QString download = "Download & Update";
const QString website = "Visit Website";

ScriptedReply json(const QByteArray& body, int status = 200) {
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = {{"Content-Type", "application/json"}};
    return reply;
}

class UpdateCheckerTest : public NetFixture {
protected:
    // Runs one check of the given kind and waits until its reply is done.
    void runCheck(bool userInitiated) {
        const int before = finishedReplies;
        if (userInitiated)
            UpdateChecker::checkForUpdate();
        else
            UpdateChecker::checkSilently();
        ASSERT_TRUE(waitForFinished(before + 1));
    }
};

TEST_F(UpdateCheckerTest, AsksTheEndpointWithTheRunningVersion) {
    updateServer->setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})"));
    runCheck(false);
    ASSERT_EQ(updateServer->requests().size(), 1);
    const RecordedRequest& request = updateServer->requests().first();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/checkUpdate/?v=1.0.2");
    EXPECT_TRUE(request.body.isEmpty());
}

TEST_F(UpdateCheckerTest, TheRealEndpointIsTheWebsiteHost) {
    // Without a test origin the gate sees the shipped URL and refuses it, so
    // nothing leaves the machine.
    hooks.updateOrigin = QUrl();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        return false;
    };
    applyHooks();
    UpdateChecker::checkForUpdate();
    ASSERT_EQ(requested.size(), 1);
    EXPECT_EQ(requested.first().toString(), "https://quillmere.app/checkUpdate/?v=1.0.2");
    settle();
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(UpdateCheckerTest, NoUpdateIsReportedOnlyWhenTheUserAsked) {
    updateServer->setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})"));
    runCheck(false);
    EXPECT_TRUE(boxes.isEmpty());

    runCheck(true);
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox& box = boxes.first();
    EXPECT_EQ(box.text, "No Updates");
    EXPECT_EQ(box.informativeText, "You are using the latest version.");
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_TRUE(box.allLabelsPlain);
    settle();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdateCheckerTest, UpdateAlertTextsAndButtonsInBothVariants) {
    updateServer->setReply(json(R"({"updateAvailable":true,"latestVersion":"1.1.0"})"));
    runCheck(false);
    ASSERT_TRUE(waitForBoxes(1));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(2));
    for (const ShownBox& box : boxes) {
        EXPECT_EQ(box.windowTitle, "Quillmere");
        EXPECT_EQ(box.text, "Quillmere - Update Available");
        // Without notes: exactly the message, no trailing line feeds.
        EXPECT_EQ(box.informativeText, L10n::updateMessage("1.1.0"));
        EXPECT_TRUE(box.informativeText.contains("1.1.0"));
        EXPECT_FALSE(box.informativeText.endsWith('\n'));
        EXPECT_EQ(box.buttons, (QStringList{later, download, website}));
        EXPECT_EQ(box.defaultButton, later);
        EXPECT_EQ(box.escapeButton, later);
    }
    // "Later" does nothing.
    settle();
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdateCheckerTest, ReleaseNotesFollowAfterOneEmptyLine) {
    updateServer->setReply(json(
        R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":"Line one\nLine two"})"));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(boxes[0].informativeText, L10n::updateMessage("1.1.0") + "\n\nLine one\nLine two");

    // Present but empty notes still bring the separator.
    updateServer->setReply(
        json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":""})"));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(2));
    EXPECT_EQ(boxes[1].informativeText, L10n::updateMessage("1.1.0") + "\n\n");
}

TEST_F(UpdateCheckerTest, ServerTextIsShownAsPlainTextWithoutControlCharacters) {
    updateServer->setReply(json(
        R"({"updateAvailable":true,"latestVersion":"<a href='x'>1.1</a>\u0007",)"
        R"("releaseNotes":"<h1>Big</h1><img src='https://tracker.example/p.png'>\r\nok\u001b[2J\u0000!"})"));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(1));
    const ShownBox& box = boxes.first();
    EXPECT_TRUE(box.allLabelsPlain);
    EXPECT_EQ(box.informativeText,
              L10n::updateMessage("<a href='x'>1.1</a>") +
                  "\n\n<h1>Big</h1><img src='https://tracker.example/p.png'>\nok[2J!");
}

TEST_F(UpdateCheckerTest, VisitWebsiteOpensTheProductSite) {
    updateServer->setReply(json(R"({"updateAvailable":true,"latestVersion":"1.1.0"})"));
    pressButton = website;
    runCheck(false);
    ASSERT_TRUE(waitForBoxes(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 5000));
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://quillmere.app")});
}

TEST_F(UpdateCheckerTest, DownloadWithoutUsableUrlDoesNothing) {
    pressButton = download;
    const QByteArray replies[] = {
        R"({"updateAvailable":true,"latestVersion":"1.1.0"})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":null})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":"http://[::1"})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":"relative/Q.dmg"})",
    };
    int shown = 0;
    for (const QByteArray& body : replies) {
        updateServer->setReply(json(body));
        runCheck(true);
        ASSERT_TRUE(waitForBoxes(++shown)) << body.constData();
    }
    settle();
    EXPECT_EQ(updateServer->requests().size(), 4); // the checks only
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(QDir(downloads.path())
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                    .isEmpty());
}

TEST_F(UpdateCheckerTest, MalformedRepliesShowNothingInEitherVariant) {
    const QByteArray bodies[] = {
        "",
        "<!DOCTYPE html><html><body>Service Unavailable</body></html>",
        R"({"updateAvailable":true})",
        R"({"updateAvailable":1,"latestVersion":"1.1.0"})",
        R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":7})",
        R"({"updateAvailable":false,"latestVersion":"1.0.2")",
    };
    for (const QByteArray& body : bodies) {
        updateServer->setReply(json(body, body.startsWith("<") ? 503 : 200));
        runCheck(true);
        runCheck(false);
    }
    settle();
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(UpdateCheckerTest, AServerErrorStatusWithAValidReplyIsAccepted) {
    updateServer->setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})", 500));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(boxes[0].text, "No Updates");
}

TEST_F(UpdateCheckerTest, OversizedRepliesAreFailuresWithOrWithoutALength) {
    const QByteArray valid = R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":")" +
                             QByteArray(1024 * 1024 + 16, 'n') + R"("})";
    ScriptedReply withLength = json(valid);
    ScriptedReply closeDelimited = json(valid);
    closeDelimited.mode = ScriptedReply::Mode::closeDelimited;
    for (const ScriptedReply& reply : {withLength, closeDelimited}) {
        updateServer->setReply(reply);
        runCheck(true);
    }
    // Cut off as soon as the limit is passed, not at the time-out (60 s
    // here, beyond runCheck's wait): announced too large, or grown too large.
    ScriptedReply announced = json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})");
    announced.mode = ScriptedReply::Mode::stallInBody;
    announced.announcedLength = 50 * 1024 * 1024;
    ScriptedReply endless = json(QByteArray(1024 * 1024 + 4096, ' '));
    endless.mode = ScriptedReply::Mode::closeDelimited;
    endless.keepOpen = true;
    for (const ScriptedReply& reply : {announced, endless}) {
        updateServer->setReply(reply);
        runCheck(true);
    }
    settle();
    EXPECT_TRUE(boxes.isEmpty());

    // A small close-delimited reply is fine.
    closeDelimited.body = R"({"updateAvailable":false,"latestVersion":"1.0.2"})";
    updateServer->setReply(closeDelimited);
    runCheck(true);
    EXPECT_TRUE(waitForBoxes(1));
}

TEST_F(UpdateCheckerTest, StalledServersTimeOutSilently) {
    hooks.checkTimeoutMs = 300;
    applyHooks();
    ScriptedReply silent;
    silent.mode = ScriptedReply::Mode::silent;
    ScriptedReply stalled = json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})");
    stalled.mode = ScriptedReply::Mode::stallInBody;
    for (const ScriptedReply& reply : {silent, stalled}) {
        updateServer->setReply(reply);
        runCheck(true);
    }
    settle();
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(updateServer->requests().size(), 2);
}

TEST_F(UpdateCheckerTest, UnreachableServerShowsNothing) {
    hooks.updateOrigin = TestHttpsServer::closedOrigin();
    applyHooks();
    runCheck(true);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(UpdateCheckerTest, UntrustedCertificateIsAFailure) {
    hooks.sslConfiguration = QSslConfiguration::defaultConfiguration();
    hooks.sslConfiguration->setCaCertificates({});
    applyHooks();
    updateServer->setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})"));
    runCheck(true);
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(updateServer->requests().isEmpty());
}

TEST_F(UpdateCheckerTest, RedirectsAreFollowedOnlyToHttps) {
    TestHttpsServer secureTarget;
    TestHttpsServer plainTarget(true);
    secureTarget.setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})"));
    plainTarget.setReply(json(R"({"updateAvailable":true,"latestVersion":"6.6.6"})"));

    ScriptedReply toPlain;
    toPlain.status = 302;
    toPlain.headers = {{"Location", plainTarget.url("/checkUpdate/?v=1.0.2").toEncoded()}};
    updateServer->setReply(toPlain);
    runCheck(true);
    settle();
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(plainTarget.connections(), 0);

    ScriptedReply toSecure;
    toSecure.status = 301;
    toSecure.headers = {{"Location", secureTarget.url("/moved/?v=1.0.2").toEncoded()}};
    updateServer->setReply(toSecure);
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(1));
    EXPECT_EQ(boxes[0].text, "No Updates");
    ASSERT_EQ(secureTarget.requests().size(), 1);
    EXPECT_EQ(secureTarget.requests()[0].target, "/moved/?v=1.0.2");
}

TEST_F(UpdateCheckerTest, TwoChecksAtOnceEachShowTheirAlert) {
    updateServer->setReply(json(R"({"updateAvailable":true,"latestVersion":"1.1.0"})"));
    const int before = finishedReplies;
    UpdateChecker::checkSilently();
    UpdateChecker::checkForUpdate();
    ASSERT_TRUE(waitForFinished(before + 2));
    EXPECT_TRUE(waitForBoxes(2));
}

TEST_F(UpdateCheckerTest, KoreanInterfaceKeepsPrefixOkAndServerTexts) {
    store.setObject("language", std::string("ko"));
    updateServer->setReply(
        json(R"({"updateAvailable":true,"latestVersion":"1.1.0","releaseNotes":"Notes"})"));
    runCheck(true);
    updateServer->setReply(json(R"({"updateAvailable":false,"latestVersion":"1.0.2"})"));
    runCheck(true);
    ASSERT_TRUE(waitForBoxes(2));

    EXPECT_EQ(boxes[0].text, "Quillmere - " + L10n::updateAvailable());
    EXPECT_NE(boxes[0].text, "Quillmere - Update Available");
    EXPECT_EQ(boxes[0].informativeText, L10n::updateMessage("1.1.0") + "\n\nNotes");
    EXPECT_EQ(boxes[0].buttons,
              (QStringList{L10n::later(), L10n::download(), L10n::visitWebsite()}));
    EXPECT_NE(boxes[0].buttons[0], later);
    EXPECT_EQ(boxes[1].text, L10n::noUpdateTitle());
    EXPECT_NE(boxes[1].text, "No Updates");
    EXPECT_EQ(boxes[1].buttons, QStringList{"OK"});
}

} // namespace
} // namespace quillmere::nettest
