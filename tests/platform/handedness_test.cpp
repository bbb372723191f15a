// The desktop's handedness: which desktop's answer counts, kcminputrc read as
// KDE reads it, and GNOME's setting, KDE's file and the X pointer mapping
// followed while they change. GSettings runs on its memory backend here
// (main.cpp), with the schema that gsettings-desktop-schemas installs.
#include <gio/gio.h> // before Qt: GIO names a struct field "signals"
#include <xcb/xcb.h>

#include "platform/handedness/GnomeHandedness.h"
#include "platform/handedness/HandednessWatcher.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <numeric>
#include <vector>

namespace quillmere::testing {
namespace {

using input::Handedness;

bool writeFile(const QString& path, const char* text) {
    QSaveFile file(path); // replaced by rename, as KConfig saves
    return file.open(QIODevice::WriteOnly) && file.write(text) >= 0 && file.commit();
}

// How KDE's own settings combine, ReadsKcminputrcAsKdeDoes shows.
TEST(Handedness, OnlyTheRunningDesktopsSettingCounts) {
    KdeMouseSettings kde;
    kde.perDevice = {{"1133:49271:Mouse", true}, {"1:2:Other", false}};
    kde.x11 = true;
    const KdeMouseSettings none;
    struct Case {
        const char* desktop;
        bool onX11;
        bool gnome;
        const KdeMouseSettings& kde;
        bool x11Swapped;
        Handedness expected;
    };
    const Case cases[] = {
        {"ubuntu:GNOME", false, true, kde, false, {true, {}}},
        {"GNOME", true, false, kde, false, {false, {}}},
        {"KDE", false, true, kde, false, {false, kde.perDevice}},
        {"", false, true, kde, false, {true, kde.perDevice}},
        {"sway", true, false, none, true, {true, {}}},
        {"GNOME", true, true, none, true, {true, {}}}, // ORed: both set is still left
    };
    for (const Case& c : cases) {
        const Handedness got = combineHandedness(desktopKind(QString::fromLatin1(c.desktop)),
                                                 c.onX11, c.gnome, c.kde, c.x11Swapped);
        EXPECT_EQ(got, c.expected) << c.desktop << (c.onX11 ? " on X11" : " on Wayland");
    }
}

TEST(Handedness, ReadsKcminputrcAsKdeDoes) {
    const char* const missing = nullptr;
    const char* const unreadable = "";
    struct Case {
        const char* text;
        Handedness wayland;
        bool x11Left; // KDE on X11 reads the [Mouse] keys only, for every mouse
        bool logged;
    };
    const Case cases[] = {
        {"[Libinput][1133][49271][Logitech USB Optical Mouse]\nLeftHanded=true\n\n"
         "[Libinput][1241][41063][Other Mouse]\nLeftHanded=false\nPointerAcceleration=0.2\n",
         {false,
          {{"1133:49271:Logitech USB Optical Mouse", true}, {"1241:41063:Other Mouse", false}}},
         false,
         false},
        // KWin's default, an immutable entry, an escaped name, a deleted key,
        // a localised key and a number KWin never writes.
        {"# written by hand\n[Libinput][Defaults][Pointer]\nLeftHanded[$i]=true\n"
         "[Libinput][1133][49271][A\\x5dB]\n LeftHanded = false \n"
         "[Libinput][2][3][Gone]\nLeftHanded=true\nLeftHanded[$d]\n"
         "[Libinput][4][5][Localised]\nLeftHanded[de]=true\n[Libinput][06][7][Zero]\nLeftHanded="
         "true\n",
         {true, {{"1133:49271:A]B", false}}},
         false,
         false},
        {"[Mouse]\ncursorTheme=breeze\nXLbInptLeftHanded=true\n", {}, true, false},
        {"[Mouse]\nMouseButtonMapping=LeftHanded\n", {}, true, false},
        {"[Mouse]\nMouseButtonMapping=Both\n[Libinput][1][2][M]\nLeftHanded=maybe\n[Libinput\n"
         "\x7f\x01garbage\n",
         {false, {{"1:2:M", false}}},
         false,
         true},
        {missing, {}, false, true},
        {unreadable, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        QTemporaryDir home;
        const QString path = home.path() + QStringLiteral("/kcminputrc");
        if (c.text == unreadable) {
            ASSERT_TRUE(QDir().mkdir(path)); // a folder where the file should be
        } else if (c.text) {
            ASSERT_TRUE(writeFile(path, c.text));
        }
        LogCapture log;
        const KdeHandedness kde(home.path(), {});
        EXPECT_EQ(combineHandedness(DesktopKind::kde, false, false, kde.settings(), false),
                  c.wayland);
        EXPECT_EQ(combineHandedness(DesktopKind::kde, true, false, kde.settings(), false),
                  (Handedness{c.x11Left, {}}));
        EXPECT_EQ(log.lines.size(), c.logged ? 1u : 0u);
    }
}

// Builds a watcher on the sources and makes each change in turn, waiting for
// the watcher to report it; gives back what it reported.
std::vector<Handedness> follow(const HandednessSources& sources, const Handedness& initial,
                               const std::vector<std::function<bool()>>& changes) {
    HandednessWatcher watcher(sources);
    EXPECT_EQ(watcher.current(), initial);
    std::vector<Handedness> seen;
    QObject::connect(&watcher, &HandednessWatcher::changed, &watcher,
                     [&](const Handedness& h) { seen.push_back(h); });
    for (std::size_t i = 0; i < changes.size(); ++i) {
        EXPECT_TRUE(changes[i]() && QTest::qWaitFor([&] { return seen.size() > i; }, 5000))
            << "change " << i;
    }
    return seen;
}

const Handedness leftHanded{true, {}};

TEST(Handedness, FollowsKcminputrcAcrossRewritesAndRemoval) {
    QTemporaryDir home;
    const QString path = home.path() + QStringLiteral("/kcminputrc");
    const auto write = [&](bool left) {
        return [&, left] {
            return writeFile(path, left ? "[Libinput][1133][49271][Mouse]\nLeftHanded=true\n"
                                        : "[Libinput][1133][49271][Mouse]\nLeftHanded=false\n");
        };
    };
    ASSERT_TRUE(write(true)());
    HandednessSources sources;
    sources.desktop = QStringLiteral("KDE");
    sources.configHome = home.path();
    LogCapture log;
    const Handedness left{false, {{"1133:49271:Mouse", true}}};
    const Handedness right{false, {{"1133:49271:Mouse", false}}};
    // The second rewrite shows the watch survived the first rename; the
    // file made anew after its removal only the folder's watch sees.
    EXPECT_EQ(follow(sources, left,
                     {write(false), write(true), [&] { return QFile::remove(path); }, write(true)}),
              (std::vector<Handedness>{right, left, Handedness{}, left}));
    EXPECT_EQ(log.lines.size(), 1u); // the removal
}

// Swaps buttons 1 and 3 of the core pointer, as xmodmap -e 'pointer = 3 2 1',
// the others mapped to themselves.
bool setSwapped(xcb_connection_t* x, bool swapped) {
    xcb_get_pointer_mapping_reply_t* current =
        xcb_get_pointer_mapping_reply(x, xcb_get_pointer_mapping(x), nullptr);
    std::vector<std::uint8_t> map(current ? xcb_get_pointer_mapping_map_length(current) : 0);
    std::free(current);
    if (map.size() < 3)
        return false;
    std::iota(map.begin(), map.end(), 1);
    if (swapped)
        std::swap(map[0], map[2]);
    xcb_set_pointer_mapping_reply_t* set = xcb_set_pointer_mapping_reply(
        x, xcb_set_pointer_mapping(x, static_cast<std::uint8_t>(map.size()), map.data()), nullptr);
    const bool ok = set && set->status == XCB_MAPPING_STATUS_SUCCESS;
    std::free(set);
    return ok;
}

// GNOME's setting and the X pointer mapping, followed on an X server of the
// test's own: -displayfd makes it take a free display and name it when ready.
TEST(Handedness, FollowsGnomesSettingAndTheXPointerMappingWithoutRestart) {
    QProcess server;
    const QByteArray number = startServer(server, "Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    if (number.isEmpty())
        GTEST_SKIP() << "no Xvfb";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, GnomeHandedness::schemaId, TRUE) : nullptr;
    ASSERT_NE(schema, nullptr) << "gsettings-desktop-schemas is not installed";
    GSettings* gnome = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    HandednessSources sources;
    sources.desktop = QStringLiteral("GNOME");
    sources.x11 = true;
    sources.x11Display = ':' + number;
    xcb_connection_t* x = xcb_connect(sources.x11Display.constData(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(x));
    ASSERT_TRUE(setSwapped(x, true));
    const auto set = [&](bool left) {
        return [=] { return g_settings_set_boolean(gnome, "left-handed", left) != FALSE; };
    };
    const auto swap = [&](bool swapped) { return [=] { return setSwapped(x, swapped); }; };
    EXPECT_EQ(follow(sources, leftHanded, {swap(false), set(true), set(false), swap(true)}),
              (std::vector<Handedness>{Handedness{}, leftHanded, Handedness{}, leftHanded}));
    g_settings_reset(gnome, "left-handed");
    g_object_unref(gnome);
    xcb_disconnect(x);
    server.terminate();
    server.waitForFinished(5000);
    // Sources that cannot be read give the default, with a line each (a
    // schema that is not installed would make g_settings_new abort).
    sources.gnomeSchema = "org.quillmere.test.NotInstalled";
    sources.x11Display = QByteArrayLiteral(":4095");
    LogCapture log;
    EXPECT_EQ(HandednessWatcher(sources).current(), Handedness{});
    EXPECT_EQ(log.lines.size(), 2u);
}

} // namespace
} // namespace quillmere::testing
