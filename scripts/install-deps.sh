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
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
