#include "Realtime.h"

#include "engine/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <algorithm>
#include <functional>
#include <sys/resource.h>

namespace quillmere::Realtime {

namespace {
const QString service = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString path = QStringLiteral("/org/freedesktop/RealtimeKit1");
// Long enough for a busy system bus, and it delays nothing.
constexpr int replyTimeoutMs = 5000;

void refused(const QString& why) {
    Log::write(("[Quillmere] no realtime priority for the input thread (" + why +
                "); it runs at normal priority")
                   .toStdString());
}

// Sends a call; the reply (or its error) goes to then(), on this thread.
void call(const QDBusConnection& bus, const QDBusMessage& message,
          std::function<void(const QDBusMessage&)> then) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, replyTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [then = std::move(then)](QDBusPendingCallWatcher* done) {
                         then(done->reply());
                         done->deleteLater();
                     });
}

QDBusMessage getProperty(const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << service << name;
    return get;
}

// A property reply as a number; false when it is an error or not a number.
bool number(const QDBusMessage& reply, qlonglong& value) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    bool ok = false;
    value = reply.arguments().first().value<QDBusVariant>().variant().toLongLong(&ok);
    return ok;
}
} // namespace

void request(pid_t thread, const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        refused(QStringLiteral("no system bus"));
        return;
    }
    call(bus, getProperty(QStringLiteral("MaxRealtimePriority")), [bus, thread](auto& reply) {
        qlonglong maxPriority = 0;
        if (!number(reply, maxPriority) || maxPriority < 1) {
            refused(reply.errorMessage().isEmpty() ? QStringLiteral("no priority offered")
                                                   : reply.errorMessage());
            return;
        }
        call(bus, getProperty(QStringLiteral("RTTimeUSecMax")),
             [bus, thread, maxPriority](auto& r) {
                 qlonglong maxTime = 0;
                 if (!number(r, maxTime) || maxTime < 1) {
                     refused(r.errorMessage().isEmpty() ? QStringLiteral("no time limit offered")
                                                        : r.errorMessage());
                     return;
                 }
                 // rtkit serves only processes that cap their realtime CPU time:
                 // a thread that ever spun that long without blocking would end
                 // the process, which frees the mice.
                 rlimit limit{};
                 getrlimit(RLIMIT_RTTIME, &limit);
                 const rlim_t cap = static_cast<rlim_t>(maxTime);
                 limit.rlim_max = std::min(limit.rlim_max, cap);
                 limit.rlim_cur = limit.rlim_max;
                 if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
                     refused(QStringLiteral("cannot limit the realtime CPU time"));
                     return;
                 }
                 const unsigned priority =
                     std::min<unsigned>(wantedPriority, static_cast<unsigned>(maxPriority));
                 QDBusMessage make = QDBusMessage::createMethodCall(
                     service, path, service, QStringLiteral("MakeThreadRealtime"));
                 make << static_cast<qulonglong>(thread) << priority;
                 call(bus, make, [priority](const QDBusMessage& done) {
                     if (done.type() != QDBusMessage::ReplyMessage)
                         refused(done.errorMessage());
                     else
                         Log::write("[Quillmere] the input thread runs at realtime priority " +
                                    std::to_string(priority));
                 });
             });
    });
}

} // namespace quillmere::Realtime
