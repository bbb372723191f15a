#include "VmSupport.h"

#include <QCoreApplication>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <map>
#include <tuple>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <linux/uinput.h>
#include <numeric>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {

input_event makeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event ev{};
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

FakeMouse::FakeMouse(const std::string& name, const std::string& phys, MouseShape shape)
    : name_(name), phys_(phys) {
    libevdev* model = libevdev_new();
    libevdev_set_name(model, name.c_str());
    libevdev_set_id_bustype(model, BUS_USB);
    libevdev_set_id_vendor(model, 0x1d57);
    libevdev_set_id_product(model, 0xad17);
    input_absinfo range{};
    range.maximum = 32767;
    const std::tuple<bool, unsigned, unsigned> codes[] = {
        {true, EV_KEY, BTN_LEFT},
        {shape.middleButton, EV_KEY, BTN_MIDDLE},
        {shape.rightButton, EV_KEY, BTN_RIGHT},
        {shape.wheel, EV_REL, REL_WHEEL},
        {shape.wheel && shape.hiResWheel, EV_REL, REL_WHEEL_HI_RES},
        {!shape.absolute, EV_REL, REL_X},
        {!shape.absolute, EV_REL, REL_Y},
        {shape.absolute, EV_ABS, ABS_X},
        {shape.absolute, EV_ABS, ABS_Y},
        {true, EV_MSC, MSC_SCAN},
    };
    for (auto [on, type, code] : codes)
        if (on)
            libevdev_enable_event_code(model, type, code, type == EV_ABS ? &range : nullptr);
    for (unsigned code = KEY_ESC; shape.keys && code <= KEY_SLASH; ++code)
        libevdev_enable_event_code(model, EV_KEY, code, nullptr);
    libevdev_enable_property(model, INPUT_PROP_POINTER);
    // libevdev leaves the phys out: it is set on the uinput node first.
    fd_ = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
    if (fd_ < 0 || ioctl(fd_, UI_SET_PHYS, phys.c_str()) != 0)
        throw std::runtime_error("cannot open uinput: " + std::string(strerror(errno)));
    const int rc = libevdev_uinput_create_from_device(model, fd_, &device_);
    libevdev_free(model);
    if (rc != 0)
        throw std::runtime_error("cannot create a fake mouse: " + std::string(strerror(-rc)));
    if (const char* node = libevdev_uinput_get_devnode(device_))
        node_ = node;
}

FakeMouse::~FakeMouse() {
    unplug();
}

