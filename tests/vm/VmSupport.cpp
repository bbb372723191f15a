#include "VmSupport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <map>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/uinput.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
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
    libevdev_set_phys(model, phys.c_str());
    libevdev_set_id_bustype(model, BUS_USB);
    libevdev_set_id_vendor(model, 0x1d57);
    libevdev_set_id_product(model, 0xad17);
    libevdev_set_id_version(model, 0x0111);
    for (unsigned code : {BTN_LEFT, BTN_MIDDLE})
        libevdev_enable_event_code(model, EV_KEY, code, nullptr);
    if (shape.rightButton)
        libevdev_enable_event_code(model, EV_KEY, BTN_RIGHT, nullptr);
    libevdev_enable_event_code(model, EV_REL, REL_WHEEL, nullptr);
    if (shape.hiResWheel)
        libevdev_enable_event_code(model, EV_REL, REL_WHEEL_HI_RES, nullptr);
    if (shape.absolute) {
        input_absinfo range{};
        range.maximum = 32767;
        libevdev_enable_event_code(model, EV_ABS, ABS_X, &range);
        libevdev_enable_event_code(model, EV_ABS, ABS_Y, &range);
    } else {
        libevdev_enable_event_code(model, EV_REL, REL_X, nullptr);
        libevdev_enable_event_code(model, EV_REL, REL_Y, nullptr);
    }
    if (shape.keys)
        for (unsigned code = KEY_ESC; code <= KEY_SLASH; ++code)
            libevdev_enable_event_code(model, EV_KEY, code, nullptr);
    libevdev_enable_event_code(model, EV_MSC, MSC_SCAN, nullptr);
    libevdev_enable_property(model, INPUT_PROP_POINTER);
    // libevdev leaves the phys out: it is set on the uinput node first.
    fd_ = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
    if (fd_ < 0 || ioctl(fd_, UI_SET_PHYS, phys.c_str()) != 0)
        throw std::runtime_error("cannot open uinput: " + std::string(strerror(errno)));
    const int rc = libevdev_uinput_create_from_device(model, fd_, &device_);
    libevdev_free(model);
    if (rc != 0)
        throw std::runtime_error("cannot create a fake mouse: " + std::string(strerror(-rc)));
    const char* node = libevdev_uinput_get_devnode(device_);
    node_ = node ? node : "";
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

void FakeMouse::frame(std::initializer_list<input_event> events) {
    frame(Frame(events));
}

void FakeMouse::button(std::uint16_t code, bool down) {
    frame({makeEvent(EV_KEY, code, down ? 1 : 0)});
}

void FakeMouse::move(int dx, int dy) {
    Frame events;
    if (dx != 0)
        events.push_back(makeEvent(EV_REL, REL_X, dx));
    if (dy != 0)
        events.push_back(makeEvent(EV_REL, REL_Y, dy));
    frame(events);
}

NodeReader::NodeReader(const std::string& node)
    : fd_(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}

NodeReader::~NodeReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<Frame> NodeReader::take() {
    std::vector<Frame> frames;
    if (fd_ < 0)
        return frames;
    input_event buffer[64];
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == ENODEV)
                gone_ = true;
            break;
        }
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof(input_event)); ++i) {
            const input_event& ev = buffer[i];
            if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
                frames.push_back(std::move(partial_));
                partial_.clear();
            } else {
                partial_.push_back(ev);
            }
        }
    }
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

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe: " + std::string(strerror(errno)));
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[0], STDIN_FILENO);
        if (!options.output.empty()) {
            const int out = ::open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        if (!options.user.empty()) {
            const passwd* pw = ::getpwnam(options.user.c_str());
            if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 ||
                ::setuid(pw->pw_uid) != 0)
                ::_exit(126);
        }
        const auto pointers = [](const std::vector<std::string>& strings) {
            std::vector<char*> out;
            for (const std::string& string : strings)
                out.push_back(const_cast<char*>(string.c_str()));
            out.push_back(nullptr);
            return out;
        };
        std::vector<char*> args = pointers(argv);
        if (options.environment.empty())
            ::execv(args[0], args.data());
        else
            ::execve(args[0], args.data(), pointers(options.environment).data());
        ::_exit(127);
    }
    ::close(fds[0]);
    input_ = fds[1];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0)
        kill(SIGKILL);
    if (input_ >= 0)
        ::close(input_);
}

void ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to the child: " + std::string(strerror(errno)));
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

int ChildProcess::kill(int signal) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, signal);
    return wait(std::chrono::seconds(10));
}

int runProgram(const std::vector<std::string>& argv, const ChildOptions& options) {
    ChildProcess child(argv, options);
    const int status = child.wait(std::chrono::seconds(30));
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

std::string nodeWithPhys(const std::string& phys) {
    DIR* dir = opendir("/sys/class/input");
    if (!dir)
        return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, "event", 5) != 0)
            continue;
        std::ifstream file(std::string("/sys/class/input/") + entry->d_name + "/device/phys");
        std::string line;
        std::getline(file, line);
        if (line == phys) {
            found = std::string("/dev/input/") + entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::string waitForNode(const std::string& phys, std::chrono::milliseconds limit) {
    std::string node;
    pumpUntil([&] { return !(node = nodeWithPhys(phys)).empty(); }, limit);
    return node;
}

std::string listInputDevices() {
    std::string text;
    DIR* dir = opendir("/sys/class/input");
    if (!dir)
        return text;
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, "event", 5) != 0)
            continue;
        const std::string base = std::string("/sys/class/input/") + entry->d_name + "/device/";
        std::ifstream nameFile(base + "name");
        std::ifstream physFile(base + "phys");
        std::string name;
        std::string phys;
        std::getline(nameFile, name);
        std::getline(physFile, phys);
        text += std::string(entry->d_name) + " \"" + name + "\" phys \"" + phys + "\"\n";
    }
    closedir(dir);
    return text;
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
    long sum = 0;
    for (int value : valuesOf(frames, type, code))
        sum += value;
    return sum;
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
