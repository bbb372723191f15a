#pragma once
// Hooks for the network tests: they point the requests at local servers,
// trust a test certificate, shorten time-outs and catch the URLs and files
// that would be opened on the desktop. Nothing in the shipped application
// calls install(): it reads no command line, environment or file for these.

#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkRequest;
class QTimer;

namespace quillmere::NetTesting {

struct Hooks {
    // Scheme, host and port that replace the update host in requests (the
    // path and query stay the program's own). Empty: the real host.
    QUrl updateOrigin;
    // The same for the Measurement Protocol host.
    QUrl analyticsOrigin;
    // Replaces the measurement ID (e.g. with the placeholder).
    std::optional<QString> measurementId;
    // TLS configuration set on every request (e.g. trusting one test CA).
    std::optional<QSslConfiguration> sslConfiguration;
    // Replaces the Downloads folder; an empty string means none was found.
    std::optional<QString> downloadsFolder;
    // Transfer time-outs in milliseconds; 0 keeps the default.
    int checkTimeoutMs = 0;
    int downloadTimeoutMs = 0;
    int analyticsTimeoutMs = 0;
    // Sees every request before it starts; returning false drops it.
    std::function<bool(const QNetworkRequest&)> requestGate;
    // Receives every URL or file that would be opened on the desktop.
    std::function<void(const QUrl&)> urlOpener;
};

void install(Hooks hooks);
void reset();
// The installed hooks, or nullptr.
const Hooks* current();

// The running heartbeat timer, if any.
QTimer* heartbeatTimer();

} // namespace quillmere::NetTesting
