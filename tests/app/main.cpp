// Application-shell tests run inside a QApplication on the offscreen platform.
#include "net/Network.h"

#include <QApplication>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The network manager and its thread end while the application runs.
    delete &quillmere::Network::manager();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
