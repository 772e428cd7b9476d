#!/usr/bin/env bash
# tavo-report with a filesystem that never answers: Logical Drives (statvfs
# of every mount) and Desktops (a user's home on that mount) must end by
# their --timeout, right after their output, and leave nothing holding
# their standard output. Runs in a mount namespace of its own, so no other
# program on the machine ever meets the hung mount.
#   hung_mount_test.sh TAVO_REPORT HUNG_FUSE
set -euo pipefail
bin=$1
fuse=$2
skip() {
    echo "SKIPPED: $*"
    exit 77
}

if [ "${3:-}" != --inside ]; then
    [ "$(id -u)" = 0 ] || skip "mounting a FUSE filesystem here needs root"
    { exec 3<>/dev/fuse; } 2>/dev/null || skip "/dev/fuse cannot be opened (no FUSE in this container?)"
    exec 3>&-
    command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
    unshare --mount --propagation private true 2>/dev/null ||
        skip "no private mount namespace can be made here"
    exec unshare --mount --propagation private "$0" "$bin" "$fuse" --inside
fi

work=$(mktemp -d)
mnt=$work/hung
mkdir "$mnt"
"$fuse" "$mnt" 2>/dev/null &
fusepid=$!
cleanup() {
    kill -9 "$fusepid" 2>/dev/null || true
    umount -l "$mnt" 2>/dev/null || true
    umount /etc 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
    grep -q " $mnt " /proc/self/mountinfo && break
    sleep 0.05
done
grep -q " $mnt " /proc/self/mountinfo || { echo "the hung filesystem did not mount"; exit 1; }

# A user whose home is on the hung mount, in this namespace's passwd only.
# The whole of /etc is a copy here: a bind mount over the file alone would
# vanish when another program (a test adding a user) replaces the file.
mkdir "$work/etc"
cp -a /etc/. "$work/etc/" 2>/dev/null || true
echo "tavohung:x:64999:64999:hung home:$mnt/home:/bin/sh" >>"$work/etc/passwd"
mount --bind "$work/etc" /etc

failed=0
# Runs tavo-report through a pipe: the pipe ends only when every process
# holding its write end has gone, so a helper left with our standard output
# would show here as a hang (cut short by `timeout`).
check() {
    local limit=$1
    shift
    local start end took status
    start=$(date +%s%N)
    set +e
    timeout 60 bash -c '"$@" 2>"'"$work"'/err" | cat >"'"$work"'/out"; exit ${PIPESTATUS[0]}' _ "$bin" "$@"
    status=$?
    set -e
    end=$(date +%s%N)
    took=$(((end - start) / 1000000))
    echo "tavo-report $*: exit $status in $took ms, $(wc -l <"$work/out") lines"
    if [ "$status" -ne 0 ] || [ "$took" -gt "$limit" ] || [ "$(wc -l <"$work/out")" -lt 2 ]; then
        echo "  FAILED (limit $limit ms); stderr:"
        sed 's/^/  /' "$work/err"
        failed=1
    fi
}

# Each twice: the second pass meets a mount whose helper still hangs.
check 9000 --timeout 5 -f csv "Logical Drives"
check 9000 --timeout 5 -f csv "Logical Drives"
check 9000 --timeout 5 -f csv Desktops
grep -q tavohung "$work/out" || { echo "  the user on the hung mount is missing"; failed=1; }
check 9000 -f csv Desktops
exit $failed