void FakeMouse::unplug() {
    if (device_)
        libevdev_uinput_destroy(device_);
    device_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void FakeMouse::frame(const Frame& events) {
    for (const input_event& ev : events)
        libevdev_uinput_write_event(device_, ev.type, ev.code, ev.value);
    libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
}

void FakeMouse::button(std::uint16_t code, bool down) {
    frame({makeEvent(EV_KEY, code, down ? 1 : 0)});
}

// The kernel passes no relative event of 0 on.
void FakeMouse::move(int dx, int dy) {
    frame({makeEvent(EV_REL, REL_X, dx), makeEvent(EV_REL, REL_Y, dy)});
}

NodeReader::NodeReader(const std::string& node)
    : fd_(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}

NodeReader::~NodeReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<Frame> NodeReader::take() {
    std::vector<Frame> frames;
    input_event buffer[64];
    ssize_t got = 0;
    while ((got = ::read(fd_, buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof(input_event)); ++i) {
            const input_event& ev = buffer[i];
            if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
                frames.push_back(std::move(partial_));
                partial_.clear();
            } else {
                partial_.push_back(ev);
            }
        }
    gone_ = gone_ || (got < 0 && errno == ENODEV);
    return frames;
}

std::vector<int> NodeReader::keysDown() const {
    std::vector<int> down;
    unsigned long keys[KEY_CNT / (sizeof(unsigned long) * CHAR_BIT) + 1] = {};
    if (fd_ < 0 || ioctl(fd_, EVIOCGKEY(sizeof keys), keys) < 0)
        return down;
    constexpr unsigned bits = sizeof(unsigned long) * CHAR_BIT;
    for (int code = 0; code < KEY_CNT; ++code)
        if (keys[code / bits] >> (code % bits) & 1UL)
            down.push_back(code);
    return down;
}

bool NodeReader::canGrab() const {
    if (fd_ < 0 || ioctl(fd_, EVIOCGRAB, 1) != 0)
        return false;
    ioctl(fd_, EVIOCGRAB, 0);
    return true;
}

ChildProcess::ChildProcess(const std::string& name, const QStringList& argv,
                           const std::string& user, const QStringList& environment)
    : name_(name) {
    if (!environment.isEmpty())
        process_.setEnvironment(environment);
    if (const passwd* pw = user.empty() ? nullptr : ::getpwnam(user.c_str())) {
        process_.setWorkingDirectory(QString::fromLocal8Bit(pw->pw_dir));
        process_.setChildProcessModifier([uid = pw->pw_uid, gid = pw->pw_gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        });
    }
    process_.setStandardErrorFile(QString::fromStdString("/tmp/" + name + ".log"));
    process_.start(argv.first(), argv.mid(1));
    process_.waitForStarted(10000);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ChildProcess::send(const std::string& line) {
    process_.write((line + "\n").c_str());
    process_.waitForBytesWritten(1000);
}

int ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    if (!pumpUntil([&] { return !running(); }, limit))
        return -1;
    // A process a signal ended has that signal as its code.
    return process_.exitCode() + (process_.exitStatus() == QProcess::CrashExit ? 128 : 0);
}

std::string ChildProcess::log() const {
    std::ifstream file("/tmp/" + name_ + ".log");
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const std::vector<Report>& ChildProcess::reports() {
    process_.waitForReadyRead(0);
    while (process_.canReadLine() || (!running() && process_.bytesAvailable() > 0)) {
        Report report;
        report.line = process_.readLine().trimmed().toStdString();
        std::istringstream words(report.line);
        words >> report.kind;
        for (long long value = 0; words >> value;)
            report.values.push_back(value);
        reports_.push_back(std::move(report));
    }
    return reports_;
}

std::vector<Report> ChildProcess::since(std::size_t from, const std::string& kind) {
    std::vector<Report> found;
    const std::vector<Report>& all = reports();
    for (std::size_t i = from; i < all.size(); ++i)
        if (all[i].kind == kind)
            found.push_back(all[i]);
    return found;
}

bool ChildProcess::waitFor(const std::string& kind, std::size_t from,
                           std::chrono::milliseconds limit) {
    return pumpUntil([&] { return !since(from, kind).empty(); }, limit);
}

std::string outputOf(const QStringList& argv, const std::string& user,
                     const QStringList& environment) {
    ChildProcess child("run", argv, user, environment);
    child.waitForExit(std::chrono::seconds(30));
    std::string text;
    for (const Report& line : child.reports())
        text += line.line + "\n";
    return text;
}

std::vector<Frame> collect(NodeReader& reader,
                           const std::function<bool(const std::vector<Frame>&)>& done,
                           std::chrono::milliseconds limit) {
    std::vector<Frame> frames;
    pumpUntil(
        [&] {
            for (Frame& frame : reader.take())
                frames.push_back(std::move(frame));
            return done(frames);
        },
        limit);
    return frames;
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        // Programs with Qt objects on this thread (QProcess and the like)
        // get their events delivered meanwhile.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

std::string nodeWithPhys(const std::string& phys) {
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input")) {
        std::string value;
        std::getline(std::ifstream(entry.path() / "device" / "phys"), value);
        if (entry.path().filename().string().rfind("event", 0) == 0 && value == phys)
            return "/dev/input/" + entry.path().filename().string();
    }
    return "";
}

std::string waitForNode(const std::string& phys, std::chrono::milliseconds limit) {
    std::string node;
    // The node is in sysfs a moment before it can be opened.
    const bool ready = pumpUntil(
        [&] { return !(node = nodeWithPhys(phys)).empty() && ::access(node.c_str(), R_OK) == 0; },
        limit);
    return ready ? node : "";
}

std::vector<int> valuesOf(const std::vector<Frame>& frames, std::uint16_t type,
                          std::uint16_t code) {
    std::vector<int> values;
    for (const Frame& frame : frames)
        for (const input_event& ev : frame)
            if (ev.type == type && ev.code == code)
                values.push_back(ev.value);
    return values;
}

long sumOf(const std::vector<Frame>& frames, std::uint16_t type, std::uint16_t code) {
    const std::vector<int> values = valuesOf(frames, type, code);
    return std::accumulate(values.begin(), values.end(), 0L);
}

std::vector<int> buttonsLeftDown(const std::vector<Frame>& frames) {
    std::map<int, int> last;
    for (const Frame& frame : frames)
        for (const input_event& ev : frame)
            if (ev.type == EV_KEY)
                last[ev.code] = ev.value;
    std::vector<int> down;
    for (auto [code, value] : last)
        if (value != 0)
            down.push_back(code);
    return down;
}

std::string describe(const std::vector<Frame>& frames) {
    std::string text;
    for (const Frame& frame : frames) {
        text += "[";
        for (const input_event& ev : frame) {
            const char* name = libevdev_event_code_get_name(ev.type, ev.code);
            text += std::string(" ") + (name ? name : "?") + "=" + std::to_string(ev.value);
        }
        text += " ]";
    }
    return text;
}

} // namespace quillmere::vmtest
