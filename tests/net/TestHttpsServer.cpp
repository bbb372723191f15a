#include "TestHttpsServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace quillmere::nettest {
namespace {

struct Credentials {
    Credentials() = default;
    Credentials(QSslCertificate c, QSslKey k) : certificate(std::move(c)), key(std::move(k)) {}
    QSslCertificate certificate;
    QSslKey key;
};

Credentials makeCredentials() {
    QTemporaryDir dir;
    if (!dir.isValid())
        return Credentials();
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", keyPath, "-out", certPath});
    if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
        return Credentials();
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return Credentials();
    return Credentials(QSslCertificate(certFile.readAll(), QSsl::Pem),
                       QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem));
}

const Credentials& credentials() {
    static const Credentials made = makeCredentials();
    return made;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake; // bounds each wait, so the deadline is noticed
    wake.start(5);
    while (!condition()) {
        if (elapsed.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

TestHttpsServer::TestHttpsServer(bool plainHttp) : plain_(plainHttp) {
    listen(QHostAddress::LocalHost, 0);
}

TestHttpsServer::~TestHttpsServer() {
    close();
}

QUrl TestHttpsServer::origin() const {
    QUrl url;
    url.setScheme(plain_ ? QStringLiteral("http") : QStringLiteral("https"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(serverPort());
    return url;
}

QUrl TestHttpsServer::url(const QString& pathAndQuery) const {
    return QUrl(origin().toString() + pathAndQuery);
}

bool TestHttpsServer::waitForRequests(int count, int timeoutMs) {
    return waitUntil([&] { return requests_.size() >= count; }, timeoutMs);
}

QSslConfiguration TestHttpsServer::clientConfiguration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates({credentials().certificate});
    return configuration;
}

bool TestHttpsServer::certificateReady() {
    return !credentials().certificate.isNull() && !credentials().key.isNull();
}

QUrl TestHttpsServer::closedOrigin() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    return url;
}

void TestHttpsServer::incomingConnection(qintptr descriptor) {
    ++connections_;
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        serve(socket, *buffer);
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    if (!plain_) {
        socket->setLocalCertificate(credentials().certificate);
        socket->setPrivateKey(credentials().key);
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
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    requests_.append(request);

    const ScriptedReply reply = handler_ ? handler_(request) : ScriptedReply{};
    emit requestReceived();
    if (reply.mode == ScriptedReply::Mode::silent)
        return;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\nConnection: close\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.mode == ScriptedReply::Mode::stallInBody)
        head += "Content-Length: " +
                QByteArray::number(reply.announcedLength >= 0 ? reply.announcedLength
                                                              : reply.body.size() + 1000) +
                "\r\n";
    else if (reply.mode == ScriptedReply::Mode::complete)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    socket->write(head + "\r\n" + reply.body);
    if (reply.mode != ScriptedReply::Mode::stallInBody && !reply.keepOpen)
        socket->disconnectFromHost();
}

} // namespace quillmere::nettest
