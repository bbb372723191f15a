#include "NetFixture.h"

#include "engine/ScrollConfig.h"
#include "net/Network.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslKey>
#include <QSslSocket>
#include <QTest>

#include <memory>

namespace quillmere::nettest {
namespace {

QByteArray readTestFile(const char* name) {
    QFile file(QStringLiteral(QUILLMERE_NET_TEST_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QSslCertificate& certificate() {
    static const QSslCertificate made(readTestFile("test-cert.pem"), QSsl::Pem);
    return made;
}

const QSslKey& key() {
    static const QSslKey made(readTestFile("test-key.pem"), QSsl::Ec, QSsl::Pem);
    return made;
}

} // namespace

TestHttpsServer::TestHttpsServer(bool plainHttp) : plain_(plainHttp) {
    listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpsServer::origin() const {
    return QUrl(QStringLiteral("%1://127.0.0.1:%2")
                    .arg(plain_ ? QStringLiteral("http") : QStringLiteral("https"))
                    .arg(serverPort()));
}

QSslConfiguration TestHttpsServer::clientConfiguration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates({certificate()});
    return configuration;
}

QUrl TestHttpsServer::closedOrigin() {
    TestHttpsServer probe;
    const QUrl origin = probe.origin();
    probe.close();
    return origin;
}

void TestHttpsServer::incomingConnection(qintptr descriptor) {
    ++connections;
    auto* socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        serve(socket, *buffer);
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    if (!plain_) {
        socket->setLocalCertificate(certificate());
        socket->setPrivateKey(key());
        socket->startServerEncryption();
    }
}

void TestHttpsServer::serve(QTcpSocket* socket, QByteArray& buffer) {
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (const QByteArray& line : lines.mid(1)) {
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(),
                                   line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    requests.append(request);

    using Mode = ScriptedReply::Mode;
    const ScriptedReply reply = handler ? handler(request) : ScriptedReply{};
    if (reply.mode == Mode::silent)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    qint64 announced = reply.body.size();
    if (reply.mode == Mode::stallInBody)
        announced = reply.announcedLength >= 0 ? reply.announcedLength : announced + 1000;
    if (reply.mode != Mode::closeDelimited)
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    socket->write(head + "\r\n" + reply.body);
    if (reply.mode != Mode::stallInBody && !reply.keepOpen)
        socket->disconnectFromHost();
}

void installLockdown() {
    // Without a request no alert can come and nothing can be opened.
    NetTesting::Hooks hooks;
    hooks.requestGate = [](const QNetworkRequest& request) {
        ADD_FAILURE() << "request outside a network test: "
                      << request.url().toString().toStdString();
        return false;
    };
    NetTesting::install(std::move(hooks));
    UpdateChecker::setAlerts({});
}

QUrl NetFixture::addressOf(const std::function<void()>& send) {
    NetTesting::Hooks real = hooks;
    real.updateOrigin = real.analyticsOrigin = QUrl();
    QUrl seen;
    real.requestGate = [&seen](const QNetworkRequest& request) {
        seen = request.url();
        return false;
    };
    NetTesting::install(real);
    send();
    applyHooks();
    return seen;
}

void NetFixture::SetUp() {
    ASSERT_FALSE(certificate().isNull() || key().isNull()) << "test certificate or key unreadable";
    ASSERT_TRUE(updateServer.isListening() && analyticsServer.isListening() && downloads.isValid());
    ScrollConfig::setDefaults(&store);
    hooks.updateOrigin = updateServer.origin();
    hooks.analyticsOrigin = analyticsServer.origin();
    hooks.sslConfiguration = TestHttpsServer::clientConfiguration();
    hooks.downloadsFolder = downloads.path();
    hooks.requestGate = [this](const QNetworkRequest& request) {
        requested.append(request.url());
        const bool local = request.url().host() == QLatin1String("127.0.0.1");
        EXPECT_TRUE(local) << "request to another host: " << request.url().toString().toStdString();
        return local;
    };
    hooks.urlOpener = [this](const QUrl& url) { opened.append(url); };
    UpdateChecker::Alerts shown;
    shown.updateAvailable = [this](const UpdateChecker::Offer& offer) {
        alerts.append(offer);
        return answer;
    };
    shown.noUpdate = [this] { alerts.append(std::nullopt); };
    UpdateChecker::setAlerts(shown);
    applyHooks();
    QObject::connect(&Network::manager(), &QNetworkAccessManager::finished, &updateServer,
                     [this] { ++finishedReplies; });
}

void NetFixture::TearDown() {
    // Replies still running (stalled servers) end here, not in the next test.
    for (QNetworkReply* reply : Network::manager().findChildren<QNetworkReply*>())
        reply->abort();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    installLockdown();
    ScrollConfig::setDefaults(nullptr);
}

bool NetFixture::waitForFinished(int count) {
    const bool done = QTest::qWaitFor([&] { return finishedReplies >= count; }, 10'000);
    QCoreApplication::sendPostedEvents();
    return done;
}

} // namespace quillmere::nettest
