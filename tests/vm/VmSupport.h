#pragma once
// What the tests in the VM use to play the hardware and the desktop: fake
// physical mice made with uinput, readers of event nodes (as the desktop
// reads them), child processes, and a way to wait until something happened.

#include <QProcess>
#include <QStringList>

#include <linux/input.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct libevdev_uinput;

namespace quillmere::vmtest {

using Frame = std::vector<input_event>;

input_event makeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value);

// What a fake mouse has besides three buttons: by default X/Y and a wheel
// with its hi-res axis.
struct MouseShape {
    bool wheel = true;
    bool hiResWheel = true;
    bool keys = false;     // a keyboard in the same node
    bool absolute = false; // ABS_X/ABS_Y instead of REL_X/REL_Y, as a VM's tablet
    bool rightButton = true;
    bool middleButton = true;

    static MouseShape with(bool MouseShape::*part) {
        MouseShape shape;
        shape.*part = true;
        return shape;
    }
};

// A mouse on "USB": left, right and middle buttons, X/Y and a wheel with
// hi-res axes (see MouseShape). Destroying it unplugs it.
class FakeMouse {
public:
    // phys is what the kernel reports for it; the virtual pointer that takes
    // its place has "quillmere/" in front.
    FakeMouse(const std::string& name, const std::string& phys, MouseShape shape = {});
    ~FakeMouse();
    FakeMouse(const FakeMouse&) = delete;
    FakeMouse& operator=(const FakeMouse&) = delete;

    // Writes the events and a SYN_REPORT.
    void frame(const Frame& events);
    void button(std::uint16_t code, bool down);
    void move(int dx, int dy);
    void unplug();

    const std::string& node() const { return node_; }
    // The uinput descriptor, for writing many frames at once.
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    const std::string& phys() const { return phys_; }

private:
    int fd_ = -1;
    libevdev_uinput* device_ = nullptr;
    std::string node_;
    std::string name_;
    std::string phys_;
};

// Reads an event node without grabbing it: what the desktop would see.
class NodeReader {
public:
    explicit NodeReader(const std::string& node);
    ~NodeReader();
    NodeReader(const NodeReader&) = delete;
    NodeReader& operator=(const NodeReader&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Every complete frame that arrived so far (without SYN_REPORT).
    std::vector<Frame> take();
    // True once reading reported the device gone.
    bool gone() const { return gone_; }
    // The keys (buttons) the device holds down now, by EVIOCGKEY.
    std::vector<int> keysDown() const;
    // Whether a grab of this node succeeds now (released again at once).
    bool canGrab() const;

private:
    int fd_ = -1;
    Frame partial_;
    bool gone_ = false;
};

// One line a child printed: its first word and the numbers after it.
struct Report {
    std::string line;
    std::string kind;
    std::vector<long long> values;
    long long at() const { return values.empty() ? 0 : values[0]; }
    long long operator[](std::size_t i) const { return i < values.size() ? values[i] : 0; }
};

// A program run as a child process, as `user` ("": as this process) with
// only the given environment (none given: this process's). Its standard
// input is a pipe, its standard error goes to /tmp/NAME.log and its standard
// output is read line by line as reports. It is killed and reaped when this
// goes, so that it never outlives a test holding a grab.
class ChildProcess {
public:
    ChildProcess(const std::string& name, const QStringList& argv, const std::string& user = "",
                 const QStringList& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Writes one line to its standard input.
    void send(const std::string& line);
    // Waits for its end: the exit code, 128 + the signal that ended it, or -1
    // when the limit passed first.
    int waitForExit(std::chrono::milliseconds limit);
    std::string log() const;
    // Everything reported so far (reading what arrived).
    const std::vector<Report>& reports();
    std::size_t mark() { return reports().size(); }
    // The reports of one kind from index `from` on; waitFor() waits for one.
    std::vector<Report> since(std::size_t from, const std::string& kind);
    bool waitFor(const std::string& kind, std::size_t from,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    std::string name_;
    QProcess process_;
    std::vector<Report> reports_;
};

// Runs a program to its end (30 s at most) as ChildProcess does; what it
// printed on standard output.
std::string outputOf(const QStringList& argv, const std::string& user = "",
                     const QStringList& environment = {});

// Polls done() (sleeping a little between tries, and running the Qt loop of
// this thread if there is one) until it holds; false when the limit passed
// first.
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
void pumpFor(std::chrono::milliseconds duration);

// The event node whose device reports this phys, or "" when there is none;
// waitForNode() waits until it can be opened.
std::string nodeWithPhys(const std::string& phys);
std::string waitForNode(const std::string& phys,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// Reads until the frames read so far satisfy done() (or the limit passes);
// every frame read.
std::vector<Frame> collect(NodeReader& reader,
                           const std::function<bool(const std::vector<Frame>&)>& done,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Events of a list of frames matching type and code, in order.
std::vector<int> valuesOf(const std::vector<Frame>& frames, std::uint16_t type, std::uint16_t code);
long sumOf(const std::vector<Frame>& frames, std::uint16_t type, std::uint16_t code);

// The buttons these frames leave pressed (the last value of each key is 1).
std::vector<int> buttonsLeftDown(const std::vector<Frame>& frames);

std::string describe(const std::vector<Frame>& frames);

} // namespace quillmere::vmtest
