#pragma once
// What the desktop checks drive: programs run as the seat user (the clients,
// Quillmere, the tray host), the clients' reports read line by line, and the
// fake mouse moved to absolute screen positions.

#include "../vm/VmSupport.h"

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quillmere::desktoptest {

using namespace std::chrono_literals;
using vmtest::FakeMouse;

// CLOCK_MONOTONIC in microseconds, the clock the clients stamp lines with.
long long now();

// "x11" or "sway".
std::string server();
bool onSway();

using vmtest::Report;

// A program run as the seat user with the session's environment. Standard
// output is read as reports; standard error goes to /tmp/NAME.log.
class UserProcess : public vmtest::ChildProcess {
public:
    UserProcess(const std::string& name, const QString& program, const QStringList& args);
};

// Runs a command as the seat user and returns its standard output.
std::string runAsUser(const QString& program, const QStringList& args);

// Replaces the seat user's settings file, keeping grabVirtualDevices on.
void writeSettings(const std::string& jsonMembers);

// The fake mouse, with the pointer's absolute position known: home() puts
// it in the top left corner, as the display server clamps large moves.
class Pointer {
public:
    explicit Pointer(FakeMouse& mouse) : mouse_(mouse) {}
    void moveTo(int x, int y);
    void moveBy(int dx, int dy);
    void click(std::uint16_t button);
    // Presses, moves (dx, dy) in `steps` equal moves `gap` apart, releases;
    // returns the time of the release.
    long long drag(std::uint16_t button, int dx, int dy, int steps = 20,
                   std::chrono::milliseconds gap = 8ms);
    int x() const { return x_; }

private:
    FakeMouse& mouse_;
    int x_ = 0;
    int y_ = 0;
};

// A PNG of a screen area, taken as the seat user ("" when it failed).
std::string screenshot(const std::string& path, int x, int y, int width, int height);
// Prints a PNG for the host between @@PNG name@@ and @@END@@ lines, when
// DESKTOP_SHOTS is set.
void emitScreenshot(const std::string& path, const std::string& name);

// --- What the tray checks read on sway: the bar and the tray menu waybar draws
// (found in screenshots by the plain colours of the test's waybar style),
// sway's windows, and the items the tray host's watcher knows.

// A box of the screen, from a screenshot.
struct Box {
    int left = -1, top = -1, right = -1, bottom = -1;
    bool valid() const { return left >= 0; }
    int cx() const { return (left + right) / 2; }
    int cy() const { return (top + bottom) / 2; }
    void add(int x, int y);
};

// The open tray menu: its box and the middle of each item, top to bottom
// (the version, Enabled, Preferences..., Check for Updates..., Quit).
struct Menu {
    Box box;
    std::vector<int> items;
    bool valid() const { return items.size() == 5; }
};

struct View {
    std::string appId;
    bool focused = false;
};

// The top left of the screen: the bar's start and the tray menu.
QImage screen();
bool barShown();
// Quillmere's icon: what is drawn on the bar (only Quillmere has one).
Box trayIcon();
Menu trayMenu();
// Quillmere's windows in sway's tree.
std::vector<View> quillmereWindows();
// The watcher's RegisteredStatusNotifierItems, for failure messages.
std::string registeredItems();

} // namespace quillmere::desktoptest
