#pragma once
// Follows the user's login session through logind (org.freedesktop.login1
// on the system bus): the one this process runs in, or, when the desktop
// started it outside any session (in a systemd scope of its own), the
// user's display session. It tells whether that session is the active
// session of its seat, and whether the machine is about to sleep. When
// another user takes the seat, their session gets the mice's access, but
// descriptors opened before stay valid: the input layer must let go by
// itself (see LinuxEventServices::setSessionActive()).
//
// Everything is asynchronous: start-up and input never wait for logind.
// Without a system bus, or without a session logind names, nothing is
// reported and the session counts as active, as it always did.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace quillmere {

class SessionWatcher : public QObject {
    Q_OBJECT
public:
    explicit SessionWatcher(const QDBusConnection& bus = QDBusConnection::systemBus(),
                            QObject* parent = nullptr);
    bool isActive() const { return active_ && !sleeping_; }

signals:
    // The session has the seat and the machine is awake (true), or not.
    void activeChanged(bool active);

private slots:
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);
    void prepareForSleep(bool sleeping);

private:
    void watchSession(const QString& path);
    void askActive();
    void set(bool active, bool sleeping);

    QDBusConnection bus_;
    QString sessionPath_;
    bool active_ = true;
    bool sleeping_ = false;
};

} // namespace quillmere
