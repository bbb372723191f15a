#include "NetFixture.h"
#include "net/UpdateDownload.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace quillmere::nettest {
namespace {

class UpdateDownloadTest : public NetFixture {
protected:
    void SetUp() override {
        NetFixture::SetUp();
        ASSERT_TRUE(write("Q.dmg", "old image"));
    }
    QString path(const QString& name) const { return downloads.filePath(name); }
    QByteArray read(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    bool write(const QString& name, const QByteArray& data) const {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    QStringList entries() const {
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
    constexpr qint64 limit = 300 * 1024;
    TestHttpsServer mirror;
    mirror.setReply({200, "mirrored"});
    updateServer.setReply({200, QByteArray(limit, 'D')});
    download(updateServer.url("/files/Q.dmg?token=1"), limit);
    EXPECT_EQ(updateServer.requests.value(0).target, "/files/Q.dmg?token=1");
    EXPECT_EQ(read("Q.dmg"), QByteArray(limit, 'D'));
    updateServer.setReply({302, {}, {{"Location", mirror.url("/cdn/other-name.bin").toEncoded()}}});
    download(updateServer.url("/Q.dmg"));
    EXPECT_EQ(read("Q.dmg"), "mirrored");
    EXPECT_EQ(entries(), QStringList{"Q.dmg"});
    EXPECT_EQ(opened, QList<QUrl>(2, QUrl::fromLocalFile(path("Q.dmg"))));
}

// Replies beyond the limit (announced, or growing without end), error
// statuses, a stall: the old file stays, nothing is left behind or opened.
// Those beyond the limit are cut off early, before any time-out, or they
// would never end.
TEST_F(UpdateDownloadTest, FailedTransfersLeaveTheOldFileAndOpenNothing) {
    constexpr qint64 limit = 64 * 1024;
    using Mode = ScriptedReply::Mode;
    const ScriptedReply failures[] = {
        {200, QByteArray(100, 'D'), {}, Mode::stallInBody, limit + 1},
        {200, QByteArray(limit + 4096, 'D'), {}, Mode::closeDelimited, -1, true},
        {404, "<html>missing</html>"},
        {300, ""},
        {200, "partial", {}, Mode::stallInBody},
    };
    for (std::size_t i = 0; i < std::size(failures); ++i) {
        hooks.downloadTimeoutMs = i < 2 ? 0 : 300; // the first two end without one
        applyHooks();
        updateServer.setReply(failures[i]);
        download(updateServer.url("/Q.dmg"), limit);
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(read("Q.dmg"), "old image");
    EXPECT_EQ(entries(), QStringList{"Q.dmg"});
}

// An address that is not https or a file name that could leave the folder,
// hide (a dotfile could replace a shell's settings where the Downloads
// folder is the home folder) or break on a separator or control character;
// an existing folder or link under the name; a missing or read-only
// Downloads folder: nothing is even asked for.
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

    // A missing folder, none known, and one no one may write into (root
    // ignores permission bits, so it gets a folder of the kernel's instead).
    const QString readOnly = path("ro");
    ASSERT_TRUE(QDir().mkdir(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    for (const QString& folder :
         {path("missing"), QString(), geteuid() == 0 ? QStringLiteral("/proc/self") : readOnly}) {
        hooks.downloadsFolder = folder;
        applyHooks();
        UpdateDownload::start(updateServer.url("/Q.dmg"));
    }
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCoreApplication::sendPostedEvents();

    EXPECT_TRUE(requested.isEmpty()); // the gate sees every request as it starts
    EXPECT_EQ(entries(), (QStringList{"Folder.dmg", "Link.dmg", "Q.dmg", "ro"}));
    EXPECT_TRUE(QDir(path("Folder.dmg")).isEmpty());
    EXPECT_TRUE(QFileInfo(path("Link.dmg")).isSymLink());
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("precious")));
    EXPECT_TRUE(QDir(readOnly).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden));
}

} // namespace
} // namespace quillmere::nettest
