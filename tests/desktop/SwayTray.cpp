#include "DesktopSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace quillmere::desktoptest {

namespace {
const QRgb barColour = qRgb(0x1d, 0x2b, 0x3a);  // waybar.css
const QRgb menuColour = qRgb(0xf6, 0xf1, 0xe4); // menu background
const QRgb ruleColour = qRgb(0x5a, 0x4a, 0x2a); // menu separators
} // namespace

void Box::add(int x, int y) {
    left = left < 0 ? x : std::min(left, x);
    top = top < 0 ? y : std::min(top, y);
    right = std::max(right, x);
    bottom = std::max(bottom, y);
}

QImage screen() {
    return QImage(QString::fromStdString(screenshot("/tmp/screen.png", 0, 0, 512, 400)));
}

Box trayIcon() {
    const QImage image = screen();
    Box icon;
    if (image.isNull() || image.pixel(500, 15) != barColour)
        return icon; // no bar
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 400; ++x)
            if (image.pixel(x, y) != barColour)
                icon.add(x, y);
    return icon;
}

Menu trayMenu() {
    const QImage image = screen();
    Menu menu;
    if (image.isNull())
        return menu;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (image.pixel(x, y) == menuColour)
                menu.box.add(x, y);
    if (!menu.box.valid())
        return menu;
    // Separators cross the whole menu; items lie between them.
    std::vector<std::pair<int, int>> bands;
    int start = menu.box.top;
    for (int y = menu.box.top; y <= menu.box.bottom + 1; ++y) {
        const bool rule = y > menu.box.bottom || image.pixel(menu.box.left + 2, y) == ruleColour;
        if (rule && y - start > 10)
            bands.emplace_back(start, y);
        if (rule)
            start = y + 1;
    }
    if (bands.size() != 4)
        return menu;
    menu.items = {(bands[0].first + bands[0].second) / 2, (bands[1].first + bands[1].second) / 2,
                  bands[2].first + (bands[2].second - bands[2].first) / 4,
                  bands[2].second - (bands[2].second - bands[2].first) / 4,
                  (bands[3].first + bands[3].second) / 2};
    return menu;
}

namespace {
void collectViews(const QJsonObject& node, std::vector<View>& views) {
    if (node.contains(QStringLiteral("app_id")) && !node.value(QStringLiteral("app_id")).isNull())
        views.push_back({node.value(QStringLiteral("app_id")).toString().toStdString(),
                         node.value(QStringLiteral("focused")).toBool()});
    for (const char* key : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node.value(QString::fromLatin1(key)).toArray())
            collectViews(child.toObject(), views);
}

std::vector<View> views() {
    std::vector<View> found;
    const std::string tree = runAsUser(QStringLiteral("swaymsg"), {"-t", "get_tree"});
    collectViews(QJsonDocument::fromJson(QByteArray::fromStdString(tree)).object(), found);
    return found;
}
} // namespace

std::vector<View> quillmereWindows() {
    std::vector<View> found;
    for (const View& v : views())
        if (v.appId == "app.quillmere.Quillmere")
            found.push_back(v);
    return found;
}

std::string registeredItems() {
    return runAsUser(QStringLiteral("dbus-send"),
                     {"--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                      "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                      "string:org.kde.StatusNotifierWatcher",
                      "string:RegisteredStatusNotifierItems"});
}

bool barShown() {
    return screen().pixel(500, 15) == barColour;
}

} // namespace quillmere::desktoptest
