// The installed application on a real display server (DESKTOP_SERVER: x11
// or sway), judged by real clients: a Qt QTextEdit that also records every
// wheel and context-menu event (desktop_probe), a GTK 3 text view, and on
// sway the waybar tray. The tests run in order and share one session: first
// without Quillmere, then with it, then the tray, then a crash of the server.
// Figures for the README's table are printed as "@@ROW server client key value".
//   desktop_vm_test --probe=PATH --gtk=PATH [gtest options]
#include "../vm/StreamSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QSaveFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <thread>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

std::map<std::string, QString> programs; // --probe=PATH, --gtk=PATH
const std::string server = std::getenv("DESKTOP_SERVER") ? std::getenv("DESKTOP_SERVER") : "";
const bool onSway = server == "sway";

// CLOCK_MONOTONIC in microseconds, the clock the clients stamp lines with.
long long now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Replaces the seat user's settings file in one rename, as an editor saves,
// so no half file is read; the store reloads on the change notice.
void useSettings(int speed, bool momentum = true) {
    QSaveFile file(QStringLiteral("/home/tester/.config/quillmere/defaults.json"));
    file.open(QIODevice::WriteOnly);
    file.write("{\"grabVirtualDevices\": true, \"scrollSpeed\": " + QByteArray::number(speed) +
               ", \"momentumScroll\": " + (momentum ? "true}\n" : "false}\n"));
    file.commit();
    ::chown("/home/tester/.config/quillmere/defaults.json", 1500, 1500);
    pumpFor(400ms);
}

std::unique_ptr<FakeMouse> mouse;

// A large move first puts the pointer in the top left corner, as the server
// clamps it. The moves apart, or the toolkits merge them and may see no
// change at all; the last one inside the window, as entering one is no motion.
void moveTo(int x, int y) {
    mouse->move(-4000, -4000);
    std::this_thread::sleep_for(30ms);
    mouse->move(x - 1, y);
    std::this_thread::sleep_for(30ms);
    mouse->move(1, 0);
}

void click(std::uint16_t button) {
    mouse->button(button, true);
    mouse->button(button, false);
}

// Presses, moves (dx, dy) in `steps` equal moves `gap` apart, releases;
// returns the time of the release.
long long drag(std::uint16_t button, int dx, int dy, int steps = 20,
               std::chrono::milliseconds gap = 8ms) {
    mouse->button(button, true);
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(gap);
        mouse->move(dx * i / steps - dx * (i - 1) / steps, dy * i / steps - dy * (i - 1) / steps);
    }
    std::this_thread::sleep_for(gap);
    mouse->button(button, false);
    return now();
}

// A screen area as the seat user sees it (null when taking it failed); with
// DESKTOP_SHOTS set it is also printed for the host between @@PNG name@@
// and @@END@@ lines.
QImage screenshot(int x, int y, int width, int height, const std::string& name = "") {
    const QString path = QStringLiteral("/tmp/shot.png");
    ::unlink("/tmp/shot.png");
    const QString area = onSway ? QString::asprintf("%d,%d %dx%d", x, y, width, height)
                                : QString::asprintf("%dx%d+%d+%d", width, height, x, y);
    outputOf(onSway ? QStringList{"grim", "-g", area, path}
                    : QStringList{"import", "-window", "root", "-crop", area, "+repage", path},
             "tester");
    QFile file(path);
    if (!name.empty() && std::getenv("DESKTOP_SHOTS") && file.open(QIODevice::ReadOnly)) {
        std::printf("@@PNG %s@@\n%s\n@@END@@\n", name.c_str(),
                    file.readAll().toBase64().constData());
        std::fflush(stdout);
    }
    return QImage(path);
}

// A client window and the screen point over its document (y 420).
struct Client {
    const char* name;
    int x;
    std::unique_ptr<ChildProcess> app;
};
Client qt{"qt", 256, nullptr};
Client gtk{"gtk", 768, nullptr};
std::unique_ptr<ChildProcess> quillmere;
std::unique_ptr<NodeReader> virtualPointer;

void row(const Client& client, const std::string& key, long long value) {
    std::printf("@@ROW %s %s %s %lld\n", server.c_str(), client.name, key.c_str(), value);
    std::fflush(stdout);
}

