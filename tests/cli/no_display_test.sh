#!/usr/bin/env bash
# tavo-report on a machine without a display: no DISPLAY, no Wayland, no Qt
# library loaded, and a real report of this computer.
set -euo pipefail
bin=$1
if ldd "$bin" | grep -qi 'libQt'; then
    echo "tavo-report links Qt:"; ldd "$bin" | grep -i libQt; exit 1
fi
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR QT_QPA_PLATFORM= "$bin" -f csv "Logical Drives")
echo "$out" | head -3
head=$(echo "$out" | head -1)
[ "${head:0:6}" = "Drive," ] || { echo "unexpected header: $head"; exit 1; }
[ "$(echo "$out" | wc -l)" -ge 2 ] || { echo "no drive listed"; exit 1; }
env -u DISPLAY "$bin" --list | grep -qx "Logical Drives"
set +e
"$bin" "No Such Category" 2>/dev/null; status=$?
set -e
[ "$status" -eq 2 ] || { echo "exit $status for an unknown category"; exit 1; }
