#!/usr/bin/env bash
# Takes the README screenshots: the preferences window in English, Korean
# and Arabic, the opened tray menu and the update alert with a long release
# note, each from a real run of a Quillmere binary under Xvfb with a real
# tray host (trayer) and a private D-Bus session.
#
#   scripts/screenshots.sh BINARY [OUTPUT_DIR]
#
# BINARY is started once per language with the language code as its only
# argument (programs that read no command line ignore it) and with a fresh
# XDG_CONFIG_HOME whose defaults.json already holds that "language". If no
# preferences window shows up by itself, the script opens it from the tray
# menu. The update alert is taken from a second run with the arguments
# "en --update-alert" (the UI showcase, build/tools/showcase/quillmere_ui_showcase,
# shows the alert by itself then; a binary that shows no window is skipped).
# OUTPUT_DIR defaults to docs/screenshots. QUILLMERE_SCREENSHOT_LANGUAGES (a
# space-separated list of codes) replaces the default "en ko ar".
#
# Needs: Xvfb, dbus-run-session, trayer, xdotool, xwininfo, ImageMagick.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 BINARY [OUTPUT_DIR]" >&2
    exit 2
fi
binary=$(readlink -f "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(readlink -f "${2:-$here/docs/screenshots}")
mkdir -p "$out"

if [[ -z "${QUILLMERE_SCREENSHOT_SESSION:-}" ]]; then
    # Re-enter inside a private session bus so nothing of the caller's
    # desktop is touched.
    export QUILLMERE_SCREENSHOT_SESSION=1
    exec dbus-run-session -- "$0" "$@"
fi

display=":$((90 + RANDOM % 100))"
screen_w=1024
screen_h=700
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 "${screen_w}x${screen_h}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
# A light desktop behind the window, like a typical wallpaper.
convert -size "${screen_w}x${screen_h}" xc:'#d8d8e0' "$work/desktop.png"
display -window root "$work/desktop.png" 2>/dev/null || true

trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    --transparent false --tint 0xe0e0e0 >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1

export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

# Prints "x y w h" of the first visible window whose title is exactly $1.
window_geometry() {
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || return 1
    [[ -n "$id" ]] || return 1
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

wait_for_window() {
    for _ in $(seq "${2:-50}"); do
        window_geometry "$1" >/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The tray panel as "x y w h". Trayer is as wide as its icons and only
# Quillmere docks into it, so its centre is the icon's.
tray_icon_geometry() {
    local panel
    panel=$(xdotool search --onlyvisible --name '^panel$' 2>/dev/null | head -n 1) || return 1
    [[ -n "$panel" ]] || return 1
    xwininfo -id "$panel" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {if (w > 1) print x, y, w, h; else exit 1}'
}

capture() { # file x y w h
    import -window root -crop "${4}x${5}+${2}+${3}" +repage "$1"
    echo "wrote $1"
}

open_preferences_from_tray() {
    local geo
    geo=$(tray_icon_geometry) || return 1
    read -r tx ty tw th <<<"$geo"
    xdotool mousemove $((tx + tw / 2)) $((ty + th / 2)) click 1
    sleep 0.6
    # Version title (disabled), Enabled, Preferences...
    xdotool key Down Down Return
}

shoot_language() { # code file
    local code=$1 file=$2 config="$work/config-$1"
    mkdir -p "$config/quillmere"
    printf '{"language": "%s"}\n' "$code" >"$config/quillmere/defaults.json"
    XDG_CONFIG_HOME=$config "$binary" "$code" >"$work/app-$code.log" 2>&1 &
    local app=$!
    pids+=($app)
    if ! wait_for_window Quillmere 40; then
        sleep 1
        open_preferences_from_tray || true
        wait_for_window Quillmere 50 || { echo "no preferences window for $code" >&2; cat "$work/app-$code.log" >&2; return 1; }
    fi
    sleep 0.8
    read -r x y w h <<<"$(window_geometry Quillmere)"
    capture "$out/$file" "$x" "$y" "$w" "$h"
    if [[ "$code" == en ]]; then
        # The menu opened from the tray icon, shown with the panel and
        # without the window behind it.
        xdotool search --onlyvisible --name '^Quillmere$' windowunmap 2>/dev/null || true
        local geo
        if geo=$(tray_icon_geometry); then
            read -r tx ty tw th <<<"$geo"
            xdotool mousemove $((tx + tw / 2)) $((ty + th / 2)) click 1
            sleep 0.8
            capture "$out/tray-menu.png" $((screen_w - 300)) 0 300 200
            xdotool key Escape
        else
            echo "the tray icon never docked" >&2
        fi
    fi
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
}

shoot_update_alert() {
    XDG_CONFIG_HOME="$work/config-alert" "$binary" en --update-alert >"$work/app-alert.log" 2>&1 &
    local app=$!
    pids+=($app)
    if wait_for_window Quillmere 40; then
        sleep 0.8
        read -r x y w h <<<"$(window_geometry Quillmere)"
        capture "$out/update-alert.png" "$x" "$y" "$w" "$h"
    else
        echo "no update alert from $binary: skipped" >&2
    fi
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
}

# QUILLMERE_SCREENSHOT_LANGUAGES picks other languages for a closer look.
for code in ${QUILLMERE_SCREENSHOT_LANGUAGES:-en ko ar}; do
    shoot_language "$code" "preferences-$code.png"
done
shoot_update_alert
