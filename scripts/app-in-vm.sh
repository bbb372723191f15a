#!/usr/bin/env bash
# Runs the installed application in the test VM with a real X server and tray:
#   scripts/app-in-vm.sh measure       memory, start-up time, idle wake-ups
#   scripts/app-in-vm.sh screenshots   real screenshots into docs/screenshots
# Needs a build in build/ (scripts/test.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:?usage: scripts/app-in-vm.sh measure|screenshots}
cmake --build build --target quillmere >/dev/null
(cd build && cpack -G DEB -B "$PWD/package" >/dev/null)
out=$(mktemp)
tests/vm/run-vm.sh --cache build/vm-cache --timeout 900 --mem 1024 -- \
    tests/appvm/desktop-in-vm.sh "$PWD/build/package/quillmere_1.0.2_amd64.deb" "$PWD" "$mode" | tee "$out" |
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
rm -f "$out"
