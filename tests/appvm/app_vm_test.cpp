// The installed application end to end on a real kernel: access granted by
// the shipped udev rule to an unprivileged user, drags that scroll, clicks
// that do not click, one instance at a time, and SIGTERM mid-drag.
//   app_vm_test [gtest options]   (run as root inside the test VM, after
//                                  the package was installed)
#include "../vm/VmSupport.h"
#include "support/StandInLogind.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

const char* const user = "tester";
const char* const binary = "/usr/bin/quillmere";

bool hasUaccessTag(const std::string& node) {
    const std::string props =
        outputOf({"udevadm", "info", "--query=property", QString::fromStdString(node)});
    return props.find(":uaccess:") != std::string::npos;
}

// logind's part at a seat: the active session's user gets read/write on
// every node that carries the uaccess tag. Here the test plays logind.
void grantSeatAccess(const std::string& node) {
    if (hasUaccessTag(node))
        outputOf(
            {"setfacl", "-m", QStringLiteral("u:%1:rw").arg(user), QString::fromStdString(node)});
}

bool userCanOpen(const std::string& node, bool write) {
    ChildProcess open(
        "open-" + std::to_string(write),
        {"/bin/sh", "-c", QString::fromStdString((write ? "exec 3>" : "exec 3<") + node)}, user);
    return open.waitForExit(30s) == 0;
}

// One run of the installed binary as the test user, its log in /tmp/TAG.log.
// systemBus: the address of the system bus the app is to use ("": none).
class App : public ChildProcess {
public:
    explicit App(const std::string& tag, const std::string& systemBus = "")
        : ChildProcess(tag, {binary}, user,
                       {"HOME=/home/tester", "USER=tester", "XDG_CONFIG_HOME=/home/tester/.config",
                        "XDG_RUNTIME_DIR=/tmp/tester-runtime", "QT_QPA_PLATFORM=offscreen",
                        "PATH=/usr/bin:/bin",
                        QString::fromStdString(
                            "DBUS_SYSTEM_BUS_ADDRESS=" +
                            (systemBus.empty() ? "unix:path=/nonexistent" : systemBus))}) {}
    bool waitForLog(const std::string& text, std::chrono::milliseconds limit = 20s) {
        return pumpUntil([&] { return log().find(text) != std::string::npos; }, limit);
    }
};

std::string waitForVirtualPointer(const FakeMouse& mouse) {
    return waitForNode("quillmere/" + mouse.phys(), 20s);
}

class InstalledAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The fake mouse is a uinput device: the app is told to take it.
        outputOf({"sh", "-c",
                  "mkdir -p /home/tester/.config/quillmere && echo "
                  "'{\"grabVirtualDevices\": true}' >/home/tester/.config/quillmere/"
                  "defaults.json && chown -R tester /home/tester/.config"});
        mouse = new FakeMouse("Quillmere Test Mouse", "usb-appvm/input0");
        outputOf({"udevadm", "settle", "-t", "10"});
        grantSeatAccess("/dev/uinput");
        grantSeatAccess(mouse->node());
    }
    static void TearDownTestSuite() {
        delete mouse;
        mouse = nullptr;
    }
    static FakeMouse* mouse;
};
FakeMouse* InstalledAppTest::mouse = nullptr;

TEST_F(InstalledAppTest, AccessComesFromTheShippedRule) {
    EXPECT_TRUE(hasUaccessTag("/dev/uinput")) << outputOf({"udevadm", "info", "/dev/uinput"});
    EXPECT_TRUE(hasUaccessTag(mouse->node()))
        << outputOf({"udevadm", "info", QString::fromStdString(mouse->node())});
    EXPECT_TRUE(userCanOpen("/dev/uinput", true));
    EXPECT_TRUE(userCanOpen(mouse->node(), false));
    // A mouse that is a keyboard too gets no such access (its keystrokes
    // would be readable); a keyboard alone matches none of the rule.
    FakeMouse combined("Quillmere Test Keyboard Mouse", "usb-appvm/input1",
                       MouseShape::with(&MouseShape::keys));
    outputOf({"udevadm", "settle", "-t", "10"});
    grantSeatAccess(combined.node());
    EXPECT_FALSE(hasUaccessTag(combined.node()));
    EXPECT_FALSE(userCanOpen(combined.node(), false));
}