// Moves the pointer over the client, then nudges it, until the client
// reports motion. Now and then it starts from the corner again: motion
// written before the server has opened a new device is lost and leaves
// the pointer elsewhere.
bool pointerReaches(Client& c, std::chrono::milliseconds limit = 30s) {
    int tries = 0;
    std::size_t from = 0;
    return pumpUntil(
        [&] {
            if (tries++ % 8 == 0) {
                from = c.app->mark();
                moveTo(c.x, 420);
            }
            if (c.app->waitFor("move", from, 400ms))
                return true;
            mouse->move(tries % 2 == 0 ? 1 : -1, 0);
            return false;
        },
        limit);
}

void startQuillmere() {
    quillmere =
        std::make_unique<ChildProcess>("quillmere", QStringList{"/usr/bin/quillmere"}, "tester");
    virtualPointer = std::make_unique<NodeReader>(waitForNode("quillmere/" + mouse->phys(), 30s));
    ASSERT_TRUE(virtualPointer->isOpen()) << quillmere->log();
    // The server has taken the new device once motion through it arrives
    // (under a loaded emulator sway has taken up to a minute).
    ASSERT_TRUE(pointerReaches(qt, 90s)) << "the display server did not take the virtual pointer";
}

// The document back at its start, the pointer over it; the offsets.
std::pair<long long, long long> prepare(Client& c) {
    const std::size_t from = c.app->mark();
    c.app->send("reset");
    EXPECT_TRUE(c.app->waitFor("scroll", from, 5s)) << c.name;
    EXPECT_TRUE(pointerReaches(c)) << c.name;
    // Until the last nudge has arrived too.
    for (std::size_t moves = 0; moves != c.app->since(0, "move").size();) {
        moves = c.app->since(0, "move").size();
        pumpFor(150ms);
    }
    const Report last = c.app->since(from, "scroll").back();
    return {last[1], last[2]};
}

Report lastMove(Client& c) {
    const std::vector<Report> moves = c.app->since(0, "move");
    return moves.empty() ? Report{} : moves.back();
}

// What a client makes of moves, a left drag and a right click. The moves
// go one point at a time, each waited for at the client: from the fake
// mouse's write to the client's event, in microseconds, printed as the rows
// latency_p50_us_WHEN and latency_p99_us_WHEN.
std::map<std::string, long long> pointerAndClicks(Client& c, const std::string& when) {
    std::map<std::string, long long> f;
    prepare(c);
    const Report before = lastMove(c);
    std::vector<double> taken;
    for (int i = 0; i < 100; ++i) {
        const std::size_t from = c.app->mark();
        const long long written = now();
        mouse->move(i % 2, 1 - i % 2);
        if (c.app->waitFor("move", from, 2s))
            taken.push_back(static_cast<double>(c.app->since(from, "move").front().at() - written));
    }
    pumpFor(200ms);
    f["moved x"] = lastMove(c)[1] - before[1];
    f["moved y"] = lastMove(c)[2] - before[2];
    row(c, "latency_p50_us_" + when, std::llround(percentile(taken, 50)));
    row(c, "latency_p99_us_" + when, std::llround(percentile(taken, 99)));

    // A left drag selects text; slow enough for a client that runs behind
    // under the emulator.
    prepare(c);
    moveTo(c.x - 150, 420);
    const std::size_t selecting = c.app->mark();
    drag(BTN_LEFT, 200, 0, 10, 40ms);
    pumpFor(800ms);
    const std::vector<Report> selections = c.app->since(selecting, "select");
    f["selected"] = selections.empty() ? -1 : selections.back()[1];

    // A right click opens the context menu once, where it was pressed.
    prepare(c);
    const Report at = lastMove(c);
    const std::size_t clicking = c.app->mark();
    click(BTN_RIGHT);
    c.app->waitFor("menu", clicking, 5s);
    pumpFor(1500ms); // a second menu would come now
    f["menus"] = static_cast<long long>(c.app->since(clicking, "menu").size());
    for (const Report& press : c.app->since(clicking, "press"))
        f[press[2] == at[1] && press[3] == at[2] ? "presses" : "presses away"]++;
    pumpFor(500ms);
    return f;
}

