#!/bin/sh
# Runs inside the test VM as root: installs the package, makes a desktop for
# an unprivileged user (Xvfb, a session bus, the trayer tray) and then, as
# that user, measures the running application and takes screenshots of it.
#   desktop-in-vm.sh PACKAGE.deb REPO MODE [PROBE]
#   MODE: measure | screenshots | load (PROBE: the app_load_probe program)
# Screenshots are printed base64-encoded between @@PNG name@@ and @@END@@.
set -eu
[ -z "${QM_TRACE:-}" ] || set -x
deb=$1 repo=$2 mode=$3 probe=${4:-}
# The manual page would have man-db's trigger re-index every page of the
# host over 9p on install and removal: minutes under emulation.
rm -f /var/lib/man-db/auto-update
dpkg -i "$deb" >/dev/null
# The user is written by hand: the host's shadow files, which useradd wants,
# are unreadable in the VM when the tests run as an ordinary user.
echo "tester:x:1500:1500:Quillmere tester:/home/tester:/bin/sh" >>/etc/passwd
echo "tester:x:1500:" >>/etc/group
mkdir -p /home/tester && chown 1500:1500 /home/tester
runtime=/tmp/tester-runtime
mkdir -p $runtime && chown tester $runtime && chmod 700 $runtime

Xvfb :5 -screen 0 1024x700x24 -nolisten tcp -ac >/tmp/xvfb.log 2>&1 &
sleep 1
bus=$(runuser -u tester -- dbus-daemon --session --fork --print-address)
as_tester() {
    runuser -u tester -- env HOME=/home/tester XDG_RUNTIME_DIR=$runtime DISPLAY=:5 \
        DBUS_SESSION_BUS_ADDRESS="$bus" QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin "$@"
}

# logind's part at a seat: the session's user gets the nodes tagged uaccess.
grant_seat_access() {
    udevadm settle -t 10 || true
    for node in /dev/uinput /dev/input/event*; do
        if udevadm info --query=property "$node" 2>/dev/null | grep -q ':uaccess:'; then
            setfacl -m u:tester:rw "$node"
        fi
    done
}

emit_png() { # file name
    echo "@@PNG $2@@"
    base64 -w 0 "$1"
    echo
    echo "@@END@@"
}

# The preferences window's client area as "x y"; empty until it is shown.
window_origin() {
    id=$(as_tester xdotool search --onlyvisible --name '^Quillmere$' 2>/dev/null | head -n1)
    [ -n "$id" ] && as_tester xwininfo -id "$id" |
        awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
}
# Clicks the middle of trayer's panel, where the only icon docked is ours.
click_tray_icon() {
    panel=""
    for _ in $(seq 300); do
        panel=$(as_tester xdotool search --onlyvisible --name '^panel$' 2>/dev/null | head -n1)
        [ -n "$panel" ] && break
        sleep 0.1
    done
    [ -n "$panel" ] || { echo "no tray panel"; cat /tmp/trayer.log; return 1; }
    set -- $(as_tester xwininfo -id "$panel" | awk '/Absolute upper-left X/ {x=$4}
        /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
    as_tester xdotool mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2)) click 1
}

# A desktop's system bus with rtkit, which sound servers need and the input
# thread asks for realtime priority. logind, which would tell polkit that the
# user's session is the active local one, is not here: a rule grants what an
# active session gets. RTKIT=0 leaves rtkit out.
start_rtkit() {
    [ "${RTKIT:-1}" != 0 ] && [ -x /usr/libexec/rtkit-daemon ] || return 0
    mkdir -p /run/dbus
    dbus-daemon --system --fork
    cat >/etc/polkit-1/rules.d/50-active-session.rules <<'RULE'
polkit.addRule(function (action, subject) {
    if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time" && subject.user == "tester")
        return polkit.Result.YES;
});
RULE
    /usr/lib/polkit-1/polkitd --no-debug >/tmp/polkitd.log 2>&1 &
    /usr/libexec/rtkit-daemon >/tmp/rtkit.log 2>&1 &
    sleep 2
}

