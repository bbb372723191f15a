#pragma once
// An HTTPS server inside the test process: a certificate made at run time
// with the openssl tool, trusted only through the test TLS configuration,
// and replies scripted by each test.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

#include <functional>

namespace quillmere::nettest {

// Runs the event loop until the condition holds or the time is up; wakes on
// every event rather than polling at a coarse step.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10'000);

struct RecordedRequest {
    QByteArray method;
    QByteArray target;                    // path and query as sent
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct ScriptedReply {
    enum class Mode {
        complete,       // status, headers and the whole body, then close
        silent,         // never answers
        stallInBody,    // headers and the body, but announces more and stalls
        closeDelimited, // no Content-Length: the body ends when the connection closes
    };
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    Mode mode = Mode::complete;
    // For stallInBody: the Content-Length announced (default: 1000 more
    // bytes than are sent).
    qint64 announcedLength = -1;
    // For closeDelimited: send the body but never close, so it never ends.
    bool keepOpen = false;
};

class TestHttpsServer : public QTcpServer {
    Q_OBJECT
public:
    using Handler = std::function<ScriptedReply(const RecordedRequest&)>;

    // Listens on 127.0.0.1 on a free port; plainHttp serves without TLS.
    explicit TestHttpsServer(bool plainHttp = false);
    ~TestHttpsServer() override;

    QUrl origin() const;
    QUrl url(const QString& pathAndQuery) const;

    void setHandler(Handler handler) { handler_ = std::move(handler); }
    void setReply(const ScriptedReply& reply) {
        handler_ = [reply](const RecordedRequest&) { return reply; };
    }

    const QList<RecordedRequest>& requests() const { return requests_; }
    int connections() const { return connections_; }
    bool waitForRequests(int count, int timeoutMs = 10'000);

    // A client configuration that trusts the test certificate and nothing
    // else. Empty (null certificate) if the certificate could not be made.
    static QSslConfiguration clientConfiguration();
    static bool certificateReady();
    // An origin on which nothing listens.
    static QUrl closedOrigin();

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket* socket, QByteArray& buffer);

    bool plain_;
    Handler handler_;
    QList<RecordedRequest> requests_;
    int connections_ = 0;
};

} // namespace quillmere::nettest
