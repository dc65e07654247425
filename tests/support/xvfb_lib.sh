# Shared by the tests that drive the real program on a virtual X server.
# Source it from a POSIX sh script, then call under_xvfb first.
# shellcheck shell=sh

# under_xvfb SECONDS SCRIPT ARGS...: runs SCRIPT again under xvfb-run, ended
# after SECONDS; returns at once when already under it.
under_xvfb() {
    [ -n "${QUOBIN_UNDER_XVFB:-}" ] && return 0
    limit=$1
    shift
    QUOBIN_UNDER_XVFB=1 exec timeout "$limit" xvfb-run -a -s "-screen 0 800x600x24" sh "$@"
}

# A folder of the test's own, and the program it started (pid): both go at exit.
work=$(mktemp -d)
pid=
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
unset QT_QPA_PLATFORM

fail() {
    echo "FAIL: $1"
    exit 1
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
    tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# windows_named NAME: the ids of the visible windows with exactly that name.
windows_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
}

# shown NAME [COUNT]: at least COUNT (1) visible windows are named NAME.
shown() {
    [ "$(windows_named "$1" | wc -l)" -ge "${2:-1}" ]
}

# press WINDOW KEY: gives WINDOW the focus and presses KEY there.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --window "$1" "$2" 2>/dev/null # a box may be gone before the key is let go
}

# program_ends SECONDS: waits until the program started as pid has ended.
program_ends() {
    wait_for "$1" sh -c "! kill -0 $pid 2>/dev/null" || return 1
    wait "$pid"
    status=$?
    pid=
    return $status
}

# same_bytes FILE TEXT: FILE holds exactly TEXT (printf escapes allowed).
same_bytes() {
    [ "$(od -An -c "$1" 2>/dev/null | tr -s ' ')" = "$(printf "$2" | od -An -c | tr -s ' ')" ]
}
