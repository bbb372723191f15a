// The installed application end to end on a real kernel: access granted by
// the shipped udev rule to an unprivileged user, one instance at a time,
// SIGTERM mid-drag, and logind handing the seat to another user.
//   app_vm_test [gtest options]   (run as root inside the test VM, after
//                                  the package was installed)
#include "../vm/VmSupport.h"
#include "support/StandInLogind.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

FakeMouse* mouse = nullptr;

bool hasUaccessTag(const std::string& node) {
    return outputOf({"udevadm", "info", "--query=property", QString::fromStdString(node)})
               .find(":uaccess:") != std::string::npos;
}

// logind's part at a seat: the active session's user gets read/write on
// every node that carries the uaccess tag. Here the test plays logind.
void grantSeatAccess(const std::string& node) {
    if (hasUaccessTag(node))
        outputOf({"setfacl", "-m", "u:tester:rw", QString::fromStdString(node)});
}

bool userCanOpen(const std::string& node) {
    const QString open = QString::fromStdString("exec 3<>" + node + " && echo yes");
    return outputOf({"/bin/sh", "-c", open}, "tester") == "yes\n";
}

// The installed binary run as the test user, its log in /tmp/TAG.log, with
// the system bus at systemBus.
std::unique_ptr<ChildProcess> startApp(const std::string& tag,
                                       const char* systemBus = "unix:path=/nonexistent") {
    auto app = std::make_unique<ChildProcess>(
        tag, QStringList{"/usr/bin/quillmere"}, "tester",
        QStringList{"HOME=/home/tester", "USER=tester", "XDG_RUNTIME_DIR=/tmp/tester-runtime",
                    "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin",
                    QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + QString::fromLatin1(systemBus)});
    EXPECT_FALSE(waitForNode("quillmere/" + mouse->phys(), 20s).empty()) << app->log();
    return app;
}

TEST(InstalledApp, TheSeatUserMayOpenMiceAndUinputButNotKeyboardsOrTheVirtualPointer) {
    // A mouse that is a keyboard too gets no such access (its keystrokes
    // would be readable); a keyboard alone matches none of the rule. Only
    // the app itself may read what it writes to its virtual pointer.
    FakeMouse combined("Quillmere Test Keyboard Mouse", "usb-appvm/input1",
                       MouseShape::with(&MouseShape::keys));
    const auto app = startApp("access");
    const std::pair<std::string, bool> cases[] = {
        {"/dev/uinput", true},
        {mouse->node(), true},
        {combined.node(), false},
        {nodeWithPhys("quillmere/" + mouse->phys()), false}};
    outputOf({"udevadm", "settle", "-t", "10"});
    for (const auto& [node, open] : cases) {
        grantSeatAccess(node);
        EXPECT_EQ(hasUaccessTag(node), open) << node;
        EXPECT_EQ(userCanOpen(node), open) << node;
    }
}

TEST(InstalledApp, ASecondInstanceTakesOverAndSigtermMidDragLeavesNothingHeld) {
    const auto first = startApp("first");
    const auto second = startApp("second");
    EXPECT_EQ(first->waitForExit(20s), 0) << first->log();
    ASSERT_TRUE(pumpUntil([&] {
        return second->log().find("[Quillmere] 이벤트 탭 활성화됨") != std::string::npos;
    })) << second->log();
    EXPECT_NE(first->log().find("[Quillmere] 이벤트 탭 비활성화됨"), std::string::npos);
    NodeReader pointer(waitForNode("quillmere/" + mouse->phys(), 20s));
    NodeReader desktop(mouse->node());
    EXPECT_FALSE(desktop.canGrab());

    // SIGTERM in the middle of a drag: a normal quit that leaves nothing
    // held and gives the mouse back to the desktop at once.
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 10; ++i)
        mouse->move(3, 0);
    collect(pointer, [](const auto& f) { return sumOf(f, EV_REL, REL_HWHEEL_HI_RES) != 0; });
    ::kill(second->pid(), SIGTERM);
    EXPECT_EQ(second->waitForExit(20s), 0) << second->log();
    std::vector<Frame> frames = collect(pointer, [&](const auto&) { return pointer.gone(); });
    EXPECT_TRUE(buttonsLeftDown(frames).empty()) << describe(frames);
    EXPECT_TRUE(desktop.canGrab()) << "the mouse is still grabbed after the quit";
    mouse->button(BTN_RIGHT, false); // the release reaches the desktop directly
    frames = collect(desktop, [](const auto& f) { return !f.empty(); });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{0}));
}

// A system bus of the test's own with a stand-in for logind on it.
TEST(InstalledApp, AnotherUserTakingTheSeatGetsTheMouseAndItComesBackAfterwards) {
    QFile config(QStringLiteral("/tmp/stand-in-system-bus.conf"));
    config.open(QIODevice::WriteOnly);
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration "
                 "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                 "busconfig.dtd\"><busconfig><type>system</type>"
                 "<listen>unix:path=/tmp/stand-in-system-bus</listen><auth>EXTERNAL</auth>"
                 "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                 "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>"
                 "</busconfig>");
    config.close();
    const char* address = "unix:path=/tmp/stand-in-system-bus";
    ChildProcess daemon("system-bus",
                        {"dbus-daemon", "--config-file=" + config.fileName(), "--nofork"});
    pumpUntil([] { return QFile::exists(QStringLiteral("/tmp/stand-in-system-bus")); });
    // Served from this thread: every wait below runs its event loop.
    testing::StandInLogind logind;
    ASSERT_TRUE(logind.serveOn(QDBusConnection::connectToBus(QString::fromLatin1(address),
                                                             QStringLiteral("stand-in-logind"))));
    const auto app = startApp("session", address);
    NodeReader desktop(mouse->node());
    logind.setActive(false);
    ASSERT_TRUE(pumpUntil([&] {
        return desktop.canGrab() && nodeWithPhys("quillmere/" + mouse->phys()).empty();
    })) << app->log();

    logind.setActive(true);
    EXPECT_FALSE(waitForNode("quillmere/" + mouse->phys(), 20s).empty()) << app->log();
    EXPECT_FALSE(desktop.canGrab());
    ::kill(app->pid(), SIGTERM);
    EXPECT_EQ(app->waitForExit(5s), 0) << app->log();
}

} // namespace
} // namespace quillmere::vmtest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    using namespace quillmere::vmtest;
    // The fake mouse is a uinput device: the app is told to take it.
    outputOf(
        {"sh", "-c",
         "mkdir -p /home/tester/.config/quillmere && echo '{\"grabVirtualDevices\": true}' "
         ">/home/tester/.config/quillmere/defaults.json && chown -R tester /home/tester/.config"});
    FakeMouse fake("Quillmere Test Mouse", "usb-appvm/input0");
    mouse = &fake;
    outputOf({"udevadm", "settle", "-t", "10"});
    grantSeatAccess("/dev/uinput");
    grantSeatAccess(fake.node());
    return RUN_ALL_TESTS();
}