TEST_F(InstalledAppTest, DragsScrollWithoutClickingOneInstanceAndSigtermMidDrag) {
    App first("first");
    ASSERT_TRUE(first.waitForLog("[Quillmere] 이벤트 탭 활성화됨")) << first.log();
    ASSERT_NE(first.log().find("[Quillmere] AXIsProcessTrusted = 1"), std::string::npos)
        << first.log();
    const std::string pointerNode = waitForVirtualPointer(*mouse);
    NodeReader pointer(pointerNode);
    ASSERT_TRUE(pointer.isOpen());
    // Only the app itself may read what it writes there.
    grantSeatAccess(pointerNode);
    EXPECT_FALSE(hasUaccessTag(pointerNode));
    EXPECT_FALSE(userCanOpen(pointerNode, false));
    // The desktop no longer sees the mouse itself.
    NodeReader physical(mouse->node());
    EXPECT_FALSE(physical.canGrab());

    // A drag downwards scrolls: hi-res wheel values with the legacy steps.
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 20; ++i) {
        mouse->move(0, 4);
        std::this_thread::sleep_for(2ms);
    }
    mouse->button(BTN_RIGHT, false);
    auto frames =
        collect(pointer, [](const auto& f) { return sumOf(f, EV_REL, REL_WHEEL_HI_RES) >= 240; });
    EXPECT_GE(sumOf(frames, EV_REL, REL_WHEEL_HI_RES), 240) << describe(frames);
    EXPECT_GE(sumOf(frames, EV_REL, REL_WHEEL), 2);
    EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << "a drag must not click";

    // A second instance makes the first one quit, and takes over.
    // The limits on quitting are the same as on every other wait here: under
    // emulation on a busy machine the second start alone can take seconds.
    App second("second");
    EXPECT_EQ(first.waitForExit(20s), 0) << first.log();
    ASSERT_TRUE(second.waitForLog("[Quillmere] 기존 프로세스 종료 완료")) << second.log();
    ASSERT_TRUE(second.waitForLog("[Quillmere] 이벤트 탭 활성화됨")) << second.log();
    EXPECT_NE(first.log().find("[Quillmere] 이벤트 탭 비활성화됨"), std::string::npos);
    NodeReader pointer2(waitForVirtualPointer(*mouse));
    ASSERT_TRUE(pointer2.isOpen());

    // SIGTERM in the middle of a drag: a normal quit that leaves nothing
    // held and gives the mouse back to the desktop at once.
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 10; ++i)
        mouse->move(3, 0);
    collect(pointer2, [](const auto& f) { return sumOf(f, EV_REL, REL_HWHEEL_HI_RES) != 0; });
    ::kill(second.pid(), SIGTERM);
    EXPECT_EQ(second.waitForExit(20s), 0) << second.log();
    frames = collect(pointer2, [&](const auto&) { return pointer2.gone(); });
    EXPECT_TRUE(buttonsLeftDown(frames).empty()) << describe(frames);
    NodeReader desktop(mouse->node());
    EXPECT_TRUE(desktop.canGrab()) << "the mouse is still grabbed after the quit";
    mouse->button(BTN_RIGHT, false); // the release reaches the desktop directly
    frames = collect(desktop, [](const auto& f) { return !f.empty(); });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{0}));
}

// A system bus of the test's own, with a stand-in for logind answering on
// its own thread, as logind would from its own process.
class StandInSystemBus {
public:
    StandInSystemBus() {
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
        daemon_ = std::make_unique<ChildProcess>(
            "system-bus",
            QStringList{"dbus-daemon", "--config-file=/tmp/stand-in-system-bus.conf", "--nofork"});
        pumpUntil([] { return QFile::exists(QStringLiteral("/tmp/stand-in-system-bus")); });
        thread_.start();
        logind_.manager.moveToThread(&thread_);
        logind_.session.moveToThread(&thread_);
        QMetaObject::invokeMethod(
            &logind_.manager,
            [this] {
                served_ = logind_.serveOn(QDBusConnection::connectToBus(
                    QString::fromLatin1(address), QStringLiteral("stand-in-logind")));
            },
            Qt::BlockingQueuedConnection);
    }
    ~StandInSystemBus() {
        thread_.quit();
        thread_.wait();
    }
    bool served() const { return served_; }
    void setActive(bool active) {
        QMetaObject::invokeMethod(
            &logind_.manager, [this, active] { logind_.setActive(active); },
            Qt::BlockingQueuedConnection);
    }
    static constexpr const char* address = "unix:path=/tmp/stand-in-system-bus";

private:
    std::unique_ptr<ChildProcess> daemon_;
    QThread thread_;
    testing::StandInLogind logind_;
    bool served_ = false;
};

TEST_F(InstalledAppTest, AnotherUserTakingTheSeatGetsTheMouseAndItComesBackAfterwards) {
    StandInSystemBus systemBus;
    ASSERT_TRUE(systemBus.served());
    App app("session", StandInSystemBus::address);
    ASSERT_TRUE(app.waitForLog("[Quillmere] 이벤트 탭 활성화됨")) << app.log();
    ASSERT_FALSE(waitForVirtualPointer(*mouse).empty()) << app.log();
    NodeReader desktop(mouse->node());
    systemBus.setActive(false);
    ASSERT_TRUE(pumpUntil([&] {
        return desktop.canGrab() && nodeWithPhys("quillmere/" + mouse->phys()).empty();
    })) << app.log();

    systemBus.setActive(true);
    EXPECT_FALSE(waitForVirtualPointer(*mouse).empty()) << app.log();
    EXPECT_FALSE(desktop.canGrab());
    ::kill(app.pid(), SIGTERM);
    EXPECT_EQ(app.waitForExit(5s), 0) << app.log();
}

} // namespace
} // namespace quillmere::vmtest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
