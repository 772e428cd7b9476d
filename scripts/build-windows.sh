#!/usr/bin/env bash
# The window for Windows: Qt for Windows (built once, then cached), tavo.exe
# cross-built from the same sources as the Linux window, the folder a user
# runs it from, its installer and a portable .zip:
#   build/windows-app/Tavo/                      the deployed folder
#   build/windows-app/Tavo-<version>-setup.exe   the installer (NSIS)
#   build/windows-app/Tavo-<version>-portable.zip
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${WINDOWS_APP_BUILD_DIR:-build/windows-app}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
JOBS=${JOBS:-$(nproc)}

scripts/install-deps.sh packages/app.txt packages/optional-windows.txt
QT=$(scripts/build-qt-windows.sh | tail -n 1)

flags=()
[ "${CI:-}" = "true" ] && flags+=(-DTAVO_WERROR=ON)
if command -v ccache >/dev/null; then
    flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=$ROOT
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64-shared.cmake \
    -DTAVO_WINDOWS_QT="$QT" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=OFF -DTAVO_BUILD_BENCH=OFF "${flags[@]}"
cmake --build "$BUILD" -j "$JOBS" --target tavo

# The deployed folder, made afresh so nothing of an earlier layout lingers.
name=$(sed -n 's/^CMAKE_PROJECT_NAME:STATIC=//p' "$BUILD/CMakeCache.txt")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
DEPLOY="$BUILD/$name"
rm -rf "$DEPLOY"
cmake --install "$BUILD" --prefix "$DEPLOY" --strip >/dev/null
# The DLLs come with their debugging sections (the compiler's libstdc++ alone
# is 23 MB with them, 2 MB without): a user's folder needs none.
find "$DEPLOY" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-debug {} +

# The installer's lists of files: what it writes, and what its uninstaller
# removes (files first, then the folders, deepest first, each only if empty).
inst="$BUILD/installer"
mkdir -p "$inst"
win() { printf '%s' "$1" | tr / '\\'; }
(
    cd "$DEPLOY"
    find . -type d | sed 's|^\.||; s|^/||' | sort | while read -r d; do
        printf 'SetOutPath "$INSTDIR%s"\n' "${d:+\\$(win "$d")}"
        find "./$d" -mindepth 1 -maxdepth 1 -type f | sort | while read -r f; do
            printf 'File "%s"\n' "$DEPLOY/${f#./}"
        done
    done
    echo 'SetOutPath "$INSTDIR"'
) >"$inst/files.nsh"
(
    cd "$DEPLOY"
    find . -type f | sed 's|^\./||' | sort | while read -r f; do
        printf 'Delete "$INSTDIR\\%s"\n' "$(win "$f")"
    done
    find . -mindepth 1 -type d | sed 's|^\./||' | sort -r | while read -r d; do
        printf 'RMDir "$INSTDIR\\%s"\n' "$(win "$d")"
    done
) >"$inst/unfiles.nsh"

setup="$BUILD/$name-$version-setup.exe"
makensis -V2 -NOCD \
    -DPRODUCT="$name" -DVERSION="$version" -DVERSION4="$version.0" \
    -DFILES="$inst/files.nsh" -DUNFILES="$inst/unfiles.nsh" \
    -DICON="$BUILD/app/tavo.ico" -DOUTFILE="$setup" app/windows/tavo.nsi

portable="$BUILD/$name-$version-portable.zip"
rm -f "$portable"
(cd "$BUILD" && zip -qr9 "$(basename "$portable")" "$name")

echo "Windows window: $DEPLOY ($(du -sh "$DEPLOY" | cut -f1))"
echo "Installer: $setup ($(du -h "$setup" | cut -f1))"
echo "Portable: $portable ($(du -h "$portable" | cut -f1))"
