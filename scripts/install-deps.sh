#!/usr/bin/env bash
# Installs the Debian packages listed in packages/*.txt that are missing.
# Runs apt-get through sudo when not root. Extra list files may be named as
# arguments (packages/windows.txt is only wanted by `make test-windows`).
set -euo pipefail
cd "$(dirname "$0")/.."

lists=(packages/*.txt)
if [ $# -gt 0 ]; then lists=("$@"); fi

wanted=()
for f in "${lists[@]}"; do
    case "$f" in packages/optional-*) [ $# -gt 0 ] || continue ;; esac
    while read -r line; do
        line="${line%%#*}"
        for p in $line; do wanted+=("$p"); done
    done < "$f"
done

missing=()
for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# Another apt (unattended upgrades, a second install running) may hold the
# package locks: wait for it, for at most APT_LOCK_WAIT seconds, instead of
# failing at once. Any other failure ends the script as before.
APT_LOCK_WAIT=${APT_LOCK_WAIT:-600}
apt_get() {
    local deadline=$((SECONDS + APT_LOCK_WAIT)) log rc
    log=$(mktemp)
    while :; do
        rc=0
        $SUDO apt-get -o DPkg::Lock::Timeout=30 "$@" 2>"$log" || rc=$?
        cat "$log" >&2
        if [ $rc -eq 0 ]; then
            rm -f "$log"
            return 0
        fi
        if ! grep -qE 'Could not get lock|Unable to acquire|Unable to lock' "$log" ||
            [ $SECONDS -ge $deadline ]; then
            rm -f "$log"
            [ $SECONDS -ge $deadline ] && echo "apt's lock was still held after ${APT_LOCK_WAIT} s" >&2
            return $rc
        fi
        echo "Another apt holds the package lock; waiting for it..." >&2
        sleep 5
    done
}
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
