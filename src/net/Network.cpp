#include "Network.h"

#include "NetTesting.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <memory>

namespace quillmere {
namespace {
std::unique_ptr<NetTesting::Hooks> installedHooks;
QPointer<QNetworkAccessManager> sharedManager;

int timeoutFor(Network::Kind kind) {
    int override = 0;
    if (const auto* hooks = NetTesting::current()) {
        switch (kind) {
        case Network::Kind::updateCheck:
            override = hooks->checkTimeoutMs;
            break;
        case Network::Kind::download:
            override = hooks->downloadTimeoutMs;
            break;
        case Network::Kind::analytics:
            override = hooks->analyticsTimeoutMs;
            break;
        }
    }
    return override > 0 ? override : Network::defaultTimeoutMs;
}
} // namespace

namespace NetTesting {
void install(Hooks hooks) {
    installedHooks = std::make_unique<Hooks>(std::move(hooks));
}
void reset() {
    installedHooks.reset();
}
const Hooks* current() {
    return installedHooks.get();
}
} // namespace NetTesting

namespace Network {

QNetworkAccessManager& manager() {
    if (!sharedManager)
        sharedManager = new QNetworkAccessManager(QCoreApplication::instance());
    return *sharedManager;
}

QNetworkRequest makeRequest(const QUrl& url, Kind kind) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutFor(kind));
    if (const auto* hooks = NetTesting::current(); hooks && hooks->sslConfiguration)
        request.setSslConfiguration(*hooks->sslConfiguration);
    return request;
}

bool mayStart(const QNetworkRequest& request) {
    const auto* hooks = NetTesting::current();
    return !hooks || !hooks->requestGate || hooks->requestGate(request);
}

QUrl routed(QUrl url, Kind kind) {
    const auto* hooks = NetTesting::current();
    if (!hooks)
        return url;
    const QUrl& origin = kind == Kind::analytics ? hooks->analyticsOrigin : hooks->updateOrigin;
    if (origin.isEmpty())
        return url;
    url.setScheme(origin.scheme());
    url.setHost(origin.host());
    url.setPort(origin.port());
    return url;
}

void openUrl(const QUrl& url) {
    if (const auto* hooks = NetTesting::current(); hooks && hooks->urlOpener) {
        hooks->urlOpener(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

bool gotHttpAnswer(const QNetworkReply& reply) {
    const int code = reply.error();
    if (code == QNetworkReply::NoError)
        return true;
    const bool statusError =
        (code >= QNetworkReply::ContentAccessDenied &&
         code <= QNetworkReply::UnknownContentError) ||
        (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
    return statusError && reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

} // namespace Network
} // namespace quillmere
