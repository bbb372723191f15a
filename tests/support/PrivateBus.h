#pragma once
// A dbus-daemon of the test's own, for stand-ins of the services the app
// talks to (a panel's tray watcher, rtkit, logind); tests skip where the
// program is missing. Header-only: only tests that link Qt D-Bus use it.

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace quillmere::testing {

class PrivateBus {
public:
    PrivateBus() {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty())
            return;
        daemon_.start(program, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000))
            return;
        for (int i = 0; i < 50 && !daemon_.canReadLine(); ++i)
            daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return !address_.isEmpty(); }
    QString address() const { return address_; }
    QDBusConnection connect(const QString& name) {
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

} // namespace quillmere::testing
