#include "UpdateChecker.h"

#include "AppInfo.h"
#include "NetTesting.h"
#include "Network.h"
#include "UpdateDownload.h"
#include "UpdateResponse.h"
#include "ui/Localization.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

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

// Every label of the box shows its text as plain text: the version and the
// release notes come from the server.
void makePlain(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

void runModally(QMessageBox& box) {
    if (const auto* hooks = NetTesting::current(); hooks && hooks->messageBoxHook)
        hooks->messageBoxHook(box);
    box.exec();
}

void showUpdateAlert(const QString& version, const std::optional<QString>& notes,
                     const std::optional<QString>& downloadUrl) {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(AppInfo::productName));
    box.setIcon(QMessageBox::Information);
    box.setText(QStringLiteral("Quillmere - ") + L10n::updateAvailable());
    QString message = L10n::updateMessage(UpdateReplies::displayText(version, false));
    if (notes)
        message += QStringLiteral("\n\n") + UpdateReplies::displayText(*notes, true);
    box.setInformativeText(message);
    // One role for all three keeps them in this order on every desktop.
    QPushButton* later = box.addButton(L10n::later(), QMessageBox::ActionRole);
    QPushButton* download = box.addButton(L10n::download(), QMessageBox::ActionRole);
    QPushButton* website = box.addButton(L10n::visitWebsite(), QMessageBox::ActionRole);
    box.setDefaultButton(later);
    box.setEscapeButton(later);
    makePlain(box);
    runModally(box);

    const QAbstractButton* pressed = box.clickedButton();
    if (pressed == download) {
        if (!downloadUrl)
            return;
        const QUrl url(*downloadUrl, QUrl::StrictMode);
        if (url.isValid() && !url.isRelative())
            UpdateDownload::start(url);
    } else if (pressed == website) {
        Network::openUrl(QUrl(QString::fromLatin1(AppInfo::websiteUrl)));
    }
}

void showNoUpdateAlert() {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(AppInfo::productName));
    box.setIcon(QMessageBox::Information);
    box.setText(L10n::noUpdateTitle());
    box.setInformativeText(L10n::noUpdateMessage());
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    makePlain(box);
    runModally(box);
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
                    showUpdateAlert(response.latestVersion, response.releaseNotes,
                                    response.downloadUrl);
                else if (reportNoUpdate)
                    showNoUpdateAlert();
            },
            Qt::QueuedConnection);
    });
}

} // namespace

void checkForUpdate() {
    check(true);
}

void checkSilently() {
    check(false);
}

} // namespace quillmere::UpdateChecker