// A right drag over the client: what it scrolled ("h", "v", in pixels,
// after any glide), the glide ("glide_ms", from the release to the last
// change), the hi-res units Quillmere posted and what the Qt probe's wheel
// events add up to ("posted", "angle"). With a name, the client's window is
// taken before and after it.
std::map<std::string, long long> rightDrag(Client& c, int dx, int dy,
                                           const std::string& shot = "") {
    std::map<std::string, long long> d;
    const auto [startH, startV] = prepare(c);
    if (!shot.empty())
        screenshot(c.x - 256, 30, 512, 738, shot + "-before-drag.png");
    std::vector<Frame> frames;
    virtualPointer->take();
    const std::size_t from = c.app->mark();
    const long long released = drag(BTN_RIGHT, dx, dy);
    // Over when neither Quillmere nor the client did anything for 0.7 s:
    // the glide has ended at both.
    long long lastPosted = released;
    pumpUntil(
        [&] {
            for (Frame& f : virtualPointer->take()) {
                frames.push_back(std::move(f));
                lastPosted = now();
            }
            // A client running behind gets up to 5 s to show a change.
            const std::vector<Report> scrolls = c.app->since(from, "scroll");
            const long long last = scrolls.empty() ? released + 4300000 : scrolls.back().at();
            return now() - std::max(last, lastPosted) > 700000;
        },
        20s);
    if (const std::vector<Report> scrolls = c.app->since(from, "scroll"); !scrolls.empty()) {
        d["h"] = scrolls.back()[1] - startH;
        d["v"] = scrolls.back()[2] - startV;
        d["glide_ms"] = (std::max(released, scrolls.back().at()) - released) / 1000;
    }
    d["posted"] = sumOf(frames, EV_REL, REL_WHEEL_HI_RES);
    for (const Report& w : c.app->since(from, "wheel"))
        d["angle"] += w[2];
    EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << "a drag clicked";
    if (!shot.empty())
        screenshot(c.x - 256, 30, 512, 738, shot + "-after-drag.png");
    return d;
}

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Left half Qt, right half GTK, below the 30 points a panel takes.
        qt.app = std::make_unique<ChildProcess>(
            "probe", QStringList{programs["--probe"], "0", "30", "512", "738"}, "tester");
        gtk.app = std::make_unique<ChildProcess>(
            "gtk", QStringList{programs["--gtk"], "512", "30", "512", "738"}, "tester");
        ASSERT_TRUE(qt.app->waitFor("ready", 0, 60s)) << qt.app->log();
        ASSERT_TRUE(gtk.app->waitFor("ready", 0, 60s)) << gtk.app->log();
        // Now and then sway passes on nothing from a mouse plugged in while
        // it starts; plugged in again, it is taken.
        bool reached = false;
        for (int plugs = 0; plugs < 4 && !reached; ++plugs) {
            mouse.reset();
            mouse = std::make_unique<FakeMouse>("Quillmere Desktop Mouse", "usb-desktop/input0");
            // logind's part at a seat: the session's user gets the tagged nodes.
            outputOf({"udevadm", "settle", "-t", "10"});
            outputOf({"setfacl", "-m", "u:tester:rw", "/dev/uinput",
                      QString::fromStdString(mouse->node())});
            reached = pointerReaches(qt, plugs == 0 ? 60s : 20s);
        }
        ASSERT_TRUE(reached) << "the display server did not take the mouse";
    }
    static void TearDownTestSuite() {
        for (std::unique_ptr<ChildProcess>* p : {&qt.app, &gtk.app, &quillmere})
            p->reset();
    }
};

std::map<std::string, std::map<std::string, long long>> baseline;

TEST_F(Desktop, WithoutQuillmereTheClientsSeeThePlainMouse) {
    for (Client* c : {&qt, &gtk}) {
        baseline[c->name] = pointerAndClicks(*c, "without");
        EXPECT_EQ(baseline[c->name]["menus"], 1) << c->name;
        EXPECT_EQ(baseline[c->name]["presses"], 1) << c->name;
        EXPECT_GT(baseline[c->name]["selected"], 0) << c->name;
    }
}

TEST_F(Desktop, WithQuillmereMotionSelectionAndRightClicksAreUnchanged) {
    useSettings(3);
    startQuillmere();
    for (Client* c : {&qt, &gtk}) {
        std::map<std::string, long long> with = pointerAndClicks(*c, "with");
        EXPECT_EQ(with, baseline[c->name]) << c->name;
        row(*c, "context_menus_per_click", with["menus"]);
    }
    // The tray host comes after Quillmere, as a slow panel at login; only
    // now, as sway moves the floating windows down by the bar's height when
    // it comes, which would shift what the clients report under the checks.
    if (onSway)
        std::system((std::string(std::getenv("DESKTOP_SCRIPT")) + " tray").c_str());
}

