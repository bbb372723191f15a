// Platform tests run with a Qt application object, so that file watchers and
// socket notifiers have an event loop to deliver to. GSettings keeps its
// values in memory: tests never read or change the user's desktop settings.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("GSETTINGS_BACKEND", "memory");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
