#include "UpdateDownload.h"

#include "NetTesting.h"
#include "Network.h"
#include "engine/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <system_error>

namespace quillmere::UpdateDownload {
namespace {

// Nothing, or a plain file that may be replaced.
bool replaceable(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink())
        return false;
    return !info.exists() || info.isFile();
}

// One running download: owns the temporary file and deletes itself when
// the reply has finished.
class Job : public QObject {
public:
    Job(QString destination, std::unique_ptr<QTemporaryFile> file, qint64 limit)
        : destination_(std::move(destination)), file_(std::move(file)), limit_(limit) {}

    void run(QNetworkReply* reply) {
        reply->setParent(this);
        reply_ = reply;
        connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
            if (reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong() > limit_)
                fail();
        });
        connect(reply, &QNetworkReply::readyRead, this, &Job::drain);
        connect(reply, &QNetworkReply::finished, this, &Job::finish);
    }

private:
    void drain() {
        if (failed_ || !reply_->isOpen())
            return;
        const QByteArray chunk = reply_->readAll();
        written_ += chunk.size();
        if (written_ > limit_ || file_->write(chunk) != chunk.size())
            fail();
    }

    // Aborting inside the reply's own signals would leave it unfinished, so
    // the abort is queued; what arrives meanwhile is not written.
    void fail() {
        if (failed_)
            return;
        failed_ = true;
        QMetaObject::invokeMethod(reply_, &QNetworkReply::abort, Qt::QueuedConnection);
    }

    void finish() {
        drain();
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool complete =
            !failed_ && reply_->error() == QNetworkReply::NoError && status >= 200 && status < 300;
        if (complete && file_->flush() && replaceable(destination_)) {
            std::error_code error;
            std::filesystem::rename(QFile::encodeName(file_->fileName()).toStdString(),
                                    QFile::encodeName(destination_).toStdString(), error);
            if (!error) {
                file_->setAutoRemove(false);
                const QUrl opened = QUrl::fromLocalFile(destination_);
                QTimer::singleShot(0, QCoreApplication::instance(),
                                   [opened] { Network::openUrl(opened); });
            }
        }
        file_.reset(); // removes the temporary file unless it was renamed
        deleteLater();
    }

    QString destination_;
    std::unique_ptr<QTemporaryFile> file_;
    QPointer<QNetworkReply> reply_;
    qint64 limit_;
    qint64 written_ = 0;
    bool failed_ = false;
};

bool isSeparatorOrControl(QChar c) {
    return c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f;
}

} // namespace

std::optional<QString> fileNameFor(const QUrl& url) {
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty())
        return std::nullopt;
    // Split on the encoded path, so that an encoded slash stays inside the
    // name (and is refused below) instead of making a new segment.
    const QString encodedPath = url.path(QUrl::FullyEncoded);
    const QString segment = encodedPath.mid(encodedPath.lastIndexOf(u'/') + 1);
    const QString name = QUrl::fromPercentEncoding(segment.toUtf8());
    // A leading dot also covers "." and "..", and keeps a download from
    // replacing a dotfile where the Downloads folder is the home folder.
    if (name.isEmpty() || name.startsWith(u'.'))
        return std::nullopt;
    for (const QChar c : name) {
        if (isSeparatorOrControl(c))
            return std::nullopt;
    }
    return name;
}

std::optional<QString> destinationFor(const QUrl& url, const QString& folder) {
    const auto name = fileNameFor(url);
    if (!name || folder.isEmpty())
        return std::nullopt;
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString destination = QDir::cleanPath(base + u'/' + *name);
    if (QFileInfo(destination).absolutePath() != base)
        return std::nullopt;
    return destination;
}

std::optional<QString> downloadsFolder() {
    QString folder;
    if (const auto* hooks = NetTesting::current(); hooks && hooks->downloadsFolder)
        folder = *hooks->downloadsFolder;
    else
        folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return std::nullopt;
    return folder;
}

void start(const QUrl& url, qint64 limit) {
    const auto folder = downloadsFolder();
    if (!folder) {
        Log::write("[Quillmere] Update download skipped: no Downloads folder");
        return;
    }
    const auto destination = destinationFor(url, *folder);
    if (!destination || !replaceable(*destination)) {
        Log::write("[Quillmere] Update download refused: unsafe download address or file name");
        return;
    }
    auto file =
        std::make_unique<QTemporaryFile>(*folder + QStringLiteral("/.quillmere-XXXXXX.part"));
    if (!file->open())
        return; // e.g. a read-only folder: nothing is fetched

    const QNetworkRequest request = Network::makeRequest(url, Network::Kind::download);
    if (!Network::mayStart(request))
        return;
    auto* job = new Job(*destination, std::move(file), limit);
    job->setParent(&Network::manager());
    job->run(Network::manager().get(request));
}

} // namespace quillmere::UpdateDownload
