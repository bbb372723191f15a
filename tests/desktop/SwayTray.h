#pragma once
// What the tray checks read on sway: the bar and the tray menu waybar draws
// (found in screenshots by the plain colours of the test's waybar style),
// sway's windows, and the items the tray host's watcher knows.

#include <QImage>

#include <string>
#include <vector>

namespace quillmere::desktoptest {

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
