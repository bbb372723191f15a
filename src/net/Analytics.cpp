#include "Analytics.h"

#include "NetTesting.h"
#include "Network.h"
#include "engine/Log.h"
#include "engine/ScrollConfig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrlQuery>
#include <QUuid>

#include <cmath>

namespace quillmere::Analytics {
namespace {

constexpr const char* measurementId = "G-7QWZR25106";
constexpr const char* apiSecret = "Kt4vNw8cRz2LpQm6YhsB1e";
constexpr const char* placeholderId = "G-XXXXXXXXXX";
constexpr const char* collectionHost = "www.google-analytics.com";
constexpr const char* clientIdKey = "ga_client_id";
constexpr int engagementTimeMsec = 100;

QPointer<QTimer> heartbeat;

QString currentMeasurementId() {
    if (const auto* hooks = NetTesting::current(); hooks && hooks->measurementId)
        return *hooks->measurementId;
    return QString::fromLatin1(measurementId);
}

// Whole seconds since 1970 at the first event of this process.
const QString& sessionId() {
    static const QString id = QString::number(QDateTime::currentSecsSinceEpoch());
    return id;
}

// The stored identifier as it is, or a new upper-case UUID that is stored.
QString clientId() {
    SettingsStore& store = ScrollConfig::defaults();
    if (const auto stored = store.string(clientIdKey))
        return QString::fromStdString(*stored);
    const QString made = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    store.setObject(clientIdKey, made.toStdString());
    return made;
}

QUrl endpoint(const QString& id) {
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QString::fromLatin1(collectionHost));
    url.setPath(QStringLiteral("/mp/collect"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("measurement_id"), id);
    query.addQueryItem(QStringLiteral("api_secret"), QString::fromLatin1(apiSecret));
    url.setQuery(query);
    return Network::routed(url, Network::Kind::analytics);
}

} // namespace

void send(const QString& name, const QJsonObject& params) {
    const QString id = currentMeasurementId();
    if (id == QLatin1String(placeholderId))
        return;
    const QUrl url = endpoint(id);
    if (!url.isValid())
        return;

    QJsonObject eventParams = params;
    eventParams.insert(QStringLiteral("session_id"), sessionId());
    eventParams.insert(QStringLiteral("engagement_time_msec"), engagementTimeMsec);
    QJsonObject event;
    event.insert(QStringLiteral("name"), name);
    event.insert(QStringLiteral("params"), eventParams);
    QJsonObject body;
    body.insert(QStringLiteral("client_id"), clientId());
    body.insert(QStringLiteral("events"), QJsonArray{event});

    QNetworkRequest request = Network::makeRequest(url, Network::Kind::analytics);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (!Network::mayStart(request))
        return;
    QNetworkReply* reply =
        Network::manager().post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    // Fire and forget: the reply is never read, only released.
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void startHeartbeat(double intervalSeconds) {
    if (heartbeat) {
        heartbeat->stop();
        delete heartbeat.data();
    }
    const double ms = std::round(intervalSeconds * 1000.0);
    if (!std::isfinite(ms) || ms < 1.0 || ms > 2'000'000'000.0) {
        // Not a usable period: no heartbeat rather than a flood of events.
        Log::write("[Quillmere] Heartbeat not started: unusable interval");
        return;
    }
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(ms));
    QObject::connect(timer, &QTimer::timeout, [] { send(QStringLiteral("user_engagement")); });
    timer->start();
    heartbeat = timer;
}

} // namespace quillmere::Analytics

namespace quillmere::NetTesting {
QTimer* heartbeatTimer() {
    return Analytics::heartbeat ? Analytics::heartbeat.data() : nullptr;
}
} // namespace quillmere::NetTesting
