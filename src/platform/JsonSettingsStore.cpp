#include "JsonSettingsStore.h"

#include "engine/Log.h"
#include "engine/ScrollConfig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {

namespace {

// Files larger than this are not settings written by us: refuse to parse them.
constexpr qint64 maximumFileSize = 4 * 1024 * 1024;

// Holds an exclusive advisory lock on "<file>.lock" for one read-modify-write.
// The kernel drops it if the process dies, so it can never go stale.
class FileLock {
public:
    explicit FileLock(const QString& path) {
        fd_ = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_); // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

QJsonValue toJson(const SettingsValue& value) {
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    if (const double* number = std::get_if<double>(&value))
        return *number;
    if (const std::string* text = std::get_if<std::string>(&value))
        return QString::fromStdString(*text);
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace

QString JsonSettingsStore::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillmere/defaults.json");
}

JsonSettingsStore::JsonSettingsStore(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    loadCache(readFile().value_or(QJsonObject()));
    watch();
}

JsonSettingsStore::~JsonSettingsStore() = default;

void JsonSettingsStore::watch() {
    // Without an application object there is no event loop to deliver
    // change notices (a short-lived tool); reads then see the start state
    // plus this process's own writes.
    if (!QCoreApplication::instance())
        return;
    if (!watcher_) {
        watcher_ = new QFileSystemWatcher(this);
        // The file is replaced by rename on every write, which ends a watch on
        // the file itself; the folder's watch sees the rename.
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { reload(); });
        connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] { reload(); });
    }
    const QString folder = QFileInfo(path_).absolutePath();
    if (QFileInfo::exists(folder) && !watcher_->directories().contains(folder))
        watcher_->addPath(folder);
    if (QFileInfo::exists(path_) && !watcher_->files().contains(path_))
        watcher_->addPath(path_);
}

void JsonSettingsStore::reload() {
    // A file that cannot be read now leaves the values last read in effect.
    if (const std::optional<QJsonObject> root = readFile())
        loadCache(*root);
    watch();
    emit changedOnDisk();
}

void JsonSettingsStore::reportOnce(const QString& line) {
    if (line == reported_)
        return;
    reported_ = line;
    Log::write(line.toStdString());
}

std::optional<QJsonObject> JsonSettingsStore::readFile() {
    QFile file(path_);
    QString problem;
    QByteArray bytes;
    if (QFileInfo(path_).isDir()) {
        problem = QStringLiteral("is a directory");
    } else if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists()) {
            reported_.clear();
            return QJsonObject(); // none yet: nothing to lose
        }
        problem = QStringLiteral("cannot be read (%1)").arg(file.errorString());
    } else if (file.size() > maximumFileSize) {
        problem = QStringLiteral("is too large");
    } else if (bytes = file.readAll(); file.error() != QFileDevice::NoError) {
        problem = QStringLiteral("cannot be read (%1)").arg(file.errorString());
    }
    if (!problem.isEmpty()) {
        reportOnce(QStringLiteral("[Quillmere] settings file %1 %2; it is left as it is and "
                                  "changes to settings are kept in memory only")
                       .arg(path_, problem));
        return std::nullopt;
    }
    file.close();
    reported_.clear();
    if (bytes.trimmed().isEmpty())
        return QJsonObject();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && document.isObject())
        return document.object();

    // Not ours to repair: keep it aside so nothing in it is lost, then start
    // afresh. Moving it also means it is reported only once.
    const QString aside =
        path_ + QStringLiteral(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const bool moved = QFile::rename(path_, aside);
    reportOnce(QStringLiteral("[Quillmere] settings file %1 is not a valid JSON object (%2); %3")
                   .arg(path_,
                        error.error == QJsonParseError::NoError ? QStringLiteral("not an object")
                                                                : error.errorString(),
                        moved ? QStringLiteral("kept aside as ") + aside
                              : QStringLiteral("it could not be moved aside, so it is left as "
                                               "it is and changes to settings are kept in "
                                               "memory only")));
    if (!moved)
        return std::nullopt;
    reported_.clear(); // a new bad file is reported again
    return QJsonObject();
}

void JsonSettingsStore::loadCache(const QJsonObject& root) {
    loaded_ = root;
    cache_.clear();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QJsonValue value = it.value();
        const std::string key = it.key().toStdString();
        if (value.isBool())
            cache_.setObject(key, value.toBool());
        else if (value.isDouble())
            cache_.setObject(key, value.toDouble());
        else if (value.isString())
            cache_.setObject(key, value.toString().toStdString());
        // Arrays, objects and null are not settings values: they stay in
        // the file untouched but read as absent.
    }
    // The input thread reads the scroll settings from what this publishes.
    ScrollConfig::storeChanged(*this);
}

void JsonSettingsStore::ensureFolder() {
    const QString folder = QFileInfo(path_).absolutePath();
    if (QFileInfo::exists(folder))
        return;
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
}

SettingsValue JsonSettingsStore::object(std::string_view key) const {
    return cache_.object(key);
}

double JsonSettingsStore::doubleValue(std::string_view key) const {
    return cache_.doubleValue(key);
}

std::optional<bool> JsonSettingsStore::boolValue(std::string_view key) const {
    return cache_.boolValue(key);
}

void JsonSettingsStore::setBool(std::string_view key, bool value) {
    setObject(key, value);
}

void JsonSettingsStore::writeFile(const QJsonObject& root) {
    QSaveFile file(path_);
    file.setDirectWriteFallback(false);
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ok = ok && file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) >= 0;
    ok = ok && file.commit();
    if (!ok)
        Log::write(QStringLiteral("[Quillmere] settings: could not write %1: %2")
                       .arg(path_, file.errorString())
                       .toStdString());
}

void JsonSettingsStore::setObject(std::string_view key, SettingsValue value) {
    const QString name = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    const QJsonValue json = toJson(value);
    if (const double* number = std::get_if<double>(&value); number && !std::isfinite(*number)) {
        Log::write(
            QStringLiteral("[Quillmere] settings: refused to store a non-finite number under %1")
                .arg(name)
                .toStdString());
        return;
    }
    ensureFolder();
    QJsonObject root;
    {
        FileLock lock(path_);
        // Changes by others since our last read are kept. A file that could
        // not be read is never written over: the change holds in memory only.
        const std::optional<QJsonObject> current = readFile();
        root = current.value_or(loaded_);
        if (json.isUndefined())
            root.remove(name);
        else
            root.insert(name, json);
        if (current)
            writeFile(root);
    }
    // The value is in effect for this process even if the disk refused it.
    loadCache(root);
    watch();
}

} // namespace quillmere
