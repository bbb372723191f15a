// The installed application on a real display server (DESKTOP_SERVER: x11
// or sway), judged by real clients: a Qt QTextEdit that also records every
// wheel and context-menu event (desktop_probe), a GTK 3 text view, and on
// sway the waybar tray. The tests run in order and share one session: first
// without Quillmere, then with it, then the tray, then a crash of the server.
// Figures for the README's table are printed as "@@ROW server client key value".
//   desktop_vm_test --probe=PATH --gtk=PATH [gtest options]
#include "../vm/StreamSupport.h"
#include "DesktopSession.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <signal.h>

namespace quillmere::desktoptest {
namespace {

using vmtest::Frame;
using vmtest::NodeReader;
using vmtest::pumpFor;
using vmtest::pumpUntil;

std::string probeProgram;
std::string gtkProgram;

// A client window and the screen point over its document.
struct Client {
    const char* name;
    std::unique_ptr<UserProcess> app;
    int x;
    int y;
    int rightButton; // how the toolkit numbers the right button
};

struct Figures {
    int moveX = 0, moveY = 0, selected = -1, menus = -1;
};

void row(const Client& client, const std::string& key, long long value) {
    std::printf("@@ROW %s %s %s %lld\n", server().c_str(), client.name, key.c_str(), value);
    std::fflush(stdout);
}

// Runs desktop-vm.sh (it starts the tray host).
void runScript(const std::string& command) {
    std::system((std::string(std::getenv("DESKTOP_SCRIPT")) + " " + command).c_str());
}

std::string settingsFor(int speed) {
    return "\"scrollSpeed\": " + std::to_string(speed);
}

// The session the tests share, in the order they run.
FakeMouse* mouse = nullptr;
Pointer* pointer = nullptr;
Client qt{"qt", nullptr, 256, 420, 2};
Client gtk{"gtk", nullptr, 768, 420, 3};
std::map<std::string, Figures> baseline;
// Hi-res units posted and received at the Qt probe, drags without a glide.
std::vector<std::pair<long, long>> dragsWithoutGlide;
std::unique_ptr<UserProcess> quillmere;
std::unique_ptr<NodeReader> virtualPointer;

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        plugMouse();
        startClients();
        // Now and then sway passes on nothing from a mouse plugged in while
        // it starts; plugged in again, it is taken.
        bool reached = pointerReaches(qt, 20s);
        for (int plugs = 0; plugs < 3 && !reached; ++plugs) {
            plugMouse();
            reached = pointerReaches(qt, 20s);
        }
        ASSERT_TRUE(reached) << "the display server did not take the mouse";
    }
    static void plugMouse() {
        delete pointer;
        delete mouse;
        mouse = new FakeMouse("Quillmere Desktop Mouse", "usb-desktop/input0");
        pointer = new Pointer(*mouse);
        std::system("udevadm settle -t 10");
        // logind's part at a seat: the session's user gets the tagged nodes.
        std::system("setfacl -m u:tester:rw /dev/uinput");
        std::system(("setfacl -m u:tester:rw " + mouse->node()).c_str());
    }
    static void TearDownTestSuite() {
        for (Client* c : {&qt, &gtk})
            c->app.reset();
        quillmere.reset();
        virtualPointer.reset();
        delete pointer;
        delete mouse;
    }

    // Left half Qt, right half GTK, below the 30 points a panel takes.
    static void startClients() {
        qt.app = std::make_unique<UserProcess>("probe", QString::fromStdString(probeProgram),
                                               QStringList{"0", "30", "512", "738"});
        gtk.app = std::make_unique<UserProcess>("gtk", QString::fromStdString(gtkProgram),
                                                QStringList{"512", "30", "512", "738"});
        ASSERT_TRUE(qt.app->waitFor("ready", 0, 60s)) << qt.app->log();
        ASSERT_TRUE(gtk.app->waitFor("ready", 0, 60s)) << gtk.app->log();
    }

    static void startQuillmere() {
        quillmere = std::make_unique<UserProcess>("quillmere", QStringLiteral("/usr/bin/quillmere"),
                                                  QStringList{});
        virtualPointer =
            std::make_unique<NodeReader>(vmtest::waitForNode("quillmere/" + mouse->phys(), 30s));
        ASSERT_TRUE(virtualPointer->isOpen()) << quillmere->log();
        // The server has taken the new device once motion through it arrives
        // (under a loaded emulator sway has taken up to a minute).
        ASSERT_TRUE(pointerReaches(qt, 90s))
            << "the display server did not take the virtual pointer";
    }

