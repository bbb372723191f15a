// Test entry point for the Qt-side tests: one QApplication for the whole run,
// on Qt's offscreen platform unless the environment names another. No proxy
// is used, so that every request goes straight to the network tests' local
// servers, and nothing reaches a real host even between tests.

#include "net/NetFixture.h"

#include <QApplication>
#include <QNetworkProxy>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    quillmere::nettest::installLockdown();
    const int result = RUN_ALL_TESTS();
    // The network manager and its thread end while the application runs.
    delete &quillmere::Network::manager();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
