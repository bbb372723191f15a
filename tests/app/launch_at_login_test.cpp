// Launch at login through the autostart entry: register, read back,
// session-manager switches, unregister, failures; the Exec value's quoting.
#include "app/LaunchAtLoginHelper.h"
#include "platform/Autostart.h"
#include "support/StoreTest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using LaunchAtLogin = testing::StoreTest;

TEST_F(LaunchAtLogin, RegistersReadsBackUnregistersLogsAFailureAndQuotesTheExecValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));

    QFile entry(Autostart::entryPath());
    EXPECT_EQ(entry.fileName(), dir.path() + "/autostart/app.quillmere.Quillmere.desktop");
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    LaunchAtLoginHelper::setEnabled(true);
    EXPECT_EQ(store.boolValue("launchAtLogin"), true);
    ASSERT_TRUE(entry.open(QIODevice::ReadWrite));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains(
        "\nExec=" + Autostart::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
    // Either session-manager switch turns it off, in the main group only.
    const std::pair<QByteArray, bool> endings[] = {{"", true},
                                                   {"Hidden=true\n", false},
                                                   {"X-GNOME-Autostart-enabled=false\n", false},
                                                   {"[Desktop Action quit]\nHidden=true\n", true}};
    for (const auto& [ending, enabled] : endings) {
        entry.resize(0);
        entry.write("[Desktop Entry]\nExec=/x\n" + ending);
        entry.flush();
        EXPECT_EQ(LaunchAtLoginHelper::isEnabled(), enabled) << ending.toStdString();
    }
    // Turning it on again replaces a disabled entry with an enabled one.
    LaunchAtLoginHelper::setEnabled(true);
    EXPECT_TRUE(LaunchAtLoginHelper::isEnabled());
    LaunchAtLoginHelper::setEnabled(false);
    EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    LaunchAtLoginHelper::setEnabled(false); // nothing there: still a success
    EXPECT_TRUE(log.lines.empty());

    // A file where the autostart folder should be makes registration fail:
    // one line, and the stored value stays.
    ASSERT_TRUE(QDir(dir.path() + "/autostart").removeRecursively());
    ASSERT_TRUE(QFile(dir.path() + "/autostart").open(QIODevice::WriteOnly));
    LaunchAtLoginHelper::setEnabled(true);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines[0].starts_with("[Quillmere] Launch at login error: "));
    EXPECT_EQ(store.boolValue("launchAtLogin"), false);
    EXPECT_FALSE(LaunchAtLoginHelper::isEnabled());
    qputenv("XDG_CONFIG_HOME", oldConfig);

    // The Exec value: paths quoted and escaped as desktop entries require.
    EXPECT_EQ(Autostart::execValue("/usr/bin/quillmere"), "/usr/bin/quillmere");
    EXPECT_EQ(Autostart::execValue("/opt/My Apps/quillmere"), "\"/opt/My Apps/quillmere\"");
    // The quoting's backslashes are doubled again for the key file: \\$ there.
    EXPECT_EQ(Autostart::execValue("/opt/a$b/q\"x"), R"("/opt/a\\$b/q\\"x")");
    EXPECT_EQ(Autostart::execValue("/opt/a\\b"), R"("/opt/a\\\\b")");
    EXPECT_EQ(Autostart::execValue("/opt/a\tb"), R"("/opt/a\tb")");
    EXPECT_EQ(Autostart::execValue("/opt/100%/q"), "/opt/100%%/q");
}

} // namespace
} // namespace quillmere