    // Moves the pointer over the client, then nudges it, until the client
    // reports motion. Now and then it starts from the corner again: motion
    // written before the server has opened a new device is lost and leaves
    // the pointer elsewhere.
    static bool pointerReaches(Client& c, std::chrono::milliseconds limit = 30s) {
        int tries = 0;
        std::size_t from = 0;
        return pumpUntil(
            [&] {
                if (tries++ % 8 == 0) {
                    from = c.app->mark();
                    pointer->moveTo(c.x, c.y);
                }
                if (c.app->waitFor("move", from, 400ms))
                    return true;
                pointer->moveBy(pointer->x() == c.x ? 1 : -1, 0);
                return false;
            },
            limit);
    }

    // The document back at its start, the pointer over it; the offsets.
    static std::pair<long long, long long> prepare(Client& c) {
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

    static Report lastMove(Client& c) {
        const std::vector<Report> moves = c.app->since(0, "move");
        return moves.empty() ? Report{} : moves.back();
    }

    static Figures pointerAndClicks(Client& c) {
        Figures f;
        prepare(c);
        const Report before = lastMove(c);
        const std::size_t from = c.app->mark();
        pointer->moveBy(30, 0);
        pointer->moveBy(0, 20);
        pointer->moveBy(7, 7);
        pumpUntil([&] { return lastMove(c)[1] == before[1] + 37; }, 3s);
        pumpFor(200ms);
        f.moveX = static_cast<int>(lastMove(c)[1] - before[1]);
        f.moveY = static_cast<int>(lastMove(c)[2] - before[2]);
        EXPECT_FALSE(c.app->since(from, "move").empty()) << c.name;

        // A left drag selects text.
        prepare(c);
        pointer->moveTo(c.x - 150, c.y);
        const std::size_t selecting = c.app->mark();
        // Slow enough for a client that runs behind under the emulator.
        pointer->drag(BTN_LEFT, 200, 0, 10, 40ms);
        pumpFor(800ms);
        const std::vector<Report> selections = c.app->since(selecting, "select");
        f.selected = selections.empty() ? -1 : static_cast<int>(selections.back()[0]);

        // A right click opens the context menu once, where it was pressed.
        prepare(c);
        const Report at = lastMove(c);
        const std::size_t clicking = c.app->mark();
        pointer->click(BTN_RIGHT);
        c.app->waitFor("menu", clicking, 5s);
        pumpFor(1500ms); // a second menu would come now
        f.menus = static_cast<int>(c.app->since(clicking, "menu").size());
        int presses = 0;
        for (const Report& press : c.app->since(clicking, "press")) {
            if (press[1] != c.rightButton)
                continue;
            ++presses;
            EXPECT_EQ(press[2], at[1]) << c.name << " pressed away from the pointer";
            EXPECT_EQ(press[3], at[2]) << c.name;
        }
        EXPECT_EQ(presses, 1) << c.name;
        for (const Report& context : c.app->since(clicking, "context")) {
            EXPECT_EQ(context[1], at[1]) << c.name << " menu away from the press";
            EXPECT_EQ(context[2], at[2]) << c.name;
        }
        pumpFor(500ms);
        return f;
    }

    // Pointer motion one point at a time, each waited for at the client:
    // from the fake mouse's write to the client's event, in microseconds,
    // printed as the rows latency_p50_us_WHEN and latency_p99_us_WHEN.
    static void latency(Client& c, const std::string& when, int samples = 100) {
        prepare(c);
        std::vector<double> taken;
        for (int i = 0; i < samples; ++i) {
            const std::size_t from = c.app->mark();
            const long long written = now();
            pointer->moveBy(i % 2 == 0 ? 1 : -1, 0);
            if (c.app->waitFor("move", from, 2s))
                taken.push_back(
                    static_cast<double>(c.app->since(from, "move").front().at() - written));
        }
        EXPECT_GE(taken.size(), samples * 9u / 10) << c.name << " lost pointer motion";
        row(c, "latency_p50_us_" + when, std::llround(vmtest::percentile(taken, 50)));
        row(c, "latency_p99_us_" + when, std::llround(vmtest::percentile(taken, 99)));
    }

    struct Drag {
        long long totalH = 0, totalV = 0; // after the glide
        long long glideMs = 0;            // release to the last change
        long postedV = 0;                 // hi-res units out of Quillmere
        long angleV = 0;                  // what the Qt probe's wheel events add up to
        int wheelsAfterRelease = 0;
    };

    // The Qt probe's wheel events add up to what Quillmere posted.
    static void expectWheelSum(long posted, long received) {
        if (onSway()) // sway 1.7 hands clients whole notches only
            EXPECT_NEAR(received / 120, posted / 120, 1);
        else // libinput may hold back less than half a notch
            EXPECT_NEAR(received, posted, 59);
    }

    // With a name, the client's window is taken before and after the drag.
    static Drag drag(Client& c, int dx, int dy, const std::string& shot = "") {
        Drag d;
        const auto [startH, startV] = prepare(c);
        if (!shot.empty())
            emitScreenshot(screenshot("/tmp/before.png", c.x - 256, 30, 512, 738),
                           shot + "-before-drag.png");
        std::vector<Frame> frames;
        virtualPointer->take();
        const std::size_t from = c.app->mark();
        const long long released = pointer->drag(BTN_RIGHT, dx, dy);
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
                if (scrolls.empty() && now() - released < 5000000)
                    return false;
                const long long last = scrolls.empty() ? released : scrolls.back().at();
                return now() - std::max(last, lastPosted) > 700000;
            },
            20s);
        long long lastChange = released;
        for (const Report& s : c.app->since(from, "scroll")) {
            lastChange = std::max(lastChange, s.at());
            d.totalH = s[1] - startH;
            d.totalV = s[2] - startV;
        }
        d.glideMs = (lastChange - released) / 1000;
        d.postedV = vmtest::sumOf(frames, EV_REL, REL_WHEEL_HI_RES);
        for (const Report& w : c.app->since(from, "wheel")) {
            d.angleV += w[2];
            d.wheelsAfterRelease += w.at() > released + 300000;
        }
        EXPECT_TRUE(vmtest::valuesOf(frames, EV_KEY, BTN_RIGHT).empty()) << "a drag clicked";
        if (!shot.empty())
            emitScreenshot(screenshot("/tmp/after.png", c.x - 256, 30, 512, 738),
                           shot + "-after-drag.png");
        return d;
    }
};

