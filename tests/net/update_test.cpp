// The update check and the download it offers.
#include "AppInfo.h"
#include "NetFixture.h"
#include "net/UpdateChecker.h"
#include "net/UpdateDownload.h"

#include <QDir>

namespace quillmere::nettest {
namespace {

const QByteArray noUpdate =
    QByteArray(R"({"updateAvailable":false,"latestVersion":")") + AppInfo::version + "\"}";
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
    NetTesting::install(hooks);
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
    NetTesting::install(hooks);
    check({noUpdate});
    EXPECT_TRUE(updateServer.requests.isEmpty());
    hooks.sslConfiguration = trusted;
    hooks.checkTimeoutMs = 300;
    NetTesting::install(hooks);
    check({noUpdate, 200, {}, 1000, false});
    EXPECT_TRUE(alerts.isEmpty());
}

class UpdateDownloadTest : public NetFixture {
protected:
    QStringList entries() const {
        return QDir(downloads.path())
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System);
    }
};

// Straight from the offered address, or by an https redirect (the name is
// the offered one), a complete download of at most the limit replaces an
// earlier file and is opened. Replies beyond the limit (announced, or
// growing without end: cut off early, before any time-out, or they would
// never end), error statuses and a stall keep the old file and open nothing.
// No temporary file is left behind.
TEST_F(UpdateDownloadTest, OnlyCompleteDownloadsReplaceTheFileAndAreOpened) {
    constexpr qint64 limit = 64 * 1024;
    QFile old(downloads.filePath("Q.dmg"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old image") == 9);
    old.close();
    TestHttpsServer mirror;
    mirror.replies = {{"mirrored"}};
    const struct {
        ScriptedReply reply;
        QByteArray saved; // empty: the file before stays
        int timeoutMs = 0;
    } cases[] = {
        {{QByteArray(limit, 'D')}, QByteArray(limit, 'D')},
        {{QByteArray(100, 'D'), 200, {}, limit + 1, false}, {}},
        {{QByteArray(limit + 4096, 'D'), 200, {}, ScriptedReply::noLength, false}, {}},
        {{"<html>missing</html>", 404}, {}},
        {{"", 300}, {}},
        {{"partial", 200, {}, 1000, false}, {}, 300}, // ends by the time-out
        {{{}, 302, "Location: " + mirror.url("/cdn/other-name.bin").toEncoded() + "\r\n"},
         "mirrored"},
    };
    QByteArray expected = "old image";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.status);
        hooks.downloadTimeoutMs = c.timeoutMs;
        NetTesting::install(hooks);
        updateServer.replies = {c.reply};
        ASSERT_TRUE(
            finishes([&] { UpdateDownload::start(updateServer.url("/Q.dmg?t=1"), limit); }));
        expected = c.saved.isEmpty() ? expected : c.saved;
        QFile saved(downloads.filePath("Q.dmg"));
        EXPECT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), expected);
        EXPECT_EQ(entries(), QStringList{"Q.dmg"});
    }
    EXPECT_EQ(updateServer.requests.value(0).line, "GET /Q.dmg?t=1 HTTP/1.1");
    EXPECT_EQ(opened, QList<QUrl>(2, QUrl::fromLocalFile(downloads.filePath("Q.dmg"))));
}

// An address that is not https or a file name that could leave the folder,
// hide (a dotfile could replace a shell's settings where the Downloads
// folder is the home folder) or break on a separator or control character;
// an existing folder or link under the name; no Downloads folder: nothing
// is even asked for.
TEST_F(UpdateDownloadTest, UnsafeDestinationsFetchNothing) {
    ASSERT_TRUE(QDir(downloads.path()).mkdir("Folder.dmg"));
    ASSERT_TRUE(QFile::link("precious", downloads.filePath("Link.dmg")));
    for (const char* url :
         {"https://h/Folder.dmg", "https://h/Link.dmg", "http://h/Q.dmg", "file:///tmp/Q.dmg",
          "https:///Q.dmg", "https://h/", "https://h/a/..", "https://h/a/%2e%2e",
          "https://h/..%2F..%2Fescape.dmg", "https://h/a%5Cb.dmg", "https://h/a%00b.dmg",
          "https://h/a%0Ab.dmg", "https://h/.bashrc", "https://h/dir/%2Eprofile"})
        UpdateDownload::start(QUrl(url));

    // A missing folder, and none known.
    for (const QString& folder : {downloads.filePath("missing"), QString()}) {
        hooks.downloadsFolder = folder;
        NetTesting::install(hooks);
        UpdateDownload::start(updateServer.url("/Q.dmg"));
    }
    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    EXPECT_EQ(entries(), (QStringList{"Folder.dmg", "Link.dmg"}));
}

} // namespace
} // namespace quillmere::nettest
