#!/bin/sh
# Runs inside the test VM as root. The entry point installs the package,
# makes the seat user "tester" (with grabVirtualDevices on, since the fake
# mouse is a uinput device), a session bus and a display server, and then
# runs the checks; they call this script back to start the tray host:
#   desktop-vm.sh run x11|sway PACKAGE.deb desktop_vm_test [gtest options]
#   desktop-vm.sh tray        start waybar (sway only)
# Xorg runs with the dummy video driver and xf86-input-libinput; sway with
# the headless output and the libinput backend, its devices opened by seatd.
set -eu
state=/tmp/desktop
runtime=/tmp/tester-runtime
# A command prefix, not a function: $! of a function is a subshell's.
as_tester="setpriv --reuid=tester --regid=tester --clear-groups --"

start_server() {
    . $state/env
    case $DESKTOP_SERVER in
    x11)
        rm -f /tmp/.X0-lock
        Xorg :0 -config $state/xorg.conf -noreset -nolisten tcp -ac -logfile /tmp/Xorg.0.log \
            vt2 -novtswitch >/tmp/Xorg.out 2>&1 &
        echo $! >$state/server.pid
        for _ in $(seq 300); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
        tail -20 /tmp/Xorg.0.log; return 1 ;;
    sway)
        rm -f $runtime/wayland-1 $runtime/wayland-1.lock $runtime/sway.sock
        $as_tester env HOME=/home/tester XDG_RUNTIME_DIR=$runtime WLR_BACKENDS=headless,libinput \
            WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
            LIBSEAT_BACKEND=seatd SWAYSOCK=$runtime/sway.sock sway -c $state/sway.conf >/tmp/sway.log 2>&1 &
        echo $! >$state/server.pid
        for _ in $(seq 600); do
            [ -S $runtime/wayland-1 ] && [ -S $runtime/sway.sock ] && return 0
            sleep 0.1
        done
        echo "sway did not start:"; tail -30 /tmp/sway.log; tail -5 /tmp/seatd.log; ls -la $runtime; return 1 ;;
    esac
}

case $1 in
tray)
    . $state/env
    $as_tester env HOME=/home/tester XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-1 \
        DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
        waybar -c $state/waybar.json -s $state/waybar.css >>/tmp/waybar.log 2>&1 &
    exit ;;
run) ;;
*) echo "desktop-vm.sh: unknown command $1" >&2; exit 2 ;;
esac

server=$2 deb=$3 driver=$4
shift 4
since_boot() { echo "[desktop-vm] $1 at $(cut -d' ' -f1 /proc/uptime) s"; }
since_boot "installing"
# The manual page would have man-db's trigger re-index every page of the
# host over 9p: minutes under emulation.
rm -f /var/lib/man-db/auto-update
dpkg -i "$deb" >/dev/null
# The user is written by hand: the host's shadow files, which useradd wants,
# are unreadable in the VM when the tests run as an ordinary user.
echo "tester:x:1500:1500:Quillmere tester:/home/tester:/bin/sh" >>/etc/passwd
echo "tester:x:1500:" >>/etc/group
mkdir -p /home/tester/.config/quillmere $runtime $state
echo '{"grabVirtualDevices": true}' >/home/tester/.config/quillmere/defaults.json
chown -R tester:tester /home/tester $runtime
chmod 700 $runtime
bus=$($as_tester env XDG_RUNTIME_DIR=$runtime dbus-daemon --session --fork --print-address)

cat >$state/xorg.conf <<'EOF'
Section "ServerFlags"
    Option "AutoAddDevices" "true"
    Option "AutoEnableDevices" "true"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 16384
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1024x768" 63.50 1024 1072 1176 1328 768 771 775 798 -hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1024x768"
    EndSubSection
EndSection
Section "InputClass"
    Identifier "pointers move 1:1"
    MatchIsPointer "on"
    Option "AccelProfile" "flat"
EndSection
EOF
cat >$state/sway.conf <<'EOF'
output HEADLESS-1 mode 1024x768 bg #303030 solid_color
default_border none
xwayland disable
focus_follows_mouse no
focus_on_window_activation focus
for_window [title="^Quillmere Qt probe$"] floating enable, resize set 512 738, move absolute position 0 30
for_window [title="^Quillmere GTK document$"] floating enable, resize set 512 738, move absolute position 512 30
input type:pointer {
    accel_profile flat
    pointer_accel 0
}
EOF
cat >$state/waybar.json <<'EOF'
{ "layer": "top", "position": "top", "height": 30, "modules-left": ["tray"],
  "tray": { "icon-size": 22, "spacing": 8 } }
EOF
# Plain colours and fixed item heights: the checks find the icon and the
# menu items in screenshots.
cat >$state/waybar.css <<'EOF'
* { font-family: "Noto Sans", sans-serif; font-size: 13px; border-radius: 0; }
window#waybar { background: #1d2b3a; color: #ffffff; }
#tray { padding: 0 6px; }
menu { background: #f6f1e4; color: #000000; padding: 0; margin: 0; border: 1px solid #5a4a2a; }
menu menuitem { min-height: 28px; padding: 0 10px; margin: 0; }
menu menuitem:hover { background: #c9dcf0; }
menu separator { min-height: 1px; margin: 4px 0; padding: 0; background: #5a4a2a; }
EOF

{
    echo "export DESKTOP_SERVER=$server"
    echo "export DBUS_SESSION_BUS_ADDRESS='$bus'"
    echo "export XDG_RUNTIME_DIR=$runtime"
    echo "export DESKTOP_SCRIPT=$0"
    case $server in
    x11) echo "export DISPLAY=:0 QT_QPA_PLATFORM=xcb GDK_BACKEND=x11" ;;
    sway) echo "export WAYLAND_DISPLAY=wayland-1 SWAYSOCK=$runtime/sway.sock QT_QPA_PLATFORM=wayland GDK_BACKEND=wayland" ;;
    esac
} >$state/env
if [ "$server" = sway ]; then
    SEATD_VTBOUND=0 seatd -u tester -g tester >/tmp/seatd.log 2>&1 &
    for _ in $(seq 100); do [ -S /run/seatd.sock ] && break; sleep 0.1; done
fi
since_boot "starting $server"
start_server
. $state/env
since_boot "$server is up"
exec "$driver" "$@"
