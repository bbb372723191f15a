#include "NetFixture.h"
#include "net/UpdateChecker.h"
#include "net/UpdateDownload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

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

ScriptedReply image(const QByteArray& body, int status = 200) {
    return {status,
            body,
            {{"Content-Type", "application/octet-stream"}},
            ScriptedReply::Mode::complete};
}

class UpdateDownloadTest : public NetFixture {
protected:
    QString inDownloads(const QString& name) const { return downloads.filePath(name); }

    QStringList downloadsEntries() const {
        return QDir(downloads.path())
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System);
    }

    // Starts a download and waits until its reply has finished.
    void download(const QUrl& url, qint64 limit = UpdateDownload::maximumBytes) {
        const int before = finishedReplies;
        UpdateDownload::start(url, limit);
        ASSERT_TRUE(waitForFinished(before + 1));
    }
};

TEST_F(UpdateDownloadTest, ReplacesAnEarlierFileAndOpensTheNewOne) {
    ASSERT_TRUE(writeFile(inDownloads("Quillmere-1.1.0.dmg"), "old image"));
    const QByteArray payload(300 * 1024, 'D');
    updateServer->setReply(image(payload));
    download(updateServer->url("/files/Quillmere-1.1.0.dmg?token=1"));
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }, 5000));

    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(inDownloads("Quillmere-1.1.0.dmg"))});
    EXPECT_EQ(readFile(inDownloads("Quillmere-1.1.0.dmg")), payload);
    EXPECT_EQ(downloadsEntries(), QStringList{"Quillmere-1.1.0.dmg"}); // no temporary left
    EXPECT_EQ(updateServer->requests().value(0).target, "/files/Quillmere-1.1.0.dmg?token=1");
}

TEST_F(UpdateDownloadTest, TheUpdateAlertDownloadsTheAdvertisedImage) {
    TestHttpsServer files;
    files.setReply(image("new image"));
    ScriptedReply reply;
    reply.body = R"({"updateAvailable":true,"latestVersion":"1.1.0","downloadUrl":")" +
                 files.url("/Quillmere-1.1.0.dmg").toEncoded() + "\"}";
    updateServer->setReply(reply);
    answer = UpdateChecker::Answer::download;
    UpdateChecker::checkSilently();
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }, 10'000));
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(inDownloads("Quillmere-1.1.0.dmg"))});
    EXPECT_EQ(readFile(inDownloads("Quillmere-1.1.0.dmg")), "new image");
}

TEST_F(UpdateDownloadTest, FailedTransfersLeaveTheOldFileAndOpenNothing) {
    ASSERT_TRUE(writeFile(inDownloads("Q.dmg"), "old image"));
    hooks.downloadTimeoutMs = 300;
    applyHooks();

    ScriptedReply stalled = image("partial");
    stalled.mode = ScriptedReply::Mode::stallInBody;
    const ScriptedReply silent{200, {}, {}, ScriptedReply::Mode::silent};
    const ScriptedReply toPlain{302, {}, {{"Location", "http://127.0.0.1:9/Q.dmg"}}};
    const ScriptedReply failures[] = {image("<html>missing</html>", 404),
                                      image("<html>oops</html>", 500),
                                      image("", 300),
                                      stalled,
                                      silent,
                                      toPlain};
    for (const ScriptedReply& reply : failures) {
        updateServer->setReply(reply);
        download(updateServer->url("/Q.dmg"));
    }
    download(QUrl(TestHttpsServer::closedOrigin().toString() + "/Q.dmg"));
    settle();

    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(readFile(inDownloads("Q.dmg")), "old image");
    EXPECT_EQ(downloadsEntries(), QStringList{"Q.dmg"});
}

