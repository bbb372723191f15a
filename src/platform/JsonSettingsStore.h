#pragma once
// The per-user settings store: a typed JSON object in
// $XDG_CONFIG_HOME/quillmere/defaults.json. Reads come from memory; the file
// is watched, so edits made outside the process are seen by the next read.
// A write re-reads the file under a lock and changes only its own key, then
// replaces the file atomically, so keys written meanwhile by others survive
// and a crash never leaves a torn file. A file that cannot be read is never
// written over: changes then hold in memory only.

#include "engine/MemorySettingsStore.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

class QFileSystemWatcher;

namespace quillmere {

class JsonSettingsStore : public QObject, public SettingsStore {
    Q_OBJECT
public:
    // The standard location: $XDG_CONFIG_HOME/quillmere/defaults.json.
    static QString standardPath();

    explicit JsonSettingsStore(QString path = standardPath(), QObject* parent = nullptr);
    ~JsonSettingsStore() override;

    SettingsValue object(std::string_view key) const override;
    double doubleValue(std::string_view key) const override;
    std::optional<bool> boolValue(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    void setObject(std::string_view key, SettingsValue value) override;

    // Reads the file again now (the watcher does this on every change).
    void reload();
    QString path() const { return path_; }

signals:
    void changedOnDisk();

private:
    // Reads and parses the file; a file that is not a JSON object is moved
    // aside and logged. Returns the object, empty when there is none, or
    // nothing when the file is there but could not be read (or moved aside).
    std::optional<QJsonObject> readFile();
    // Replaces the file atomically with the object; a failure is logged.
    void writeFile(const QJsonObject& root);
    // Logs a problem with the file unless it is the one logged last.
    void reportOnce(const QString& line);
    void loadCache(const QJsonObject& root);
    void ensureFolder();
    void watch();

    QString path_;
    MemorySettingsStore cache_;
    QFileSystemWatcher* watcher_ = nullptr;
    QJsonObject loaded_; // what the cache was last loaded from
    QString reported_;
};

} // namespace quillmere