TEST_F(Desktop, WithoutQuillmereTheClientsSeeThePlainMouse) {
    for (Client* c : {&qt, &gtk}) {
        latency(*c, "without");
        baseline[c->name] = pointerAndClicks(*c);
        EXPECT_EQ(baseline[c->name].menus, 1) << c->name;
        EXPECT_GT(baseline[c->name].selected, 0) << c->name;
    }
}

TEST_F(Desktop, WithQuillmereMotionSelectionAndRightClicksAreUnchanged) {
    writeSettings(settingsFor(3));
    startQuillmere();
    ASSERT_TRUE(quillmere->running()) << quillmere->log();
    const long long started = now();
    for (Client* c : {&qt, &gtk}) {
        latency(*c, "with");
        if (onSway() && c == &qt) {
            // The tray host comes 5 s after Quillmere, as a slow panel at login.
            pumpFor(std::chrono::milliseconds(std::max(0LL, started + 5000000 - now()) / 1000));
            runScript("tray");
        }
        const Figures with = pointerAndClicks(*c);
        const Figures& without = baseline[c->name];
        EXPECT_EQ(with.moveX, without.moveX) << c->name;
        EXPECT_EQ(with.moveY, without.moveY) << c->name;
        EXPECT_EQ(with.selected, without.selected) << c->name;
        EXPECT_EQ(with.menus, 1) << c->name << ": context menus for one right click";
        row(*c, "context_menus_per_click", with.menus);
    }
}

