#pragma once
// A stand-in for logind on a test's own bus: the manager that names this
// process's session and says when the machine goes to sleep, and the
// session whose Active property changes hands. Header-only, for the tests
// that link Qt D-Bus (list it among their sources, so that moc sees it).

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace quillmere::testing {

class StandInLogindManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    // "auto": the caller's session, else the user's display session (a
    // logind older than systemd 246 knows no such name).
    QDBusObjectPath GetSession(const QString& name) {
        return answer(name == QStringLiteral("auto") && answersAuto);
    }
    // Refused for a process outside any session, as one that the desktop
    // starts in a systemd scope of its own is.
    QDBusObjectPath GetSessionByPID(uint) { return answer(inSession); }
signals:
    void PrepareForSleep(bool start);

public:
    static QString sessionPath() { return QStringLiteral("/org/freedesktop/login1/session/c7"); }
    bool answersAuto = true;
    bool inSession = true;

private:
    QDBusObjectPath answer(bool known) {
        if (!known)
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"),
                           QStringLiteral("no session"));
        return QDBusObjectPath(sessionPath());
    }
};

class StandInLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active MEMBER active)
public:
    bool active = true;
};

class StandInLogind {
public:
    // Registers both on the connection as org.freedesktop.login1.
    bool serveOn(QDBusConnection bus) {
        bus_ = bus;
        return bus_.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                   QDBusConnection::ExportAllContents) &&
               bus_.registerObject(StandInLogindManager::sessionPath(), &session,
                                   QDBusConnection::ExportAllContents) &&
               bus_.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    // The seat changes hands: the property, then the signal that says so
    // (with the value, or only its name, as logind may).
    void setActive(bool active, bool withValue = true) {
        session.active = active;
        const QVariantMap values{{QStringLiteral("Active"), active}};
        const QStringList invalidated{QStringLiteral("Active")};
        bus_.send(QDBusMessage::createSignal(StandInLogindManager::sessionPath(),
                                             QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("PropertiesChanged"))
                  << QStringLiteral("org.freedesktop.login1.Session")
                  << (withValue ? values : QVariantMap())
                  << (withValue ? QStringList() : invalidated));
    }

    StandInLogindManager manager;
    StandInLogindSession session;

private:
    QDBusConnection bus_{QString()};
};

} // namespace quillmere::testing
