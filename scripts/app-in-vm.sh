#!/usr/bin/env bash
# Runs the installed application in the test VM with a real X server and tray:
#   scripts/app-in-vm.sh measure       memory, start-up time, idle wake-ups
#   scripts/app-in-vm.sh screenshots   real screenshots into docs/screenshots
#   scripts/app-in-vm.sh load [DEB]    1000 Hz motion through the app while its
#                                      interface works: frames lost, latency and
#                                      gaps per phase (DEB: another package)
# Needs a build in build/ (scripts/test.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:?usage: scripts/app-in-vm.sh measure|screenshots|load [DEB]}
cmake --build build --target quillmere app_load_probe >/dev/null
(cd build && cpack -G DEB -B "$PWD/package" >/dev/null)
deb=$(readlink -f "${2:-build/package/quillmere_1.0.2_amd64.deb}")
out=$(mktemp)
tests/vm/run-vm.sh --cache build/vm-cache --timeout 900 --mem 1024 -- \
    tools/desktop-in-vm.sh "$deb" "$PWD" "$mode" "$PWD/build/tests/vm/app_load_probe" | tee "$out" |
    grep -v '^@@PNG\|^@@END\|^[A-Za-z0-9+/=]\{200,\}$' || true
if [ "$mode" = screenshots ]; then
    python3 - "$out" docs/screenshots <<'PY'
import base64, re, sys, os
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
for name, data in re.findall(r"@@PNG (\S+)@@\n(\S+)\n@@END@@", text):
    with open(os.path.join(sys.argv[2], name), "wb") as f:
        f.write(base64.b64decode(data))
    print("wrote", os.path.join(sys.argv[2], name))
PY
fi
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
