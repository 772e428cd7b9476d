#!/usr/bin/env bash
# The window for Windows as a Windows user meets it, under Wine on a private
# X server: install silently, start Tavo from where the installer put it,
# run Processes and BIOS, export a CSV file, stop a report, quit, uninstall.
# Screenshots of each step are kept in build/windows-app/wine-shots/.
#
# Wine answers Win32_Process and Win32_BIOS; many other classes give no
# instances there. The exported file tells the two apart: a report that
# failed exports its error row, one that worked exports the computer's rows.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${WINDOWS_APP_BUILD_DIR:-build/windows-app}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac

if [ -z "${TAVO_UNDER_XVFB:-}" ]; then
    # A private X server for the whole run, whatever display the caller has.
    export TAVO_UNDER_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

setup=$(ls "$BUILD"/*-setup.exe | head -n 1)
SHOTS="$BUILD/wine-shots"
rm -rf "$SHOTS"
mkdir -p "$SHOTS"

# A new prefix each run: the install must work on a computer that never saw Tavo.
export WINEPREFIX="$BUILD/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
stop_wine() { timeout 60 wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
timeout 600 wineboot --init >/dev/null 2>&1 || true
timeout 120 wineserver -w >/dev/null 2>&1 || true

step=0
fail() {
    echo "FAILED: $*" >&2
    shot failure || true
    exit 1
}
shot() {
    step=$((step + 1))
    import -window root "$SHOTS/$(printf '%02d' $step)-$1.png"
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.5
    done
}

user=$(timeout 60 wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
home_unix="$WINEPREFIX/drive_c/users/$user"
instdir="$home_unix/AppData/Local/Programs/Tavo"
docs="$home_unix/Documents"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavo'

echo "== silent install: $(basename "$setup") /S"
timeout 300 wine "$setup" /S >/dev/null 2>&1 || fail "the installer exited with an error"
wait_for 60 test -f "$instdir/tavo.exe" || fail "no tavo.exe in $instdir"
for f in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    Uninstall.exe; do
    [ -f "$instdir/$f" ] || fail "the installer did not write $f"
done
ls "$home_unix/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavo.lnk" >/dev/null ||
    fail "no Start menu entry"
timeout 60 wine reg query "$uninstall_key" /v UninstallString 2>/dev/null | grep -q Uninstall.exe ||
    fail "no uninstall entry in the registry"

echo "== start tavo.exe"
computer=$(timeout 60 wine cmd /c 'echo %COMPUTERNAME%' 2>/dev/null | tr -d '\r')
(cd "$instdir" && exec wine tavo.exe >"$BUILD/tavo-wine.log" 2>&1) &
tavo_pid=$!
wid=$(timeout 120 xdotool search --sync --onlyvisible --name '^Tavo$' | head -n 1) ||
    fail "the window did not appear"
sleep 3
eval "$(xdotool getwindowgeometry --shell "$wid")"  # X, Y, WIDTH, HEIGHT
win_x=$X
win_y=$Y
win_w=$WIDTH
shot started

# Points of the window, in its own pixels (its layout is fixed).
click() {
    xdotool mousemove --sync $((win_x + $1)) $((win_y + $2)) click 1
    sleep 0.3
}
# The RUN/STOP button's face: green while idle, red while a report runs
# (a gradient: only which of red and green leads is compared).
button_colour() {
    import -silent -window root -crop "1x1+$((win_x + 215))+$((win_y + 34))" -depth 8 txt:- |
        sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'
}
lead() {
    local c
    c=$(button_colour)
    local r=$((16#${c:0:2})) g=$((16#${c:2:2}))
    if [ $g -gt $((r + 16)) ]; then echo green; elif [ $r -gt $((g + 16)) ]; then echo red; fi
}
idle() { [ "$(lead)" = green ]; }
running() { [ "$(lead)" = red ]; }
# Another of Wine's windows is showing: a dialog over the main one.
other_window() {
    xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qv "^$wid$"
}
# Answers the dialog in front with its default button (Enter), and waits for
# it to go.
press_default_button() {
    local dlg
    dlg=$(xdotool search --onlyvisible --name '.' | grep -v "^$wid$" | head -n 1)
    xdotool windowfocus --sync "$dlg" 2>/dev/null || true
    xdotool key Return
    wait_for 15 sh -c "! xdotool search --onlyvisible --name '.' | grep -qx '$dlg'" ||
        fail "the dialog did not close on Enter"
    sleep 0.5
}
choose_report() {
    click 60 26
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Tab
    sleep 0.5
}
# Exports the grid to CSV into the user's Documents; $csv names the file
# written.
export_csv() {
    local before
    before=$(ls "$docs"/*.csv 2>/dev/null | wc -l)
    click 283 27
    # The folder browser opens in the user's home folder: pick Documents
    # in its list, then Open.
    wait_for 30 other_window || fail "no folder browser after Csv"
    sleep 1
    local dlg
    dlg=$(xdotool search --onlyvisible --name '.' | grep -v "^$wid$" | head -n 1)
    eval "$(xdotool getwindowgeometry --shell --prefix DLG_ "$dlg")"
    xdotool mousemove --sync $((DLG_X + 203)) $((DLG_Y + 98)) click 1
    sleep 0.5
    shot folder-browser
    xdotool mousemove --sync $((DLG_X + DLG_WIDTH - 114)) $((DLG_Y + DLG_HEIGHT - 16)) click 1
    # Then "Would you like the data to be exported…?", Yes first.
    sleep 1
    wait_for 30 other_window || fail "no confirmation after choosing the folder"
    shot confirm
    press_default_button
    wait_for 30 sh -c "[ \$(ls '$docs'/*.csv 2>/dev/null | wc -l) -gt $before ]" ||
        fail "no CSV file was written"
    # Opening the file needs an application Wine may not have: Tavo then
    # says where the file is.
    sleep 2
    if other_window; then
        shot export-message
        press_default_button
    fi
    csv=$(ls -t "$docs"/*.csv | head -n 1)
}

[ "$computer" != "" ] || fail "Wine gave no computer name"
idle || fail "the RUN button is not the idle green at start ($(button_colour))"

echo "== Processes"
choose_report Processes
click 235 27
wait_for 30 running || fail "Processes did not start"
sleep 8
shot processes
running || fail "Processes stopped by itself; it refreshes until STOP"
click 235 27
wait_for 30 idle || fail "STOP did not stop Processes"
export_csv
echo "   wrote $(basename "$csv"): $(($(wc -l <"$csv") - 1)) rows"
case "$(basename "$csv" | tr a-z A-Z)" in
*"$(echo "$computer" | tr a-z A-Z)"*) ;;
*) fail "the export's name does not carry the computer's name $computer" ;;
esac
head -n 1 "$csv" | grep -qi 'ProcessId' || fail "the Processes export has no ProcessId column"
grep -qi 'tavo.exe' "$csv" || fail "Processes did not list tavo.exe itself"

echo "== BIOS"
choose_report BIOS
click 235 27
wait_for 60 idle || fail "BIOS did not end after its one pass"
shot bios
export_csv
[ "$(wc -l <"$csv")" -ge 2 ] || fail "BIOS exported no row"
grep -qi 'wine' "$csv" || fail "BIOS did not give Wine's BIOS: $(head -n 3 "$csv")"

echo "== quit"
w=$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/WIDTH=//p')
click $((w - 26)) 8
wait_for 30 sh -c "! kill -0 $tavo_pid 2>/dev/null" || fail "Tavo did not quit"

echo "== silent uninstall"
settings="$home_unix/AppData/Roaming/tavo/tavo.ini"
[ -f "$settings" ] || echo "   (no settings file was written)"
timeout 120 wine "$instdir/Uninstall.exe" /S >/dev/null 2>&1 || fail "the uninstaller failed"
# It runs from a copy of itself, so returns before it is done.
wait_for 60 test ! -e "$instdir" || fail "the uninstaller left $(find "$instdir" | head -n 5)"
[ ! -e "$settings" ] || fail "the uninstaller left the settings"
[ ! -e "$home_unix/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavo.lnk" ] ||
    fail "the uninstaller left the Start menu entry"
! timeout 60 wine reg query "$uninstall_key" >/dev/null 2>&1 ||
    fail "the uninstaller left the uninstall entry"

echo "== per-machine install and uninstall: /S /AllUsers"
machine_dir="$WINEPREFIX/drive_c/Program Files/Tavo"
machine_lnk="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavo.lnk"
machine_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavo'
timeout 300 wine "$setup" /S /AllUsers >/dev/null 2>&1 || fail "the per-machine install failed"
wait_for 60 test -f "$machine_dir/tavo.exe" || fail "no tavo.exe in $machine_dir"
[ -f "$machine_lnk" ] || fail "no Start menu entry for every user"
timeout 60 wine "$machine_dir/Uninstall.exe" /S >/dev/null 2>&1 || fail "the uninstaller failed"
wait_for 60 test ! -e "$machine_dir" || fail "the uninstaller left $(find "$machine_dir" | head -n 5)"
[ ! -e "$machine_lnk" ] || fail "the uninstaller left the Start menu entry for every user"
! timeout 60 wine reg query "$machine_key" >/dev/null 2>&1 ||
    fail "the uninstaller left the machine's uninstall entry"

echo "Windows window under Wine: passed (screenshots in $SHOTS)"
