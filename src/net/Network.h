#pragma once
// The one network access manager of the process and the request set-up that
// the update checker and analytics share.

#include <QNetworkRequest>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace quillmere::Network {

inline constexpr int defaultTimeoutMs = 60'000;

enum class Kind { updateCheck, download, analytics };

// Made on first use on the main thread, owned by the application object.
QNetworkAccessManager& manager();

// A request for the URL with the redirect policy (never from https to
// http), the time-out for its kind and any test TLS configuration.
QNetworkRequest makeRequest(const QUrl& url, Kind kind);

// Whether the request may start (always, outside tests).
bool mayStart(const QNetworkRequest& request);

// The URL with its scheme, host and port replaced by the test origin for
// that kind, if one is installed.
QUrl routed(QUrl url, Kind kind);

// Opens a web page or a file with the user's default application.
void openUrl(const QUrl& url);

// Whether a finished reply got an HTTP answer, whatever its status: Qt
// reports 4xx/5xx statuses as errors, transport failures have other codes.
bool gotHttpAnswer(const QNetworkReply& reply);

} // namespace quillmere::Network
