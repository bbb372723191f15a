// Test entry point for the interface and application-shell tests: one
// QApplication for the whole run, on Qt's offscreen platform unless the
// environment names another.

#include "net/Network.h"

#include <QApplication>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    // The network manager and its thread end while the application runs.
    delete &quillmere::Network::manager();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
