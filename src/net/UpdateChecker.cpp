#include "UpdateChecker.h"

#include "AppInfo.h"
#include "Network.h"
#include "UpdateDownload.h"
#include "UpdateResponse.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <functional>
#include <memory>
#include <optional>

namespace quillmere::UpdateChecker {
namespace {

using Completion = std::function<void(std::optional<UpdateResponse>)>;

QUrl endpoint() {
    QUrl url(QString::fromLatin1(AppInfo::websiteUrl));
    url.setPath(QStringLiteral("/checkUpdate/"));
    url.setQuery(QStringLiteral("v=") + QString::fromLatin1(AppInfo::version));
    return Network::routed(url, Network::Kind::updateCheck);
}

// Sends the request and calls completion once with the decoded reply, or
// with nothing on any failure. Replies larger than the limit are cut off.
void fetchUpdate(Completion completion) {
    const QUrl url = endpoint();
    if (!url.isValid())
        return;
    const QNetworkRequest request = Network::makeRequest(url, Network::Kind::updateCheck);
    if (!Network::mayStart(request))
        return;
    QNetworkReply* reply = Network::manager().get(request);
    auto tooLarge = std::make_shared<bool>(false);
    // Cut the transfer off as soon as the reply is announced or has grown
    // beyond the limit. Aborting inside these signals would leave the reply
    // unfinished, so the abort is queued.
    const auto guard = [reply, tooLarge] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (*tooLarge || (announced <= UpdateReplies::maximumBytes &&
                          reply->bytesAvailable() <= UpdateReplies::maximumBytes))
            return;
        *tooLarge = true;
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, guard);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, guard);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, tooLarge, completion = std::move(completion)] {
                         reply->deleteLater();
                         if (*tooLarge || !Network::gotHttpAnswer(*reply)) {
                             completion(std::nullopt);
                             return;
                         }
                         completion(UpdateReplies::decode(reply->readAll()));
                     });
}

Alerts& installedAlerts() {
    static Alerts alerts;
    return alerts;
}

void offerUpdate(const UpdateResponse& response) {
    const Alerts& alerts = installedAlerts();
    if (!alerts.updateAvailable)
        return;
    Offer offer{UpdateReplies::displayText(response.latestVersion, false), std::nullopt};
    if (response.releaseNotes)
        offer.notes = UpdateReplies::displayText(*response.releaseNotes, true);
    switch (alerts.updateAvailable(offer)) {
    case Answer::later:
        break;
    case Answer::download:
        if (response.downloadUrl) {
            const QUrl url(*response.downloadUrl, QUrl::StrictMode);
            if (url.isValid() && !url.isRelative())
                UpdateDownload::start(url);
        }
        break;
    case Answer::visitWebsite:
        Network::openUrl(QUrl(QString::fromLatin1(AppInfo::websiteUrl)));
        break;
    }
}

void check(bool reportNoUpdate) {
    fetchUpdate([reportNoUpdate](std::optional<UpdateResponse> response) {
        if (!response)
            return;
        // The alert runs its own modal loop: start it from the event loop,
        // not from inside the reply's signal.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [reportNoUpdate, response = *response] {
                if (response.updateAvailable)
                    offerUpdate(response);
                else if (reportNoUpdate && installedAlerts().noUpdate)
                    installedAlerts().noUpdate();
            },
            Qt::QueuedConnection);
    });
}

} // namespace

void setAlerts(Alerts alerts) {
    installedAlerts() = std::move(alerts);
}

void checkForUpdate() {
    check(true);
}

void checkSilently() {
    check(false);
}

} // namespace quillmere::UpdateChecker