// A reply larger than the limit is cut off as soon as it is announced or
// has grown beyond it (these would otherwise never end in the test's wait),
// and nothing is saved or opened; a reply of exactly the limit is kept.
TEST_F(UpdateDownloadTest, DownloadsBeyondTheSizeLimitAreCutOff) {
    constexpr qint64 limit = 64 * 1024;
    ScriptedReply announced = image(QByteArray(100, 'D'));
    announced.mode = ScriptedReply::Mode::stallInBody;
    announced.announcedLength = limit + 1;
    ScriptedReply endless = image(QByteArray(limit + 4096, 'D'));
    endless.mode = ScriptedReply::Mode::closeDelimited;
    endless.keepOpen = true;
    for (const ScriptedReply& reply : {announced, endless, image(QByteArray(limit + 1, 'D'))}) {
        updateServer->setReply(reply);
        download(updateServer->url("/Q.dmg"), limit);
    }
    settle();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(downloadsEntries().isEmpty());

    updateServer->setReply(image(QByteArray(limit, 'D')));
    download(updateServer->url("/Q.dmg"), limit);
    EXPECT_TRUE(waitUntil([&] { return !opened.isEmpty(); }, 5000));
}

TEST_F(UpdateDownloadTest, RefusedNamesDirectoriesAndLinksFetchNothing) {
    ASSERT_TRUE(QDir(downloads.path()).mkdir("Folder.dmg"));
    ASSERT_TRUE(writeFile(inDownloads("Folder.dmg/keep"), "inside"));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("precious");
    ASSERT_TRUE(writeFile(target, "precious"));
    ASSERT_TRUE(QFile::link(target, inDownloads("Link.dmg")));

    for (const QString path :
         {"/Folder.dmg", "/Link.dmg", "/dir/", "/a/..", "/..%2F..%2Fescape.dmg"})
        UpdateDownload::start(updateServer->url(path));
    UpdateDownload::start(QUrl("http://127.0.0.1:1/Q.dmg"));
    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    settle();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(downloadsEntries(), (QStringList{"Folder.dmg", "Link.dmg"}));
    EXPECT_EQ(readFile(inDownloads("Folder.dmg/keep")), "inside");
    EXPECT_TRUE(QFileInfo(inDownloads("Link.dmg")).isSymLink());
    EXPECT_EQ(readFile(target), "precious");
}

TEST_F(UpdateDownloadTest, MissingOrReadOnlyDownloadsFolder) {
    updateServer->setReply(image("payload"));
    hooks.downloadsFolder = downloads.filePath("does-not-exist");
    applyHooks();
    UpdateDownload::start(updateServer->url("/Q.dmg"));
    hooks.downloadsFolder = QString(); // no Downloads folder known at all
    applyHooks();
    UpdateDownload::start(updateServer->url("/Q.dmg"));
    settle();
    EXPECT_FALSE(QFileInfo::exists(downloads.filePath("does-not-exist")));

    // A folder no one may write into; root ignores permission bits, so it
    // gets a folder of the kernel's instead.
    const QString readOnly = downloads.filePath("ro");
    ASSERT_TRUE(QDir().mkdir(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    hooks.downloadsFolder = geteuid() == 0 ? QStringLiteral("/proc/self") : readOnly;
    applyHooks();
    UpdateDownload::start(updateServer->url("/Q.dmg"));
    settle();
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    EXPECT_TRUE(requested.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(QDir(readOnly).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden));
}

TEST_F(UpdateDownloadTest, AnHttpsRedirectIsFollowed) {
    TestHttpsServer mirror;
    mirror.setReply(image("mirrored"));
    updateServer->setReply(
        {302, {}, {{"Location", mirror.url("/cdn/other-name.bin").toEncoded()}}});
    download(updateServer->url("/Q.dmg"));
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }, 5000));
    // The name comes from the address the user was offered.
    EXPECT_EQ(readFile(inDownloads("Q.dmg")), "mirrored");
    EXPECT_EQ(downloadsEntries(), QStringList{"Q.dmg"});
}

} // namespace
} // namespace quillmere::nettest
