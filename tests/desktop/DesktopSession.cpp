#include "DesktopSession.h"

#include <QFile>
#include <QProcessEnvironment>

#include <cstdio>
#include <ctime>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace quillmere::desktoptest {

namespace {
const char* const user = "tester";

QStringList userEnvironment() {
    const QProcessEnvironment outer = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), QStringLiteral("/home/tester"));
    env.insert(QStringLiteral("USER"), QString::fromLatin1(user));
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    for (const char* name : {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY",
                             "WAYLAND_DISPLAY", "SWAYSOCK", "QT_QPA_PLATFORM", "GDK_BACKEND"})
        if (outer.contains(QString::fromLatin1(name)))
            env.insert(QString::fromLatin1(name), outer.value(QString::fromLatin1(name)));
    return env.toStringList();
}

} // namespace

long long now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

std::string server() {
    const char* name = std::getenv("DESKTOP_SERVER");
    return name ? name : "";
}

bool onSway() {
    return server() == "sway";
}

UserProcess::UserProcess(const std::string& name, const QString& program, const QStringList& args)
    : ChildProcess(name, QStringList{program} + args, user, userEnvironment()) {}

std::string runAsUser(const QString& program, const QStringList& args) {
    return vmtest::outputOf(QStringList{program} + args, user, userEnvironment());
}

void writeSettings(const std::string& jsonMembers) {
    const std::string folder = "/home/tester/.config/quillmere/";
    const std::string text =
        "{\"grabVirtualDevices\": true" + (jsonMembers.empty() ? "" : ", " + jsonMembers) + "}\n";
    // Replaced in one rename, as an editor saves, so no half file is read.
    QFile file(QString::fromStdString(folder + "defaults.json.new"));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.c_str());
    file.close();
    const passwd* pw = ::getpwnam(user);
    if (pw)
        ::chown((folder + "defaults.json.new").c_str(), pw->pw_uid, pw->pw_gid);
    std::rename((folder + "defaults.json.new").c_str(), (folder + "defaults.json").c_str());
    // The store reloads on the change notice.
    vmtest::pumpFor(400ms);
}

void Pointer::moveTo(int x, int y) {
    mouse_.move(-4000, -4000);
    x_ = 0;
    y_ = 0;
    // Apart, or the toolkits merge the moves and may see no change at all;
    // the last one inside the window, as entering a window is no motion.
    std::this_thread::sleep_for(30ms);
    moveBy(x - 1, y);
    std::this_thread::sleep_for(30ms);
    moveBy(1, 0);
}

void Pointer::moveBy(int dx, int dy) {
    mouse_.move(dx, dy);
    x_ += dx;
    y_ += dy;
}

void Pointer::click(std::uint16_t button) {
    mouse_.button(button, true);
    mouse_.button(button, false);
}

long long Pointer::drag(std::uint16_t button, int dx, int dy, int steps,
                        std::chrono::milliseconds gap) {
    mouse_.button(button, true);
    int doneX = 0;
    int doneY = 0;
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(gap);
        const int toX = dx * i / steps;
        const int toY = dy * i / steps;
        mouse_.move(toX - doneX, toY - doneY);
        doneX = toX;
        doneY = toY;
    }
    std::this_thread::sleep_for(gap);
    mouse_.button(button, false);
    x_ += dx;
    y_ += dy;
    return now();
}

std::string screenshot(const std::string& path, int x, int y, int width, int height) {
    ::unlink(path.c_str());
    if (onSway())
        runAsUser(QStringLiteral("grim"),
                  {QStringLiteral("-g"),
                   QStringLiteral("%1,%2 %3x%4").arg(x).arg(y).arg(width).arg(height),
                   QString::fromStdString(path)});
    else
        runAsUser(QStringLiteral("import"),
                  {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                   QStringLiteral("%1x%2+%3+%4").arg(width).arg(height).arg(x).arg(y),
                   QStringLiteral("+repage"), QString::fromStdString(path)});
    return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

void emitScreenshot(const std::string& path, const std::string& name) {
    if (!std::getenv("DESKTOP_SHOTS"))
        return;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return;
    std::printf("@@PNG %s@@\n%s\n@@END@@\n", name.c_str(), file.readAll().toBase64().constData());
    std::fflush(stdout);
}

} // namespace quillmere::desktoptest