// The Qt probe's wheel events add up to what Quillmere posted. Qt's xcb
// plugin keeps only the last of several queued XI2 motion events: a drag's
// scroll therefore leaves in the same frame as its motion, after it; as a
// frame of its own before the motion, most of a drag without a glide never
// reached a Qt client on Xorg (70 of 200 hi-res units).
void expectWheelSum(std::map<std::string, long long>& d) {
    if (onSway) // sway 1.7 hands clients whole notches only
        EXPECT_NEAR(d["angle"] / 120, d["posted"] / 120, 1);
    else // libinput may hold back less than half a notch
        EXPECT_NEAR(d["angle"], d["posted"], 59);
}

// Reverse scrolling (the default): the content follows the hand. Reverse
// off and the axis lock are the engine's (tests/engine); here the other
// axis reaches the clients too.
TEST_F(Desktop, RightDragsScrollAtEachSpeedAndGlide) {
    for (int speed : {1, 3, 10}) {
        const std::string s = "_speed" + std::to_string(speed);
        // The drag alone first, then the same drag with its glide.
        for (bool momentum : {false, true}) {
            useSettings(speed, momentum);
            for (Client* c : {&qt, &gtk}) {
                const bool shots = speed == 3 && momentum && c == &gtk && !onSway;
                auto d = rightDrag(*c, 0, 100, shots ? "desktop-gtk" : "");
                row(*c, (momentum ? "total_px" : "drag_px") + s, -d["v"]);
                EXPECT_LT(d["v"], 0) << c->name << " at speed " << speed;
                EXPECT_EQ(d["h"], 0) << c->name;
                if (c == &qt)
                    expectWheelSum(d);
                if (!momentum)
                    continue;
                row(*c, "glide_ms" + s, d["glide_ms"]);
                EXPECT_GT(d["glide_ms"], 100) << c->name << ": no glide at speed " << speed;
                if (c != &qt)
                    continue;
                row(*c, "posted_hires" + s, d["posted"]);
                row(*c, "wheel_angle" + s, d["angle"]);
            }
        }
    }
    useSettings(3);
    for (Client* c : {&qt, &gtk}) {
        auto sideways = rightDrag(*c, 100, 0);
        EXPECT_LT(sideways["h"], 0) << c->name;
        EXPECT_EQ(sideways["v"], 0) << c->name;
    }
}

// --- The tray on sway: waybar draws the StatusNotifierItem and its menu,
// found in screenshots by the plain colours of the test's waybar style.

const QRgb barColour = qRgb(0x1d, 0x2b, 0x3a);
const QRgb menuColour = qRgb(0xf6, 0xf1, 0xe4);
const QRgb ruleColour = qRgb(0x5a, 0x4a, 0x2a); // the menu's separators

// Quillmere's icon: what is drawn on the bar (only Quillmere has one);
// nothing when the bar is not shown.
QRect trayIcon() {
    const QImage image = screenshot(0, 0, 512, 400);
    QRect icon;
    for (int y = 0; y < 30 && !image.isNull() && image.pixel(500, 15) == barColour; ++y)
        for (int x = 0; x < 400; ++x)
            if (image.pixel(x, y) != barColour)
                icon |= QRect(x, y, 1, 1);
    return icon;
}

// Where to click the items of the open tray menu, top to bottom: the
// version, Enabled, Preferences..., Quit (none when it is not open).
std::vector<QPoint> trayMenu() {
    const QImage image = screenshot(0, 0, 512, 400);
    QRect box;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (image.pixel(x, y) == menuColour)
                box |= QRect(x, y, 1, 1);
    // Separators cross the whole menu; items lie between them, Preferences...
    // over Check for Updates... in the third band.
    std::vector<QPoint> items;
    for (int y = box.top(), start = y; !box.isNull() && y <= box.bottom() + 1; ++y) {
        if (y <= box.bottom() && image.pixel(box.left() + 2, y) != ruleColour)
            continue;
        if (y - start > 10)
            items.emplace_back(box.center().x(), start + (y - start) / (items.size() == 2 ? 4 : 2));
        start = y + 1;
    }
    return items.size() == 4 ? items : std::vector<QPoint>{};
}

