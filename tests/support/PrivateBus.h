#pragma once
// A dbus-daemon of the test's own, for stand-ins of the services the app
// talks to (a panel's tray watcher, rtkit, logind); tests skip where the
// program is missing. Header-only: only tests that link Qt D-Bus use it.
// startServer() also serves other servers of a test's own (Xvfb).

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>

namespace quillmere::testing {

// Starts a server that names where to reach it on its first line of output
// (a bus address, a display number); that line, empty when the program is
// missing or never said it.
inline QByteArray startServer(QProcess& process, const char* name, const QStringList& arguments) {
    process.start(QString::fromLatin1(name), arguments); // fails at once when missing
    for (int i = 0; i < 100 && process.state() != QProcess::NotRunning && !process.canReadLine();
         ++i)
        process.waitForReadyRead(100);
    return process.readLine().trimmed();
}

class PrivateBus {
public:
    PrivateBus()
        : address_(QString::fromUtf8(
              startServer(daemon_, "dbus-daemon",
                          {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")}))) {}
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
