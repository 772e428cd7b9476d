#!/usr/bin/env bash
# How tavo-report ends when its surroundings fail: a full disk, a closed
# standard output, a device or FIFO named by -o, a signal while it waits
# outside its run.
#   ends_well_test.sh TAVO_REPORT
set -uo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# A write that fails is an error, with a message, never a silent exit 0.
"$bin" -f csv "Logical Drives" >/dev/full 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "exit $status writing to /dev/full"
grep -q "standard output" "$work/err" || fail "no message for /dev/full: $(cat "$work/err")"

"$bin" -f csv "Logical Drives" >&- 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "exit $status with standard output closed"
grep -q "standard output" "$work/err" || fail "no message for a closed standard output"

"$bin" -o /dev/full -f csv "Logical Drives" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "exit $status for -o /dev/full"
grep -q "/dev/full" "$work/err" || fail "no message for -o /dev/full: $(cat "$work/err")"

# A device or FIFO is written into; no file is made beside it.
"$bin" -o /dev/null -f csv "Logical Drives" 2>"$work/err" || fail "-o /dev/null failed: $(cat "$work/err")"
[ ! -e "/dev/null (2)" ] || fail "-o /dev/null made a file in /dev"
mkfifo "$work/fifo"
cat "$work/fifo" >"$work/from_fifo" &
reader=$!
"$bin" -o "$work/fifo" -f csv "Logical Drives" 2>"$work/err" || fail "-o FIFO failed: $(cat "$work/err")"
wait "$reader"
head -c 6 "$work/from_fifo" | grep -q "Drive," || fail "nothing came through the FIFO"
[ "$(ls "$work")" = "$(printf 'err\nfifo\nfrom_fifo')" ] || fail "a file was made beside the FIFO: $(ls "$work")"

# SIGTERM and SIGINT while reading the list of computers from a FIFO that
# no one writes: the program ends at once with the shell's status.
for sig in TERM INT; do
    mkfifo "$work/computers_$sig"
    "$bin" --computers "$work/computers_$sig" "Logical Drives" >/dev/null 2>&1 &
    pid=$!
    # Held open for writing so the program's open returns and its read waits.
    exec 4<>"$work/computers_$sig"
    sleep 0.5
    kill -s "$sig" "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$pid" 2>/dev/null; then
        fail "SIG$sig did not end the program"
        kill -9 "$pid"
    fi
    wait "$pid"
    status=$?
    want=$([ "$sig" = TERM ] && echo 143 || echo 130)
    [ "$status" -eq "$want" ] || fail "exit $status after SIG$sig, not $want"
    exec 4>&-
done
exit $failed
