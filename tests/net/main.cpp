// Network tests run with a real event loop; no proxy is used so that every
// request goes straight to the local servers, and nothing reaches a real
// host even between tests.

#include "NetFixture.h"

#include <QNetworkProxy>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    quillmere::nettest::installLockdown();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The manager and its network thread end here, while the application
    // still runs, not in the middle of its destruction.
    delete &quillmere::Network::manager();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