TEST_F(Desktop, RightDragsScrollAtEachSpeedAndGlide) {
    for (int speed : {1, 3, 10}) {
        const std::string s = "_speed" + std::to_string(speed);
        // The drag alone first, then the same drag with its glide.
        writeSettings(settingsFor(speed) + ", \"momentumScroll\": false");
        for (Client* c : {&qt, &gtk}) {
            const Drag d = drag(*c, 0, 100);
            row(*c, "drag_px" + s, -d.totalV);
            EXPECT_LT(d.totalV, 0) << c->name << " at speed " << speed;
            if (c == &qt)
                dragsWithoutGlide.emplace_back(d.postedV, d.angleV);
        }
        writeSettings(settingsFor(speed));
        for (Client* c : {&qt, &gtk}) {
            const bool shots = speed == 3 && c == &gtk && !onSway();
            const Drag d = drag(*c, 0, 100, shots ? "desktop-gtk" : "");
            row(*c, "total_px" + s, -d.totalV);
            row(*c, "glide_ms" + s, d.glideMs);
            // Reverse scrolling (the default): the content follows the hand.
            EXPECT_LT(d.totalV, 0) << c->name << " at speed " << speed;
            EXPECT_EQ(d.totalH, 0) << c->name;
            EXPECT_GT(d.glideMs, 100) << c->name << ": no glide at speed " << speed;
            if (c != &qt)
                continue;
            row(*c, "posted_hires" + s, d.postedV);
            row(*c, "wheel_angle" + s, d.angleV);
            EXPECT_GT(d.wheelsAfterRelease, 0) << "no glide at the Qt probe";
            expectWheelSum(d.postedV, d.angleV);
        }
    }
}

// Reverse off and the axis lock are the engine's (tests/engine); here the
// other axis reaches the clients.
TEST_F(Desktop, HorizontalDragsScrollSideways) {
    writeSettings(settingsFor(3));
    for (Client* c : {&qt, &gtk}) {
        const Drag sideways = drag(*c, 100, 0);
        EXPECT_LT(sideways.totalH, 0) << c->name;
        EXPECT_EQ(sideways.totalV, 0) << c->name;
    }
}

// --- The tray on sway: waybar draws the StatusNotifierItem and its menu.

// Opens the tray menu with a left click on the icon.
Menu openMenu() {
    const Box icon = trayIcon();
    Menu menu;
    if (!icon.valid())
        return menu;
    pointer->moveTo(icon.cx(), icon.cy());
    pumpFor(300ms);
    pointer->click(BTN_LEFT);
    pumpUntil([&] { return (menu = trayMenu()).valid(); }, 10s);
    return menu;
}

void choose(const Menu& menu, int item) {
    pointer->moveTo(menu.box.cx(), menu.items[item]);
    pumpFor(300ms);
    pointer->click(BTN_LEFT);
    pumpFor(500ms);
}

bool mouseIsGrabbed() {
    return !NodeReader(mouse->node()).canGrab();
}

TEST_F(Desktop, TrayIconAppearsWhenTheHostComesLateAndAgainAfterItRestarts) {
    ASSERT_TRUE(pumpUntil([] { return trayIcon().valid(); }, 40s))
        << registeredItems() << quillmere->log();
    emitScreenshot(screenshot("/tmp/tray.png", 0, 0, 420, 120), "tray-waybar.png");
    std::system("kill $(cat /tmp/desktop/tray.pid)");
    ASSERT_TRUE(pumpUntil([] { return !barShown(); }, 10s));
    runScript("tray");
    EXPECT_TRUE(pumpUntil([] { return trayIcon().valid(); }, 40s)) << registeredItems();
    EXPECT_TRUE(quillmere->running());
}

TEST_F(Desktop, TrayLeftClickOpensTheHostsMenuAndItsItemsWork) {
    // Found by the colours of the test's waybar style: waybar drew it.
    Menu menu = openMenu();
    ASSERT_TRUE(menu.valid()) << "no menu after a click on the tray icon";
    emitScreenshot(screenshot("/tmp/menu.png", 0, 0, 420, 260), "tray-waybar-menu.png");
    EXPECT_TRUE(quillmereWindows().empty()) << "a menu of Quillmere's own opened as a window";

    choose(menu, 1); // Enabled: off
    EXPECT_TRUE(pumpUntil([] { return !mouseIsGrabbed(); }, 10s)) << quillmere->log();
    ASSERT_TRUE((menu = openMenu()).valid());
    choose(menu, 1); // and on again
    EXPECT_TRUE(pumpUntil([] { return mouseIsGrabbed(); }, 10s)) << quillmere->log();
    virtualPointer =
        std::make_unique<NodeReader>(vmtest::waitForNode("quillmere/" + mouse->phys()));

    ASSERT_TRUE((menu = openMenu()).valid());
    choose(menu, 2); // Preferences...
    const auto focused = [] {
        const auto w = quillmereWindows();
        return w.size() == 1 && w[0].focused;
    };
    EXPECT_TRUE(pumpUntil(focused, 30s)) << "the preferences window did not open with the focus";
    // Another window takes the focus; a second Preferences... brings it back.
    pointer->moveTo(40, 700);
    pointer->click(BTN_LEFT);
    ASSERT_TRUE(pumpUntil(
        [] { return !quillmereWindows().empty() && !quillmereWindows()[0].focused; }, 10s));
    ASSERT_TRUE((menu = openMenu()).valid());
    choose(menu, 2);
    EXPECT_TRUE(pumpUntil(focused, 10s)) << "a second Preferences... left the window behind";
}

