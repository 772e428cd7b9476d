#!/usr/bin/env bash
# tavo-report over the loopback sshd, COUNT times in a row: every run must
# exit 0 with a complete report. A crash at exit (a thread still inside
# libssh while exit() tears OpenSSL down) shows up here as a run that
# printed everything and still failed.
#   ssh_report_loop.sh TAVO_REPORT COUNT [CATEGORY]
set -euo pipefail
bin=$1
count=${2:-30}
category=${3:-Processes}
here=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
cleanup() {
    "$here/ssh/sshd_fixture.sh" stop "$work/sshd" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT
trap "exit 143" TERM

# A free port: the kernel's pick for a socket we close at once.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$here/ssh/sshd_fixture.sh" start "$work/sshd" "$port" $$ | grep -q ready

# A home of our own: the client key as the default identity, the server's
# host key known, so no question is asked.
export HOME=$work/home
mkdir -p -m700 "$HOME/.ssh"
cp "$work/sshd/client_key" "$HOME/.ssh/id_ed25519"
cp "$work/sshd/client_key.pub" "$HOME/.ssh/id_ed25519.pub"
printf '[127.0.0.1]:%s %s\n' "$port" "$(cut -d' ' -f1,2 "$work/sshd/host_ed25519.pub")" \
    >"$HOME/.ssh/known_hosts"
target="$(id -un)@127.0.0.1:$port"

failed=0
start=$(date +%s.%N)
for i in $(seq 1 "$count"); do
    set +e
    "$bin" -f csv -c "$target" "$category" >"$work/out" 2>"$work/err" </dev/null
    status=$?
    set -e
    lines=$(wc -l <"$work/out")
    if [ "$status" -ne 0 ] || [ "$lines" -lt 2 ]; then
        failed=$((failed + 1))
        echo "run $i: exit $status, $lines lines; stderr:" >&2
        head -5 "$work/err" >&2
    fi
done
end=$(date +%s.%N)
echo "$count runs over SSH, $failed failed, $(echo "($end - $start) / $count" | bc -l | cut -c1-5) s a run"
[ "$failed" -eq 0 ]