case $mode in
load)
    start_rtkit
    # The fake mouse is a uinput device: let the app take it.
    mkdir -p /home/tester/.config/quillmere
    echo '{"grabVirtualDevices": true}' >/home/tester/.config/quillmere/defaults.json
    chown -R tester /home/tester/.config
    as_tester trayer --edge top --align right --widthtype request --height 28 >/tmp/trayer.log 2>&1 &
    mkfifo /tmp/probe.ctl
    "$probe" </tmp/probe.ctl >/tmp/probe.out 2>&1 &
    probe_pid=$!
    exec 3>/tmp/probe.ctl
    for _ in $(seq 100); do grep -q '^mice' /tmp/probe.out && break; sleep 0.1; done
    grant_seat_access
    as_tester /usr/bin/quillmere >/tmp/quillmere.log 2>&1 &
    for _ in $(seq 1200); do grep -q '^streaming' /tmp/probe.out && break; sleep 0.1; done
    # Past the start-up, the launch report and the silent update check.
    sleep 12
    echo "phase idle" >&3
    sleep 10
    echo "phase preferences" >&3
    click_tray_icon
    sleep 1
    as_tester xdotool key Down Down Return
    for _ in $(seq 300); do [ -n "$(window_origin)" ] && break; sleep 0.1; done
    sleep 3
    set -- $(window_origin)
    [ $# -eq 2 ] || { echo "the preferences window never showed"; cat /tmp/quillmere.log; exit 1; }
    wx=$1 wy=$2
    echo "phase speed-slider" >&3
    as_tester xdotool mousemove $((wx + 146)) $((wy + 377)) mousedown 1
    for _ in $(seq 40); do as_tester xdotool mousemove_relative -- 4 0; sleep 0.05; done
    as_tester xdotool mouseup 1
    sleep 2
    echo "phase language" >&3
    for _ in $(seq 10); do
        as_tester xdotool mousemove $((wx + 200)) $((wy + 433)) click 1
        sleep 0.7
        as_tester xdotool key Down Return
        sleep 1
    done
    sleep 2
    echo "end" >&3
    exec 3>&-
    wait "$probe_pid" || true
    cat /tmp/probe.out
    grep -h 'realtime' /tmp/quillmere.log /tmp/rtkit.log 2>/dev/null || true
    echo "settings at the end: $(tr -d '\n ' </home/tester/.config/quillmere/defaults.json)"
    pkill -TERM -x quillmere || true
    ;;
measure)
    # Without access first: the time to the permission prompt, which the
    # same run on the host gives too (the ratio is the emulation's slowdown).
    for run in cold warm; do
        rm -f /tmp/prompt.log
        start=$(date +%s%N)
        as_tester sh -c "/usr/bin/quillmere >/tmp/prompt.log 2>&1 &"
        for _ in $(seq 2000); do
            grep -q 'AXIsProcessTrustedWithOptions' /tmp/prompt.log 2>/dev/null && break
            sleep 0.005
        done
        echo "start to permission prompt (no access, $run): $(( ($(date +%s%N) - start) / 1000000 )) ms"
        pkill -TERM -x quillmere || true
        sleep 1
    done
    grant_seat_access
    as_tester trayer --edge top --align right --widthtype request --height 28 >/tmp/trayer.log 2>&1 &
    sleep 2
    log=/tmp/quillmere.log
    start=$(date +%s%N)
    as_tester /usr/bin/quillmere >$log 2>&1 &
    ready=""
    for _ in $(seq 2000); do
        if grep -q '준비 완료' $log 2>/dev/null; then ready=$(date +%s%N); break; fi
        sleep 0.005
    done
    pid=$(pgrep -x quillmere)
    echo "start to tray icon (ready line): $(( (ready - start) / 1000000 )) ms"
    sleep 5
    echo "resident memory, tray and no window: $(grep VmRSS /proc/$pid/status)"
    # The idle window starts after the silent update check (10 s after start).
    sleep 10
    snapshot() { for t in /proc/$pid/task/*; do echo "$(basename $t) $(cat $t/comm | tr ' ' _) $(awk '/ctxt_switches/ {s += $2} END {print s}' $t/status)"; done; }
    snapshot >/tmp/before
    sleep 60
    snapshot >/tmp/after
    echo "context switches per thread over 60 s idle (tid name before after delta):"
    join /tmp/before /tmp/after | awk '{d = $5 - $3; total += d; print "  " $1, $2, $3, $5, d} END {print "  total", total}'
    echo "threads at the start of the window: $(wc -l </tmp/before), at its end: $(wc -l </tmp/after)"
    kill -TERM "$pid"
    ;;
screenshots)
    # Without access: the permission prompt.
    as_tester sh -c "/usr/bin/quillmere >/tmp/prompt.log 2>&1 &"
    for _ in $(seq 100); do
        as_tester xdotool search --onlyvisible --name 'needs access' >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
    id=$(as_tester xdotool search --onlyvisible --name 'needs access' | head -n1)
    as_tester import -window "$id" -frame /tmp/permission-prompt.png && emit_png /tmp/permission-prompt.png permission-prompt.png
    pkill -TERM -x quillmere || true
    sleep 1
    grant_seat_access
    as_tester sh -c "cd /tmp && QUILLMERE_SCREENSHOT_SESSION=1 DBUS_SESSION_BUS_ADDRESS='$bus' $repo/scripts/screenshots.sh /usr/bin/quillmere /tmp/shots" 
    for f in /tmp/shots/*.png; do emit_png "$f" "$(basename "$f")"; done
    ;;
esac
