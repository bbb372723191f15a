#pragma once
// Waits for a status-notifier tray host on the session bus. At login the
// panel may start after Quillmere; Qt decides once per process whether the
// D-Bus tray protocol is usable, so the tray icon must not be made before a
// host is there.

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

namespace quillmere {

class TrayHostWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* watcherPath = "/StatusNotifierWatcher";
    static constexpr const char* watcherInterface = "org.kde.StatusNotifierWatcher";
    // A reply slower than this counts as no host.
    static constexpr int replyTimeoutMs = 2000;

    explicit TrayHostWatcher(QDBusConnection bus, QObject* parent = nullptr);
    ~TrayHostWatcher() override;

    // Whether the bus is there at all; without it no host can ever come.
    bool isBusConnected() const { return bus_.isConnected(); }
    QDBusConnection bus() const { return bus_; }
    // Asks the bus now (blocking, bounded by replyTimeoutMs) whether the
    // watcher is registered and reports a host.
    bool isHostRegistered() const;
    // Starts waiting: hostRegistered() is emitted once, the first time a
    // host is seen, and the waiting then stops. Safe to call again.
    void watch();
    bool isWatching() const { return serviceWatcher_ != nullptr; }

signals:
    void hostRegistered();

private slots:
    void queryHost();
    void onHostSignal();

private:
    void fire();
    void stopWatching();

    QDBusConnection bus_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    bool signalConnected_ = false;
    bool fired_ = false;
};

} // namespace quillmere
