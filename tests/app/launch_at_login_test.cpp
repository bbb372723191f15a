// Launch at login through the autostart entry: register, read back,
// unregister, session-manager switches, failures.
#include "app/LaunchAtLoginHelper.h"
#include "engine/Log.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/Autostart.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace quillmere {
namespace {

class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        ScrollConfig::setDefaults(&store);
    }
    void TearDown() override {
        ScrollConfig::setDefaults(nullptr);
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }
    QString entryText() const {
        QFile file(Autostart::entryPath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QString::fromUtf8(file.readAll());
    }
    void writeEntry(const QString& text) const {
        QFile file(Autostart::entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    QTemporaryDir dir;
    QByteArray oldConfig;
    MemorySettingsStore store;
    testing::LogCapture log;
};

TEST_F(LaunchAtLoginTest, RegisterWritesAnEntryForTheRunningBinaryAndUnregisterRemovesIt) {
    EXPECT_EQ(Autostart::entryPath(), dir.path() + "/autostart/app.quillmere.Quillmere.desktop");
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());

    LaunchAtLoginHelper::setEnabled(true);
    EXPECT_TRUE(LaunchAtLoginHelper::isEnabled());
    EXPECT_EQ(store.boolValue("launchAtLogin"), true);
    const QString text = entryText();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains(
        "\nExec=" + Autostart::execValue(QCoreApplication::applicationFilePath()) + "\n"));
    EXPECT_TRUE(QDir::isAbsolutePath(QCoreApplication::applicationFilePath()));

    LaunchAtLoginHelper::setEnabled(false);
    EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    LaunchAtLoginHelper::setEnabled(false); // nothing there: still a success
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(LaunchAtLoginTest, StatusHonoursBothSessionManagerSwitches) {
    LaunchAtLoginHelper::setEnabled(true);
    writeEntry("[Desktop Entry]\nType=Application\nExec=/x\nHidden=true\n");
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    writeEntry("[Desktop Entry]\nType=Application\nExec=/x\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    // Keys of other groups do not count.
    writeEntry("[Desktop Entry]\nExec=/x\n[Desktop Action quit]\nHidden=true\n");
    EXPECT_TRUE(LaunchAtLoginHelper::isEnabled());
    // Turning it on again replaces a disabled entry with an enabled one.
    writeEntry("[Desktop Entry]\nExec=/x\nHidden=true\n");
    LaunchAtLoginHelper::setEnabled(true);
    EXPECT_TRUE(LaunchAtLoginHelper::isEnabled());
}

TEST_F(LaunchAtLoginTest, FailureLogsOneLineAndLeavesTheStoredValue) {
    store.setBool("launchAtLogin", false);
    // A file where the autostart folder should be makes registration fail.
    QFile blocker(dir.path() + "/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LaunchAtLoginHelper::setEnabled(true);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[Quillmere] Launch at login error: ", 0), 0u);
    EXPECT_GT(log.lines[0].size(), std::string("[Quillmere] Launch at login error: ").size());
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
}

TEST(AutostartExec, PathsAreQuotedAndEscapedAsDesktopEntriesRequire) {
    EXPECT_EQ(Autostart::execValue("/usr/bin/quillmere"), "/usr/bin/quillmere");
    EXPECT_EQ(Autostart::execValue("/opt/My Apps/quillmere"), "\"/opt/My Apps/quillmere\"");
    EXPECT_EQ(Autostart::execValue("/opt/a$b/q\"x"), "\"/opt/a\\$b/q\\\"x\"");
    EXPECT_EQ(Autostart::execValue("/opt/100%/q"), "/opt/100%%/q");
}

} // namespace
} // namespace quillmere
