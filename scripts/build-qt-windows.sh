#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (MinGW-w64, posix threads) from Debian's own
# qt6-base source, of the same version as the Qt host tools installed here,
# cut down to what Tavo's window uses. Installs into
#   ~/.cache/tavo/qt-<version>-mingw64-<options>
# and prints that folder on its last line. Run again with the same version and
# options, it finds the folder and does nothing.
#
# About 40 minutes on two cores the first time. TAVO_QT_CACHE moves the cache.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
CACHE=${TAVO_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo}

# The host tools (moc, rcc, uic) run during the cross-build, so the source
# must be exactly their version.
scripts/install-deps.sh packages/app.txt packages/optional-windows.txt >&2
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)

# Everything Tavo's window does not use is left out: it shortens the build by
# about a third and the installer by as much. A change here is a new folder.
options=(
    -DBUILD_SHARED_LIBS=ON
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    # Modules the window never loads.
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_testlib=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF
    # With OpenGL off, the Windows plugin still reaches for the dynamic GL
    # context unless this is off too; the Wintab sources are not in the
    # Debian tarball.
    -DFEATURE_dynamicgl=OFF -DFEATURE_tabletevent=OFF
    # The second platform plugin, image formats and text formats not used.
    # Qt builds its DirectWrite font database only with Direct2D, yet the
    # Windows plugin still links it when DirectWrite 3 is on: off as well
    # (the plugin's default, the GDI font database, is what is used anyway).
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
    -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF
    -DFEATURE_textmarkdownwriter=OFF -DFEATURE_pdf=OFF
    -DFEATURE_sessionmanager=OFF
    # Windows draws text with its own font engines.
    -DFEATURE_freetype=OFF
    # Widgets the window has none of.
    -DFEATURE_graphicsview=OFF -DFEATURE_mdiarea=OFF -DFEATURE_calendarwidget=OFF
    -DFEATURE_datetimeedit=OFF -DFEATURE_dial=OFF -DFEATURE_lcdnumber=OFF
    -DFEATURE_fontcombobox=OFF -DFEATURE_fontdialog=OFF -DFEATURE_colordialog=OFF
    -DFEATURE_wizard=OFF -DFEATURE_keysequenceedit=OFF -DFEATURE_splashscreen=OFF
    # No system copies exist for the target: build the bundled ones.
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_doubleconversion=OFF
)
toolchain=cmake/mingw-w64-x86_64-shared.cmake
key=$(printf '%s\n' "${options[@]}" | cat - "$toolchain" | sha256sum | cut -c1-8)
PREFIX="$CACHE/qt-${version//[^A-Za-z0-9.]/_}-mingw64-$key"

if [ -f "$PREFIX/.complete" ]; then
    echo "Qt for Windows is ready in $PREFIX" >&2
    echo "$PREFIX"
    exit 0
fi

started=$SECONDS
WORK="$CACHE/qt-work-$key"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

# Debian's source package: its .dsc is found through a deb-src line for the
# suite this machine runs, added to a private apt list so the system's own
# sources are left as they are.
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mkdir -p apt/lists/partial apt/archives/partial
cat >apt/sources.list <<EOF
deb-src http://deb.debian.org/debian $suite main
deb-src http://deb.debian.org/debian $suite-updates main
deb-src http://deb.debian.org/debian-security $suite-security main
EOF
apt_opts=(-o Dir::Etc::SourceList="$WORK/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
          -o Dir::State::Lists="$WORK/apt/lists" -o Dir::Cache::Archives="$WORK/apt/archives"
          -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
echo "Fetching qt6-base $version source" >&2
apt-get "${apt_opts[@]}" update >&2
# apt checks each file against the signed index; the .dsc's own checksums
# are checked again below, before anything is unpacked.
apt-get "${apt_opts[@]}" source --download-only "qt6-base=$version" >&2
dsc=$(ls qt6-base_*.dsc)
awk '/^Checksums-Sha256:/{on=1; next} /^[^ ]/{on=0} on && NF==3 {print $1 "  " $3}' "$dsc" \
    >checksums
[ -s checksums ] || { echo "no SHA-256 checksums in $dsc" >&2; exit 1; }
sha256sum --check --strict checksums >&2
dpkg-source --no-check -x "$dsc" src >&2

# The Windows style's plugin is built only when its feature is on; Debian's
# tarball lacks nothing it needs.
echo "Configuring Qt for x86_64-w64-mingw32" >&2
cmake -S src -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${options[@]}" >build.log 2>&1 || { tail -n 60 build.log >&2; exit 1; }
echo "Building Qt: $(ninja -C build -t targets all | grep -c ': CXX_COMPILER\|: C_COMPILER') files to compile" >&2
cmake --build build -j "$JOBS" >>build.log 2>&1 || { tail -n 60 build.log >&2; exit 1; }
rm -rf "$PREFIX"
cmake --install build >>build.log 2>&1 || { tail -n 60 build.log >&2; exit 1; }
touch "$PREFIX/.complete"
cd "$CACHE"
rm -rf "$WORK"
echo "Qt for Windows built in $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s: $PREFIX" >&2
echo "$PREFIX"