TEST_F(Desktop, TrayQuitEndsQuillmereWithEveryButtonReleased) {
    Menu menu = openMenu();
    ASSERT_TRUE(menu.valid());
    virtualPointer->take();
    // The middle button is held while Quit is chosen.
    pointer->moveTo(menu.box.cx(), menu.items[4]);
    pumpFor(300ms);
    mouse->button(BTN_MIDDLE, true);
    pointer->click(BTN_LEFT);
    EXPECT_EQ(quillmere->waitForExit(10s), 0) << quillmere->log();
    const std::vector<Frame> frames = virtualPointer->take();
    EXPECT_TRUE(vmtest::buttonsLeftDown(frames).empty()) << vmtest::describe(frames);
    EXPECT_FALSE(mouseIsGrabbed());
    mouse->button(BTN_MIDDLE, false);
}

// --- Faults

bool survivedTheServer = false;

TEST_F(Desktop, TheDisplayServerDiesDuringAGesture) {
    if (!quillmere || !quillmere->running()) {
        ASSERT_NO_FATAL_FAILURE(startQuillmere());
    }
    prepare(qt);
    std::vector<Frame> frames = virtualPointer->take();
    frames.clear();
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 20; ++i) {
        if (i == 10)
            std::system("kill -KILL $(cat /tmp/desktop/server.pid)");
        mouse->move(0, 5);
        pumpFor(8ms);
    }
    mouse->button(BTN_RIGHT, false);
    pumpFor(3s);
    for (Frame& f : virtualPointer->take())
        frames.push_back(std::move(f));
    // Still there 10 s on: it has outlived the server.
    survivedTheServer = quillmere->waitForExit(10s) == -1;
    // Until the process has really gone, its grab holds the mouse.
    if (!survivedTheServer)
        pumpUntil([] { return NodeReader(mouse->node()).canGrab(); }, 20s);
    // Nothing released that was not pressed, nothing left held.
    std::map<int, int> held;
    for (const Frame& frame : frames)
        for (const input_event& ev : frame)
            if (ev.type == EV_KEY) {
                held[ev.code] += ev.value ? 1 : -1;
                EXPECT_GE(held[ev.code], 0) << "released twice: " << vmtest::describe(frames);
            }
    EXPECT_TRUE(vmtest::buttonsLeftDown(frames).empty()) << vmtest::describe(frames);

    // What the next server reads when it opens the devices: no key down.
    EXPECT_TRUE(NodeReader(mouse->node()).keysDown().empty());
    if (survivedTheServer) {
        EXPECT_TRUE(virtualPointer->keysDown().empty());
    }
}

// Qt's xcb plugin keeps only the last of several queued XI2 motion events.
// A drag's scroll therefore leaves in the same frame as its motion, after
// it; as a frame of its own before the motion, most of a drag without a
// glide never reached a Qt client on Xorg (70 of 200 hi-res units).
TEST_F(Desktop, DragsWithoutAGlideReachQtWhole) {
    for (const auto& [posted, received] : dragsWithoutGlide)
        expectWheelSum(posted, received);
}

// A known fault, left for a fix outside the interface code: Qt's platform
// plugin ends the process (exit status 1) when the display connection
// breaks, so Quillmere does not outlive its display server. Run with
// --gtest_also_run_disabled_tests.
TEST_F(Desktop, DISABLED_QuillmereOutlivesItsDisplayServer) {
    EXPECT_TRUE(survivedTheServer) << quillmere->log();
}

} // namespace
} // namespace quillmere::desktoptest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using namespace quillmere::desktoptest;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--probe=", 8) == 0)
            probeProgram = argv[i] + 8;
        if (std::strncmp(argv[i], "--gtk=", 6) == 0)
            gtkProgram = argv[i] + 6;
    }
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
