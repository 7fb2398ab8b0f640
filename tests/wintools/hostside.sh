#!/usr/bin/env bash
# hostside.sh: the host side of the Windows tests' pseudo-terminal pairs. A Windows test under Wine
# starts it (Wine runs a host program that CreateProcess is given), but gets no handle of it and
# no pid to wait for or to stop: so every call writes its answer into the file RESULT, whole or
# not at all, and the test waits for that file.
#
#     hostside.sh RESULT start [DIR]     a socat pty pair: links DIR/a and DIR/b, and the Wine COM
#                                       ports comN -> DIR/a and comN+1 -> DIR/b; without DIR a new
#                                       folder and the first two free COM numbers from 160 on.
#                                       Answers "ok DIR COMn COMn+1".
#     hostside.sh RESULT stop DIR        socat ends politely: it closes its terminals and removes
#                                       its links
#     hostside.sh RESULT kill DIR        socat is killed: its links stay behind, dangling
#     hostside.sh RESULT remove DIR      stopped, its COM ports and its folder removed
#     hostside.sh RESULT link N PORT     the Wine COM port comN leads where PORT (COMm) leads
#     hostside.sh RESULT unlink N        removes the Wine COM port comN
#     hostside.sh RESULT speed PORT      "ok RATE": the terminal's baud rate while a process other
#                                       than socat holds it open, else "ok -1"
#     hostside.sh RESULT keepalive LOCALPORT REMOTEPORT
#                                       "ok ON IDLE INTERVAL COUNT": the keep-alive of the TCP
#                                       socket 127.0.0.1:LOCALPORT -> REMOTEPORT as the host's
#                                       socket has it, read through a copy of its descriptor
#     hostside.sh RESULT tcpstate LOCALPORT REMOTEPORT
#                                       "ok STATE": the host's TCP socket 127.0.0.1:LOCALPORT ->
#                                       REMOTEPORT, in /proc/net/tcp's numbers ("01" established,
#                                       "08" closed by the other end), or "ok gone" once reset
#     hostside.sh RESULT rfc2217peer SCRIPT
#                                       starts the RFC 2217 test converter SCRIPT in the
#                                       background; "ok port N control M" from its first line. It
#                                       ends with the test's control connection.
#     hostside.sh sweep                  ends every pair a test left running, for scripts/wine-run.sh
#
# Everything lives in the Wine prefix: the pairs in $WINEPREFIX/vcom-pty, the COM ports in
# $WINEPREFIX/dosdevices, so nothing outlives the prefix.
set -u
unset LD_PRELOAD
STATE=${WINEPREFIX:?}/vcom-pty
DOS=$WINEPREFIX/dosdevices
mkdir -p "$STATE"

if [ "${1:-}" = sweep ]; then
    result=/dev/null
else
    result=${1:?RESULT}
    shift
fi
answer() {
    [ "$result" = /dev/null ] && return
    printf '%s\n' "$*" >"$result.tmp" && mv -f "$result.tmp" "$result"
}
fail() {
    answer "error: $*"
    exit 1
}

running() {
    local pid
    pid=$(cat "$1/pid" 2>/dev/null) || return 1
    # A socat that ended but was not reaped yet counts as ended.
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]
}

# Sends the signal and waits for socat to end: up to 3 s, then it is killed.
end() {
    local dir=$1 signal=$2 pid
    running "$dir" || return 0
    pid=$(cat "$dir/pid")
    kill "-$signal" "$pid" 2>/dev/null
    for _ in $(seq 300); do
        running "$dir" || { rm -f "$dir/pid"; return 0; }
        sleep 0.01
    done
    kill -KILL "$pid" 2>/dev/null
    for _ in $(seq 300); do
        running "$dir" || { rm -f "$dir/pid"; return 0; }
        sleep 0.01
    done
    return 1
}

ports() { cat "$1/ports" 2>/dev/null; }

unlinkPorts() {
    local n
    for n in $(ports "$1"); do
        [ "$(readlink "$DOS/com$n")" = "$1/a" ] || [ "$(readlink "$DOS/com$n")" = "$1/b" ] && rm -f "$DOS/com$n"
    done
}

case "${1:-}" in
start)
    dir=${2:-}
    if [ -z "$dir" ]; then
        dir=$(mktemp -d "$STATE/pair-XXXXXX") || fail "cannot make a folder in $STATE"
        # The numbers are taken under a lock: tests run at once take different ones.
        exec 9>"$STATE/lock"
        flock 9
        n=160
        while [ -e "$DOS/com$n" ] || [ -L "$DOS/com$n" ] || [ -e "$DOS/com$((n + 1))" ] || [ -L "$DOS/com$((n + 1))" ]; do
            n=$((n + 2))
            [ "$n" -lt 256 ] || fail "no two free COM numbers below 256"
        done
        ln -s "$dir/a" "$DOS/com$n" && ln -s "$dir/b" "$DOS/com$((n + 1))" || fail "cannot link COM$n"
        exec 9>&-
        echo "$n $((n + 1))" >"$dir/ports"
    fi
    [ -f "$dir/ports" ] || fail "$dir is no pair of ours"
    end "$dir" TERM || fail "the previous socat in $dir does not end"
    # A killed socat leaves its links behind: cleared, so that only the new ones are waited for.
    rm -f "$dir/a" "$dir/b"
    socat=$(command -v socat) || fail "socat is not installed: apt-get install socat"
    "$socat" "pty,raw,echo=0,link=$dir/a" "pty,raw,echo=0,link=$dir/b" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 500); do
        if [ -e "$dir/a" ] && [ -e "$dir/b" ]; then
            set -- $(ports "$dir")
            answer "ok $dir COM$1 COM$2"
            exit 0
        fi
        running "$dir" || break
        sleep 0.01
    done
    fail "socat made no pty pair in $dir"
    ;;
