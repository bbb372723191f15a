#!/usr/bin/env bash
# Runs the installed application in the test VM with a real X server and tray:
#   scripts/app-in-vm.sh measure       memory, start-up time, idle wake-ups
#   scripts/app-in-vm.sh screenshots   real screenshots into docs/screenshots
#   scripts/app-in-vm.sh load [DEB]    1000 Hz motion through the app while its
#                                      interface works: frames lost, latency and
#                                      gaps per phase (DEB: another package);
#                                      with rtkit installed on this machine the
#                                      VM runs it, as a desktop does (RTKIT=0:
#                                      without it)
#   scripts/app-in-vm.sh desktop       the desktop test on Xorg and on sway:
#                                      the README's table, and its screenshots
#                                      into docs/screenshots
# Needs a build in build/ (scripts/test.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:?usage: scripts/app-in-vm.sh measure|screenshots|load [DEB]|desktop}
cmake --build build --target quillmere app_load_probe desktop_vm_test desktop_probe >/dev/null
(cd build && cpack -G DEB -B "$PWD/package" >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=$(readlink -f "${2:-build/package/quillmere_${version}_amd64.deb}")
out=$(mktemp)
# The screenshots a run printed, base64-encoded, into docs/screenshots.
save_screenshots() {
    python3 - "$1" docs/screenshots <<'PY'
import base64, re, sys, os
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
for name, data in re.findall(r"@@PNG (\S+)@@\n(\S+)\n@@END@@", text):
    with open(os.path.join(sys.argv[2], name), "wb") as f:
        f.write(base64.b64decode(data))
    print("wrote", os.path.join(sys.argv[2], name))
PY
}
if [ "$mode" = desktop ]; then
    for server in x11 sway; do
        filter=()
        [ $server = x11 ] && filter=(--gtest_filter=-*Tray*)
        tests/vm/run-vm.sh --cache build/vm-cache --timeout 900 --mem 1536 --env DESKTOP_SHOTS=1 -- \
            tests/desktop/desktop-vm.sh run $server "$deb" \
            "$PWD/build/tests/desktop/desktop_vm_test" --probe="$PWD/build/tests/desktop/desktop_probe" \
            --gtk="$PWD/tests/desktop/gtk-document.py" "${filter[@]}" | tee -a "$out" |
            grep -v '^@@\|^[A-Za-z0-9+/=]\{200,\}$' || true
    done
    save_screenshots "$out"
    python3 - "$out" <<'PY'
import collections, re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
rows = collections.defaultdict(dict)
for server, client, key, value in re.findall(r"@@ROW (\S+) (\S+) (\S+) (-?\d+)", text):
    rows[(server, client)][key] = int(value)
def three(r, key, scale=1):
    return " / ".join(str(round(r.get(f"{key}_speed{s}", 0) / scale)) for s in (1, 3, 10))
def ms(us):
    return f"{us / 1000:.1f}"
print("| Server | Client | Drag alone, px (speed 1 / 3 / 10) | With glide, px | Glide, ms | "
      "Wheel units posted / received | Menus per right click | Latency p50 / p99, ms, without | with |")
print("|---|---|---|---|---|---|---|---|---|")
for (server, client), r in sorted(rows.items(), key=lambda k: (k[0][0] != "x11", k[0][1] != "qt")):
    units = " / ".join(f"{r.get(f'posted_hires_speed{s}', 0)}:{r.get(f'wheel_angle_speed{s}', 0)}"
                       for s in (1, 3, 10)) if "posted_hires_speed1" in r else "-"
    print(f"| {'Xorg' if server == 'x11' else 'sway'} | {'Qt QTextEdit' if client == 'qt' else 'GTK 3 TextView'} "
          f"| {three(r, 'drag_px')} | {three(r, 'total_px')} | {three(r, 'glide_ms')} | {units} "
          f"| {r.get('context_menus_per_click', '-')} "
          f"| {ms(r.get('latency_p50_us_without', 0))} / {ms(r.get('latency_p99_us_without', 0))} "
          f"| {ms(r.get('latency_p50_us_with', 0))} / {ms(r.get('latency_p99_us_with', 0))} |")
PY
    rm -f "$out"
    exit 0
fi
tests/vm/run-vm.sh --cache build/vm-cache --timeout 900 --mem 1024 ${RTKIT:+--env RTKIT=$RTKIT} -- \
    tools/desktop-in-vm.sh "$deb" "$PWD" "$mode" "$PWD/build/tests/vm/app_load_probe" | tee "$out" |
    grep -v '^@@PNG\|^@@END\|^[A-Za-z0-9+/=]\{200,\}$' || true
[ "$mode" != screenshots ] || save_screenshots "$out"
if [ "$mode" = measure ]; then
    # The same start-up to the permission prompt on this machine, natively,
    # to know how much slower the emulated VM is.
    Xvfb :77 -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
    sleep 1
    log=$(mktemp)
    for run in 1 2 3; do
        start=$(date +%s%N)
        DISPLAY=:77 QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$(mktemp -d) build/src/app/quillmere >"$log" 2>&1 & app=$!
        for _ in $(seq 2000); do grep -q 'AXIsProcessTrustedWithOptions' "$log" && break; sleep 0.002; done
        echo "host: start to permission prompt (no access), run $run: $(( ($(date +%s%N) - start) / 1000000 )) ms"
        kill -TERM $app; wait $app 2>/dev/null || true
    done
    kill $xvfb; rm -f "$log"
fi
rm -f "$out"
