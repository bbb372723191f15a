#pragma once
// The network tests' ground: HTTPS servers inside the test process, with a
// committed certificate trusted only through the test TLS configuration and
// replies scripted by each test; and a fixture with a memory settings store,
// servers standing in for the update and analytics hosts, a gate that sees
// every request and refuses any to another host, and recorders for opened
// URLs and the update alerts.

#include "net/NetTesting.h"
#include "net/Network.h"
#include "net/UpdateChecker.h"
#include "support/StoreTest.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace quillmere::nettest {

struct RecordedRequest {
    QByteArray line; // "METHOD TARGET HTTP/1.1"
    QByteArray body;
    QByteArray head; // the header lines, in lower case
};

// Status, headers and body; with more announced than sent and the
// connection kept open, a stall; without a length and kept open, a body that
// never ends.
struct ScriptedReply {
    static constexpr qint64 noLength = -2; // the body ends when the connection closes
    QByteArray body = {};
    int status = 200;
    QByteArray headers = {}; // more header lines, each ending in CR LF
    qint64 length = -1;      // the Content-Length announced: -1 the body's
    bool close = true;       // the connection closes after the reply
};

inline QByteArray testFile(const char* name) {
    QFile file(QStringLiteral(QUILLMERE_NET_TEST_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestHttpsServer : public QTcpServer {
public:
    // Listens on 127.0.0.1 on a free port; plainHttp serves without TLS.
    explicit TestHttpsServer(bool plainHttp = false) : plain_(plainHttp) {
        listen(QHostAddress::LocalHost, 0);
    }

    QUrl url(const QString& pathAndQuery = {}) const {
        return QUrl(
            QStringLiteral("%1://127.0.0.1:%2%3")
                .arg(plain_ ? "http" : "https", QString::number(serverPort()), pathAndQuery));
    }
    // Each request is answered with the next reply, the last one repeating.
    QList<ScriptedReply> replies = {ScriptedReply{}};
    QList<RecordedRequest> requests;

    static const QSslCertificate& certificate() {
        static const QSslCertificate made(testFile("test-cert.pem"), QSsl::Pem);
        return made;
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            serve(socket, *buffer);
        });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        if (!plain_) {
            static const QSslKey key(testFile("test-key.pem"), QSsl::Ec, QSsl::Pem);
            socket->setLocalCertificate(certificate());
            socket->setPrivateKey(key);
            socket->startServerEncryption();
        }
    }

private:
    void serve(QTcpSocket* socket, QByteArray& buffer) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        qsizetype length = 0;
        for (const QByteArray& line : lines) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        requests.append({lines[0].trimmed(), buffer.mid(headerEnd + 4, length),
                         buffer.left(headerEnd).toLower()});
        buffer.clear();

        const ScriptedReply reply = replies.value(std::min(requests.size(), replies.size()) - 1);
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
        head += "Connection: close\r\n" + reply.headers;
        const qint64 announced = reply.length == -1 ? reply.body.size() : reply.length;
        if (announced >= 0)
            head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
        socket->write(head + "\r\n" + reply.body);
        if (reply.close)
            socket->disconnectFromHost();
    }
    bool plain_;
};

// Hooks that refuse and fail the running test on any request: in force
// outside the fixture's tests, where no alert can come and nothing can be
// opened either.
inline void installLockdown() {
    NetTesting::Hooks hooks;
    hooks.requestGate = [](const QNetworkRequest& request) {
        ADD_FAILURE() << "request outside a network test: "
                      << request.url().toString().toStdString();
        return false;
    };
    NetTesting::install(std::move(hooks));
    UpdateChecker::setAlerts({});
}

class NetFixture : public testing::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        hooks.updateOrigin = updateServer.url();
        hooks.analyticsOrigin = analyticsServer.url();
        // Trusting the test certificate and nothing else.
        hooks.sslConfiguration = QSslConfiguration::defaultConfiguration();
        hooks.sslConfiguration->setCaCertificates({TestHttpsServer::certificate()});
        hooks.downloadsFolder = downloads.path();
        // Requests to another host (a test that lets the real address
        // through) are seen and refused.
        hooks.requestGate = [this](const QNetworkRequest& request) {
            requested.append(request.url());
            return request.url().host() == QLatin1String("127.0.0.1");
        };
        hooks.urlOpener = [this](const QUrl& url) { opened.append(url); };
        UpdateChecker::Alerts shown;
        shown.updateAvailable = [this](const UpdateChecker::Offer& offer) {
            alerts.append(offer.version + (offer.notes ? "|" + *offer.notes : ""));
            return answer;
        };
        shown.noUpdate = [this] { alerts.append("no update"); };
        UpdateChecker::setAlerts(shown);
        NetTesting::install(hooks);
        QObject::connect(&Network::manager(), &QNetworkAccessManager::finished, &updateServer,
                         [this] { ++finishedReplies; });
    }
    void TearDown() override {
        delete NetTesting::heartbeatTimer(); // no heartbeat outlives its test
        // Replies still running (stalled servers) end here, not in the next test.
        for (QNetworkReply* reply : Network::manager().findChildren<QNetworkReply*>())
            reply->abort();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        installLockdown();
        StoreTest::TearDown();
    }

    // Runs send() and waits until the replies it makes have finished, then
    // runs what their ends queued (alerts, opening a download).
    bool finishes(const std::function<void()>& send, int replies = 1) {
        const int count = finishedReplies + replies;
        send();
        const bool done = QTest::qWaitFor([&] { return finishedReplies >= count; }, 10'000);
        QCoreApplication::sendPostedEvents();
        return done;
    }

    TestHttpsServer updateServer;
    TestHttpsServer analyticsServer;
    QTemporaryDir downloads;
    NetTesting::Hooks hooks;

    QList<QUrl> requested; // every request the gate saw
    QList<QUrl> opened;
    // The alerts shown: "VERSION|NOTES" or "VERSION" for an offer, or "no update".
    QStringList alerts;
    UpdateChecker::Answer answer = UpdateChecker::Answer::later; // the user's answer
    int finishedReplies = 0;
};

} // namespace quillmere::nettest
