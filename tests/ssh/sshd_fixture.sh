#!/bin/bash
# A private sshd on 127.0.0.1 for the SSH tests, everything in one folder:
#   sshd_fixture.sh start DIR PORT WATCHPID   prints "ready" once it listens
#   sshd_fixture.sh stop DIR
# The folder gets a host key, an authorised client key, an authorised key
# locked with the passphrase "tavo-passphrase", an authorised key whose login
# runs DIR/startup.sh first (as a shell's start-up files would), a client key
# that is not authorised, the server's config and log, and (as root) a
# throw-away user with a password (its name and password in DIR/password_user).
# A watcher stops the server when process WATCHPID ends, so a test that
# crashes does not leave it behind.
set -eu

cmd=$1
dir=$2

stop() {
    if [ -f "$dir/sshd.pid" ]; then
        kill "$(cat "$dir/sshd.pid")" 2>/dev/null || true
        rm -f "$dir/sshd.pid"
    fi
    if [ -f "$dir/password_user" ]; then
        user=$(sed -n 1p "$dir/password_user")
        # Other test programs may hold the password file's lock a moment.
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            userdel "$user" 2>/dev/null && break
            getent passwd "$user" >/dev/null || break
            sleep 0.2
        done
        # A session of that user still ending (a benchmark's crowd of them)
        # makes userdel refuse; the user is ours, so it goes anyway.
        if getent passwd "$user" >/dev/null; then
            for _ in 1 2 3 4 5 6 7 8 9 10; do
                userdel -f "$user" 2>/dev/null && break
                getent passwd "$user" >/dev/null || break
                sleep 0.2
            done
        fi
        rm -f "$dir/password_user"
    fi
}

case "$cmd" in
stop)
    stop
    exit 0
    ;;
start) ;;
*)
    echo "usage: $0 start DIR PORT WATCHPID | stop DIR" >&2
    exit 2
    ;;
esac

port=$3
watch=$4
mkdir -p "$dir"
# sshd reads the authorised keys as the user logging in, who may be the
# throw-away user: the folder is open to look into, the private keys are not.
chmod 755 "$dir"
if [ "$(id -u)" = 0 ]; then
    # The privilege-separation folder that an init system would make.
    mkdir -p -m0755 /run/sshd
fi

ssh-keygen -q -t ed25519 -N '' -C tavo-test-host -f "$dir/host_ed25519"
ssh-keygen -q -t ed25519 -N '' -C tavo-test-client -f "$dir/client_key"
ssh-keygen -q -t ed25519 -N '' -C tavo-test-stranger -f "$dir/stranger_key"
ssh-keygen -q -t ed25519 -N 'tavo-passphrase' -C tavo-test-locked -f "$dir/locked_key"
ssh-keygen -q -t ed25519 -N '' -C tavo-test-startup -f "$dir/startup_key"
# The startup key logs in through a stand-in for a login shell whose start-up
# files (what DIR/startup.sh holds, if anything) run before the command.
cat >"$dir/login_with_startup" <<'END'
#!/bin/sh
startup="$(dirname "$0")/startup.sh"
[ -r "$startup" ] && . "$startup"
eval "$SSH_ORIGINAL_COMMAND"
END
chmod 755 "$dir/login_with_startup"
{
    cat "$dir/client_key.pub" "$dir/locked_key.pub"
    printf 'command="%s" %s\n' "$dir/login_with_startup" "$(cat "$dir/startup_key.pub")"
} >"$dir/authorized_keys"
chmod 644 "$dir/authorized_keys"

cat >"$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_ed25519
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
StrictModes no
UsePAM no
PermitRootLogin yes
PubkeyAuthentication yes
PasswordAuthentication yes
KbdInteractiveAuthentication no
MaxStartups 100
MaxSessions 100
LogLevel VERBOSE
EOF
/usr/sbin/sshd -t -f "$dir/sshd_config"

if [ "$(id -u)" = 0 ] && command -v useradd >/dev/null; then
    user="tavot$$"
    password="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
    # Tests run side by side, each with its own server and user; the
    # password file's lock may be taken for a moment.
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        if useradd -M -d /nonexistent -s /bin/sh "$user" 2>/dev/null &&
            echo "$user:$password" | chpasswd 2>/dev/null; then
            printf '%s\n%s\n' "$user" "$password" >"$dir/password_user"
            break
        fi
        userdel "$user" 2>/dev/null || true
        sleep 0.2
    done
fi

/usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log"

# Ready once the pid file is written and the port answers.
i=0
while [ ! -s "$dir/sshd.pid" ] || ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then
        echo "sshd did not start; its log:" >&2
        cat "$dir/sshd.log" >&2 || true
        stop
        exit 1
    fi
    sleep 0.05
done

# The watcher outlives this script but not the test.
(
    trap '' HUP
    while kill -0 "$watch" 2>/dev/null; do sleep 1; done
    stop
) </dev/null >/dev/null 2>&1 &
echo ready
