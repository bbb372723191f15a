// The installed application end to end on a real kernel: access granted by
// the shipped udev rule to an unprivileged user, drags that scroll, clicks
// that stay clicks, one instance at a time, and SIGTERM mid-drag.
//   app_vm_test [gtest options]   (run as root inside the test VM, after
//                                  the package was installed)
#include "../vm/VmSupport.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const user = "tester";
const char* const binary = "/usr/bin/quillmere";

// Runs a command and returns what it printed (stdout and stderr).
std::string run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAll().toStdString();
}

// A keyboard: what the rule must leave alone.
class FakeKeyboard {
public:
    FakeKeyboard() {
        libevdev* model = libevdev_new();
        libevdev_set_name(model, "Quillmere Test Keyboard");
        libevdev_set_id_bustype(model, BUS_USB);
        for (unsigned code : {KEY_A, KEY_B, KEY_ENTER})
            libevdev_enable_event_code(model, EV_KEY, code, nullptr);
        libevdev_uinput_create_from_device(model, LIBEVDEV_UINPUT_OPEN_MANAGED, &device_);
        libevdev_free(model);
    }
    ~FakeKeyboard() {
        if (device_)
            libevdev_uinput_destroy(device_);
    }
    std::string node() const {
        const char* node = device_ ? libevdev_uinput_get_devnode(device_) : nullptr;
        return node ? node : "";
    }

private:
    libevdev_uinput* device_ = nullptr;
};

bool hasUaccessTag(const std::string& node) {
    const std::string props =
        run("udevadm", {"info", "--query=property", QString::fromStdString(node)});
    return props.find(":uaccess:") != std::string::npos;
}

// logind's part at a seat: the active session's user gets read/write on
// every node that carries the uaccess tag. Here the test plays logind.
void grantSeatAccess(const std::string& node) {
    if (hasUaccessTag(node))
        run("setfacl", {"-m", QStringLiteral("u:%1:rw").arg(user), QString::fromStdString(node)});
}

bool userCanOpen(const std::string& node, int flags) {
    const pid_t child = ::fork();
    if (child == 0) {
        const passwd* pw = ::getpwnam(user);
        if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 ||
            ::setuid(pw->pw_uid) != 0)
            ::_exit(3);
        const int fd = ::open(node.c_str(), flags | O_CLOEXEC);
        ::_exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One run of the installed binary as the test user, its log in a file.
class App {
public:
    explicit App(const std::string& tag) : log_("/tmp/quillmere-" + tag + ".log") {
        ::unlink(log_.c_str());
        pid_ = ::fork();
        if (pid_ == 0) {
            const passwd* pw = ::getpwnam(user);
            const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (!pw || out < 0)
                ::_exit(126);
            ::dup2(out, 1);
            ::dup2(out, 2);
            if (::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 ||
                ::setuid(pw->pw_uid) != 0)
                ::_exit(126);
            const std::string home = pw->pw_dir;
            const std::string env[] = {"HOME=" + home,
                                       "USER=tester",
                                       "XDG_CONFIG_HOME=" + home + "/.config",
                                       "XDG_RUNTIME_DIR=/tmp/tester-runtime",
                                       "QT_QPA_PLATFORM=offscreen",
                                       "PATH=/usr/bin:/bin"};
            const char* envp[] = {env[0].c_str(), env[1].c_str(), env[2].c_str(), env[3].c_str(),
                                  env[4].c_str(), env[5].c_str(), nullptr};
            ::execle(binary, binary, static_cast<char*>(nullptr), envp);
            ::_exit(127);
        }
    }
    ~App() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    std::string log() const {
        QFile file(QString::fromStdString(log_));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    bool waitForLog(const std::string& text, std::chrono::milliseconds limit = 20s) const {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (log().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    // Waits for the process to end; its exit status, or -1 on time-out.
    int waitForExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

std::string waitForVirtualPointer(const FakeMouse& mouse, std::chrono::milliseconds limit = 20s) {
    std::string node;
    pumpUntil([&] { return !(node = nodeWithPhys("quillmere/" + mouse.phys())).empty(); }, limit);
    return node;
}

std::vector<Frame> collect(NodeReader& reader,
                           const std::function<bool(const std::vector<Frame>&)>& done,
                           std::chrono::milliseconds limit = 5s) {
    std::vector<Frame> frames;
    pumpUntil(
        [&] {
            for (Frame& f : reader.take())
                frames.push_back(std::move(f));
            return done(frames);
        },
        limit);
    return frames;
}

class InstalledAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        mouse = new FakeMouse("Quillmere Test Mouse", "usb-appvm/input0");
        run("udevadm", {"settle", "-t", "10"});
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
    EXPECT_TRUE(hasUaccessTag("/dev/uinput")) << run("udevadm", {"info", "/dev/uinput"});
    EXPECT_TRUE(hasUaccessTag(mouse->node()))
        << run("udevadm", {"info", QString::fromStdString(mouse->node())});
    EXPECT_TRUE(userCanOpen("/dev/uinput", O_WRONLY));
    EXPECT_TRUE(userCanOpen(mouse->node(), O_RDONLY));
    // A device that is not a mouse gets no such access.
    FakeKeyboard keyboard;
    run("udevadm", {"settle", "-t", "10"});
    grantSeatAccess(keyboard.node());
    EXPECT_FALSE(hasUaccessTag(keyboard.node()));
    EXPECT_FALSE(userCanOpen(keyboard.node(), O_RDONLY));
}

TEST_F(InstalledAppTest, DragsScrollClicksStayClicksOneInstanceAndSigtermMidDrag) {
    App first("first");
    ASSERT_TRUE(first.waitForLog("[Quillmere] 이벤트 탭 활성화됨")) << first.log();
    ASSERT_NE(first.log().find("[Quillmere] AXIsProcessTrusted = 1"), std::string::npos)
        << first.log();
    NodeReader pointer(waitForVirtualPointer(*mouse));
    ASSERT_TRUE(pointer.isOpen()) << listInputDevices();
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
    // Let the glide end before the click.
    pumpFor(3s);
    pointer.take();

    // A short click comes out as one right click.
    mouse->button(BTN_RIGHT, true);
    mouse->button(BTN_RIGHT, false);
    frames =
        collect(pointer, [](const auto& f) { return valuesOf(f, EV_KEY, BTN_RIGHT).size() >= 2; });
    EXPECT_EQ(valuesOf(frames, EV_KEY, BTN_RIGHT), (std::vector<int>{1, 0})) << describe(frames);
    EXPECT_EQ(sumOf(frames, EV_REL, REL_WHEEL_HI_RES), 0);

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

} // namespace
} // namespace quillmere::vmtest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
