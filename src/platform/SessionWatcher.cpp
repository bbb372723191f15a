#include "SessionWatcher.h"

#include "engine/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <unistd.h>

namespace quillmere {

namespace {
const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");

// The session path in logind's answer, or "" for an error.
QString sessionIn(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusObjectPath>().path();
}

// The answer is dropped if `owner` goes first.
template <typename Then>
void call(QObject* owner, QDBusConnection& bus, const QDBusMessage& message, Then then) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [then](QDBusPendingCallWatcher* done) {
                         then(done->reply());
                         done->deleteLater();
                     });
}
} // namespace

SessionWatcher::SessionWatcher(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
    if (!bus_.isConnected()) {
        Log::write("[Quillmere] no system bus: user switching and sleep are not followed");
        return;
    }
    bus_.connect(login1, managerPath, managerInterface, QStringLiteral("PrepareForSleep"), this,
                 SLOT(prepareForSleep(bool)));
    // "auto" is the session this process is in, else the user's display
    // session: desktops start their apps in systemd scopes of their own,
    // outside the login session, where asking by process finds none. A
    // logind older than systemd 246 knows only the question by process.
    QDBusMessage byName = QDBusMessage::createMethodCall(login1, managerPath, managerInterface,
                                                         QStringLiteral("GetSession"));
    byName << QStringLiteral("auto");
    call(this, bus_, byName, [this](const QDBusMessage& reply) {
        if (const QString path = sessionIn(reply); !path.isEmpty()) {
            watchSession(path);
            return;
        }
        QDBusMessage byProcess = QDBusMessage::createMethodCall(
            login1, managerPath, managerInterface, QStringLiteral("GetSessionByPID"));
        byProcess << static_cast<uint>(::getpid());
        call(this, bus_, byProcess, [this](const QDBusMessage& answer) {
            if (const QString path = sessionIn(answer); !path.isEmpty())
                watchSession(path);
            else
                Log::write(("[Quillmere] no login session to follow (" + answer.errorMessage() +
                            "): user switching is not followed")
                               .toStdString());
        });
    });
}

void SessionWatcher::watchSession(const QString& path) {
    sessionPath_ = path;
    bus_.connect(login1, path, properties, QStringLiteral("PropertiesChanged"), this,
                 SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    askActive();
}

void SessionWatcher::askActive() {
    QDBusMessage get =
        QDBusMessage::createMethodCall(login1, sessionPath_, properties, QStringLiteral("Get"));
    get << sessionInterface << QStringLiteral("Active");
    call(this, bus_, get, [this](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            set(reply.arguments().first().value<QDBusVariant>().variant().toBool(), sleeping_);
    });
}

void SessionWatcher::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                              const QStringList& invalidated) {
    if (interface != sessionInterface)
        return;
    if (const auto found = changed.find(QStringLiteral("Active")); found != changed.end())
        set(found->toBool(), sleeping_);
    else if (invalidated.contains(QStringLiteral("Active")))
        askActive();
}

void SessionWatcher::prepareForSleep(bool sleeping) {
    set(active_, sleeping);
}

void SessionWatcher::set(bool active, bool sleeping) {
    const bool before = isActive();
    active_ = active;
    sleeping_ = sleeping;
    if (isActive() != before)
        emit activeChanged(isActive());
}

} // namespace quillmere
