#include "NetFixture.h"
#include "net/UpdateDownload.h"

#include <QDir>
#include <QFileInfo>

namespace quillmere::nettest {
namespace {

class UpdateDownloadTest : public NetFixture {
protected:
    QString path(const QString& name) const { return downloads.filePath(name); }
    QByteArray read(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
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
    QFile old(path("Q.dmg"));
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
        applyHooks();
        updateServer.replies = {c.reply};
        ASSERT_TRUE(
            finishes([&] { UpdateDownload::start(updateServer.url("/Q.dmg?t=1"), limit); }));
        expected = c.saved.isEmpty() ? expected : c.saved;
        EXPECT_EQ(read("Q.dmg"), expected);
        EXPECT_EQ(entries(), QStringList{"Q.dmg"});
    }
    EXPECT_EQ(updateServer.requests.value(0).line, "GET /Q.dmg?t=1 HTTP/1.1");
    EXPECT_EQ(opened, QList<QUrl>(2, QUrl::fromLocalFile(path("Q.dmg"))));
}

// An address that is not https or a file name that could leave the folder,
// hide (a dotfile could replace a shell's settings where the Downloads
// folder is the home folder) or break on a separator or control character;
// an existing folder or link under the name; no Downloads folder: nothing
// is even asked for.
TEST_F(UpdateDownloadTest, UnsafeDestinationsFetchNothing) {
    ASSERT_TRUE(QDir(downloads.path()).mkdir("Folder.dmg"));
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.filePath("precious"), path("Link.dmg")));
    for (const char* url :
         {"https://h/Folder.dmg", "https://h/Link.dmg", "http://h/Q.dmg", "file:///tmp/Q.dmg",
          "https:///Q.dmg", "https://h/", "https://h/a/..", "https://h/a/%2e%2e",
          "https://h/..%2F..%2Fescape.dmg", "https://h/a%5Cb.dmg", "https://h/a%00b.dmg",
          "https://h/a%0Ab.dmg", "https://h/.bashrc", "https://h/dir/%2Eprofile"})
        UpdateDownload::start(QUrl(url));

    // A missing folder, and none known.
    for (const QString& folder : {path("missing"), QString()}) {
        hooks.downloadsFolder = folder;
        applyHooks();
        UpdateDownload::start(updateServer.url("/Q.dmg"));
    }
    QCoreApplication::sendPostedEvents();

    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    EXPECT_EQ(entries(), (QStringList{"Folder.dmg", "Link.dmg"}));
    EXPECT_TRUE(QDir(path("Folder.dmg")).isEmpty());
    EXPECT_TRUE(QFileInfo(path("Link.dmg")).isSymLink());
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("precious")));
}

} // namespace
} // namespace quillmere::nettest
