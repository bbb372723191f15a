#include "NetFixture.h"
#include "net/UpdateChecker.h"
#include "net/UpdateDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace quillmere::nettest {
namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

class UpdateDownloadTest : public NetFixture {
protected:
    QString inDownloads(const QString& name) const { return downloads.filePath(name); }
    QStringList downloadsEntries() const {
        return QDir(downloads.path())
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System);
    }
    void download(const QUrl& url, qint64 limit = UpdateDownload::maximumBytes) {
        ASSERT_TRUE(finishes([&] { UpdateDownload::start(url, limit); }));
    }
};

// Straight from the offered address, or by an https redirect (the name is
// the offered one), a complete download of at most the limit replaces an
// earlier file, leaves no temporary file and is opened.
TEST_F(UpdateDownloadTest, CompleteDownloadsReplaceTheEarlierFileAndAreOpened) {
    ASSERT_TRUE(writeFile(inDownloads("Q.dmg"), "old image"));
    constexpr qint64 limit = 300 * 1024;
    TestHttpsServer mirror;
    mirror.setReply({200, "mirrored"});
    updateServer.setReply({200, QByteArray(limit, 'D')});
    download(updateServer.url("/files/Q.dmg?token=1"), limit);
    EXPECT_EQ(updateServer.requests.value(0).target, "/files/Q.dmg?token=1");
    EXPECT_EQ(readFile(inDownloads("Q.dmg")), QByteArray(limit, 'D'));
    updateServer.setReply({302, {}, {{"Location", mirror.url("/cdn/other-name.bin").toEncoded()}}});
    download(updateServer.url("/Q.dmg"));
    EXPECT_EQ(readFile(inDownloads("Q.dmg")), "mirrored");
    EXPECT_EQ(downloadsEntries(), QStringList{"Q.dmg"});
    EXPECT_EQ(opened, QList<QUrl>(2, QUrl::fromLocalFile(inDownloads("Q.dmg"))));
}

TEST_F(UpdateDownloadTest, TheUpdateAlertDownloadsTheAdvertisedImage) {
    TestHttpsServer files;
    files.setReply({200, "new image"});
    updateServer.setReply(
        {200, R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":")" +
                  files.url("/Quillmere-1.1.0.dmg").toEncoded() + "\"}"});
    answer = UpdateChecker::Answer::download;
    UpdateChecker::checkSilently();
    ASSERT_TRUE(waitForFinished(2));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(inDownloads("Quillmere-1.1.0.dmg"))});
    EXPECT_EQ(readFile(inDownloads("Quillmere-1.1.0.dmg")), "new image");
}

// Replies beyond the limit (announced, growing without end, or just over),
// error statuses, stalls, silence, a redirect to http, a closed port: the
// old file stays, nothing is left behind or opened. Those beyond the limit
// are cut off early, before any time-out, or they would never end.
TEST_F(UpdateDownloadTest, FailedTransfersLeaveTheOldFileAndOpenNothing) {
    ASSERT_TRUE(writeFile(inDownloads("Q.dmg"), "old image"));
    constexpr qint64 limit = 64 * 1024;
    using Mode = ScriptedReply::Mode;
    const ScriptedReply failures[] = {
        {200, QByteArray(100, 'D'), {}, Mode::stallInBody, limit + 1},
        {200, QByteArray(limit + 4096, 'D'), {}, Mode::closeDelimited, -1, true},
        {200, QByteArray(limit + 1, 'D')},
        {404, "<html>missing</html>"},
        {500, "<html>oops</html>"},
        {300, ""},
        {200, "partial", {}, Mode::stallInBody},
        {200, {}, {}, Mode::silent},
        {302, {}, {{"Location", "http://127.0.0.1:9/Q.dmg"}}},
    };
    for (std::size_t i = 0; i < std::size(failures); ++i) {
        hooks.downloadTimeoutMs = i < 3 ? 0 : 300; // the first three end without one
        applyHooks();
        updateServer.setReply(failures[i]);
        download(updateServer.url("/Q.dmg"), limit);
    }
    download(QUrl(TestHttpsServer::closedOrigin().toString() + "/Q.dmg"));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(readFile(inDownloads("Q.dmg")), "old image");
    EXPECT_EQ(downloadsEntries(), QStringList{"Q.dmg"});
}

// Unsafe names, an existing folder or link under the name, an http address,
// a missing or read-only Downloads folder: nothing is even asked for.
TEST_F(UpdateDownloadTest, UnsafeDestinationsFetchNothing) {
    ASSERT_TRUE(QDir(downloads.path()).mkdir("Folder.dmg"));
    ASSERT_TRUE(writeFile(inDownloads("Folder.dmg/keep"), "inside"));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("precious");
    ASSERT_TRUE(writeFile(target, "precious"));
    ASSERT_TRUE(QFile::link(target, inDownloads("Link.dmg")));
    for (const QString path :
         {"/Folder.dmg", "/Link.dmg", "/dir/", "/a/..", "/..%2F..%2Fescape.dmg"})
        UpdateDownload::start(updateServer.url(path));
    UpdateDownload::start(QUrl("http://127.0.0.1:1/Q.dmg"));

    // A missing folder, none known, and one no one may write into (root
    // ignores permission bits, so it gets a folder of the kernel's instead).
    const QString readOnly = inDownloads("ro");
    ASSERT_TRUE(QDir().mkdir(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    for (const QString& folder : {inDownloads("missing"), QString(),
                                  geteuid() == 0 ? QStringLiteral("/proc/self") : readOnly}) {
        hooks.downloadsFolder = folder;
        applyHooks();
        UpdateDownload::start(updateServer.url("/Q.dmg"));
    }
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCoreApplication::sendPostedEvents();

    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(downloadsEntries(), (QStringList{"Folder.dmg", "Link.dmg", "ro"}));
    EXPECT_EQ(readFile(inDownloads("Folder.dmg/keep")), "inside");
    EXPECT_TRUE(QFileInfo(inDownloads("Link.dmg")).isSymLink());
    EXPECT_EQ(readFile(target), "precious");
    EXPECT_TRUE(QDir(readOnly).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden));
}

} // namespace
} // namespace quillmere::nettest
