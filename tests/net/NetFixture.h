#pragma once
// The network tests' ground: HTTPS servers inside the test process, with a
// committed certificate trusted only through the test TLS configuration and
// replies scripted by each test; and a fixture with a memory settings store,
// servers standing in for the update and analytics hosts, a gate that
// refuses (and fails the test on) any request to another host, and
// recorders for opened URLs and the update alerts.

#include "engine/MemorySettingsStore.h"
#include "net/NetTesting.h"
#include "net/UpdateChecker.h"

#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace quillmere::nettest {

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
    QByteArray body = {};
    QList<QPair<QByteArray, QByteArray>> headers = {};
    Mode mode = Mode::complete;
    qint64 announcedLength = -1; // stallInBody: default 1000 bytes more than sent
    bool keepOpen = false;       // closeDelimited: never close, so the body never ends
};

class TestHttpsServer : public QTcpServer {
public:
    // Listens on 127.0.0.1 on a free port; plainHttp serves without TLS.
    explicit TestHttpsServer(bool plainHttp = false);

    QUrl origin() const;
    QUrl url(const QString& pathAndQuery) const { return QUrl(origin().toString() + pathAndQuery); }
    void setReply(const ScriptedReply& reply) {
        handler = [reply](const RecordedRequest&) { return reply; };
    }

    std::function<ScriptedReply(const RecordedRequest&)> handler;
    QList<RecordedRequest> requests;
    int connections = 0;

    // Trusts the test certificate and nothing else.
    static QSslConfiguration clientConfiguration();
    // An origin on which nothing listens.
    static QUrl closedOrigin();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket* socket, QByteArray& buffer);
    bool plain_;
};

// Hooks that refuse and fail the running test on any request: in force
// outside the fixture's tests.
void installLockdown();

class NetFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void applyHooks() { NetTesting::install(hooks); }
    // The address the request that send() makes would go to without the
    // test origins; the request is refused.
    QUrl addressOf(const std::function<void()>& send);
    // Waits until the shared manager has finished this many replies in all,
    // then runs what their ends queued (alerts, opening a download).
    bool waitForFinished(int count);
    // Runs send() and waits until the one reply it makes has finished.
    bool finishes(const std::function<void()>& send) {
        const int before = finishedReplies;
        send();
        return waitForFinished(before + 1);
    }

    MemorySettingsStore store;
    TestHttpsServer updateServer;
    TestHttpsServer analyticsServer;
    QTemporaryDir downloads;
    NetTesting::Hooks hooks;

    QList<QUrl> requested; // every request the gate saw
    QList<QUrl> opened;
    // The alerts shown: an offer, or nothing for "no update".
    QList<std::optional<UpdateChecker::Offer>> alerts;
    UpdateChecker::Answer answer = UpdateChecker::Answer::later; // the user's answer
    int finishedReplies = 0;
};

} // namespace quillmere::nettest
