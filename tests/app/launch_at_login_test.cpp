// Launch at login through the autostart entry: register, read back,
// unregister, session-manager switches, failures.
#include "app/LaunchAtLoginHelper.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "platform/Autostart.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        ScrollConfig::setDefaults(&store);
    }
    void TearDown() override {
        ScrollConfig::setDefaults(nullptr);
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }
    QByteArray entryText() const {
        QFile file(Autostart::entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    MemorySettingsStore store;
    testing::LogCapture log;
};

TEST_F(LaunchAtLoginTest, RegisterWritesAnEntryForTheRunningBinaryAndUnregisterRemovesIt) {
    EXPECT_EQ(Autostart::entryPath(), dir.path() + "/autostart/app.quillmere.Quillmere.desktop");
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    LaunchAtLoginHelper::setEnabled(true);
    EXPECT_TRUE(LaunchAtLoginHelper::isEnabled());
    EXPECT_EQ(store.boolValue("launchAtLogin"), true);
    const QByteArray text = entryText();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains(
        "\nExec=" + Autostart::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));

    LaunchAtLoginHelper::setEnabled(false);
    EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    LaunchAtLoginHelper::setEnabled(false); // nothing there: still a success
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(LaunchAtLoginTest, StatusHonoursBothSessionManagerSwitchesInTheMainGroupOnly) {
    const std::pair<const char*, bool> entries[] = {
        {"[Desktop Entry]\nExec=/x\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=/x\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=/x\n[Desktop Action quit]\nHidden=true\n", true},
    };
    for (const auto& [text, enabled] : entries) {
        QFile file(Autostart::entryPath());
        QDir().mkpath(QFileInfo(file).absolutePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
        file.close();
        EXPECT_EQ(LaunchAtLoginHelper::isEnabled(), enabled) << text;
    }
    // Turning it on again replaces a disabled entry with an enabled one.
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
    EXPECT_TRUE(log.lines[0].starts_with("[Quillmere] Launch at login error: "));
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