stop | kill)
    [ -f "${2:-}/ports" ] || fail "${2:-} is no pair of ours"
    end "$2" "$([ "$1" = stop ] && echo TERM || echo KILL)" || fail "socat in $2 does not end"
    answer ok
    ;;
remove)
    [ -f "${2:-}/ports" ] || fail "${2:-} is no pair of ours"
    end "$2" TERM
    unlinkPorts "$2"
    rm -rf "$2"
    answer ok
    ;;
link)
    n=${2:?N} port=${3:?PORT}
    target=$(readlink "$DOS/$(echo "$port" | tr 'A-Z' 'a-z')") || fail "$port is no COM port of a pair"
    ln -sfn "$target" "$DOS/com$n" || fail "cannot link COM$n"
    answer ok
    ;;
unlink)
    rm -f "$DOS/com${2:?N}"
    answer ok
    ;;
speed)
    link=$DOS/$(echo "${2:?PORT}" | tr 'A-Z' 'a-z')
    device=$(readlink -f "$link")
    [ -c "$device" ] || { answer "ok -1"; exit 0; }
    socat=$(cat "$(dirname "$(readlink "$link")")/pid" 2>/dev/null)
    held=""
    for fd in /proc/[0-9]*/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] || continue
        pid=${fd#/proc/}
        pid=${pid%%/*}
        [ "$pid" = "$socat" ] || [ "$pid" = $$ ] || held=$pid
    done
    [ -n "$held" ] || { answer "ok -1"; exit 0; }
    answer "ok $(stty -F "$device" speed)"
    ;;
keepalive)
    python3 - "${2:?LOCALPORT}" "${3:?REMOTEPORT}" "$result" <<'PY' || fail "cannot read the socket's keep-alive"
import ctypes, os, socket, sys
local, remote, result = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
def answer(text):
    with open(result + '.tmp', 'w') as f:
        f.write(text + '\n')
    os.replace(result + '.tmp', result)
inode = None
for line in open('/proc/net/tcp').read().splitlines()[1:]:
    f = line.split()
    if int(f[1].split(':')[1], 16) == local and int(f[2].split(':')[1], 16) == remote:
        inode = f[9]
if inode is None:
    answer('error: no TCP socket from %d to %d' % (local, remote)); sys.exit(0)
for pid in filter(str.isdigit, os.listdir('/proc')):
    try:
        fds = os.listdir('/proc/%s/fd' % pid)
    except OSError:
        continue
    for fd in fds:
        try:
            if os.readlink('/proc/%s/fd/%s' % (pid, fd)) != 'socket:[%s]' % inode:
                continue
        except OSError:
            continue
        # pidfd_getfd: a descriptor of our own for the same socket.
        pidfd = os.pidfd_open(int(pid))
        libc = ctypes.CDLL(None, use_errno=True)
        own = libc.syscall(438, pidfd, int(fd), 0)
        if own < 0:
            answer('error: pidfd_getfd: %s' % os.strerror(ctypes.get_errno())); sys.exit(0)
        s = socket.socket(fileno=own)
        values = [s.getsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE),
                  s.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE),
                  s.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL),
                  s.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPCNT)]
        s.close()
        answer('ok ' + ' '.join(map(str, values))); sys.exit(0)
answer('error: no process holds socket %s' % inode)
PY
    ;;
rfc2217peer)
    out=$(mktemp "$STATE/rfc2217-XXXXXX") || fail "cannot make a file in $STATE"
    python3 "${2:?SCRIPT}" --control-only </dev/null >"$out" 2>&1 &
    for _ in $(seq 500); do
        line=$(head -n 1 "$out")
        case "$line" in
        port*) answer "ok $line"; exit 0 ;;
        ?*) fail "$line" ;;
        esac
        kill -0 $! 2>/dev/null || fail "the test converter ended: $(cat "$out")"
        sleep 0.02
    done
    fail "the test converter did not start in 10 s"
    ;;
tcpstate)
    python3 - "${2:?LOCALPORT}" "${3:?REMOTEPORT}" "$result" <<'PY' || fail "cannot read the socket's state"
import os, sys
local, remote, result = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
state = 'gone'
for line in open('/proc/net/tcp').read().splitlines()[1:]:
    f = line.split()
    if int(f[1].split(':')[1], 16) == local and int(f[2].split(':')[1], 16) == remote:
        state = f[3]
with open(result + '.tmp', 'w') as out:
    out.write('ok %s\n' % state)
os.replace(result + '.tmp', result)
PY
    ;;
sweep)
    for dir in "$STATE"/pair-*; do
        [ -d "$dir" ] || continue
        end "$dir" KILL
        unlinkPorts "$dir"
        rm -rf "$dir"
    done
    rm -f "$STATE"/answer-*
    ;;
*)
    fail "unknown request: $*"
    ;;
esac