// Whether each of Quillmere's windows in sway's tree has the focus.
std::vector<bool> quillmereWindows() {
    std::vector<bool> focused;
    std::function<void(const QJsonObject&)> visit = [&](const QJsonObject& node) {
        if (node.value(QStringLiteral("app_id")).toString() == "app.quillmere.Quillmere")
            focused.push_back(node.value(QStringLiteral("focused")).toBool());
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node.value(QString::fromLatin1(key)).toArray())
                visit(child.toObject());
    };
    const std::string tree = outputOf({"swaymsg", "-t", "get_tree"}, "tester");
    visit(QJsonDocument::fromJson(QByteArray::fromStdString(tree)).object());
    return focused;
}

// Opens the tray menu with a left click on the icon and chooses an item;
// false when no menu opened.
bool choose(int item) {
    const QPoint icon = trayIcon().center();
    std::vector<QPoint> menu;
    moveTo(icon.x(), icon.y());
    pumpFor(300ms);
    const std::size_t windows = quillmereWindows().size();
    click(BTN_LEFT);
    if (!pumpUntil([&] { return !(menu = trayMenu()).empty(); }, 10s))
        return false;
    screenshot(0, 0, 420, 260, "tray-waybar-menu.png");
    EXPECT_EQ(quillmereWindows().size(), windows) << "a menu of Quillmere's own opened as a window";
    moveTo(menu[item].x(), menu[item].y());
    pumpFor(300ms);
    click(BTN_LEFT);
    pumpFor(500ms);
    return true;
}

// Where the host came after Quillmere.
TEST_F(Desktop, TrayIconOpensTheHostsMenuWherePreferencesComesWithTheFocusAndQuitQuits) {
    ASSERT_TRUE(pumpUntil([] { return !trayIcon().isNull(); }, 40s)) << quillmere->log();
    screenshot(0, 0, 420, 120, "tray-waybar.png");
    // Preferences... opens one window with the focus; after another window
    // took the focus, a second Preferences... brings it back.
    for (int time = 0; time < 2; ++time) {
        ASSERT_TRUE(choose(2)) << "no menu after a click on the tray icon";
        EXPECT_TRUE(pumpUntil([] { return quillmereWindows() == std::vector<bool>{true}; }, 30s))
            << "Preferences... did not bring the window, focused";
        moveTo(40, 700);
        click(BTN_LEFT);
        ASSERT_TRUE(pumpUntil([] { return quillmereWindows() == std::vector<bool>{false}; }, 10s));
    }
    // Quit ends Quillmere and gives the mouse back.
    ASSERT_TRUE(choose(3));
    EXPECT_EQ(quillmere->waitForExit(10s), 0) << quillmere->log();
    EXPECT_TRUE(NodeReader(mouse->node()).canGrab());
}

// Qt's platform plugin ends the process (exit status 1) when the display
// connection breaks, so Quillmere does not outlive its display server (a
// known fault, left for a fix outside the interface code). Either way the
// gesture clicks nothing and leaves nothing held: what Quillmere writes is
// read until its virtual pointer goes, as the kernel drops what was not read.
TEST_F(Desktop, TheDisplayServerDiesDuringAGesture) {
    if (!quillmere || !quillmere->running()) {
        ASSERT_NO_FATAL_FAILURE(startQuillmere());
    }
    prepare(qt);
    virtualPointer->take();
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 20; ++i) {
        if (i == 10)
            std::system("kill -KILL $(cat /tmp/desktop/server.pid)");
        mouse->move(0, 5);
        pumpFor(8ms);
    }
    mouse->button(BTN_RIGHT, false);
    const std::vector<Frame> frames = collect(
        *virtualPointer, [](const auto&) { return virtualPointer->gone(); }, 13s);
    EXPECT_TRUE(valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << describe(frames);
    EXPECT_TRUE(virtualPointer->gone() || virtualPointer->keysDown().empty());
}

} // namespace
} // namespace quillmere::vmtest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (const char* value = std::strchr(argv[i], '='))
            quillmere::vmtest::programs[std::string(argv[i], value - argv[i])] =
                QString::fromLocal8Bit(value + 1);
    // What the seat user's programs, run with this environment, need.
    ::setenv("HOME", "/home/tester", 1);
    ::setenv("USER", "tester", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
