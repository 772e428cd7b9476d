#!/usr/bin/env bash
# Builds the core, the Windows back ends and their tests with the MinGW-w64
# cross-compiler, then runs the tests under Wine in a private prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${WINDOWS_BUILD_DIR:-build/windows}
JOBS=${JOBS:-$(nproc)}

scripts/install-deps.sh packages/optional-windows.txt

flags=()
[ "${CI:-}" = "true" ] && flags+=(-DTAVO_WERROR=ON)
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_APP=OFF -DTAVO_BUILD_BENCH=OFF "${flags[@]}"
# BUILD_TARGETS narrows the build while working on one part; CI builds everything.
cmake --build "$BUILD" -j "$JOBS" ${BUILD_TARGETS:+--target $BUILD_TARGETS}

export WINEPREFIX="$ROOT/$BUILD/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer prompt: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_wine() { timeout 60 wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

# One wineserver for the whole batch; it stays until the trap stops it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix in $WINEPREFIX"
    timeout 600 wineboot --init >/dev/null 2>&1 || true
    # wineboot returns while the new prefix's services still start; wait for
    # them to settle here, or the first test pays for it.
    timeout 120 wineserver -w >/dev/null 2>&1 || true
fi
timeout 60 wineserver --persistent=300 >/dev/null 2>&1 &

# Register the test network provider: mpr reads the provider order when it loads.
np_path="Z:$(echo "$ROOT/$BUILD/tests/windows/tavo_test_np.dll" | tr / '\\')"
svc='HKLM\System\CurrentControlSet\Services\TavoTestNP\NetworkProvider'
timeout 120 wine reg add "$svc" /v ProviderPath /t REG_EXPAND_SZ /d "$np_path" /f >/dev/null 2>&1
timeout 120 wine reg add "$svc" /v Name /t REG_SZ /d "Tavo Test Network" /f >/dev/null 2>&1
timeout 120 wine reg add 'HKLM\System\CurrentControlSet\Control\NetworkProvider\Order' \
    /v ProviderOrder /t REG_SZ /d TavoTestNP /f >/dev/null 2>&1

status=0
shopt -s nullglob
for exe in "$BUILD"/tests/tavo_*_tests.exe "$BUILD"/tests/*/tavo_*_tests.exe; do
    echo "== $exe (under Wine)"
    log=$(mktemp)
    # Wine writes harmless lines to stderr; the test's own output and exit code decide.
    if timeout 600 wine "$exe" --gtest_color=no >"$log" 2>/dev/null; then
        grep -E '^\[( +OK|  PASSED|  FAILED|  SKIPPED| wine).*\]|tests? ran' "$log" | tail -n 40
    else
        cat "$log"
        echo "FAILED: $exe"
        status=1
    fi
    rm -f "$log"
done
stop_wine
[ $status -eq 0 ] || exit $status

# The window for Windows, its installer, and the user's run of both.
JOBS=$JOBS scripts/build-windows.sh
scripts/test-windows-app.sh
