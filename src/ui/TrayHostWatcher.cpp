#include "TrayHostWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace quillmere {

namespace {

QDBusMessage hostPropertyQuery() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(TrayHostWatcher::watcherService),
        QString::fromLatin1(TrayHostWatcher::watcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << QString::fromLatin1(TrayHostWatcher::watcherInterface)
            << QStringLiteral("IsStatusNotifierHostRegistered");
    return message;
}

// A property reply holds a variant wrapping the Boolean; anything else,
// an error included, reads as no host.
bool hostFlagFrom(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    return value.typeId() == QMetaType::Bool && value.toBool();
}

} // namespace

TrayHostWatcher::TrayHostWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

TrayHostWatcher::~TrayHostWatcher() {
    stopWatching();
}

bool TrayHostWatcher::isHostRegistered() const {
    if (!bus_.isConnected() || !bus_.interface())
        return false;
    if (!bus_.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value())
        return false;
    return hostFlagFrom(bus_.call(hostPropertyQuery(), QDBus::Block, replyTimeoutMs));
}

void TrayHostWatcher::watch() {
    if (fired_ || serviceWatcher_ || !bus_.isConnected())
        return;
    serviceWatcher_ = new QDBusServiceWatcher(QString::fromLatin1(watcherService), bus_,
                                              QDBusServiceWatcher::WatchForRegistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayHostWatcher::queryHost);
    // A watcher may come up before any host registers with it.
    signalConnected_ =
        bus_.connect(QString::fromLatin1(watcherService), QString::fromLatin1(watcherPath),
                     QString::fromLatin1(watcherInterface),
                     QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(onHostSignal()));
    // The host may have arrived between the caller's check and now.
    queryHost();
}

void TrayHostWatcher::queryHost() {
    if (fired_)
        return;
    auto* pending =
        new QDBusPendingCallWatcher(bus_.asyncCall(hostPropertyQuery(), replyTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (hostFlagFrom(call->reply()))
                    fire();
            });
}

void TrayHostWatcher::onHostSignal() {
    fire();
}

void TrayHostWatcher::fire() {
    if (fired_)
        return;
    fired_ = true;
    stopWatching();
    emit hostRegistered();
}

void TrayHostWatcher::stopWatching() {
    if (signalConnected_) {
        bus_.disconnect(QString::fromLatin1(watcherService), QString::fromLatin1(watcherPath),
                        QString::fromLatin1(watcherInterface),
                        QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(onHostSignal()));
        signalConnected_ = false;
    }
    delete serviceWatcher_;
    serviceWatcher_ = nullptr;
}

} // namespace quillmere
